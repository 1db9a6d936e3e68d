#!/usr/bin/env bash
# The hot key on French, German and US layouts, with real key events
# (XTEST): the hot-key field stores the code of the key pressed (its
# position for digits and punctuation), that key toggles the clock, and a
# key stored on one layout is grabbed at the same place on another.
source "$(dirname "$0")/common.sh"
e2e_start_desktop tray
e2e_start_demo

setxkbmap -display "$DISPLAY" de || e2e_fail "setxkbmap de"
start_app layouts CHRONEL_TRACE_MARKS=1
pages_read() { grep -c '^chronel-mark timer-page-read ' "$E2E_TMP/app-layouts.log"; }
# Alt with a key (an X key code); the key toggles the form of the page
# shown, so each press waits until the program has read the page that the
# one before brought.
press() {  # KEYCODE true|false: whether the clock runs after it
  local read; read=$(pages_read)
  xdotool key --clearmodifiers "alt+$1"
  wait_running "$2" 15 || return 1
  e2e_wait 15 bash -c "[ \$(grep -c '^chronel-mark timer-page-read ' '$E2E_TMP/app-layouts.log') -gt $read ]"
}

# ---- the stored default, Alt with the key left of 1, on German and French ----------------
# Keycode 49 is that key (a dead circumflex on the German layout, ² on the French).
press 49 true || e2e_fail "German layout: the default hot key did not start the clock"
setxkbmap -display "$DISPLAY" fr || e2e_fail "setxkbmap fr"
sleep 1
press 49 false || e2e_fail "French layout: the default hot key did not stop the clock"
e2e_log "default key: German started, French stopped"

# ---- entered in the field on each layout -------------------------------------------------
# French: the key "&/1" is the 1 key (code 32817), not the 7 key a US table makes of "&".
capture alt+10
[ "$(stored_hotkey)" = 32817 ] || e2e_fail "French: stored $(stored_hotkey)"
press 10 true || e2e_fail "French: Alt with & did not start the clock"
setxkbmap -display "$DISPLAY" de || e2e_fail "setxkbmap de"
sleep 1
# German: "+" right of Ü is the key US keyboards have "]" on (32989), not "=".
capture alt+35
[ "$(stored_hotkey)" = 32989 ] || e2e_fail "German: stored $(stored_hotkey)"
press 35 false || e2e_fail "German: Alt with + did not stop the clock"
# German: "#" is the key US keyboards have "\" on (32988), not the 3 key.
capture alt+51
[ "$(stored_hotkey)" = 32988 ] || e2e_fail "German: stored $(stored_hotkey)"
press 51 true || e2e_fail "German: Alt with # did not start the clock"
setxkbmap -display "$DISPLAY" us || e2e_fail "setxkbmap us"
sleep 1
# US: ";" (32954).
capture alt+47
[ "$(stored_hotkey)" = 32954 ] || e2e_fail "US: stored $(stored_hotkey)"
press 47 false || e2e_fail "US: Alt with ; did not stop the clock"
e2e_log "entered: French &, German + and #, US ;"

# ---- the code stored on US is the same key on German (Ö there) ---------------------------
setxkbmap -display "$DISPLAY" de || e2e_fail "setxkbmap de"
sleep 1
press 47 true || e2e_fail "German: Alt with Ö did not start the clock"
press 47 false || e2e_fail "German: Alt with Ö did not stop the clock"
e2e_log "US key on German: started, stopped"

exit_app
[ "$(stored_hotkey)" = 32954 ] || e2e_fail "stored hot key changed: $(stored_hotkey)"
echo "hotkeys layouts: ok"
