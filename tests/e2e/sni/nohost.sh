#!/usr/bin/env bash
# A StatusNotifierItem desktop whose tray host goes and comes back: without
# it the close with "Minimize to tray on close" iconifies the window with its
# taskbar button, one notification says why; with it back the close hides
# the window to the tray again.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop notify
e2e_record_notifications
e2e_start_demo

start_host() {
  e2e_spawn host /usr/bin/python3 "$HERE/sni_host.py"
  HOST=$E2E_LAST_PID
  e2e_wait 10 grep -q ready "$E2E_TMP/host.log" || e2e_fail "test host did not start"
}
start_host

DIR="$E2E_TMP/sni"; mkdir -p "$DIR"; cp "$BIN" "$DIR/ChronelGui"
printf '[Form]\nRemoveFromTaskBar=1\nMinimizeOnClose=1\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' "$BASE" >"$DIR/ChronelGui.ini"
CHRONEL_TRACE_MARKS=1 e2e_spawn app env HOME="$E2E_TMP/home" "$DIR/ChronelGui"
APP=$E2E_LAST_PID
e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "main window not mapped"
WIN=$(e2e_app_main_window "$APP")
e2e_wait 60 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/app.log" || e2e_fail "the timer page was not read"

marks() { grep -c "^chronel-mark $1 " "$E2E_TMP/app.log" || true; }
notices() { grep -c 'no system tray' "$E2E_TMP/notify.log" || true; }
viewable() { xwininfo -id "$WIN" 2>/dev/null | grep -q IsViewable; }
iconic() { xprop -id "$WIN" WM_STATE 2>/dev/null | grep -q 'window state: Iconic'; }
skipped() { xprop -id "$WIN" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
window_facts() { xprop -id "$WIN" WM_STATE _NET_WM_STATE 2>&1 | tr '\n' ' '; }
close_window() {  # CONDITION: what the close leads to
  local asked; asked=$(marks close-asked)
  wmctrl -i -c "$WIN"
  if ! e2e_wait 5 "$1" && [ "$(marks close-asked)" = "$asked" ]; then
    e2e_log "the close did not reach the program; asking again"
    wmctrl -i -c "$WIN"
  fi
}

# The host goes.
e2e_kill TERM "$HOST"
e2e_wait 10 bash -c "[ \"\$(grep -c '^chronel-mark tray-host-gone ' '$E2E_TMP/app.log')\" -ge 1 ]" \
  || e2e_fail "the tray host's going was not noticed"
close_window iconic
e2e_wait 10 iconic || e2e_fail "without a tray host the close did not iconify the window: $(window_facts)"
e2e_wait 10 bash -c "! xprop -id $WIN _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR" \
  || e2e_fail "the iconified window has no taskbar button: $(window_facts)"
e2e_wait 15 bash -c "grep -q 'no system tray' '$E2E_TMP/notify.log'" || e2e_fail "no notification about the missing tray"
e2e_log "host gone: the close minimizes to the taskbar, told"

# The host comes back: the close hides to the tray.
wmctrl -i -a "$WIN"
e2e_wait 10 viewable || e2e_fail "the taskbar entry did not restore the window"
start_host
e2e_wait 15 bash -c "[ \"\$(grep -c '^chronel-mark tray-host-present ' '$E2E_TMP/app.log')\" -ge 1 ]" \
  || e2e_fail "the tray host's return was not noticed"
hidden() { ! viewable && ! iconic; }
close_window hidden
e2e_wait 10 hidden || e2e_fail "with the tray host back the close did not hide the window: $(window_facts)"
[ "$(notices)" = 1 ] || e2e_fail "told $(notices) times, not once"
e2e_log "host back: hidden to the tray"

e2e_kill TERM "$APP"
e2e_wait_exit "$APP" 30 || e2e_fail "the program did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
echo "sni nohost: ok"
