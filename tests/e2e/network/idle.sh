#!/usr/bin/env bash
# Idle auto-stop and auto-restart with the real program (idle limit 1 minute):
# the stop and the start reach the service, and the balloons say so.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop tray notify
e2e_record_notifications

e2e_start_demo
events() { curl -s --max-time 5 "${BASE}__status" | grep -c "\"kind\":\"$1\"" || true; }

A="$E2E_TMP/a"; mkdir -p "$A"
printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\nAutoStopStartOnIdleTime=1\nAutoStopStartOnIdleTimeMinutes=1\n' \
  "$BASE" >"$A/ChronelGui.ini"
cp "$BIN" "$A/ChronelGui"
HOME="$E2E_TMP/home" CHRONEL_TRACE_MARKS=1 e2e_spawn app "$A/ChronelGui"
e2e_wait 60 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/app.log" || e2e_fail "timer page not shown"
e2e_tray_menu_choose "$(e2e_tray_icon_window)" -1 || e2e_fail "could not choose the clock item"
e2e_wait 15 bash -c "[ \"\$(curl -s ${BASE}__status | grep -c '\"kind\":\"start\"')\" -ge 1 ]" || e2e_fail "clock not started"
# No input from now on: the stop comes after a minute of idleness.
e2e_wait 100 bash -c "[ \"\$(curl -s ${BASE}__status | grep -c '\"kind\":\"stop\"')\" -ge 1 ]" || e2e_fail "no idle stop at the service"
e2e_wait 10 grep -q 'Stopped Work @ ' "$E2E_TMP/notify.log" || e2e_fail "no stop balloon"
sleep 2
xdotool mousemove 200 200 mousemove 220 220   # the user is back
e2e_wait 15 bash -c "[ \"\$(curl -s ${BASE}__status | grep -c '\"kind\":\"start\"')\" -ge 2 ]" || e2e_fail "no restart at the service"
e2e_wait 10 grep -q 'You took a ' "$E2E_TMP/notify.log" || e2e_fail "no break note in the start balloon"
[ "$(events stop)" = 1 ] || e2e_fail "stopped $(events stop) times"
echo "network idle: ok"
