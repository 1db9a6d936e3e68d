#!/usr/bin/env bash
# The program as a screen reader sees it, on the real accessibility bus (the
# bus launcher with its registry, read through the client library):
# (a) a screen reader switched on after the start does not see the program
#     (the toolkit reads the switch once); --version says to restart it; one
#     started to be on the bus always is there with no screen reader;
# (b) started after the switch, its page is on the bus: the status page's
#     text and "Try now" while the service is down; "Try now" pressed from
#     the keyboard logs in; then the work-item list, the Start button and the
#     status text; Space on Start (focused as a screen reader focuses it)
#     starts the clock: the button reads Stop and the service recorded it
#     (and Space again stops it); the tray menu's items by their names;
# (c) every control of the preferences has a name; a new hot key is
#     announced once; SIGTERM with the focus in the hot-key field ends the
#     program with exit code 0 and the settings saved;
# (d) the same with the preferences opened from the tray menu.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
PROBE=(/usr/bin/python3 "$(dirname "$0")/atspi_probe.py")
probe() { "${PROBE[@]}" "$@"; }
# Fails with what the program shows on the bus in the kept logs.
fail_seen() { probe dump "$APP" >"$E2E_TMP/tree.log" 2>&1 || true; e2e_fail "$@"; }

# (a) What the user does, in --version.
"$BIN" --version | grep -qi 'screen reader.*restart\|restart.*screen reader' \
  || e2e_fail "--version does not say what to do for a screen reader started later: $("$BIN" --version)"

e2e_start_desktop tray
export HOME="$E2E_TMP/home" XDG_CONFIG_HOME="$E2E_TMP/home/config" XDG_DATA_HOME="$E2E_TMP/home/data" \
  XDG_CACHE_HOME="$E2E_TMP/home/cache"
mkdir -p -m 700 "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
# The user's own value would hide whether the program sets it.
unset QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY QT_LINUX_ACCESSIBILITY_ALWAYS_ON QT_ACCESSIBILITY

# ---- the accessibility bus, its screen reader switched off -----------------------------------
gsettings set org.gnome.desktop.a11y.applications screen-reader-enabled false
gsettings set org.gnome.desktop.interface toolkit-accessibility false
e2e_spawn a11y-bus /usr/libexec/at-spi-bus-launcher --launch-immediately
a11y_status() {  # PROPERTY: true or false
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Get org.a11y.Status "$1" 2>/dev/null | grep -o 'true\|false'
}
a11y_on() { [ "$(a11y_status IsEnabled)" = true ] && [ "$(a11y_status ScreenReaderEnabled)" = true ]; }
e2e_wait 20 a11y_status IsEnabled || e2e_fail "the accessibility bus did not start"
a11y_on && e2e_fail "the screen reader is on before it was switched on"

# ---- the service: down first, on this port -------------------------------------------------
PORT=$(e2e_free_port)
BASE="http://127.0.0.1:$PORT/"
D="$E2E_TMP/app"; mkdir -p "$D"; cp "$BIN" "$D/ChronelGui"
printf '[Form]\nRemoveFromTaskBar=0\nUseTransparency=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\nAutoStopStartOnIdleTime=0\nShowMinuteReminder=0\n' \
  "$BASE" >"$D/ChronelGui.ini"
start_app() {  # LOG-NAME [ARGS...]
  local name=$1; shift
  e2e_spawn "$name" "$D/ChronelGui" "$@"
  APP=$E2E_LAST_PID
}
close_app() {
  wmctrl -F -c "$(e2e_app_title "$APP")" 2>/dev/null || kill -TERM "$APP"
  e2e_wait_exit "$APP" 60 || e2e_fail "$1: the program did not end"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "$1: exit code $E2E_EXIT_CODE"
}

# (a) Started before the switch: not seen; unless asked to be on the bus always (the README's advice).
start_app app-before
e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "(a) main window not mapped"
mkdir -p "$E2E_TMP/always"
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 e2e_spawn app-always "$D/ChronelGui" --settings "$E2E_TMP/always/ChronelGui.ini"
ALWAYS=$E2E_LAST_PID
probe present "$ALWAYS" 60 || e2e_fail "(a) started to be on the bus always, the program is not there"
kill -TERM "$ALWAYS"
e2e_wait_exit "$ALWAYS" 60 || e2e_fail "(a) SIGTERM did not end the program"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "(a) SIGTERM: exit code $E2E_EXIT_CODE"
# Switched on as a screen reader does when it starts.
for p in ScreenReaderEnabled IsEnabled; do
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status "$p" '<true>' >/dev/null
done
e2e_wait 10 a11y_on || e2e_fail "the screen reader could not be switched on"
probe absent "$APP" 5 || e2e_fail "(a) the program follows the switch now: update --version, the README and this test"
close_app "(a)"
e2e_log "(a) a program started before the screen reader is not seen; --version says to restart it"

# (b) Started after it: the status page while the service is down.
start_app app
probe present "$APP" 60 || fail_seen "(b) started with the screen reader on, the program is not on the bus"
probe wait "$APP" '*' 'could not|refused|connect' 60 >/dev/null || fail_seen "(b) the status page's reason is not exposed"
probe wait "$APP" link '^Try now$' 30 >/dev/null || fail_seen "(b) the status page's Try now is not exposed"
e2e_spawn demo "$DEMO" --port "$PORT"
e2e_wait 10 grep -q '^PORT ' "$E2E_TMP/demo.log" || e2e_fail "demo service did not start on port $PORT"
# Try now, focused as a screen reader focuses it, pressed with Enter.
probe focus "$APP" link '^Try now$' 30 >/dev/null || fail_seen "(b) Try now did not take the focus"
xdotool key Return
probe wait "$APP" 'push button' '^Start$' 60 >/dev/null || fail_seen "(b) no Start button after Try now"
probe wait "$APP" 'combo box' '' 30 >/dev/null || fail_seen "(b) the work-item list is not exposed"
probe wait "$APP" '*' '^Stopped\.?$' 30 >/dev/null || fail_seen "(b) the status text is not exposed"
starts() { e2e_demo_count "$BASE" '"kind":"start"'; }
[ "$(starts)" = 0 ] || fail_seen "(b) the service recorded a start before one was asked for"
probe focus "$APP" 'push button' '^Start$' 30 >/dev/null || fail_seen "(b) Start did not take the focus"
xdotool key space
if ! probe wait "$APP" 'push button' '^Stop$' 20 >/dev/null && [ "$(starts)" = 0 ]; then
  # Nothing reached the service: the key was lost on the way to the page, so
  # it is pressed once more (the count of starts below still wants one).
  e2e_log "(b) Space reached no button (keyboard at $(xdotool getwindowfocus getwindowname 2>&1)); again"
  probe focus "$APP" 'push button' '^Start$' 30 >/dev/null || fail_seen "(b) Start did not take the focus again"
  xdotool key space
fi
probe wait "$APP" 'push button' '^Stop$' 60 >/dev/null || fail_seen "(b) the button does not read Stop after Space on Start"
probe wait "$APP" '*' '^Running since' 30 >/dev/null || fail_seen "(b) no 'Running since' after the start"
e2e_demo_wait "$BASE" 30 '"kind":"start"' || fail_seen "(b) the service recorded no start"
[ "$(starts)" = 1 ] || fail_seen "(b) the service recorded $(starts) starts for one press"
# And back, so that the close asks nothing.
probe focus "$APP" 'push button' '^Stop$' 30 >/dev/null || fail_seen "(b) Stop did not take the focus"
xdotool key space
probe wait "$APP" 'push button' '^Start$' 60 >/dev/null || fail_seen "(b) the button does not read Start after Space on Stop"
e2e_demo_wait "$BASE" 30 '"kind":"stop"' || fail_seen "(b) the service recorded no stop"
# The tray menu's items by their names, as the keyboard walks them.
e2e_wait 30 e2e_tray_icon_window ChronelGui "$APP" || fail_seen "(b) no tray icon"
e2e_tray_menu_open "$(e2e_tray_icon_window ChronelGui "$APP")" || fail_seen "(b) the tray menu did not open"
heard=$(probe hear "$APP" 4 20 Down Down Down Down) || fail_seen "(b) the tray menu: $heard"
for item in '^menu item|Hide to Tray|$' '^menu item|Preferences|$' '^menu item|Exit|$' '^menu item|Start: .'; do
  grep -q -- "$item" <<<"$heard" || fail_seen "(b) the tray menu: no $item in what was heard: $(tr "\n" ";" <<<"$heard")"
done
xdotool key Escape
close_app "(b)"
e2e_log "(b) the status page, Try now, the timer page, a start and a stop from the keyboard, the tray menu, on the bus"

# (c) A first run: the preferences come up by themselves.
FIRST="$E2E_TMP/first/ChronelGui.ini"; mkdir -p "$(dirname "$FIRST")"
start_app app-prefs --settings "$FIRST"
probe unnamed "$APP" "Chronel Timer Preferences" 60 >"$E2E_TMP/prefs-controls.log" \
  || fail_seen "(c) $(tail -1 "$E2E_TMP/prefs-controls.log")"
e2e_log "(c) $(wc -l <"$E2E_TMP/prefs-controls.log") controls, each named"
grep -q "^label|.*|Opens the service's web site.*|focusable$" "$E2E_TMP/prefs-controls.log" \
  || fail_seen "(c) the About page's link cannot be reached by keyboard"
probe action "$APP" 'page tab' '^Enhancements$' 20 >/dev/null || fail_seen "(c) no Enhancements tab"
field=$(probe wait "$APP" text '^Start/Stop Timer Hotkey$' 20) || fail_seen "(c) the hot-key field has no name"
[ -n "$(cut -d'|' -f3- <<<"$field")" ] || fail_seen "(c) the hot-key field has no description: $field"
said=$(probe announce "$APP" text '^Start/Stop Timer Hotkey$' 20 ctrl+alt+k) || fail_seen "(c) $said"
grep -q "'Ctrl + Alt + K'" <<<"$said" || fail_seen "(c) the field does not show the new key: $said"
grep -q '^ANNOUNCED 1$' <<<"$said" || fail_seen "(c) one key press, not announced once: $(tail -2 <<<"$said" | head -1)"
e2e_log "(c) $(head -2 <<<"$said" | tail -1)"
# The focus stays in the field; the end of the session comes now.
kill -TERM "$APP"
e2e_wait_exit "$APP" 60 || fail_seen "(c) SIGTERM did not end the program"
[ "$E2E_EXIT_CODE" = 0 ] || fail_seen "(c) SIGTERM with the focus in the hot-key field: exit code $E2E_EXIT_CODE"
grep -qx 'HotKeyStartStop=49227' "$FIRST" || fail_seen "(c) the new hot key was not saved: $(grep HotKey "$FIRST")"
e2e_log "(c) the preferences named, a key announced once, SIGTERM saved them"

# (d) The same with the preferences opened from the tray menu, where they wait for their close.
start_app app-modal
e2e_wait 60 e2e_tray_icon_window ChronelGui "$APP" || fail_seen "(d) no tray icon"
e2e_wait 60 e2e_app_main_window "$APP" || fail_seen "(d) main window not mapped"
e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui "$APP")" 2 || fail_seen "(d) Preferences from the tray menu"
probe action "$APP" 'page tab' '^Enhancements$' 30 >/dev/null || fail_seen "(d) no Enhancements tab"
said=$(probe announce "$APP" text '^Start/Stop Timer Hotkey$' 20 ctrl+alt+j) || fail_seen "(d) $said"
grep -q "'Ctrl + Alt + J'" <<<"$said" || fail_seen "(d) the field does not show the new key: $said"
kill -TERM "$APP"
e2e_wait_exit "$APP" 60 || fail_seen "(d) SIGTERM did not end the program"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "(d) SIGTERM with the focus in the hot-key field: exit code $E2E_EXIT_CODE"
grep -qx 'HotKeyStartStop=49226' "$D/ChronelGui.ini" || e2e_fail "(d) the new hot key was not saved: $(grep HotKey "$D/ChronelGui.ini")"
e2e_log "(d) the same from the tray menu's Preferences"
echo "a11y: ok"
