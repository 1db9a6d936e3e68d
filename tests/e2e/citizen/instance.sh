#!/usr/bin/env bash
# One instance per settings file: a second start shows the first instance's
# window and ends without touching anything (a start into the tray leaves it
# hidden); a start during the first's exit waits for it and then runs;
# another settings file runs beside.
source "$(dirname "$0")/citizen_lib.sh"
e2e_start_desktop tray
e2e_start_demo

INI="$E2E_TMP/a/ChronelGui.ini"
# Ctrl+Alt+K as the hot key (0x4000 | 0x8000 | 'K').
write_ini "$INI" MinimizeOnClose=1 HotKeyStartStop=49227
CHRONEL_TRACE_MARKS=1 start_app first --settings "$INI"
FIRST=$APP
wait_mapped "$FIRST" || e2e_fail "first instance: main window not mapped"
e2e_wait 30 logged_in || e2e_fail "first instance did not log in"
e2e_wait 10 e2e_tray_icon_window || e2e_fail "first instance: no tray icon"
# Started up: the timer page has been read.
e2e_wait 30 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/first.log" || e2e_fail "first instance did not read the timer page"
# Closing hides it to the tray (MinimizeOnClose); the close writes nothing.
wmctrl -i -c "$WIN"
if ! wait_unmapped "$FIRST" 5 && ! grep -q '^chronel-mark close-asked ' "$E2E_TMP/first.log"; then
  # The window manager did not pass the close on (the program never saw it): ask again.
  e2e_log "the close did not reach the program; asking again"
  wmctrl -i -c "$WIN"
fi
wait_unmapped "$FIRST" || e2e_fail "first instance did not hide to the tray: $(xprop -id "$WIN" WM_STATE _NET_WM_STATE _NET_WM_ALLOWED_ACTIONS 2>&1 | tr '\n' ' '); windows: $(for w in $(xdotool search --all --pid "$FIRST" 2>/dev/null); do printf '%s "%s" %s; ' "$w" "$(xdotool getwindowname "$w" 2>/dev/null)" "$(xwininfo -id "$w" 2>/dev/null | awk '/Map State/ {print $3}')"; done)"
sleep 1
before=$(md5sum <"$INI")

# A start into the tray, as the session's autostart makes, leaves the window hidden.
start_app hidden --hidden --settings "$INI"
e2e_wait_exit "$APP" 30 || e2e_fail "hidden second start did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "hidden second start: exit code $E2E_EXIT_CODE"
sleep 1  # a window raised by it would be mapped by now
e2e_app_main_window "$FIRST" >/dev/null && e2e_fail "a hidden second start showed the first instance's window"
e2e_log "(a) hidden second start left the first in the tray"

start_app second --settings "$INI"
e2e_wait_exit "$APP" 30 || e2e_fail "second start did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "second start: exit code $E2E_EXIT_CODE"
wait_mapped "$FIRST" 15 || e2e_fail "the first instance's window was not shown"
[ "$(xdotool getactivewindow 2>/dev/null)" = "$WIN" ] || e2e_wait 5 bash -c "[ \"\$(xdotool getactivewindow)\" = $WIN ]" \
  || e2e_fail "the first instance's window is not in front"
n=$(tray_icon_count); [ "$n" = 1 ] || e2e_fail "$n tray icons after the second start"
[ "$(md5sum <"$INI")" = "$before" ] || e2e_fail "the second start changed the settings file"
kill -0 "$FIRST" || e2e_fail "first instance ended"
# The first instance still holds its hot key.
xdotool key ctrl+alt+k
e2e_wait 15 service_running || e2e_fail "the first instance's hot key no longer starts the clock"
e2e_log "(a) second start raised the first"

# A start while the first exits: the exit waits for the clock's stop at a
# slow service, and the closing instance refuses to be raised; the new start
# waits until the first has gone, then runs and logs in.
curl -s --max-time 5 -d '' "${BASE}__config?latency_ms=7000" >/dev/null || e2e_fail "could not slow the service"
e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" -2 || e2e_fail "could not choose Exit"
e2e_wait 10 e2e_window_by_title "Time Clock Still Running" || e2e_fail "no question at the exit"
xdotool windowactivate --sync "$(e2e_window_by_title "Time Clock Still Running")" 2>/dev/null || true
xdotool key Return  # Yes: stop the clock and exit
e2e_wait 10 bash -c '[ -z "$(xdotool search --onlyvisible --name "^Time Clock Still Running\$" 2>/dev/null)" ]' \
  || e2e_fail "the question stayed"
CHRONEL_TRACE_MARKS=1 start_app during --settings "$INI"
DURING=$APP
# It claims the settings file right after this mark: the first must still be exiting then.
e2e_wait 30 grep -q '^chronel-mark qapp ' "$E2E_TMP/during.log" || e2e_fail "the start during the exit did not begin"
kill -0 "$FIRST" 2>/dev/null || e2e_fail "the first instance ended before the new start claimed the file"
e2e_wait_exit "$FIRST" 40 || e2e_fail "the first instance did not exit"
curl -s --max-time 5 -d '' "${BASE}__config?latency_ms=0" >/dev/null || e2e_fail "could not speed the service up"
service_running && e2e_fail "the exit did not stop the clock"
kill -0 "$DURING" 2>/dev/null || e2e_fail "the start during the exit ended: $(cat "$E2E_TMP/during.log")"
wait_mapped "$DURING" || e2e_fail "the start during the exit shows no window"
e2e_wait 45 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/during.log" \
  || e2e_fail "the start during the exit did not read the timer page"
e2e_log "(a) a start during the exit waited for it and runs"

# Another settings file is another instance.
write_ini "$E2E_TMP/b/other.ini" HotKeyStartStop=0
start_app other --settings "$E2E_TMP/b/other.ini"
wait_mapped "$APP" || e2e_fail "a start with another settings file did not run"
kill -0 "$DURING" || e2e_fail "the instance of the first file ended"
e2e_log "(a) another settings file runs beside it"
echo "citizen instance: ok"
