# Shared by the idle tests (source after lib.sh and lib_app.sh; BIN and DEMO
# set): the demo service, the real program with idle stopping at 1 minute
# and its clock started from the tray, and what the service then receives.

# idle_start_app NAME [VAR=VALUE...]: a fresh copy of the program with the
# given environment, its clock started; sets APP and WIN.
idle_start_app() {
  local name=$1 dir="$E2E_TMP/$1"; shift
  curl -sf -d "" "${BASE}__reset" >/dev/null || e2e_fail "demo service reset failed"
  mkdir -p "$dir"
  cp "$BIN" "$dir/ChronelGui"
  printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\nAutoStopStartOnIdleTime=1\nAutoStopStartOnIdleTimeMinutes=1\n' \
    "$BASE" >"$dir/ChronelGui.ini"
  HOME="$E2E_TMP/home" e2e_spawn "app-$name" env "$@" "$dir/ChronelGui"
  APP=$E2E_LAST_PID
  e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "($name) main window not mapped"
  WIN=$(e2e_app_main_window "$APP")
  e2e_demo_wait "$BASE" 30 '"target":"/time_log.php' || e2e_fail "($name) timer page not shown"
  e2e_wait 15 e2e_tray_icon_window ChronelGui || e2e_fail "($name) no tray icon"
  e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" -1 || e2e_fail "($name) could not choose Start"
  e2e_wait 15 idle_running || e2e_fail "($name) clock not started"
}

idle_stop_app() {
  kill "$APP"
  e2e_wait_exit "$APP" 10 || { kill -9 "$APP"; e2e_wait_exit "$APP" 5 || true; }
}

idle_running() { e2e_demo_running "$BASE"; }
idle_stopped() { ! idle_running; }
idle_stops() { e2e_demo_count "$BASE" '"kind":"stop"'; }
idle_title() { xdotool getwindowname "$WIN" 2>/dev/null; }
idle_title_is() { idle_title | grep -Eq "$1"; }
# The caption's idle count is at least N seconds.
idle_count_at_least() { idle_title | sed -nE 's/.* ([0-9]+)\/60 sec idle stop$/\1/p' | awk -v n="$1" '$1 >= n {f = 1} END {exit !f}'; }

# The notifications since the mark contain text: idle_notified_since MARK TEXT
idle_notify_mark() { echo $(($(wc -l <"$E2E_TMP/notify.log") + 1)); }
idle_notified_since() { tail -n +"$1" "$E2E_TMP/notify.log" | grep -q "$2"; }

# sway, headless; it will not run as root, so it runs as nobody in a folder
# of its own. Sets WL (an absolute WAYLAND_DISPLAY) and SWAY_RUN.
idle_start_sway() {
  local as=()
  SWAY_RUN="$E2E_TMP/sway"
  mkdir -p "$SWAY_RUN"
  if [ "$(id -u)" = 0 ]; then
    chmod 711 "$E2E_TMP"
    chown nobody:nogroup "$SWAY_RUN"
    as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  fi
  chmod 700 "$SWAY_RUN"
  printf 'output HEADLESS-1 resolution 1024x768\nxwayland disable\n' >"$E2E_TMP/sway.cfg"
  chmod 644 "$E2E_TMP/sway.cfg"
  e2e_spawn sway env -i E2E_TMP="$E2E_TMP" PATH=/usr/bin:/bin HOME="$SWAY_RUN" XDG_RUNTIME_DIR="$SWAY_RUN" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman "${as[@]}" sway -c "$E2E_TMP/sway.cfg"
  e2e_wait 20 bash -c "ls '$SWAY_RUN' | grep -qE '^wayland-[0-9]+\$'" || e2e_fail "sway did not start"
  WL="$SWAY_RUN/$(ls "$SWAY_RUN" | grep -E '^wayland-[0-9]+$' | head -1)"
  e2e_wait 10 env WAYLAND_DISPLAY="$WL" wayland-info || e2e_fail "sway does not answer on $WL"
}

# The idle protocol the compositor at WL offers, as the program names it.
idle_wayland_source() {
  local globals
  globals=$(WAYLAND_DISPLAY="$WL" wayland-info 2>/dev/null)
  if grep -q "'ext_idle_notifier_v1'" <<<"$globals"; then
    echo "Wayland compositor (ext-idle-notify-v1 version 1: an idle inhibitor such as a playing video or a call can hide the user's absence)"
  else
    echo "Wayland compositor (org_kde_kwin_idle: an idle inhibitor such as a playing video or a call can hide the user's absence)"
  fi
}
