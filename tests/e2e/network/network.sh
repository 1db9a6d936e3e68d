#!/usr/bin/env bash
# The real program on a service that is down, fails or drops connections:
# (a) down at start: status page, "Not connected", then a login by itself;
# (b) a start answered with HTTP 500 is undone and said so; (c) a stop whose
# connection is dropped is undone and the window follows the service again;
# (d) closing while the service is down asks a second question, and No keeps
# the program.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop tray notify

e2e_record_notifications

start_service() {  # options...
  : >"$E2E_TMP/demo.log"
  e2e_spawn demo "$DEMO" "$@"
  DEMO_PID=$E2E_LAST_PID
  e2e_wait 10 grep -q '^PORT ' "$E2E_TMP/demo.log" || e2e_fail "demo service did not start"
  PORT=$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/demo.log")
  BASE="http://127.0.0.1:$PORT/"
}
status() { curl -s --max-time 5 "${BASE}__status"; }
wait_status() {  # python condition over d, seconds
  e2e_wait "$2" bash -c "curl -s --max-time 5 ${BASE}__status | python3 -c 'import json,sys; d=json.load(sys.stdin); sys.exit(0 if ($1) else 1)'"
}
config() { curl -s --max-time 5 -d '' "${BASE}__config?$1" >/dev/null || e2e_fail "config $1"; }
main_window() { e2e_app_main_window "$APP" || true; }
title() { e2e_app_title "$APP"; }
wait_title() { e2e_wait_app_title "$APP" "$1" "$2"; }  # regex seconds
marks() { grep -c "^chronel-mark $1 " "$E2E_TMP/app.log" || true; }
wait_mark() {  # name count seconds
  local end=$((SECONDS + $3))
  until [ "$(marks "$1")" -ge "$2" ]; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}
choose_clock_item() { e2e_tray_menu_choose "$(e2e_tray_icon_window)" -1 || e2e_fail "could not choose the clock item"; }
notified() { grep -c -F "$1" "$E2E_TMP/notify.log" || true; }
question_box() { xdotool search --onlyvisible --name '^Time Clock Still Running$' 2>/dev/null | head -1; }

# ---- (a) the service is down at start --------------------------------------------------------
start_service --port 0
kill "$DEMO_PID"; wait "$DEMO_PID" 2>/dev/null || true   # its port now refuses connections
A="$E2E_TMP/a"; mkdir -p "$A"
printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' \
  "$BASE" >"$A/ChronelGui.ini"
cp "$BIN" "$A/ChronelGui"
HOME="$E2E_TMP/home" CHRONEL_TRACE_MARKS=1 e2e_spawn app "$A/ChronelGui"
APP=$E2E_LAST_PID
wait_mark status-page 1 60 || e2e_fail "(a) no status page"
[ "$(marks not-connected)" -ge 1 ] || e2e_fail "(a) the tray hint was not set to Not connected"
[ "$(marks timer-page-read)" = 0 ] || e2e_fail "(a) a page was read while the service was down"
e2e_screenshot "$E2E_TMP/a-status-page.png"
start_service --port "$PORT"
# The next tries come 5 s and then 15 s after a failure.
wait_status 'any(r["target"].startswith("/time_log.php") and r["user"]=="demo" for r in d["requests"])' 40 \
  || e2e_fail "(a) no login by itself: $(status)"
wait_mark connected 1 10 || e2e_fail "(a) not reported connected"
wait_mark timer-page-read 1 10 || e2e_fail "(a) timer page not read"
e2e_log "(a) recovered from a service down at start"

# ---- (b) a start answered with HTTP 500 ------------------------------------------------------
config fail_next=1
choose_clock_item
e2e_wait 20 bash -c "grep -qF 'the clock may not have been started.' '$E2E_TMP/notify.log'" || e2e_fail "(b) no correcting balloon"
status | grep -q '^{"running":false' || e2e_fail "(b) the service runs a clock"
wait_title '^(Chronel Timer|Not working)$' 10 || e2e_fail "(b) title stays: $(title)"
# The program reloads by itself; then the menu's clock item starts the clock.
wait_mark connected 2 30 || e2e_fail "(b) no reload after the failure"
choose_clock_item
wait_status 'd["running"]' 15 || e2e_fail "(b) the menu did not offer Start again"
wait_title '^(Working\.\.\.|0 min\..*)$' 10 || e2e_fail "(b) title after start: $(title)"
e2e_log "(b) failed start undone"

# ---- (c) a stop whose connection is dropped ----------------------------------------------------
config drop_connections=1
choose_clock_item
e2e_wait 20 bash -c "grep -qF 'the clock may not have been stopped.' '$E2E_TMP/notify.log'" || e2e_fail "(c) no correcting balloon"
config drop_connections=0
wait_mark connected 3 30 || e2e_fail "(c) no reload after the failure"
status | grep -q '^{"running":true' || e2e_fail "(c) the service's clock stopped"
wait_title 'min\.' 10 || e2e_fail "(c) window does not show the running clock: $(title)"
e2e_log "(c) failed stop undone; window follows the service"

# ---- (d) closing while running, the service down ---------------------------------------------
config down_ms=15000
e2e_wait 10 bash -c "! curl -s --max-time 2 ${BASE}__status" || e2e_fail "(d) service still answers"
wmctrl -i -c "$(main_window)"
e2e_wait 10 bash -c "xdotool search --onlyvisible --name '^Time Clock Still Running\$'" || e2e_fail "(d) no first question"
box=$(question_box)
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key Return   # Yes
end=$((SECONDS + 30)); second=""
while [ -z "$second" ]; do
  [ $SECONDS -ge $end ] && e2e_fail "(d) no second question"
  b=$(question_box)
  [ -n "$b" ] && [ "$((b))" != "$((box))" ] && second=$b
  sleep 0.3
done
e2e_screenshot "$E2E_TMP/d-second-question.png"
xdotool windowactivate --sync "$second" 2>/dev/null || true
xdotool key Escape   # No
sleep 2
kill -0 "$APP" 2>/dev/null || e2e_fail "(d) the program ended after No"
[ -n "$(main_window)" ] || e2e_fail "(d) the window went away"
wait_title 'min\.' 10 || e2e_fail "(d) the clock is not shown running: $(title)"
e2e_log "(d) second question; No keeps the program"
# The service comes back; the program reconnects by itself, the clock still shown running.
wait_mark connected 4 60 || e2e_fail "(d) no reconnection"
status | grep -q '^{"running":true' || e2e_fail "(d) the service's clock stopped"

echo "network: ok"
