#!/usr/bin/env bash
# A settings file written on Windows: user name and password in the ANSI
# code page log in to the service, and a close without edits leaves the
# file's bytes as they were. Hide to Tray with "Remove from task bar"
# unticked leaves a taskbar entry that brings the window back.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop tray

# The account "Jürgen" / "péss" in Windows-1252 bytes.
printf 'account_encoded = J%%FCrgen:p%%E9ss\n' >"$E2E_TMP/demo.conf"
e2e_start_demo --config "$E2E_TMP/demo.conf"
status_py() { curl -s "${BASE}__status" | python3 -c "import json,sys; d=json.load(sys.stdin); print($1)"; }

start_app() {  # folder
  cp "$BIN" "$1/ChronelGui"
  HOME="$E2E_TMP/home" e2e_spawn "app-$(basename "$1")" "$1/ChronelGui"
  APP=$E2E_LAST_PID
  e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "main window not mapped"
}
close_app() {  # label
  wmctrl -i -c "$(e2e_app_main_window "$APP")" || e2e_fail "($1) no main window to close"
  e2e_wait_exit "$APP" 30 || e2e_fail "($1) program did not end"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "($1) exit code $E2E_EXIT_CODE"
}

# Every key in the order the program writes them, CR LF, password Rot13 of
# "péss" ("céff"), as the Windows program leaves the file.
A="$E2E_TMP/a"; mkdir -p "$A"
printf '[Form]\r\nTop=0\r\nLeft=0\r\nMinimizeOnClose=0\r\nUseTransparency=1\r\nRemoveFromTaskBar=0\r\n[Prefs]\r\nBaseURL=%s\r\nUsername=J\374rgen\r\nPassword=c\351ff\r\nPlayTickingSound=0\r\nTickingSoundInterval=60\r\nHotKeyStartStop=0\r\nShowMinuteReminder=1\r\nMinuteReminderInterval=20\r\nAutoStopStartOnIdleTime=0\r\nAutoStopStartOnIdleTimeMinutes=2\r\n' \
  "$BASE" >"$A/ChronelGui.ini"
cp "$A/ChronelGui.ini" "$E2E_TMP/original.ini"

# ---- (a) the ANSI credentials log in ----------------------------------------
start_app "$A"
e2e_wait 30 bash -c "curl -s ${BASE}__status | python3 -c 'import json,sys; d=json.load(sys.stdin); sys.exit(0 if any(e[\"kind\"]==\"login\" and e[\"result\"]==\"ok\" for e in d[\"events\"]) else 1)'" \
  || e2e_fail "(a) no successful login: $(curl -s "${BASE}__status")"
post=$(status_py '[(r["target"], r["body"]) for r in d["requests"] if r["method"]=="POST"][0]')
[ "$post" = "('/index.php?mobile=1&username_or_email=J%FCrgen&goto=time_log.php%3Fsmallbtn=1', 'pw=p%E9ss')" ] \
  || e2e_fail "(a) login post: $post"
e2e_log "(a) login with Windows-1252 credentials ok"

# ---- (b) Hide to Tray keeps a taskbar entry that restores the window ---------
WIN=$(e2e_app_main_window "$APP")
icon=$(e2e_tray_icon_window ChronelGui) || e2e_fail "(b) no tray icon"
e2e_tray_menu_choose "$icon" 1 || e2e_fail "(b) could not choose Hide to Tray"
e2e_wait 10 bash -c "! xwininfo -id $WIN | grep -q IsViewable" || e2e_fail "(b) window still shown after Hide to Tray"
listed() { xprop -root _NET_CLIENT_LIST | grep -qiw "$(printf '0x%x' "$WIN")"; }
skipped() { xprop -id "$WIN" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
listed || e2e_fail "(b) the window manager no longer lists the window"
skipped && e2e_fail "(b) the window is marked to skip the taskbar"
wmctrl -l | grep -qi "$(printf '0x%08x' "$WIN")" || e2e_fail "(b) wmctrl does not list the window: $(wmctrl -l)"
e2e_screenshot "$E2E_TMP/hidden.png"
# What a taskbar does on a click: ask the window manager to activate it.
wmctrl -i -a "$WIN"
e2e_wait 10 bash -c "xwininfo -id $WIN | grep -q IsViewable" || e2e_fail "(b) the taskbar entry did not restore the window"
e2e_log "(b) hide to tray keeps the taskbar entry ok"

# ---- (c) a close without edits keeps the bytes -------------------------------
close_app c
# The first show centres the window, so only the position may differ.
diff <(grep -av '^\(Top\|Left\)=' "$E2E_TMP/original.ini") <(grep -av '^\(Top\|Left\)=' "$A/ChronelGui.ini") \
  || e2e_fail "(c) the file changed beyond the window position"
cp "$A/ChronelGui.ini" "$E2E_TMP/second.ini"
start_app "$A"
close_app c2
cmp "$E2E_TMP/second.ini" "$A/ChronelGui.ini" || e2e_fail "(c) not byte-identical after a close without edits"
e2e_log "(c) byte-identical after close ok"
e2e_log "PASS"
