#!/usr/bin/env bash
# The real program starts under a window manager, maps its window titled
# "Chronel Timer", and ends with exit code 0 on a polite close.
# Without a display it says so and exits non-zero without a crash.
source "$(dirname "$0")/../lib.sh"
BIN=$1

# No display at all.
rc=0
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$BIN" 2>&1) || rc=$?
[ "$rc" -ne 0 ] || e2e_fail "no display: exit code 0"
[ "$rc" -lt 128 ] || e2e_fail "no display: killed by a signal ($rc)"
echo "$out" | grep -q "no graphical display" || e2e_fail "no display: message missing: $out"

e2e_start_desktop
work="$E2E_TMP/app"; mkdir -p "$work"; cp "$BIN" "$work/ChronelGui"
e2e_spawn app "$work/ChronelGui"
pid=$E2E_LAST_PID
e2e_wait 60 e2e_window_by_title "Chronel Timer" || e2e_fail "main window not mapped"
win=$(e2e_window_by_title "Chronel Timer")
geom=$(xwininfo -id "$win" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w"x"h}')
e2e_log "window $win mapped, client size $geom"
xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || e2e_fail "not always on top"
wmctrl -F -c "Chronel Timer"
e2e_wait_exit "$pid" 30 || e2e_fail "program did not end after close"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
echo "smoke: ok"
