#!/usr/bin/env bash
# The default hot key (Alt with the key left of "1") on German and French
# layouts: grabbed on that key, followed across a layout switch, and kept in
# the settings file.
source "$(dirname "$0")/common.sh"
e2e_start_desktop tray
start_service

setxkbmap -display "$DISPLAY" de || e2e_fail "setxkbmap de"
start_app layouts
# Keycode 49 is the key left of "1" (dead circumflex on the German layout).
xdotool key --clearmodifiers alt+49
wait_running true 15 || e2e_fail "German layout: the hot key did not start the clock"
e2e_log "German layout: started"

setxkbmap -display "$DISPLAY" fr || e2e_fail "setxkbmap fr"
sleep 1
xdotool key --clearmodifiers alt+49
wait_running false 15 || e2e_fail "French layout: the hot key did not stop the clock"
xdotool key --clearmodifiers alt+49
wait_running true 15 || e2e_fail "French layout: the hot key did not start the clock again"
xdotool key --clearmodifiers alt+49
wait_running false 15 || e2e_fail "French layout: the hot key did not stop the clock again"
e2e_log "French layout: stopped, started, stopped"

exit_app
[ "$(stored_hotkey)" = 32960 ] || e2e_fail "stored hot key changed: $(stored_hotkey)"
echo "hotkeys layouts: ok"
