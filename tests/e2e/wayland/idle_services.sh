#!/usr/bin/env bash
# Idle time from desktop services on the session bus: stand-ins for GNOME's
# idle monitor and the freedesktop screen saver answer the real program's
# questions; its idle auto-stop and restart follow their answers (checked
# at the demo service). The source choice itself is checked with the probe.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
PROBE=$3
STANDIN="$(dirname "$0")/idle_standin.py"
PY=/usr/bin/python3  # the system's, which has the D-Bus bindings
set +o pipefail
e2e_start_desktop tray notify

e2e_record_notifications

IDLE="$E2E_TMP/idle-ms"
echo 0 >"$IDLE"

start_standin() {  # gnome|screensaver [mode]
  e2e_spawn "standin-$1" "$PY" "$STANDIN" "$1" "$IDLE" "${2:-ok}"
  STANDIN_PID=$E2E_LAST_PID
  e2e_wait 10 grep -q '^ready' "$E2E_TMP/standin-$1.log" || e2e_fail "stand-in $1 did not start"
}
stop_standin() { kill "$STANDIN_PID" 2>/dev/null || true; wait "$STANDIN_PID" 2>/dev/null || true; }

# The probe prints the chosen services and the idle seconds.
probe() { timeout 10 "$PROBE" once 2>/dev/null || true; }

# ---- choice of the source -------------------------------------------------------------------
echo 600000 >"$IDLE"
out=$(probe)
grep -qx 'Idle time: X11 screen-saver extension' <<<"$out" || e2e_fail "pure X11 without services: $out"
start_standin screensaver
SCREENSAVER=$STANDIN_PID
out=$(probe)
grep -qx 'Idle time: freedesktop screen saver (org.freedesktop.ScreenSaver)' <<<"$out" || e2e_fail "screen saver not chosen: $out"
grep -qx 'idle 600' <<<"$out" || e2e_fail "screen saver's seconds not read: $out"
start_standin gnome
out=$(probe)
grep -qx 'Idle time: GNOME idle monitor (org.gnome.Mutter.IdleMonitor)' <<<"$out" || e2e_fail "GNOME's monitor not first: $out"
grep -qx 'idle 600' <<<"$out" || e2e_fail "GNOME's milliseconds not read: $out"
stop_standin
# A service that cannot answer, or answers nonsense, is passed over.
for mode in error badtype; do
  start_standin gnome $mode
  out=$(probe)
  grep -q '^Idle time: freedesktop' <<<"$out" || e2e_fail "GNOME monitor answering '$mode' not passed over: $out"
  stop_standin
done
STANDIN_PID=$SCREENSAVER
stop_standin
e2e_log "source choice ok"

# Under a Wayland session without idle protocol or services, the X server's
# count would miss native windows' input: no source.
out=$(WAYLAND_DISPLAY=no-such-compositor probe)
grep -qx 'Idle time: not available' <<<"$out" || e2e_fail "Wayland session without a source: $out"
grep -qx 'idle unavailable' <<<"$out" || e2e_fail "the unavailable source answered: $out"
e2e_log "no source ok"

# ---- the real program: auto-stop and restart follow the service --------------------------------
e2e_spawn demo "$DEMO" --port 0
e2e_wait 10 grep -q '^PORT ' "$E2E_TMP/demo.log" || e2e_fail "demo service did not start"
BASE="http://127.0.0.1:$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/demo.log")/"

running() { e2e_demo_running "$BASE"; }
stopped() { ! running; }
title() { xdotool getwindowname "$WIN" 2>/dev/null; }
title_is() { title | grep -Eq "$1"; }

run_with() {  # gnome|screensaver
  local kind=$1 dir="$E2E_TMP/$1" icon
  echo 0 >"$IDLE"
  start_standin "$kind"
  curl -sf -d "" "${BASE}__reset" >/dev/null || e2e_fail "demo service reset failed"
  mkdir -p "$dir"
  cp "$BIN" "$dir/ChronelGui"
  printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\nAutoStopStartOnIdleTime=1\nAutoStopStartOnIdleTimeMinutes=1\n' \
    "$BASE" >"$dir/ChronelGui.ini"
  HOME="$E2E_TMP/home" e2e_spawn "app-$kind" "$dir/ChronelGui"
  APP=$E2E_LAST_PID
  e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "($kind) main window not mapped"
  WIN=$(e2e_app_main_window "$APP")
  e2e_demo_wait "$BASE" 30 '"target":"/time_log.php' || e2e_fail "($kind) timer page not shown"
  e2e_wait 15 e2e_tray_icon_window ChronelGui || e2e_fail "($kind) no tray icon"
  icon=$(e2e_tray_icon_window ChronelGui)
  e2e_tray_menu_choose "$icon" -1 || e2e_fail "($kind) could not choose Start"
  e2e_wait 15 running || e2e_fail "($kind) clock not started"
  e2e_wait 10 title_is ' not idle $' || e2e_fail "($kind) caption without the idle part: $(title)"

  # The count follows the service's answer.
  echo 20000 >"$IDLE"
  e2e_wait 10 title_is ' 2[0-9]/60 sec idle stop$' || e2e_fail "($kind) caption not the service's count: $(title)"
  running || e2e_fail "($kind) stopped below the limit"
  # Ten minutes idle by the service's count: stopped at once, not after a minute.
  echo 600000 >"$IDLE"
  e2e_wait 15 stopped || e2e_fail "($kind) no idle auto-stop"
  sleep 2  # a break of a few ticks
  running && e2e_fail "($kind) restarted while the service still reports idle"

  notified=$(($(wc -l <"$E2E_TMP/notify.log") + 1))
  echo 0 >"$IDLE"
  e2e_wait 15 running || e2e_fail "($kind) no restart when the service reports input"
  e2e_wait 10 bash -c "tail -n +$notified '$E2E_TMP/notify.log' | grep -q 'break)'" \
    || e2e_fail "($kind) start notification without the break"
  grep -q '^call ' "$E2E_TMP/standin-$kind.log" || e2e_fail "($kind) the stand-in was never asked"

  kill "$APP"
  e2e_wait_exit "$APP" 10 || { kill -9 "$APP"; e2e_wait_exit "$APP" 5 || true; }
  stop_standin
  e2e_log "($kind) auto-stop and restart ok"
}

run_with gnome
run_with screensaver
e2e_log "PASS"
