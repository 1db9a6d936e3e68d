#!/usr/bin/env bash
# A real Wayland compositor (sway, headless) beside the private X desktop:
# the idle time comes from the compositor's idle notifications over the
# program's own connection and follows input typed into the compositor
# (wtype, a virtual keyboard), not input on the X server; with both
# displays the window is an X11 client; a pure Wayland run skips the
# window behaviours the compositor does not offer without a word.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
source "$(dirname "$0")/idle_lib.sh"
BIN=$1
DEMO=$2
PROBE=$3
set +o pipefail
e2e_start_desktop tray

# ---- the compositor ----------------------------------------------------------------------------
idle_start_sway
SWAY_PROTOCOLS=$(WAYLAND_DISPLAY="$WL" wayland-info 2>/dev/null)
grep -q "'zwp_virtual_keyboard_manager_v1'" <<<"$SWAY_PROTOCOLS" || e2e_fail "sway offers no virtual keyboard"
SOURCE=$(idle_wayland_source)
e2e_log "sway: $SOURCE"

type_into_compositor() { WAYLAND_DISPLAY="$WL" wtype -k Shift_L || e2e_fail "wtype failed"; }

# ---- the source, through the probe --------------------------------------------------------------
# The probe prints its services, then "idle N" twice a second.
WAYLAND_DISPLAY="$WL" env -u QT_QPA_PLATFORM "$PROBE" >"$E2E_TMP/probe.out" 2>"$E2E_TMP/probe.log" &
PROBE_PID=$!
E2E_PIDS+=("$PROBE_PID")
e2e_wait 15 grep -q '^idle' "$E2E_TMP/probe.out" || e2e_fail "probe printed nothing"
grep -qx "Window system: X11 (the Wayland compositor's X server)" "$E2E_TMP/probe.out" \
  || e2e_fail "both displays: not an X11 client: $(head -3 "$E2E_TMP/probe.out")"
grep -qxF "Idle time: $SOURCE" "$E2E_TMP/probe.out" \
  || e2e_fail "idle source: $(head -3 "$E2E_TMP/probe.out")"

idle_lines_from() { tail -n +"$1" "$E2E_TMP/probe.out" | awk '/^idle [0-9]+$/ {print $2}'; }
lines() { wc -l <"$E2E_TMP/probe.out"; }
reached() { idle_lines_from "$1" | awk -v n="$2" '$1 >= n {f = 1} END {exit !f}'; }
below() { idle_lines_from "$1" | awk -v n="$2" '$1 < n {f = 1} END {exit !f}'; }

type_into_compositor
from=$(($(lines) + 1))
e2e_wait 20 reached "$from" 3 || e2e_fail "probe: idle count did not grow: $(tail -5 "$E2E_TMP/probe.out")"
# Input on the X server is not the compositor's input.
from=$(($(lines) + 1))
xdotool mousemove 200 200 mousemove 300 300 key shift
e2e_wait 10 bash -c "[ \$(tail -n +$from '$E2E_TMP/probe.out' | wc -l) -ge 3 ]" || e2e_fail "probe stopped printing"
below "$from" 3 && e2e_fail "probe: X input counted as input: $(tail -5 "$E2E_TMP/probe.out")"
from=$(($(lines) + 1))
type_into_compositor
e2e_wait 10 below "$from" 2 || e2e_fail "probe: typing did not end the idle time: $(tail -5 "$E2E_TMP/probe.out")"
kill "$PROBE_PID"
e2e_log "probe ok"

# ---- the real program: an X11 window, the compositor's idle time ---------------------------------
e2e_start_demo
ini() {  # file extra-lines
  printf '[Form]\nRemoveFromTaskBar=0\nUseTransparency=1\nTop=123\nLeft=45\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\nAutoStopStartOnIdleTime=1\nAutoStopStartOnIdleTimeMinutes=1\n' \
    "$BASE" >"$1"
}

X="$E2E_TMP/x11"; mkdir -p "$X"; cp "$BIN" "$X/ChronelGui"; ini "$X/ChronelGui.ini"
HOME="$E2E_TMP/home" WAYLAND_DISPLAY="$WL" e2e_spawn app-x11 env -u QT_QPA_PLATFORM "$X/ChronelGui"
APP=$E2E_LAST_PID
e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "main window not mapped on the X server"
WIN=$(e2e_app_main_window "$APP")
title() { xdotool getwindowname "$WIN" 2>/dev/null; }
title_is() { title | grep -Eq "$1"; }
idle_title_at_least() { title | sed -nE 's/.* ([0-9]+)\/60 sec idle stop$/\1/p' | awk -v n="$1" '$1 >= n {f = 1} END {exit !f}'; }
e2e_demo_wait "$BASE" 30 '"target":"/time_log.php' || e2e_fail "timer page not shown"
e2e_wait 15 e2e_tray_icon_window ChronelGui || e2e_fail "no tray icon"
e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" -1 || e2e_fail "could not choose Start"
e2e_wait 15 e2e_demo_running "$BASE" || e2e_fail "clock not started"
type_into_compositor
e2e_wait 10 title_is ' not idle $' || e2e_fail "caption after typing: $(title)"
# The tray clicks on the X server did not count; the count grows.
e2e_wait 20 idle_title_at_least 3 || e2e_fail "caption without a growing idle count: $(title)"
type_into_compositor
e2e_wait 10 title_is ' not idle $' || e2e_fail "typing into the compositor did not end the idle time: $(title)"
kill "$APP"
e2e_wait_exit "$APP" 10 || { kill -9 "$APP"; e2e_wait_exit "$APP" 5 || true; }
e2e_log "X11 window with the compositor's idle time ok"

# ---- the real program as a pure Wayland client --------------------------------------------------
curl -sf -d "" "${BASE}__reset" >/dev/null || e2e_fail "demo service reset failed"
W="$E2E_TMP/wayland"; mkdir -p "$W"; cp "$BIN" "$W/ChronelGui"; ini "$W/ChronelGui.ini"
HOME="$E2E_TMP/home" WAYLAND_DISPLAY="$WL" QT_QPA_PLATFORM=wayland e2e_spawn app-wayland env -u DISPLAY "$W/ChronelGui"
APP=$E2E_LAST_PID
sway_has_window_of() { SWAYSOCK=$(ls "$SWAY_RUN"/sway-ipc.*.sock) swaymsg -t get_tree | grep -q "\"pid\": $1,"; }
e2e_wait 60 sway_has_window_of "$APP" || e2e_fail "no Wayland window"
e2e_demo_wait "$BASE" 30 '"target":"/time_log.php' || e2e_fail "pure Wayland run: timer page not shown"
# Another window takes the focus and gives it back: transparency is not
# offered, and nothing is said about it.
WAYLAND_DISPLAY="$WL" QT_QPA_PLATFORM=wayland timeout 3 "$PROBE" window >/dev/null 2>&1 || true
sleep 1
kill -0 "$APP" 2>/dev/null || e2e_fail "pure Wayland run ended"
if grep -iE 'opacity|not supported|does not support|QXcb|X11' "$E2E_TMP/app-wayland.log"; then
  e2e_fail "pure Wayland run complained about window behaviours"
fi
# The compositor places the window: the stored position stays as it was.
kill "$APP"
e2e_wait_exit "$APP" 20 || e2e_fail "pure Wayland run did not end on SIGTERM"
grep -qx 'Top=123' "$W/ChronelGui.ini" && grep -qx 'Left=45' "$W/ChronelGui.ini" \
  || e2e_fail "stored position changed: $(grep -E '^(Top|Left)=' "$W/ChronelGui.ini" | tr '\n' ' ')"
e2e_log "pure Wayland run ok"

# ---- --version names the choices --------------------------------------------------------------
out=$(WAYLAND_DISPLAY="$WL" env -u QT_QPA_PLATFORM "$BIN" --version 2>/dev/null) || e2e_fail "--version failed"
grep -qx "Window system: X11 (the Wayland compositor's X server)" <<<"$out" || e2e_fail "--version, both displays: $out"
grep -qxF "Idle time: $SOURCE" <<<"$out" || e2e_fail "--version, idle: $out"
grep -q "^Global hot key: " <<<"$out" || e2e_fail "--version, hot key: $out"
out=$(WAYLAND_DISPLAY="$WL" QT_QPA_PLATFORM=wayland env -u DISPLAY "$BIN" --version 2>/dev/null) || e2e_fail "--version failed"
grep -qx "Window system: Wayland (staying on top is not available: the compositor stacks the windows)" <<<"$out" || e2e_fail "--version, pure Wayland: $out"
e2e_log "--version ok"
e2e_log "PASS (sway)"
