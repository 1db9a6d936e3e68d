#!/usr/bin/env bash
# "Start with my desktop session" writes and removes the XDG autostart entry
# of this program and settings file; its Exec line starts the installed
# program with --hidden, and TryExec lets the session skip it once the
# program is gone. Entries of another copy or another settings file are
# neither shown ticked nor touched.
source "$(dirname "$0")/citizen_lib.sh"
e2e_start_desktop tray

# The program "installed" on the PATH, and a configuration folder of our own.
mkdir -p "$E2E_TMP/bin"
ln -s "$BIN" "$E2E_TMP/bin/ChronelGui"
export PATH="$E2E_TMP/bin:$PATH" XDG_CONFIG_HOME="$E2E_TMP/config"
AUTOSTART="$XDG_CONFIG_HOME/autostart"
INI="$E2E_TMP/e/ChronelGui.ini"
write_ini "$INI" HotKeyStartStop=0
# Another settings file's entry (under the name every entry once had) and
# another copy's entry for this very settings file.
mkdir -p "$AUTOSTART"
printf '[Desktop Entry]\nType=Application\nName=Chronel Timer\nExec=ChronelGui --hidden --settings %s\n' \
  "$E2E_TMP/other.ini" >"$AUTOSTART/chronel-timer.desktop"
printf '[Desktop Entry]\nType=Application\nTryExec=/opt/elsewhere/ChronelGui\nExec=/opt/elsewhere/ChronelGui --hidden --settings %s\n' \
  "$INI" >"$AUTOSTART/chronel-timer-0123456789abcdef.desktop"
foreign=$(cd "$AUTOSTART" && md5sum chronel-timer.desktop chronel-timer-0123456789abcdef.desktop)
foreign_kept() { [ "$(cd "$AUTOSTART" && md5sum chronel-timer.desktop chronel-timer-0123456789abcdef.desktop 2>&1)" = "$foreign" ]; }
# This instance's own entry: the one file beside the two.
own_entry() {
  ls "$AUTOSTART" | grep -x 'chronel-timer-.*\.desktop' | grep -vxF chronel-timer-0123456789abcdef.desktop
}
e2e_spawn app ChronelGui --settings "$INI"; APP=$E2E_LAST_PID
wait_mapped "$APP" || e2e_fail "main window not mapped"
e2e_wait 15 e2e_tray_icon_window ChronelGui || e2e_fail "no tray icon"

open_window_tab() {
  e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" 2 || e2e_fail "could not choose Preferences"
  e2e_wait 10 e2e_window_by_title "Chronel Timer Preferences" || e2e_fail "preferences did not open"
  PREFS=$(e2e_window_by_title "Chronel Timer Preferences")
  xdotool windowactivate --sync "$PREFS" 2>/dev/null || true
  sleep 1  # mapped is not yet taking clicks
  xdotool mousemove --window "$PREFS" 138 19 click 1  # the "Window" tab
  sleep 1
}
click_box() {  # "Start with my desktop session", the tab's last row
  xdotool mousemove --window "$PREFS" 60 131 click 1
}

open_window_tab
e2e_screenshot "$E2E_TMP/window-tab.png"
# The box is not ticked for the foreign entries: the click ticks it.
click_box
e2e_wait 10 own_entry || e2e_fail "ticking the box wrote no entry of its own: $(ls "$AUTOSTART")"
[ "$(own_entry | wc -l)" = 1 ] || e2e_fail "entries: $(ls "$AUTOSTART")"
ENTRY="$AUTOSTART/$(own_entry)"
foreign_kept || e2e_fail "ticking the box changed the foreign entries"
grep -q '^\[Desktop Entry\]$' "$ENTRY" && grep -q '^Type=Application$' "$ENTRY" || e2e_fail "entry: $(cat "$ENTRY")"
exec_line=$(sed -n 's/^Exec=//p' "$ENTRY")
read -r -a words <<<"$exec_line"
[ "$(command -v "${words[0]}")" = "$E2E_TMP/bin/ChronelGui" ] || e2e_fail "Exec does not start the installed program: $exec_line"
[ "${words[1]}" = --hidden ] && [ "${words[2]}" = --settings ] && [ "${words[3]}" = "$INI" ] || e2e_fail "Exec: $exec_line"
[ "$(sed -n 's/^TryExec=//p' "$ENTRY")" = "${words[0]}" ] || e2e_fail "TryExec: $(cat "$ENTRY")"
grep -q '^autostart\|^Start' "$INI" && e2e_fail "the setting went into the settings file"
# What the session would run: a second start into the tray, which ends.
rc=0; timeout 30 "${words[@]}" >"$E2E_TMP/exec.log" 2>&1 || rc=$?
[ "$rc" = 0 ] || e2e_fail "the Exec line ended with $rc: $(cat "$E2E_TMP/exec.log")"
e2e_log "(e) entry written: Exec=$exec_line"

click_box
e2e_wait 10 bash -c "[ ! -e '$ENTRY' ]" || e2e_fail "unticking the box left the entry"
foreign_kept || e2e_fail "unticking the box changed the foreign entries: $(ls "$AUTOSTART")"
# Close: the window may be gone before the key's release reaches it.
xdotool key --window "$PREFS" Return 2>/dev/null || true
e2e_wait 10 bash -c "! xwininfo -id $PREFS 2>/dev/null | grep -q IsViewable" || e2e_fail "Return did not close the preferences"
e2e_log "(e) entry removed, the foreign ones kept"
echo "citizen autostart: ok"
