#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP end the program through the close path: the
# window position moved just before is in the settings file, exit code 0.
source "$(dirname "$0")/citizen_lib.sh"
e2e_start_desktop

x=60
for sig in TERM INT HUP; do
  INI="$E2E_TMP/$sig/ChronelGui.ini"
  # Minimize-on-close and a running question would both hold up a close; not this one.
  write_ini "$INI" MinimizeOnClose=1 HotKeyStartStop=0
  start_app "app-$sig" --settings "$INI"
  wait_mapped "$APP" || e2e_fail "$sig: main window not mapped"
  x=$((x + 100))
  move_window "$WIN" "$x" 200 || e2e_fail "$sig: window did not move"
  kill -s "$sig" "$APP"
  e2e_wait_exit "$APP" 30 || e2e_fail "$sig: program did not end"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "$sig: exit code $E2E_EXIT_CODE"
  left=$(value_of "$INI" Left); top=$(value_of "$INI" Top)
  near "${left:-0}" "$x" && near "${top:-0}" 200 || e2e_fail "$sig: stored position $left,$top, window was at $x,200"
  e2e_log "(b) SIG$sig saved $left,$top and exited 0"
done
echo "citizen signals: ok"
