#!/usr/bin/env bash
# Shared steps of the hot-key tests: the demo service, the program in a
# folder of its own with a settings file, and its exit through the tray menu.
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail

# start_app NAME [ENV=VALUE...]: the program with a settings file that keeps
# the hot key $HOTKEY (the default, 32960, when unset); waits for the timer page.
start_app() {
  local name=$1; shift
  DIR="$E2E_TMP/$name"; mkdir -p "$DIR"
  cp "$BIN" "$DIR/ChronelGui"
  printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=%s\n' "$BASE" "${HOTKEY:-32960}" >"$DIR/ChronelGui.ini"
  curl -s -d '' "${BASE}__reset" >/dev/null
  e2e_spawn "app-$name" env HOME="$E2E_TMP/home" "$@" "$DIR/ChronelGui"
  APP=$E2E_LAST_PID
  e2e_demo_wait "$BASE" 60 '"target":"/time_log.php' || e2e_fail "$name: the timer page was not shown"
  # The hot key is registered on the first paint, after the page has loaded.
  e2e_wait 30 e2e_tray_icon_window ChronelGui || e2e_fail "$name: no tray icon"
  sleep 1
}

wait_running() {  # true|false SECS
  local end=$((SECONDS + $2))
  while :; do
    if [ "$1" = true ]; then e2e_demo_running "$BASE" && return 0; else e2e_demo_running "$BASE" || return 0; fi
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}

# Exit from the tray menu (its last item but one while the clock is stopped).
exit_app() {
  e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" -2 || e2e_fail "could not choose Exit"
  e2e_wait_exit "$APP" 30 || e2e_fail "the program did not end"
}

stored_hotkey() { awk -F= '$1 == "HotKeyStartStop" {print $2}' "$DIR/ChronelGui.ini" | tr -d '\r'; }

# Enters a combination (xdotool's spelling, "alt+47") in the preferences'
# hot-key field, leaves the field and closes the window, which stores the code.
capture() {  # COMBINATION
  e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" 2 || e2e_fail "could not choose Preferences"
  e2e_wait 10 e2e_window_by_title "Chronel Timer Preferences" || e2e_fail "preferences did not open"
  local prefs; prefs=$(e2e_window_by_title "Chronel Timer Preferences")
  xdotool windowactivate --sync "$prefs" 2>/dev/null || true
  e2e_wait 10 bash -c "[ \"\$(xdotool getactivewindow)\" = $prefs ]" || e2e_fail "preferences not focused"
  xdotool mousemove --window "$prefs" 196 162 click 1  # the hot-key field
  sleep 0.5
  xdotool key --clearmodifiers "$1" Tab Return
  e2e_wait 10 bash -c "[ -z \"\$(xdotool search --onlyvisible --name '^Chronel Timer Preferences\$')\" ]" \
    || e2e_fail "preferences did not close"
}
