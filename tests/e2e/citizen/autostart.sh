#!/usr/bin/env bash
# "Start with my desktop session" writes and removes the XDG autostart entry;
# its Exec line starts the installed program with --hidden.
source "$(dirname "$0")/citizen_lib.sh"
e2e_start_desktop tray

# The program "installed" on the PATH, and a configuration folder of our own.
mkdir -p "$E2E_TMP/bin"
ln -s "$BIN" "$E2E_TMP/bin/ChronelGui"
export PATH="$E2E_TMP/bin:$PATH" XDG_CONFIG_HOME="$E2E_TMP/config"
ENTRY="$XDG_CONFIG_HOME/autostart/chronel-timer.desktop"
INI="$E2E_TMP/e/ChronelGui.ini"
write_ini "$INI" HotKeyStartStop=0
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
  xdotool mousemove --window "$PREFS" 60 121 click 1
}

open_window_tab
e2e_screenshot "$E2E_TMP/window-tab.png"
[ ! -e "$ENTRY" ] || e2e_fail "an entry exists before the box was ticked"
click_box
e2e_wait 10 test -f "$ENTRY" || e2e_fail "ticking the box wrote no autostart entry"
grep -q '^\[Desktop Entry\]$' "$ENTRY" && grep -q '^Type=Application$' "$ENTRY" || e2e_fail "entry: $(cat "$ENTRY")"
exec_line=$(sed -n 's/^Exec=//p' "$ENTRY")
read -r -a words <<<"$exec_line"
[ "$(command -v "${words[0]}")" = "$E2E_TMP/bin/ChronelGui" ] || e2e_fail "Exec does not start the installed program: $exec_line"
[ "${words[1]}" = --hidden ] || e2e_fail "Exec without --hidden: $exec_line"
grep -q '^autostart\|^Start' "$INI" && e2e_fail "the setting went into the settings file"
# What the session would run: a second start, which shows this one and ends.
rc=0; timeout 30 "${words[@]}" >"$E2E_TMP/exec.log" 2>&1 || rc=$?
[ "$rc" = 0 ] || e2e_fail "the Exec line ended with $rc: $(cat "$E2E_TMP/exec.log")"
e2e_log "(e) entry written: Exec=$exec_line"

click_box
e2e_wait 10 bash -c "[ ! -e '$ENTRY' ]" || e2e_fail "unticking the box left the entry"
xdotool key --window "$PREFS" Return  # Close
e2e_log "(e) entry removed"
echo "citizen autostart: ok"
