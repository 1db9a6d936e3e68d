#!/usr/bin/env bash
# The demo: installs what is missing, builds Chronel Timer and the local demo
# service, starts the service on 127.0.0.1 and the program logged in to it
# from a folder of its own (out/demo). On your display it runs until you
# close it. Without a display it runs under a private Xvfb desktop, starts
# and stops the clock from the tray menu and saves screenshots in out/demo.
#
#   CHRONEL_DEMO_BUILD_DIR  build folder (default: build-demo; the tests build in build/)
#   CHRONEL_DEMO_RUN        seconds the clock runs in the headless demo (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
source scripts/common.sh
bash scripts/install-deps.sh
BUILD=$(realpath -m "$CHRONEL_DEMO_BUILD")
RUN_SECS=${CHRONEL_DEMO_RUN:-5}
echo "run: building in $BUILD"
chronel_configure "$BUILD" OFF
cmake --build "$BUILD" -j"$(nproc)" --target ChronelGui chronel-demo-service
export QTWEBENGINE_DISABLE_SANDBOX=1
SERVICE="$BUILD/tools/demo-service/chronel-demo-service"

# The program reads its settings beside itself, so the demo gets its own copy.
DEMO="$ROOT/out/demo"
mkdir -p "$DEMO"
rm -f "$DEMO"/*.png
cp "$BUILD/bin/ChronelGui" "$DEMO/ChronelGui"

write_settings() {  # base URL; the password is stored scrambled ("demo")
  printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\n' "$1" >"$DEMO/ChronelGui.ini"
}

# The service's first line is "PORT n"; prints n, or fails after SECS.
read_port() {  # log secs
  local end=$((SECONDS + $2))
  until grep -q '^PORT ' "$1" 2>/dev/null; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
  awk '/^PORT / {print $2; exit}' "$1"
}

timer_page_seen() {  # base
  curl -sf --max-time 5 "${1}__status" | grep -q '"method":"GET","target":"/time_log.php'
}

# ---- on the user's display ------------------------------------------------------------
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  LOGS=$(mktemp -d /tmp/chronel-demo.XXXXXX)
  "$SERVICE" --port 0 >"$LOGS/service.out" 2>"$LOGS/service.err" &
  service_pid=$!
  app_pid=""
  finish() {
    local rc=$?
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    [ "$rc" -eq 0 ] && rm -rf "$LOGS"
    exit "$rc"
  }
  trap finish EXIT
  trap 'exit 130' INT TERM
  port=$(read_port "$LOGS/service.out" 20) || { cat "$LOGS/service.err" >&2; echo "run: the demo service did not start (logs: $LOGS)" >&2; exit 1; }
  BASE="http://127.0.0.1:$port/"
  write_settings "$BASE"
  echo "run: demo service at $BASE (user demo, password demo)"
  echo "run: starting $DEMO/ChronelGui; its tray menu starts and stops the clock"
  "$DEMO/ChronelGui" &
  app_pid=$!
  for _ in $(seq 1 300); do
    timer_page_seen "$BASE" && { echo "run: logged in; the timer page is showing"; break; }
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.2
  done
  rc=0
  wait "$app_pid" || rc=$?
  app_pid=""
  echo "run: ChronelGui ended (exit code $rc); stopping the demo service"
  exit "$rc"
fi

# ---- without a display: a private desktop ------------------------------------------------
source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/lib_app.sh"
say() { echo "run: $*"; }

e2e_start_desktop tray notify
say "private desktop on $DISPLAY with a tray host and a notification server"
# The browser profile of this run stays out of the user's home.
export HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" XDG_CACHE_HOME="$E2E_TMP/home/cache"
mkdir -p "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

e2e_spawn service "$SERVICE" --port 0
port=$(read_port "$E2E_TMP/service.log" 20) || e2e_fail "the demo service did not start"
BASE="http://127.0.0.1:$port/"
write_settings "$BASE"
say "demo service at $BASE"

e2e_spawn app "$DEMO/ChronelGui"
APP=$E2E_LAST_PID
e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "ChronelGui did not map its window within 60 s"
WIN=$(e2e_app_main_window "$APP")
say "window $WIN mapped: \"$(e2e_window_title "$WIN")\""
e2e_demo_wait "$BASE" 60 '"method":"GET","target":"/time_log.php' || e2e_fail "the timer page was not requested within 60 s"
say "logged in; the timer page was requested"
ICON=""
e2e_wait 20 e2e_tray_icon_window ChronelGui || e2e_fail "no tray icon docked within 20 s"
ICON=$(e2e_tray_icon_window ChronelGui)
# Leave the page a moment to render before the picture.
sleep 2
shot() {  # name [window]
  local file="$DEMO/$1.png"
  if [ -n "${2:-}" ]; then
    import -display "$DISPLAY" -window "$2" -frame "$file" 2>/dev/null || e2e_screenshot "$file"
  else
    e2e_screenshot "$file"
  fi
  say "screenshot $file"
}
shot 1-timer-page "$WIN"

# Start: the last item of the tray menu.
starts=$(e2e_demo_count "$BASE" '"kind":"start"')
e2e_tray_menu_open "$ICON" || e2e_fail "the tray menu did not open"
shot 2-tray-menu
e2e_tray_menu_pick -1 || e2e_fail "could not choose Start in the tray menu"
e2e_demo_wait "$BASE" 20 '"kind":"start"' $((starts + 1)) || e2e_fail "the service saw no start of the clock"
e2e_demo_running "$BASE" || e2e_fail "the service's clock is not running after Start"
say "clock started for $(e2e_demo_status "$BASE" | sed -n 's/.*"selected_name":"\([^"]*\)".*/\1/p' | head -1)"
e2e_wait 10 bash -c "xdotool getwindowname $WIN | grep -Eq '^(Working\\.\\.\\.|[0-9]+ min\\.)'" \
  || e2e_fail "the title does not show the running clock: \"$(e2e_window_title "$WIN")\""
sleep 1
shot 3-running "$WIN"
sleep "$RUN_SECS"
shot 4-running-desktop
say "title while running: \"$(e2e_window_title "$WIN")\""

# Stop: the same item, now reading Stop.
stops=$(e2e_demo_count "$BASE" '"kind":"stop"')
e2e_tray_menu_choose "$ICON" -1 || e2e_fail "could not choose Stop in the tray menu"
e2e_demo_wait "$BASE" 20 '"kind":"stop"' $((stops + 1)) || e2e_fail "the service saw no stop of the clock"
e2e_demo_running "$BASE" && e2e_fail "the service's clock still runs after Stop"
e2e_wait 10 bash -c "xdotool getwindowname $WIN | grep -qx 'Not working'" \
  || e2e_fail "the title does not show the stopped clock: \"$(e2e_window_title "$WIN")\""
say "clock stopped"
sleep 1
shot 5-stopped "$WIN"

# A polite close, as the window manager's close button would ask.
wmctrl -i -c "$WIN" || e2e_fail "could not ask the window to close"
e2e_wait_exit "$APP" 30 || e2e_fail "ChronelGui did not end within 30 s of the close"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "ChronelGui ended with exit code $E2E_EXIT_CODE"
say "ChronelGui ended (exit code 0); the service recorded:"
e2e_demo_status "$BASE" | grep -o '"kind":"[a-z]*"[^}]*' | sed 's/^/  /'
say "screenshots in $DEMO:"
ls -1 "$DEMO"/*.png | sed 's/^/  /'
