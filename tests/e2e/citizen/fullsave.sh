#!/usr/bin/env bash
# A save that does not fit: the settings file is writable but its folder is
# not, so the close rewrites it in place; a file-size limit on the running
# program stands in for a full disk. The close fails and asks whether to
# close anyway; the old file stays whole (password line included); after No
# the window stays open, and without the limit the next close saves and
# ends the program.
source "$(dirname "$0")/citizen_lib.sh"
e2e_start_desktop
e2e_start_demo

DIR="$E2E_TMP/ro"
INI="$DIR/ChronelGui.ini"
write_ini "$INI" HotKeyStartStop=0
chmod 555 "$DIR"
CHRONEL_TRACE_MARKS=1 start_app app --settings "$INI"
wait_mapped "$APP" || e2e_fail "main window not mapped"
e2e_wait 30 logged_in || e2e_fail "did not log in"
e2e_wait 30 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/app.log" || e2e_fail "did not read the timer page"
# The message box: a window with the program's title beside the main window.
message_box() {
  xdotool search --onlyvisible --name '^Chronel Timer$' 2>/dev/null | grep -vxF "$WIN" | head -1 | grep .
}
no_message_box() { ! message_box; }
before=$(md5sum <"$INI")
size=$(stat -c %s "$INI")

# The save adds keys: the file must grow past the limit.
prlimit --pid "$APP" --fsize="$size:unlimited" || e2e_fail "could not limit the program's file size"
wmctrl -i -c "$WIN"
e2e_wait 15 message_box || e2e_fail "no message after the failed save"
kill -0 "$APP" 2>/dev/null || e2e_fail "the program ended at the failed save: $(tail -3 "$E2E_TMP/app.log")"
[ "$(md5sum <"$INI")" = "$before" ] || e2e_fail "the failed save changed the file: $(cat "$INI")"
e2e_app_main_window "$APP" >/dev/null || e2e_fail "the main window closed after the failed save"
box=$(message_box)
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key Escape  # No
e2e_wait 10 no_message_box || e2e_fail "the message stayed"
e2e_log "(g) the save that did not fit left the old file whole"

kill -0 "$APP" 2>/dev/null || e2e_fail "the program ended after the message: $(tail -5 "$E2E_TMP/app.log")"
prlimit --pid "$APP" --fsize=unlimited:unlimited || e2e_fail "could not lift the limit"
wmctrl -i -c "$WIN"
e2e_wait_exit "$APP" 30 || e2e_fail "the program did not end once the save fitted"
grep -q '^Password=qrzb$' "$INI" && grep -q '^Top=' "$INI" && grep -q '^AutoStopStartOnIdleTimeMinutes=' "$INI" \
  || e2e_fail "the save did not write the file: $(cat "$INI")"
[ "$(ls -A "$DIR")" = ChronelGui.ini ] || e2e_fail "files beside the settings: $(ls -A "$DIR")"
e2e_log "(g) the save in place went through once it fitted"
echo "citizen fullsave: ok"
