#!/usr/bin/env bash
# Settings file end to end: first run, odd values, an unwritable file.
source "$(dirname "$0")/../lib.sh"
BIN=$1
e2e_start_desktop

KEYS="Top Left MinimizeOnClose UseTransparency RemoveFromTaskBar BaseURL Username Password PlayTickingSound TickingSoundInterval HotKeyStartStop ShowMinuteReminder MinuteReminderInterval AutoStopStartOnIdleTime AutoStopStartOnIdleTimeMinutes"

start_app() {  # folder
  cp "$BIN" "$1/ChronelGui"
  CHRONEL_TRACE_MARKS=1 e2e_spawn "app-$(basename "$1")" "$1/ChronelGui"
  APP_PID=$E2E_LAST_PID
  e2e_wait 60 e2e_window_by_title "Chronel Timer" || e2e_fail "main window not mapped"
}

close_main() {
  wmctrl -F -c "Chronel Timer"
}

value_of() {  # file key
  grep -m1 "^$2=" "$1" | cut -d= -f2- | tr -d '\r'
}

# (a) First run: preferences at the Server tab, focus in the user name field.
A="$E2E_TMP/a"; mkdir -p "$A"
start_app "$A"
e2e_wait 20 e2e_window_by_title "Chronel Timer Preferences" || e2e_fail "preferences window did not open at first run"
prefs=$(e2e_window_by_title "Chronel Timer Preferences")
# The first page brings the preferences to the front again: typed after that,
# once the window manager has given them the keyboard too.
e2e_wait 60 grep -qE '^chronel-mark (document-complete|status-page) ' "$E2E_TMP/app-a.log" || e2e_fail "(a) no first page"
e2e_wait 10 bash -c "[ \"\$(xdotool getactivewindow)\" = $prefs ] && [ \"\$(xdotool getwindowfocus)\" = $prefs ]" \
  || e2e_fail "preferences window not focused"
sleep 0.5
e2e_screenshot "$E2E_TMP/first-run.png"
xdotool type --delay 30 "alice"
sleep 0.5
close_main
e2e_wait_exit "$APP_PID" 30 || e2e_fail "(a) program did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "(a) exit code $E2E_EXIT_CODE"
INI="$A/ChronelGui.ini"
[ -f "$INI" ] || e2e_fail "(a) no settings file written"
[ "$(stat -c %a "$INI")" = 600 ] || e2e_fail "(a) settings file mode $(stat -c %a "$INI")"
got=$(grep -o '^[A-Za-z]*=' "$INI" | tr -d = | tr '\n' ' ' | sed 's/ $//')
[ "$got" = "$KEYS" ] || e2e_fail "(a) keys/order: $got"
sections=$(grep -c '^\[' "$INI")
[ "$sections" = 2 ] && head -1 "$INI" | grep -q '^\[Form\]' || e2e_fail "(a) sections: $(grep '^\[' "$INI")"
for kv in MinimizeOnClose=0 UseTransparency=1 RemoveFromTaskBar=1 Username=alice Password= PlayTickingSound=0 \
          TickingSoundInterval=60 HotKeyStartStop=32960 ShowMinuteReminder=0 MinuteReminderInterval=20 \
          AutoStopStartOnIdleTime=0 AutoStopStartOnIdleTimeMinutes=2; do
  [ "$(value_of "$INI" "${kv%%=*}")" = "${kv#*=}" ] || e2e_fail "(a) $kv expected, file has ${kv%%=*}=$(value_of "$INI" "${kv%%=*}")"
done
value_of "$INI" BaseURL | grep -q '^https://.*/$' || e2e_fail "(a) BaseURL $(value_of "$INI" BaseURL)"
e2e_log "(a) first run ok"

# (b) Odd values load clamped and defaulted and are written back so.
B="$E2E_TMP/b"; mkdir -p "$B"
printf '; my notes\r\n[Form]\r\nTop=10\r\nLeft=20\r\nMinimizeOnClose=yes\r\nUseTransparency=2\r\ngarbage line\r\n[Prefs]\r\nBaseURL=http://127.0.0.1:9/\r\nPassword=frperg\r\nTickingSoundInterval=900\r\nMinuteReminderInterval=0\r\nAutoStopStartOnIdleTimeMinutes=0x3C\r\nHotKeyStartStop=abc\r\nMyOwnKey=keep me\r\n' > "$B/ChronelGui.ini"
start_app "$B"
sleep 2
e2e_window_by_title "Chronel Timer Preferences" >/dev/null && [ -n "$(e2e_window_by_title "Chronel Timer Preferences")" ] \
  && e2e_fail "(b) preferences opened although a settings file exists"
close_main
e2e_wait_exit "$APP_PID" 30 || e2e_fail "(b) program did not end"
INI="$B/ChronelGui.ini"
for kv in MinimizeOnClose=0 UseTransparency=1 TickingSoundInterval=600 MinuteReminderInterval=1 \
          AutoStopStartOnIdleTimeMinutes=60 HotKeyStartStop=32960 ShowMinuteReminder=1 Password=frperg \
          "MyOwnKey=keep me" BaseURL=http://127.0.0.1:9/; do
  [ "$(value_of "$INI" "${kv%%=*}")" = "${kv#*=}" ] || e2e_fail "(b) $kv expected, file has ${kv%%=*}=$(value_of "$INI" "${kv%%=*}")"
done
grep -q '^; my notes' "$INI" && grep -q '^garbage line' "$INI" || e2e_fail "(b) foreign lines lost"
grep -q $'\r$' "$INI" || e2e_fail "(b) line ends changed"
e2e_log "(b) odd values ok"

# (c) A read-only settings file: the close asks whether to close anyway,
# naming the path; No keeps the window, Yes ends the program.
C="$E2E_TMP/c"; mkdir -p "$C"
printf '[Form]\nTop=0\n' > "$C/ChronelGui.ini"
chmod 444 "$C/ChronelGui.ini"
start_app "$C"
main=$(e2e_window_by_title "Chronel Timer")
ask() {
  close_main
  e2e_wait 20 bash -c '[ "$(xdotool search --onlyvisible --name "^Chronel Timer\$" | wc -l)" -ge 2 ]' \
    || e2e_fail "(c) no question"
  box=$(xdotool search --onlyvisible --name "^Chronel Timer\$" | grep -v "^$main\$" | head -1)
  xprop -id "$box" _NET_WM_WINDOW_TYPE | grep -q DIALOG || e2e_fail "(c) second window is no dialog"
  xdotool windowactivate --sync "$box" 2>/dev/null || true
}
ask
# The question goes to the error stream as well as into the box.
grep -qF "The settings could not be saved (Unable to write to $C/ChronelGui.ini). Close anyway?" "$E2E_TMP/app-c.log" \
  || e2e_fail "(c) question text: $(cat "$E2E_TMP/app-c.log")"
xdotool key Escape  # No
e2e_wait 10 bash -c "! xwininfo -id $box 2>/dev/null | grep -q IsViewable" || e2e_fail "(c) question stayed"
sleep 1
kill -0 "$APP_PID" || e2e_fail "(c) program ended after No"
e2e_window_by_title "Chronel Timer" >/dev/null || e2e_fail "(c) main window gone"
ask
xdotool key Return  # Yes, the default
e2e_wait_exit "$APP_PID" 30 || e2e_fail "(c) Yes did not close the program"
[ "$(cat "$C/ChronelGui.ini")" = "$(printf '[Form]\nTop=0')" ] || e2e_fail "(c) read-only file changed"
e2e_log "(c) read-only ok"
echo "settings: ok"
