#!/usr/bin/env bash
# The session against the service's less friendly answers, on the real program:
# (a) a first run logs in with the server settings typed into the preferences,
#     without a restart, and its Start reaches the service;
# (b) Exit right after a Stop whose submission is slow ends the program only
#     once the service's clock has stopped;
# (c) a Start answered by a redirect to the login page with a query (expired
#     session) is carried out once after a fresh login; a Stop answered by
#     204 shows the status page and "Not connected", is retried, and the next
#     Stop is carried out;
# (d) without a stored password, keys typed after the first page land in the
#     page's password field;
# (e) a wrong password answered by a redirect to the bare login page is held
#     as refused after one post.
# The tray menu is read and clicked by its entries' text through a
# StatusNotifierItem test host.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
HERE=$(cd "$(dirname "$0")" && pwd)
set +o pipefail
e2e_start_desktop notify
e2e_record_notifications
e2e_spawn host /usr/bin/python3 "$HERE/../sni/sni_host.py"
e2e_wait 10 grep -q ready "$E2E_TMP/host.log" || e2e_fail "tray test host did not start"

e2e_start_demo
ITEM="Website redesign"

status() { curl -s --max-time 5 "${BASE}__status"; }
config() { curl -sf --max-time 5 -d '' "${BASE}__config?$1" >/dev/null || e2e_fail "config $1"; }
reset_service() { curl -sf --max-time 5 -d '' "${BASE}__reset" >/dev/null || e2e_fail "reset"; }
# A python expression over d, the service's status.
service_py() { status | /usr/bin/python3 -c "import json,sys; d=json.load(sys.stdin); ev=d['events']; print($1)"; }
service_is() { [ "$(service_py "$1")" = True ]; }
events() { service_py "' '.join(e['kind'] + (':' + e['result'] if 'result' in e else '') for e in ev)"; }
count_events() { service_py "sum(1 for e in ev if e['kind'] == '$1')"; }
running() { service_is 'd["running"]'; }

host() {  # METHOD [ARGS...]
  local m=$1; shift
  dbus-send --session --print-reply=literal --dest=org.kde.StatusNotifierWatcher /Host "org.chronel.test.Host.$m" "$@"
}
tray_py() { host State | /usr/bin/python3 -c "import json,sys; s=json.loads(sys.stdin.read()); print($1)" 2>/dev/null; }
menu() { tray_py '[m["label"] for m in s["menu"] if m["visible"] and m["type"] != "separator"]'; }
menu_has() { tray_py '[m["label"] for m in s["menu"] if m["visible"] and m["enabled"]]' | grep -qF "'$1'"; }
tooltip() { tray_py 's["props"]["ToolTip"][2] if s["item"] else ""'; }
tooltip_is() { [ "$(tooltip)" = "$1" ]; }
click() {  # LABEL: the shown menu entry with this text
  host Click "string:$1" | grep -q true || e2e_fail "no shown menu entry '$1': $(menu)"
}

start_app() {  # NAME [ENV=VALUE...]: the program in $E2E_TMP/NAME; a settings file there is kept
  local name=$1; shift
  DIR="$E2E_TMP/$name"; mkdir -p "$DIR"
  cp "$BIN" "$DIR/ChronelGui"
  LOG="$E2E_TMP/app-$name.log"
  e2e_spawn "app-$name" env HOME="$E2E_TMP/home" CHRONEL_TRACE_MARKS=1 "$@" "$DIR/ChronelGui"
  APP=$E2E_LAST_PID
}
write_settings() {  # NAME PASSWORD(as stored)
  mkdir -p "$E2E_TMP/$1"
  printf '[Form]\nRemoveFromTaskBar=0\nUseTransparency=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=%s\nHotKeyStartStop=0\nShowMinuteReminder=0\n' \
    "$BASE" "$2" >"$E2E_TMP/$1/ChronelGui.ini"
}
title() { e2e_app_title "$APP"; }
# Exit from the tray menu; a question about the running clock would be a fault here.
exit_app() {  # STEP
  click "Exit"
  e2e_wait_exit "$APP" 40 || e2e_fail "($1) the program did not end after Exit; windows: $(xdotool search --onlyvisible --pid "$APP" getwindowname %@ 2>/dev/null | tr '\n' '|')"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "($1) exit code $E2E_EXIT_CODE"
}
now_us() { date +%s%6N; }

# ---- (a) first run: the server settings typed into the preferences ---------------------------
start_app first
e2e_wait 60 e2e_window_by_title "Chronel Timer Preferences" || e2e_fail "(a) no preferences at the first run"
# The first paint brings the preferences to the front again: typed after that.
e2e_wait 60 bash -c "grep -qE '^chronel-mark (document-complete|status-page) ' '$LOG'" || e2e_fail "(a) no first page"
e2e_wait 10 bash -c '[ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "Chronel Timer Preferences" ]' \
  || e2e_fail "(a) preferences not focused: $(xdotool getactivewindow getwindowname 2>&1)"
sleep 0.5
# The focus is in the user name; the password follows, the base URL comes before.
xdotool type --delay 20 demo
xdotool key Tab
xdotool type --delay 20 demo
xdotool key shift+Tab shift+Tab ctrl+a
xdotool type --delay 10 "$BASE"
e2e_screenshot "$E2E_TMP/a-first-run.png"
xdotool key Return  # Close
e2e_wait 20 bash -c "[ -z \"\$(xdotool search --onlyvisible --name '^Chronel Timer Preferences\$')\" ]" \
  || e2e_fail "(a) the preferences did not close"
e2e_demo_wait "$BASE" 60 '"kind":"login","via":"pw","user":"demo","result":"ok"' \
  || e2e_fail "(a) no login with the typed settings; service: $(events); program: $(grep -E 'chronel-mark (load-failed|status-page|server-settings)' "$LOG" | tail -5)"
e2e_wait 30 menu_has "Start: $ITEM" || e2e_fail "(a) tray menu: $(menu)"
kill -0 "$APP" || e2e_fail "(a) the program ended"
[ "$(grep -m1 '^BaseURL=' "$DIR/ChronelGui.ini" | cut -d= -f2- | tr -d '\r')" = "$BASE" ] \
  || e2e_fail "(a) settings file: $(grep '^BaseURL' "$DIR/ChronelGui.ini")"
click "Start: $ITEM"
e2e_wait 20 running || e2e_fail "(a) the tray's Start did not reach the service: $(events)"
e2e_wait 20 menu_has "Stop: $ITEM" || e2e_fail "(a) tray menu after the start: $(menu)"
[ "$(count_events start)" = 1 ] || e2e_fail "(a) starts: $(events)"
e2e_log "(a) first run logged in without a restart; Start carried out"

# ---- (b) Exit right after a slow Stop ----------------------------------------------------------
config submit_latency_ms=3000
click "Stop: $ITEM"
click "Exit"
e2e_wait_exit "$APP" 40 || e2e_fail "(b) the program did not end; windows: $(xdotool search --onlyvisible --pid "$APP" getwindowname %@ 2>/dev/null | tr '\n' '|')"
gone_us=$(now_us)
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "(b) exit code $E2E_EXIT_CODE"
running && e2e_fail "(b) the program ended with the service's clock running: $(events)"
# The service took the stop (3 s after it was sent) before the program was seen gone.
service_is "[e['at_us'] for e in ev if e['kind'] == 'stop'] != [] and max(e['at_us'] for e in ev if e['kind'] == 'stop') < $gone_us" \
  || e2e_fail "(b) the stop was taken only after the program had ended: $(events)"
[ "$(count_events stop)" = 1 ] || e2e_fail "(b) stops: $(events)"
config submit_latency_ms=0
e2e_log "(b) Exit waited for the slow stop"

# ---- (c) an expired session answered by a redirect with a query; a 204 -----------------------
reset_service
write_settings expiry qrzb
start_app expiry
e2e_wait 60 menu_has "Start: $ITEM" || e2e_fail "(c) tray menu: $(menu)"
config 'expired_redirect_query=1&expire_sessions=1'
click "Start: $ITEM"
e2e_wait 40 running || e2e_fail "(c) the start after the expiry was not carried out: $(events)"
e2e_wait 20 menu_has "Stop: $ITEM" || e2e_fail "(c) tray menu after the start: $(menu)"
[ "$(count_events start)" = 1 ] || e2e_fail "(c) starts: $(events)"
service_is "any(e['kind'] == 'session_expired' for e in ev)" || e2e_fail "(c) the session did not expire: $(events)"
[ "$(service_py "sum(1 for e in ev if e['kind'] == 'login' and e['result'] == 'ok')")" -ge 2 ] \
  || e2e_fail "(c) no fresh login: $(events)"
grep -q '^chronel-mark outside-link-without-gesture ' "$LOG" && e2e_fail "(c) the login page was taken for an outside link"
e2e_wait 10 bash -c "source '$HERE/../lib_app.sh'; e2e_app_title $APP | grep -Eq 'Working|min\\.'" \
  || e2e_fail "(c) the window does not show the running clock: $(title)"
e2e_log "(c) the start answered by the login page with a query was carried out once"

config no_content_next=1
failed_before=$(marks load-failed)
ended_before=$(marks load-ended)
status_before=$(marks status-page)
warnings() { grep -c 'string "dialog-warning"' "$E2E_TMP/notify.log" || true; }
warnings_before=$(warnings)
click "Stop: $ITEM"
e2e_demo_wait "$BASE" 20 '"kind":"no_content"' || e2e_fail "(c) the stop was not submitted: $(events)"
# Bounded: a load that ends without a page is a failed load, at once or at the submission's bound.
e2e_wait 45 tooltip_is "Not connected" \
  || e2e_fail "(c) the tray hint is not 'Not connected': '$(tooltip)'; marks: $(grep -oE 'chronel-mark [a-z-]+' "$LOG" | tail -12 | tr '\n' ' ')"
[ "$(marks status-page)" -gt "$status_before" ] || e2e_fail "(c) no status page after the 204"
[ "$(marks load-failed)" -gt "$failed_before" ] || e2e_fail "(c) the 204 was not a failed load"
# Told by the browser, not only found out by the submission's bound.
[ "$(marks load-ended)" -gt "$ended_before" ] || e2e_fail "(c) the browser did not report the load that ended without a page"
e2e_screenshot "$E2E_TMP/c-no-content.png"
running || e2e_fail "(c) the service's clock stopped although the stop got no page"
# Retried by itself: the timer page comes back and the menu offers the stop again.
wait_mark timer-page-read $(( $(marks timer-page-read) + 1 )) 40 || e2e_fail "(c) no retry after the 204"
e2e_wait 20 menu_has "Stop: $ITEM" || e2e_fail "(c) tray menu after the retry: $(menu)"
[ "$(warnings)" = $((warnings_before + 1)) ] \
  || e2e_fail "(c) the user was not told once about the stop that got no page: $(grep -A4 'dialog-warning' "$E2E_TMP/notify.log" | grep string)"
click "Stop: $ITEM"
e2e_wait 20 bash -c "! curl -s --max-time 5 ${BASE}__status | grep -q '^{\"running\":true'" \
  || e2e_fail "(c) the Stop after the retry was not carried out: $(events)"
e2e_wait 20 menu_has "Start: $ITEM" || e2e_fail "(c) tray menu after the stop: $(menu)"
[ "$(count_events stop)" = 1 ] && [ "$(count_events no_content)" = 1 ] || e2e_fail "(c) events: $(events)"
config 'expired_redirect_query=0&no_content_next=0'
exit_app c
e2e_log "(c) the stop answered by 204 was reported and retried; the next Stop was carried out"

# ---- (d) no stored password: typed keys go to the page's password field -----------------------
reset_service
write_settings nopass ''
DEVTOOLS=$(e2e_free_port)
start_app nopass QTWEBENGINE_REMOTE_DEBUGGING="127.0.0.1:$DEVTOOLS"
page() { e2e_page_eval "$DEVTOOLS" "$1"; }
e2e_demo_wait "$BASE" 60 '"target":"/index.php' || e2e_fail "(d) the login page was not asked for"
wait_mark document-complete 1 60 || e2e_fail "(d) the first page did not complete"
e2e_wait 20 bash -c "source '$HERE/../lib_app.sh'; [ \"\$(e2e_page_eval $DEVTOOLS 'document.frmLogin !== undefined && document.activeElement === document.frmLogin.password')\" = true ]" \
  || e2e_fail "(d) the password field has no focus; active element: $(page 'document.activeElement ? document.activeElement.outerHTML : null' 2>&1)"
win=$(e2e_app_main_window "$APP") || e2e_fail "(d) no main window"
xdotool windowactivate --sync "$win" 2>/dev/null || true
e2e_wait 10 bash -c "[ \"\$(xdotool getactivewindow)\" = $win ]" || e2e_fail "(d) the main window is not active"
xdotool type --delay 30 demo
e2e_wait 10 bash -c "source '$HERE/../lib_app.sh'; [ \"\$(e2e_page_eval $DEVTOOLS 'document.frmLogin.password.value')\" = demo ]" \
  || e2e_fail "(d) typed keys did not land in the password field: '$(page 'document.frmLogin ? document.frmLogin.password.value : null' 2>&1)'"
xdotool key Return
e2e_demo_wait "$BASE" 20 '"kind":"login","via":"form","user":"demo","result":"ok"' \
  || e2e_fail "(d) the service got no login by the form: $(events)"
e2e_wait 30 menu_has "Start: $ITEM" || e2e_fail "(d) tray menu after the login: $(menu)"
grep -E "Uncaught TypeError.*password" "$LOG" && e2e_fail "(d) the focus script failed on the page"
exit_app d
e2e_log "(d) the password typed into the page logged in"

# ---- (e) a refusal answered by a redirect to the bare login page -----------------------------
reset_service
config wrong_password_redirect=1
write_settings refused jebat  # a wrong password
start_app refused QTWEBENGINE_REMOTE_DEBUGGING="127.0.0.1:$DEVTOOLS"
wait_mark login-refused 1 60 || e2e_fail "(e) the refusal was not recognised; service: $(events)"
e2e_wait 20 bash -c "source '$HERE/../lib_app.sh'; [ \"\$(e2e_page_eval $DEVTOOLS \"document.getElementById('failure') ? document.getElementById('failure').textContent : ''\")\" = 'The service did not accept the user name and password.' ]" \
  || e2e_fail "(e) the window does not say the login was refused: $(e2e_page_text "$DEVTOOLS" 2>&1)"
tooltip_is "The service did not accept the user name and password." || e2e_fail "(e) tray hint: '$(tooltip)'"
# Held, not retried: no second post within the first retry's interval (5 s) and more.
sleep 7
[ "$(events)" = "login:wrong" ] || e2e_fail "(e) the service got: $(events)"
exit_app e
e2e_log "(e) the refusal by redirect was posted once and held"
echo "session: ok"
