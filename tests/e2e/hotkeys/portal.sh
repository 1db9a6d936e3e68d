#!/usr/bin/env bash
# The hot key through a stand-in for the desktop portal's global shortcuts,
# for the answers the real portal (portal_kde.sh) cannot be made to give:
# bound under the program's description, its activation starts and stops the
# clock; bound to no key clears the stored key; a cancelled question or a
# failed request keeps it and says so once; a Wayland session whose portal
# has no global shortcuts keeps the stored key and says so once.
source "$(dirname "$0")/common.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
e2e_start_desktop tray notify
e2e_start_demo
e2e_record_notifications

PORTAL_LOG="$E2E_TMP/portal-calls.log"
start_portal() {  # grant|nokey|cancel|error|absent
  : >"$PORTAL_LOG"
  e2e_spawn "portal-$1" /usr/bin/python3 "$HERE/portal_standin.py" "$PORTAL_LOG" "$1"
  PORTAL=$E2E_LAST_PID
  e2e_wait 10 grep -q '"ready"' "$PORTAL_LOG" || e2e_fail "portal stand-in did not start"
}
stop_portal() {
  kill "$PORTAL"
  e2e_wait 10 bash -c "! dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner string:org.freedesktop.portal.Desktop | grep -q true" \
    || e2e_fail "portal stand-in did not go"
}
activate() { dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop org.chronel.test.Portal.Activate | grep -q true; }

# ---- granted: the activation toggles the clock -------------------------------------
start_portal grant
start_app granted
e2e_wait 30 grep -q '"BindShortcuts"' "$PORTAL_LOG" || e2e_fail "no shortcut bound"
for call in CreateSession BindShortcuts; do
  grep "\"$call\"" "$PORTAL_LOG" | grep -q '"description": "Start or stop the work clock", "preferred_trigger": "ALT+grave"' \
    || e2e_fail "$call: $(grep "$call" "$PORTAL_LOG")"
done
activate || e2e_fail "the stand-in has no bound shortcut"
wait_running true 15 || e2e_fail "the portal's activation did not start the clock"
activate
wait_running false 15 || e2e_fail "the portal's activation did not stop the clock"
exit_app
[ "$(stored_hotkey)" = 32960 ] || e2e_fail "granted: stored hot key $(stored_hotkey)"
e2e_wait 10 grep -q '"Close"' "$PORTAL_LOG" || e2e_fail "the portal session was not closed at exit"
stop_portal
e2e_log "granted: started and stopped"

# ---- bound to no key: the field is cleared and 0 stored ----------------------------
start_portal nokey
start_app nokey
e2e_wait 30 grep -q '"BindShortcuts"' "$PORTAL_LOG" || e2e_fail "nokey: no shortcut bound"
exit_app
[ "$(stored_hotkey)" = 0 ] || e2e_fail "nokey: stored hot key $(stored_hotkey)"
stop_portal
e2e_log "bound to no key: cleared"

# ---- cancelled, or ended otherwise: kept, and the user told once -------------------
for mode in cancel error; do
  case $mode in
    cancel) text="The desktop's question about the start/stop hot key was dismissed" ;;
    error) text="The desktop could not bind the start/stop hot key" ;;
  esac
  start_portal $mode
  start_app $mode
  e2e_wait 15 grep -qF "$text" "$E2E_TMP/notify.log" || e2e_fail "$mode: the user was not told"
  exit_app
  [ "$(stored_hotkey)" = 32960 ] || e2e_fail "$mode: stored hot key $(stored_hotkey)"
  [ "$(grep -cF "$text" "$E2E_TMP/notify.log")" = 1 ] || e2e_fail "$mode: told more than once"
  stop_portal
  e2e_log "$mode: kept, told once"
done

# ---- a Wayland session whose portal has no global shortcuts: the key is kept, the user told once ----
start_portal absent
start_app wayland WAYLAND_DISPLAY=wayland-chronel-none XDG_SESSION_TYPE=wayland
e2e_wait 15 grep -q 'Global hot keys are not available on this desktop.' "$E2E_TMP/notify.log" \
  || e2e_fail "the user was not told"
xdotool key --clearmodifiers alt+49
sleep 2
e2e_demo_running "$BASE" && e2e_fail "the key was grabbed on the X server all the same"
exit_app
[ "$(stored_hotkey)" = 32960 ] || e2e_fail "wayland: stored hot key $(stored_hotkey)"
n=$(grep -c 'Global hot keys are not available' "$E2E_TMP/notify.log")
[ "$n" = 1 ] || e2e_fail "told $n times"
echo "hotkeys portal: ok"
