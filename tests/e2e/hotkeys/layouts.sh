#!/usr/bin/env bash
# The default hot key (Alt with the key left of "1") on German and French
# layouts: grabbed on that key, followed across a layout switch, and kept in
# the settings file.
source "$(dirname "$0")/common.sh"
e2e_start_desktop tray
start_service

setxkbmap -display "$DISPLAY" de || e2e_fail "setxkbmap de"
start_app layouts CHRONEL_TRACE_MARKS=1
pages_read() { grep -c '^chronel-mark timer-page-read ' "$E2E_TMP/app-layouts.log"; }
# Keycode 49 is the key left of "1" (dead circumflex on the German layout).
# The key toggles the form of the page shown, so each press waits until the
# program has read the page that the one before brought.
press() {  # true|false: whether the clock runs after it
  local read; read=$(pages_read)
  xdotool key --clearmodifiers alt+49
  wait_running "$1" 15 || return 1
  e2e_wait 15 bash -c "[ \$(grep -c '^chronel-mark timer-page-read ' '$E2E_TMP/app-layouts.log') -gt $read ]"
}
press true || e2e_fail "German layout: the hot key did not start the clock"
e2e_log "German layout: started"

setxkbmap -display "$DISPLAY" fr || e2e_fail "setxkbmap fr"
sleep 1
press false || e2e_fail "French layout: the hot key did not stop the clock"
press true || e2e_fail "French layout: the hot key did not start the clock again"
press false || e2e_fail "French layout: the hot key did not stop the clock again"
e2e_log "French layout: stopped, started, stopped"

exit_app
[ "$(stored_hotkey)" = 32960 ] || e2e_fail "stored hot key changed: $(stored_hotkey)"
echo "hotkeys layouts: ok"
