#!/usr/bin/env bash
# The password in the desktop's keyring, with GNOME Keyring's own daemon on a
# session bus of the test's own that starts nothing on demand (so a stopped
# daemon stays stopped):
# (a) a first run with the box ticked keeps the password out of the settings
#     file; the keyring's own tool finds it by its attributes;
# (b) the next start logs in to the demo service with the keyring's password,
#     which no log or command line shows;
# (c) unticking the box moves it back to the file and out of the keyring,
#     ticking it again moves it back in;
# (d) with the daemon stopped the status page says so, and "Try now" logs in
#     once the daemon runs again;
# (e) a locked keyring is said as such;
# (f) with GNOME's prompter on the bus, the real unlock prompt: while it is up
#     the window says it waits for the keyring, and an Exit then ends within
#     2 s, the daemon alive;
# (g) a password typed while the keyring stays locked, its store declined
#     and "No" to the settings file: the exit asks nothing, writes no
#     password, ends within 2 s, and the daemon lives on.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop tray

PASSWORD='Kx7-s3cret pw'
ROT13=$(printf '%s' "$PASSWORD" | tr 'A-Za-z' 'N-ZA-Mn-za-m')
export HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" XDG_CONFIG_HOME="$E2E_TMP/home/config" \
  XDG_CACHE_HOME="$E2E_TMP/home/cache"
mkdir -p -m 700 "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"

# ---- the test's bus, the keyring daemon, the service ---------------------------------------
cat >"$E2E_TMP/bus.conf" <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$E2E_TMP</listen>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
XML
dbus-daemon --config-file="$E2E_TMP/bus.conf" --nofork --print-address=3 3>"$E2E_TMP/bus.address" \
  >"$E2E_TMP/bus.log" 2>&1 &
E2E_PIDS+=($!)
e2e_wait 10 test -s "$E2E_TMP/bus.address" || e2e_fail "the test's bus did not start"
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$E2E_TMP/bus.address")

keyring_owned() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'
}
keyring_gone() { ! keyring_owned; }
start_keyring() {  # the login keyring's password
  printf '%s' "$1" | gnome-keyring-daemon --foreground --unlock --components=secrets >>"$E2E_TMP/keyring.log" 2>&1 &
  KEYRING_PID=$!
  E2E_PIDS+=($KEYRING_PID)
  e2e_wait 10 keyring_owned || e2e_fail "the keyring daemon did not start"
}
stop_keyring() {
  kill "$KEYRING_PID" 2>/dev/null || true
  wait "$KEYRING_PID" 2>/dev/null || true
  e2e_wait 10 keyring_gone || e2e_fail "the keyring daemon did not stop"
}

printf 'account = demo:%s\n' "$PASSWORD" >"$E2E_TMP/service.conf"
e2e_start_demo --config "$E2E_TMP/service.conf"
# The service's verdicts on the posted password.
LOGIN_OK='"kind":"login","via":"pw","user":"demo","result":"ok"'
logins() { e2e_demo_count "$BASE" "$LOGIN_OK"; }
wrong_logins() { e2e_demo_count "$BASE" '"result":"wrong"'; }
DEVTOOLS=$(e2e_free_port)
page() { e2e_page_eval "$DEVTOOLS" "$1"; }

# ---- the program ---------------------------------------------------------------------------
APP_DIR="$E2E_TMP/app"; mkdir -p "$APP_DIR"; cp "$BIN" "$APP_DIR/ChronelGui"
INI="$APP_DIR/ChronelGui.ini"
RUN=0
start_app() {
  RUN=$((RUN + 1))
  LOG="$E2E_TMP/app-$RUN.log"
  CHRONEL_TRACE_MARKS=1 QTWEBENGINE_REMOTE_DEBUGGING="127.0.0.1:$DEVTOOLS" e2e_spawn "app-$RUN" "$APP_DIR/ChronelGui"
  APP=$E2E_LAST_PID
}
close_app() {  # step
  wmctrl -F -c "Chronel Timer"
  e2e_wait_exit "$APP" 30 || e2e_fail "($1) the program did not end"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "($1) exit code $E2E_EXIT_CODE"
}
value_of() { grep -m1 "^$1=" "$INI" | cut -d= -f2- | tr -d '\r'; }
in_keyring() { [ "$(secret-tool lookup base-url "$BASE" user demo 2>/dev/null)" = "$PASSWORD" ]; }
not_in_keyring() { ! secret-tool lookup base-url "$BASE" user demo >/dev/null 2>&1; }
file_has_password() { [ "$(value_of Password)" = "$ROT13" ] && [ "$(value_of PasswordInKeyring)" = 0 ]; }
file_without_password() { [ "$(value_of Password)" = "" ] && [ "$(value_of PasswordInKeyring)" = 1 ]; }
prefs_focused() { [ "$(xdotool getactivewindow getwindowname 2>/dev/null)" = "Chronel Timer Preferences" ]; }
status_line() { page "document.getElementById('failure').textContent"; }
status_page_shown() { [ "$(page "document.getElementById('failure') !== null")" = true ]; }
expect_status_line() {  # case reason
  wait_mark status-page 1 60 || e2e_fail "($1) no status page"
  e2e_wait 20 status_page_shown || e2e_fail "($1) the status page is not shown"
  local text
  text=$(status_line)
  [ "$text" = "The password is kept in the desktop's keyring, which is not available: $2" ] \
    || e2e_fail "($1) status line: $text"
}

start_keyring secret

# ---- (a) first run ---------------------------------------------------------------------------
start_app
e2e_wait 60 e2e_window_by_title "Chronel Timer Preferences" || e2e_fail "(a) no preferences at the first run"
wait_mark keyring-answered 1 20 || e2e_fail "(a) the keyring was not asked whether it can keep the password"
# The first paint ends with the preferences brought to the front again: typed after that.
wait_mark document-complete 1 60 || e2e_fail "(a) the first page did not complete"
e2e_wait 10 prefs_focused || e2e_fail "(a) preferences not focused: $(xdotool getactivewindow getwindowname 2>&1)"
sleep 0.5
# The focus is in the user name; the password follows, the base URL comes before.
xdotool type --delay 20 demo
xdotool key Tab
xdotool type --delay 20 "$PASSWORD"
xdotool key shift+Tab shift+Tab ctrl+a
xdotool type --delay 10 "$BASE"
e2e_screenshot "$E2E_TMP/a-first-run.png"
xdotool key Return  # Close: saves
e2e_wait 20 in_keyring || e2e_fail "(a) the keyring has no password: $(secret-tool search --all user demo 2>&1)"
close_app a
file_without_password || e2e_fail "(a) the file: $(grep -E '^Password' "$INI")"
grep -qF "$ROT13" "$INI" && e2e_fail "(a) the password is in the settings file"
secret-tool search --all base-url "$BASE" user demo 2>&1 | grep -qx 'label = Chronel Timer: demo at 127.0.0.1' \
  || e2e_fail "(a) entry: $(secret-tool search --all base-url "$BASE" user demo 2>&1)"
e2e_log "(a) first run: the password is in the keyring only"

# ---- (b) the login takes the keyring's password ----------------------------------------------
before=$(logins)
start_app
e2e_demo_wait "$BASE" 60 "$LOGIN_OK" $((before + 1)) || e2e_fail "(b) no login as demo: $(e2e_demo_status "$BASE")"
wait_mark timer-page-read 1 30 || e2e_fail "(b) the timer page was not read"
for p in $(e2e_process_tree "$APP"); do tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null; echo; done >"$E2E_TMP/cmdlines"
grep -qF "$PASSWORD" "$E2E_TMP/cmdlines" && e2e_fail "(b) the password is on a command line"
grep -qF "$PASSWORD" "$LOG" && e2e_fail "(b) the password is in the program's log"
e2e_log "(b) logged in with the keyring's password"

# ---- (c) untick: back to the file; tick: into the keyring again -----------------------------------
ICON=$(e2e_tray_icon_window ChronelGui) || e2e_fail "(c) no tray icon"
e2e_tray_menu_choose "$ICON" 2 || e2e_fail "(c) could not choose Preferences"
e2e_wait 20 e2e_window_by_title "Chronel Timer Preferences" || e2e_fail "(c) no preferences"
PREFS=$(e2e_window_by_title "Chronel Timer Preferences")
e2e_wait 10 prefs_focused || e2e_fail "(c) preferences not focused"
xdotool key ctrl+Tab ctrl+Tab  # Enhancements, Window, Server
sleep 0.3
xdotool key alt+k
e2e_wait 20 file_has_password || e2e_fail "(c) the file did not get the password back: $(grep '^Password' "$INI")"
e2e_wait 20 not_in_keyring || e2e_fail "(c) the keyring still has it"
e2e_screenshot "$E2E_TMP/c-unticked.png"
xdotool key alt+k
e2e_wait 20 file_without_password || e2e_fail "(c) the file kept the password: $(grep '^Password' "$INI")"
in_keyring || e2e_fail "(c) the keyring did not get it back"
xdotool key Return
e2e_wait 10 bash -c "! xwininfo -id $PREFS 2>/dev/null | grep -q IsViewable" || e2e_fail "(c) preferences stayed open"
close_app c
file_without_password || e2e_fail "(c) after the exit: $(grep '^Password' "$INI")"
e2e_log "(c) moved to the file and back"

# ---- (d) the daemon stopped --------------------------------------------------------------------
stop_keyring
before=$(logins)
start_app
expect_status_line d "no keyring service is running."
e2e_screenshot "$E2E_TMP/d-status-page.png"
[ "$(logins)" = "$before" ] || e2e_fail "(d) a login without the password"
# "Try now" with the daemon running again: a real click on the link.
start_keyring secret
MAIN=$(e2e_app_main_window "$APP") || e2e_fail "(d) no main window"
read -r x y < <(page "(() => { const r = document.getElementById('try-now').getBoundingClientRect();
  return Math.round(r.left + r.width / 2) + ' ' + Math.round(r.top + r.height / 2); })()")
xdotool mousemove --window "$MAIN" "$x" "$y" click 1
e2e_demo_wait "$BASE" 30 "$LOGIN_OK" $((before + 1)) || e2e_fail "(d) Try now did not log in"
close_app d
e2e_log "(d) daemon stopped: said, and Try now logged in once it ran"

# ---- (e) a locked keyring ---------------------------------------------------------------------
stop_keyring
start_keyring wrong  # the login keyring stays locked
start_app
expect_status_line e "the keyring is locked."
close_app e
file_without_password || e2e_fail "(e) the file changed: $(grep '^Password' "$INI")"
[ "$(wrong_logins)" = 0 ] || e2e_fail "a login with a wrong or missing password: $(e2e_demo_status "$BASE")"
e2e_log "(e) locked keyring said"

# ---- (f) the real unlock prompt ------------------------------------------------------------------
# The daemon of (e) keeps the login keyring locked; its prompts are shown by
# GNOME's prompter, on this display.
name_owned() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
    "string:$1" 2>/dev/null | grep -q 'boolean true'
}
/usr/libexec/gcr-prompter >"$E2E_TMP/prompter.log" 2>&1 &
E2E_PIDS+=($!)
e2e_wait 10 name_owned org.gnome.keyring.SystemPrompter || e2e_fail "(f) the prompter did not start"
dbus-monitor --session "type='method_call',interface='org.freedesktop.Secret.Prompt',member='Dismiss'" \
  >"$E2E_TMP/dismiss.log" 2>&1 &
E2E_PIDS+=($!)
dismissals() { grep -c 'member=Dismiss' "$E2E_TMP/dismiss.log" || true; }
PROMPT='Unlock Login Keyring'
prompt_shown() { [ -n "$(e2e_window_by_title "$PROMPT")" ]; }
prompt_gone() { ! prompt_shown; }
daemon_alive() { kill -0 "$KEYRING_PID" 2>/dev/null && keyring_owned; }
cancel_prompt() {  # as the user does: Escape in the prompt
  xdotool windowactivate --sync "$(e2e_window_by_title "$PROMPT")" 2>/dev/null || true
  xdotool key Escape
}
ended_within() {  # step seconds: the program ended within that many seconds of $EXIT_AT
  e2e_wait_exit "$APP" 30 || e2e_fail "($1) the program did not end"
  local took
  took=$(awk -v a="$EXIT_AT" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "($1) exit code $E2E_EXIT_CODE"
  e2e_log "($1) ended ${took}s after the exit"
  awk -v t="$took" -v m="$2" 'BEGIN { exit !(t <= m) }' || e2e_fail "($1) the exit took ${took}s"
}

# The window while the prompt is up; then an Exit (the window's close).
start_app
e2e_wait 60 prompt_shown || e2e_fail "(f) no unlock prompt at the start"
wait_mark keyring-waiting-page 1 30 || e2e_fail "(f) no waiting page"
waiting_text() { e2e_page_text "$DEVTOOLS" | grep -qF "Waiting for the desktop's keyring…"; }
e2e_wait 20 waiting_text || e2e_fail "(f) the window says: $(e2e_page_text "$DEVTOOLS" 2>&1)"
e2e_page_text "$DEVTOOLS" | grep -qx 'Preferences' || e2e_fail "(f) no Preferences link on the waiting page"
e2e_screenshot "$E2E_TMP/f-waiting.png"
before=$(dismissals)
EXIT_AT=$(date +%s.%N)
wmctrl -F -c "Chronel Timer"
ended_within f 2
sleep 1  # a daemon that falls over does so at once
daemon_alive || e2e_fail "(f) the keyring daemon did not survive the exit: $(tail -3 "$E2E_TMP/keyring.log")"
# This daemon aborts on a dismissed unlock prompt: it is left to the user.
[ "$(dismissals)" = "$before" ] || e2e_fail "(f) the prompt was dismissed"
file_without_password || e2e_fail "(f) the file changed: $(grep '^Password' "$INI")"
# The user answers the prompt the program left: the daemon goes on.
if prompt_shown; then
  cancel_prompt
  e2e_wait 10 prompt_gone || e2e_fail "(f) the prompt left behind did not close"
  sleep 1
  daemon_alive || e2e_fail "(f) the keyring daemon ended with the prompt left behind: $(tail -3 "$E2E_TMP/keyring.log")"
fi
e2e_log "(f) waiting page while the prompt was up; the exit left the daemon alive"

# Cancelled prompt, a password typed, its store's prompt cancelled too, "No"; then Exit.
TYPED=$PASSWORD  # the right one: this run logs in with it
start_app
e2e_wait 60 prompt_shown || e2e_fail "(g) no unlock prompt at the start"
cancel_prompt
expect_status_line g "the keyring is locked."
MAIN=$(e2e_app_main_window "$APP") || e2e_fail "(g) no main window"
read -r x y < <(page "(() => { const r = document.getElementById('preferences').getBoundingClientRect();
  return Math.round(r.left + r.width / 2) + ' ' + Math.round(r.top + r.height / 2); })()")
xdotool mousemove --window "$MAIN" "$x" "$y" click 1
e2e_wait 20 prefs_focused || e2e_fail "(g) the Preferences link opened no preferences"
sleep 0.5
# The server page is shown: its fields come after the page tabs.
xdotool key Tab Tab Tab
xdotool type --delay 20 "$TYPED"
e2e_screenshot "$E2E_TMP/g-typed.png"
# The program's windows titled as its message boxes are, before the question comes.
titled() { xdotool search --onlyvisible --pid "$APP" --name '^Chronel Timer$' 2>/dev/null | sort; }
titled >"$E2E_TMP/windows-before"
question_window() { titled | comm -13 "$E2E_TMP/windows-before" - | grep -m1 .; }
xdotool key Return  # Close: saves, and the keyring is asked to take the password
e2e_wait 30 prompt_shown || e2e_fail "(g) the store did not ask to unlock the keyring"
cancel_prompt
e2e_wait 20 question_window || e2e_fail "(g) no question after the declined store"
QUESTION=$(question_window)
e2e_screenshot "$E2E_TMP/g-question.png"
xdotool windowactivate --sync "$QUESTION" 2>/dev/null || true
xdotool key alt+n
question_gone() { ! xwininfo -id "$QUESTION" 2>/dev/null | grep -q IsViewable; }
e2e_wait 10 question_gone || e2e_fail "(g) the question stayed"
file_without_password || e2e_fail "(g) after No: $(grep '^Password' "$INI")"
ICON=$(e2e_tray_icon_window ChronelGui) || e2e_fail "(g) no tray icon"
e2e_tray_menu_open "$ICON" || e2e_fail "(g) no tray menu"
EXIT_AT=$(date +%s.%N)
e2e_tray_menu_pick 3 || e2e_fail "(g) could not choose Exit"
ended_within g 2
prompt_gone || e2e_fail "(g) an unlock prompt came at the exit"
sleep 1
daemon_alive || e2e_fail "(g) the keyring daemon did not survive the exit: $(tail -3 "$E2E_TMP/keyring.log")"
file_without_password || e2e_fail "(g) the exit wrote the password: $(grep '^Password' "$INI")"
grep -qF "$(printf '%s' "$TYPED" | tr 'A-Za-z' 'N-ZA-Mn-za-m')" "$INI" && e2e_fail "(g) the password is in the file"
e2e_log "(g) No held: no prompt at the exit, no password in the file, the daemon alive"
echo "keyring: ok"
