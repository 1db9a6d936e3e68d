#!/usr/bin/env bash
# The command line: --help, --version and a bad option need no display;
# --hidden starts logged in with only the tray icon, a double click shows the window.
source "$(dirname "$0")/citizen_lib.sh"

# ---- (d) --help, --version, a bad option -----------------------------------------------
out=$(env -u DISPLAY "$BIN" --help) || e2e_fail "--help: exit code $?"
grep -q -- '--settings <file>' <<<"$out" && grep -q -- '--hidden' <<<"$out" && grep -q '^Usage: ' <<<"$out" \
  || e2e_fail "--help: $out"
out=$(env -u DISPLAY "$BIN" --version) || e2e_fail "--version: exit code $?"
grep -Eq '^ChronelGui \(Chronel Timer\) [0-9]+\.[0-9]+' <<<"$out" || e2e_fail "--version: $out"
rc=0; env -u DISPLAY "$BIN" --no-such-option >"$E2E_TMP/bad.out" 2>"$E2E_TMP/bad.err" || rc=$?
[ "$rc" = 2 ] || e2e_fail "bad option: exit code $rc"
[ ! -s "$E2E_TMP/bad.out" ] && grep -q "Unknown option 'no-such-option'" "$E2E_TMP/bad.err" && grep -q '^Usage: ' "$E2E_TMP/bad.err" \
  || e2e_fail "bad option: stdout '$(cat "$E2E_TMP/bad.out")', stderr '$(cat "$E2E_TMP/bad.err")'"
e2e_log "(d) --help, --version, bad option ok"

# ---- (c) --hidden ---------------------------------------------------------------------------
e2e_start_desktop tray
e2e_start_demo
INI="$E2E_TMP/c/ChronelGui.ini"
write_ini "$INI" HotKeyStartStop=0
start_app hidden --hidden --settings "$INI"
e2e_wait 45 logged_in || e2e_fail "(c) --hidden did not log in"
e2e_wait 15 e2e_tray_icon_window ChronelGui || e2e_fail "(c) no tray icon"
sleep 1
e2e_app_main_window "$APP" >/dev/null && e2e_fail "(c) --hidden mapped the main window"
icon=$(e2e_tray_icon_window ChronelGui)
xdotool mousemove --window "$icon" 8 8 click --repeat 2 --delay 80 1
wait_mapped "$APP" 15 || e2e_fail "(c) double click did not show the window"
e2e_log "(c) --hidden ok"
echo "citizen hidden: ok"
