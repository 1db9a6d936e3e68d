#!/usr/bin/env bash
# A desktop without a tray host: the close with "Minimize to tray on close"
# iconifies the window and keeps its taskbar button although "Remove from
# task bar" is ticked (so does the window manager's minimize), and one
# notification says why, once per settings file. A tray host started later
# brings Hide to Tray back: the window is withdrawn and only the icon
# remains, whose click shows it again (normal, not iconified as once
# minimized). When the tray host goes, the close minimizes to the taskbar again.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop notify
e2e_record_notifications

e2e_start_demo

DIR="$E2E_TMP/notray"; mkdir -p "$DIR"; cp "$BIN" "$DIR/ChronelGui"
printf '[Form]\nRemoveFromTaskBar=1\nMinimizeOnClose=1\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' "$BASE" >"$DIR/ChronelGui.ini"
CHRONEL_TRACE_MARKS=1 e2e_spawn app env HOME="$E2E_TMP/home" "$DIR/ChronelGui"
APP=$E2E_LAST_PID
e2e_wait 60 e2e_app_main_window "$APP" || e2e_fail "main window not mapped"
WIN=$(e2e_app_main_window "$APP")
e2e_wait 60 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/app.log" || e2e_fail "the timer page was not read"

notices() { grep -c 'no system tray' "$E2E_TMP/notify.log" || true; }
viewable() { xwininfo -id "$WIN" 2>/dev/null | grep -q IsViewable; }
iconic() { xprop -id "$WIN" WM_STATE 2>/dev/null | grep -q 'window state: Iconic'; }
withdrawn() { ! xprop -id "$WIN" WM_STATE 2>/dev/null | grep -Eq 'window state: (Normal|Iconic)'; }
listed() { xprop -root _NET_CLIENT_LIST | grep -qiw "$(printf '0x%x' "$WIN")"; }
skipped() { xprop -id "$WIN" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
window_facts() { xprop -id "$WIN" WM_STATE _NET_WM_STATE 2>&1 | tr '\n' ' '; }

# Closes the window as its title bar's button does.
close_window() {
  local marks; marks=$(grep -c '^chronel-mark close-asked ' "$E2E_TMP/app.log" || true)
  wmctrl -i -c "$WIN"
  if ! e2e_wait 5 iconic && [ "$(grep -c '^chronel-mark close-asked ' "$E2E_TMP/app.log" || true)" = "$marks" ]; then
    # The window manager did not pass the close on (the program never saw it): ask again.
    e2e_log "the close did not reach the program; asking again"
    wmctrl -i -c "$WIN"
  fi
}

# ---- no tray host: the close minimizes to the taskbar -------------------------
skipped || e2e_fail "the ticked box does not keep the shown window off the taskbar: $(window_facts)"
close_window
e2e_wait 10 iconic || e2e_fail "the close did not iconify the window: $(window_facts)"
e2e_wait 10 bash -c "! xprop -id $WIN _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR" \
  || e2e_fail "the iconified window has no taskbar button: $(window_facts)"
listed || e2e_fail "the window manager no longer lists the window"
kill -0 "$APP" || e2e_fail "the close ended the program"
e2e_wait 15 bash -c "grep -q 'no system tray' '$E2E_TMP/notify.log'" || e2e_fail "no notification about the missing tray"
grep -qx 'no system tray' "$DIR/ChronelGui.notices" || e2e_fail "the notice is not kept beside the settings file"
e2e_log "close without a tray: iconic with its taskbar button, told"

# The taskbar button's click restores it; a second close tells nothing new.
wmctrl -i -a "$WIN"
e2e_wait 10 viewable || e2e_fail "activating the taskbar entry did not restore the window: $(window_facts)"
e2e_wait 10 skipped || e2e_fail "restored, the window keeps the taskbar button the box removes: $(window_facts)"
# Minimized by the window manager (the title bar's button): the button comes back too.
xdotool windowminimize "$WIN"
e2e_wait 10 iconic || e2e_fail "the window manager's minimize did not iconify the window: $(window_facts)"
e2e_wait 10 bash -c "! xprop -id $WIN _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR" \
  || e2e_fail "minimized by the window manager, the window has no taskbar button: $(window_facts)"
wmctrl -i -a "$WIN"
e2e_wait 10 viewable || e2e_fail "the taskbar entry did not restore the window again: $(window_facts)"
close_window
e2e_wait 10 iconic || e2e_fail "the second close did not iconify the window: $(window_facts)"
skipped && e2e_fail "the second close left no taskbar button: $(window_facts)"
sleep 2  # a second notice would have been sent by now
[ "$(notices)" = 1 ] || e2e_fail "told $(notices) times, not once: $(grep -A3 'no system tray' "$E2E_TMP/notify.log")"
e2e_log "told once"

# ---- a tray host appears: Hide to Tray withdraws again ------------------------
wmctrl -i -a "$WIN"
e2e_wait 10 viewable || e2e_fail "the window was not restored"
trayer --edge top --align right --widthtype pixel --width 120 --height 24 --transparent false >"$E2E_TMP/trayer.log" 2>&1 &
TRAYER=$!
E2E_PIDS+=("$TRAYER")
e2e_wait 30 e2e_tray_icon_window ChronelGui || e2e_fail "the icon did not dock in the tray host started later"
e2e_wait 10 grep -q '^chronel-mark tray-host-present ' "$E2E_TMP/app.log" || e2e_fail "the tray host was not noticed"
e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" 1 || e2e_fail "could not choose Hide to Tray"
e2e_wait 10 bash -c "! xwininfo -id $WIN | grep -q IsViewable" || e2e_fail "Hide to Tray left the window shown: $(window_facts)"
e2e_wait 10 withdrawn || e2e_fail "the hidden window is not withdrawn: $(window_facts)"
listed && e2e_fail "the window manager still lists the hidden window"
[ "$(notices)" = 1 ] || e2e_fail "told again with a tray host"
e2e_log "with a tray host: hidden to the tray"

# A single click on the icon shows it (after the double-click time), not iconified.
sleep 0.5
xdotool mousemove --window "$(e2e_tray_icon_window ChronelGui)" 8 8 click 1
e2e_wait 10 viewable || e2e_fail "a click on the icon did not bring the window back: $(window_facts)"
e2e_log "the icon's click shows it"

# ---- the tray host goes while the window is in it: back on the taskbar --------
e2e_tray_menu_choose "$(e2e_tray_icon_window ChronelGui)" 1 || e2e_fail "could not choose Hide to Tray again"
e2e_wait 10 withdrawn || e2e_fail "the window was not hidden to the tray again: $(window_facts)"
e2e_kill TERM "$TRAYER"
e2e_wait 10 grep -q '^chronel-mark tray-host-gone ' "$E2E_TMP/app.log" || e2e_fail "the tray host's going was not noticed"
e2e_wait 10 iconic || e2e_fail "the window hidden in the tray was lost with the tray host: $(window_facts)"
e2e_wait 10 bash -c "! xprop -id $WIN _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR" \
  || e2e_fail "the window back from the tray has no taskbar button: $(window_facts)"
wmctrl -i -a "$WIN"
e2e_wait 10 viewable || e2e_fail "the taskbar entry did not restore the window from the lost tray"
close_window
e2e_wait 10 iconic || e2e_fail "after the tray host went, the close did not iconify the window: $(window_facts)"
e2e_wait 10 bash -c "! xprop -id $WIN _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR" \
  || e2e_fail "after the tray host went, the iconified window has no taskbar button: $(window_facts)"
[ "$(notices)" = 1 ] || e2e_fail "told again after the tray host went"
e2e_log "the tray host gone: minimized to the taskbar"

e2e_kill TERM "$APP"  # the session's end: the settings are saved
e2e_wait_exit "$APP" 30 || e2e_fail "the program did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
echo "notray: ok"
