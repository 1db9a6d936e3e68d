#!/usr/bin/env bash
# Idle time from desktop services on the session bus, against stand-ins that
# answer as GNOME's idle monitor, a freedesktop screen saver and Plasma's
# screen locker do.
#   idle_services.sh BIN DEMO PROBE choice: which source each session gets
#     and in which unit it is read (probe); in a Wayland session, the real
#     program's idle stop and restart follow the services' answers.
#   idle_services.sh BIN DEMO PROBE plasma: on a pure X11 session with Plasma's
#     screen locker (milliseconds), typing never stops the clock.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
source "$(dirname "$0")/idle_lib.sh"
BIN=$1
DEMO=$2
PROBE=$3
PART=$4
STANDIN="$(dirname "$0")/idle_standin.py"
PY=/usr/bin/python3  # the system's, which has the D-Bus bindings
set +o pipefail
e2e_start_desktop tray notify
e2e_record_notifications

IDLE="$E2E_TMP/idle-ms"
echo 0 >"$IDLE"
# A Wayland session whose compositor offers no idle protocol: the bus services' turn.
NO_COMPOSITOR=no-such-compositor

start_standin() {  # gnome|screensaver|plasma [mode]
  e2e_spawn "standin-$1" "$PY" "$STANDIN" "$1" "$IDLE" "${2:-ok}"
  STANDIN_PID=$E2E_LAST_PID
  e2e_wait 10 grep -q '^ready' "$E2E_TMP/standin-$1.log" || e2e_fail "stand-in $1 did not start"
}
stop_standin() { kill "$STANDIN_PID" 2>/dev/null || true; wait "$STANDIN_PID" 2>/dev/null || true; }

# The probe prints the chosen services and the idle seconds.
probe() { timeout 10 "$PROBE" once 2>/dev/null || true; }
wl_probe() { WAYLAND_DISPLAY=$NO_COMPOSITOR probe; }
expect() {  # output source idle-line what
  grep -qxF "Idle time: $2" <<<"$1" && grep -qx "$3" <<<"$1" || e2e_fail "$4: $1"
}
idle_services_plasma_typing() {
  # Plasma on X11: its screen locker answers the X server's idle time in
  # milliseconds, and the X server itself sees all input; with idle stopping
  # at 1 minute, 70 s of typing never stop the clock.
  start_standin plasma x11
  # Read as seconds, the locker's answer would be hundreds of them.
  xdotool key shift
  expect "$(probe)" "X11 screen-saver extension" 'idle [0-9]' "pure X11 with Plasma's screen locker"
  xdotool key shift
  expect "$(wl_probe)" "freedesktop screen saver (org.freedesktop.ScreenSaver) of KDE Plasma, in milliseconds" \
    'idle [0-9]' "Plasma's milliseconds"
  e2e_start_demo
  local asked
  asked=$(grep -c '^call ' "$E2E_TMP/standin-plasma.log")
  idle_start_app plasma
  local end=$((SECONDS + 70))
  while [ $SECONDS -lt $end ]; do
    xdotool key shift
    sleep 1
    idle_running || e2e_fail "stopped while typing: $(idle_title)"
  done
  [ "$(idle_stops)" = 0 ] || e2e_fail "stopped $(idle_stops) times while typing"
  [ "$(grep -c '^call ' "$E2E_TMP/standin-plasma.log")" = "$asked" ] || e2e_fail "asked the screen locker on a pure X11 session"
  idle_stop_app
  e2e_log "PASS (typing under Plasma's screen locker)"
}
[ "$PART" = plasma ] && { idle_services_plasma_typing; exit 0; }

# ---- choice of the source and its unit --------------------------------------------------------
echo 600000 >"$IDLE"
expect "$(probe)" "X11 screen-saver extension" 'idle [0-9]*' "pure X11 without services"
start_standin screensaver
SCREENSAVER=$STANDIN_PID
expect "$(probe)" "X11 screen-saver extension" 'idle [0-9]*' "pure X11: the X server comes first"
expect "$(wl_probe)" "freedesktop screen saver (org.freedesktop.ScreenSaver), in seconds" 'idle 60[0-9]' \
  "screen saver's seconds"
start_standin gnome
expect "$(wl_probe)" "GNOME idle monitor (org.gnome.Mutter.IdleMonitor)" 'idle 60[0-9]' "GNOME's milliseconds first"
stop_standin
# A service that cannot answer, or answers nonsense, is passed over.
for mode in error badtype; do
  start_standin gnome $mode
  grep -q '^Idle time: freedesktop' <<<"$(wl_probe)" || e2e_fail "GNOME monitor answering '$mode' not passed over"
  stop_standin
done
STANDIN_PID=$SCREENSAVER
stop_standin
start_standin plasma
expect "$(wl_probe)" "freedesktop screen saver (org.freedesktop.ScreenSaver) of KDE Plasma, in milliseconds" \
  'idle 60[0-9]' "Plasma's milliseconds"
stop_standin
# Plasma on Wayland refuses the question; nothing else there: no source.
start_standin plasma error
expect "$(wl_probe)" "not available" 'idle unavailable' "Plasma's refusal"
stop_standin
e2e_log "source choice ok"

# ---- the real program: auto-stop and restart follow the service --------------------------------
e2e_start_demo
run_with() {  # gnome|screensaver
  local kind=$1
  echo 0 >"$IDLE"
  start_standin "$kind"
  idle_start_app "$kind" WAYLAND_DISPLAY=$NO_COMPOSITOR
  e2e_wait 10 idle_title_is ' not idle $' || e2e_fail "($kind) caption without the idle part: $(idle_title)"
  # The count follows the service's answer.
  echo 20000 >"$IDLE"
  e2e_wait 10 idle_title_is ' 2[0-9]/60 sec idle stop$' || e2e_fail "($kind) caption not the service's count: $(idle_title)"
  idle_running || e2e_fail "($kind) stopped below the limit"
  # Ten minutes idle by the service's count: stopped at once, not after a minute.
  echo 600000 >"$IDLE"
  e2e_wait 15 idle_stopped || e2e_fail "($kind) no idle auto-stop"
  sleep 2  # a break of a few ticks
  idle_running && e2e_fail "($kind) restarted while the service still reports idle"
  local mark
  mark=$(idle_notify_mark)
  echo 0 >"$IDLE"
  e2e_wait 15 idle_running || e2e_fail "($kind) no restart when the service reports input"
  e2e_wait 10 idle_notified_since "$mark" 'break)' || e2e_fail "($kind) start notification without the break"
  grep -q '^call ' "$E2E_TMP/standin-$kind.log" || e2e_fail "($kind) the stand-in was never asked"
  idle_stop_app
  stop_standin
  e2e_log "($kind) auto-stop and restart ok"
}
run_with gnome
run_with screensaver
e2e_log "PASS"
