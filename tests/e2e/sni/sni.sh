#!/usr/bin/env bash
# The tray icon on a StatusNotifierItem host: a test host on the session bus
# sees the icon, the tooltip, the blinking and the exported menu; the menu's
# entries start and stop the clock and hide the window, Activate brings it
# back, ContextMenu opens the menu where the host asks, SecondaryActivate
# does no harm.
source "$(dirname "$0")/../hotkeys/common.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
e2e_start_desktop
e2e_start_demo
e2e_spawn host /usr/bin/python3 "$HERE/sni_host.py"
e2e_wait 10 grep -q ready "$E2E_TMP/host.log" || e2e_fail "test host did not start"

host() {  # METHOD [ARGS...]
  local m=$1; shift
  dbus-send --session --print-reply=literal --dest=org.kde.StatusNotifierWatcher /Host "org.chronel.test.Host.$m" "$@"
}
state_py() {  # python expression over s, the host's view of the item
  host State | /usr/bin/python3 -c "import json,sys; s=json.loads(sys.stdin.read()); print($1)"
}
click() { host Click "string:$1" | grep -q true || e2e_fail "no shown menu entry '$1': $(state_py 's[\"menu\"]')"; }
main_window() { e2e_app_main_window "$APP" || true; }

DIR="$E2E_TMP/sni"; mkdir -p "$DIR"; cp "$BIN" "$DIR/ChronelGui"
printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' "$BASE" >"$DIR/ChronelGui.ini"
e2e_spawn app env HOME="$E2E_TMP/home" "$DIR/ChronelGui"
APP=$E2E_LAST_PID
e2e_demo_wait "$BASE" 60 '"target":"/time_log.php' || e2e_fail "the timer page was not shown"
e2e_wait 20 bash -c "[ \"\$(dbus-send --session --print-reply=literal --dest=org.kde.StatusNotifierWatcher /Host org.chronel.test.Host.State | /usr/bin/python3 -c 'import json,sys; s=json.loads(sys.stdin.read()); print(s[\"item\"] is not None and s[\"props\"][\"ToolTip\"][2] == \"Website redesign\")')\" = True ]" \
  || e2e_fail "no item with the work item as its tooltip: $(host State)"
[ "$(state_py 'len(s["props"]["IconPixmap"]) > 0 and s["props"]["ItemIsMenu"] is False')" = True ] || e2e_fail "icon: $(host State)"
menu_is() { [ "$(state_py '[m["label"] for m in s["menu"] if m["visible"] and m["type"] != "separator"]')" = "$1" ]; }
e2e_wait 10 menu_is "['Hide to Tray', 'Preferences', 'Exit', 'Start: Website redesign']" \
  || e2e_fail "menu: $(state_py 's["menu"]')"
e2e_log "icon, tooltip and menu ok"

# The item is titled as people read the program's name; the window's caption
# gains nothing from it, and its class still matches the desktop entry.
[ "$(state_py 's["props"]["Title"]')" = "Chronel Timer" ] || e2e_fail "Title: $(state_py 's["props"]["Title"]')"
WIN=$(main_window)
[ -n "$WIN" ] || e2e_fail "no main window"
names() { xprop -id "$WIN" WM_NAME _NET_WM_NAME WM_CLASS 2>&1; }
caption_is() {  # both of X11's names exactly the caption, nothing appended
  names | grep -qx "WM_NAME([A-Z_]*) = \"$1\"" && names | grep -qx "_NET_WM_NAME(UTF8_STRING) = \"$1\""
}
caption=$(xdotool getwindowname "$WIN")
caption_is "$caption" && [ "${caption%— *}" = "$caption" ] || e2e_fail "caption: $(names)"
names | grep -qx 'WM_CLASS(STRING) = "ChronelGui", "chronel-timer"' || e2e_fail "class: $(names)"
e2e_log "Title, caption and class ok"

# The menu's Start entry starts the clock; the icon blinks while it runs.
click "Start: Website redesign"
wait_running true 15 || e2e_fail "the menu's Start entry did not start the clock"
e2e_wait 10 caption_is "Working..." || e2e_fail "caption while working: $(names)"
icons=$(state_py 's["signals"].get("NewIcon", 0)')
sleep 3
[ "$(state_py 's["signals"].get("NewIcon", 0)')" -ge $((icons + 2)) ] || e2e_fail "the icon does not blink: $(state_py 's["signals"]')"
click "Stop: Website redesign"
wait_running false 15 || e2e_fail "the menu's Stop entry did not stop the clock"
e2e_log "start, blink, stop ok"

# Hidden to the tray, the menu lacks "Hide to Tray"; Activate brings the window back.
click "Hide to Tray"
e2e_wait 10 bash -c "! xdotool search --all --onlyvisible --pid $APP --name '^Not working\$' >/dev/null" || e2e_fail "Hide to Tray left the window shown"
[ -z "$(main_window)" ] || e2e_fail "the window is still mapped"
state_py '[m["label"] for m in s["menu"] if m["visible"]]' | grep -q "Hide to Tray" && e2e_fail "menu offers Hide to Tray while hidden"
host Send string:SecondaryActivate int32:10 int32:10 >/dev/null
host Send string:Activate int32:10 int32:10 >/dev/null
e2e_wait 10 bash -c "[ -n \"\$(source $HERE/../lib_app.sh; e2e_app_main_window $APP)\" ]" || e2e_fail "Activate did not show the hidden window"
e2e_log "hide and Activate ok"

# ContextMenu: the program opens its menu where the host asks, not at the pointer.
xdotool mousemove 20 20
host Send string:ContextMenu int32:300 int32:310 >/dev/null
e2e_wait 10 bash -c "source $HERE/../lib_app.sh; [ -n \"\$(_e2e_popup_windows $APP 0)\" ]" || e2e_fail "ContextMenu opened no menu"
menu=$(_e2e_popup_windows "$APP" 0 | awk 'NR == 1')
at=$(xdotool getwindowgeometry "$menu" | awk '/Position:/ {print $2}')
[ "$at" = 300,310 ] || e2e_fail "ContextMenu(300, 310) opened the menu at $at"
xdotool key Escape
sleep 0.5
e2e_log "ContextMenu ok"

click "Exit"
e2e_wait_exit "$APP" 30 || e2e_fail "the menu's Exit did not end the program"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
echo "sni: ok"
