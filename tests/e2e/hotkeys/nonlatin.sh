#!/usr/bin/env bash
# A letter hot key with a Russian layout beside a Latin one (us,ru and
# ru,us), with real key events (XTEST): Ctrl+Alt+T entered while Russian is
# active is stored as the Latin T, fires in both layouts, and also after a
# start in Russian. A hot key held down toggles the clock once, however
# long the keyboard repeats it.
source "$(dirname "$0")/common.sh"
e2e_start_desktop tray
e2e_start_demo

# Locks the keyboard to a layout of the keymap (0: the first), as a layout switcher does.
group() {
  /usr/bin/python3 - "$1" <<'PY' || e2e_fail "could not switch to layout $1"
import ctypes, sys
x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
display = ctypes.c_void_p(x11.XOpenDisplay(None))
if not display.value or not x11.XkbLockGroup(display, 0x100, int(sys.argv[1])):
    sys.exit(1)
x11.XSync(display, 0)
PY
  sleep 1  # the program reads the keymap once the server's notices settle
}
pages_read() { grep -c '^chronel-mark timer-page-read ' "$E2E_TMP/app-$NAME.log"; }
# Ctrl+Alt with the key T is on (key code 28); waits for the page that it brought.
press() {  # true|false: whether the clock runs after it
  local read; read=$(pages_read)
  xdotool key --clearmodifiers ctrl+alt+28
  wait_running "$1" 15 || return 1
  e2e_wait 15 bash -c "[ \$(grep -c '^chronel-mark timer-page-read ' '$E2E_TMP/app-$NAME.log') -gt $read ]"
}
CTRL_ALT_T=49236  # 0x4000 + 0x8000 + 0x54

# ---- us,ru with Russian active: entered, then pressed in both layouts --------------------
setxkbmap -display "$DISPLAY" -layout us,ru || e2e_fail "setxkbmap us,ru"
group 1
NAME=usru
start_app $NAME CHRONEL_TRACE_MARKS=1
capture ctrl+alt+28
[ "$(stored_hotkey)" = $CTRL_ALT_T ] || e2e_fail "us,ru in Russian: stored $(stored_hotkey)"
press true || e2e_fail "us,ru in Russian: Ctrl+Alt+T did not start the clock"
group 0
press false || e2e_fail "us,ru in US: Ctrl+Alt+T did not stop the clock"
e2e_log "us,ru: stored in Russian, fired in Russian and US"

# ---- held down: the keyboard repeats the key, the clock toggles once -------------------------
marks() { grep -c "^chronel-mark hotkey-$1 " "$E2E_TMP/app-$NAME.log" || true; }
presses=$(marks press) read=$(pages_read)
xdotool keydown ctrl+alt+28
e2e_wait 15 bash -c "grep -q '^chronel-mark hotkey-repeat ' '$E2E_TMP/app-$NAME.log'" \
  || { xdotool keyup ctrl+alt+28; e2e_fail "held key: the keyboard did not repeat it"; }
xdotool keyup ctrl+alt+28
[ "$(marks press)" = $((presses + 1)) ] || e2e_fail "held key: $(( $(marks press) - presses )) presses"
wait_running true 15 || e2e_fail "held key: the clock did not start"
e2e_wait 15 bash -c "[ \$(grep -c '^chronel-mark timer-page-read ' '$E2E_TMP/app-$NAME.log') -gt $read ]"
press false || e2e_fail "after the held key: Ctrl+Alt+T did not stop the clock"
exit_app
[ "$(stored_hotkey)" = $CTRL_ALT_T ] || e2e_fail "us,ru: stored hot key changed: $(stored_hotkey)"
e2e_log "held key: one toggle"

# ---- ru,us, started in Russian -------------------------------------------------------------
setxkbmap -display "$DISPLAY" -layout ru,us || e2e_fail "setxkbmap ru,us"
group 0
NAME=ruus
HOTKEY=$CTRL_ALT_T start_app $NAME CHRONEL_TRACE_MARKS=1
press true || e2e_fail "ru,us started in Russian: Ctrl+Alt+T did not start the clock"
group 1
press false || e2e_fail "ru,us in US: Ctrl+Alt+T did not stop the clock"
exit_app
[ "$(stored_hotkey)" = $CTRL_ALT_T ] || e2e_fail "ru,us: stored hot key changed: $(stored_hotkey)"
echo "hotkeys nonlatin: ok"
