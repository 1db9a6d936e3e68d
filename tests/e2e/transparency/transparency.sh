#!/usr/bin/env bash
# With "use transparency" ticked the main window is translucent while another
# program is active and opaque again whenever the program becomes active, by
# whatever way: (a) a click into the window, (b) the window manager
# activating it, (c) a restore from the tray after a hide. Unticked, it stays
# opaque.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop tray

e2e_start_demo

# The window's opacity as the window manager reads it, in 255ths; 255 when
# the property is absent (opaque).
opacity() {
  local raw
  raw=$(xprop -id "$1" _NET_WM_WINDOW_OPACITY 2>/dev/null | sed -n 's/.* = \([0-9]*\)$/\1/p')
  [ -n "$raw" ] || { echo 255; return; }
  echo $(( (raw * 255 + 2147483647) / 4294967295 ))
}
# wait_opacity WIN VALUE SECONDS WHAT
wait_opacity() {
  local end=$((SECONDS + $3)) start=$EPOCHREALTIME
  until [ "$(opacity "$1")" = "$2" ]; do
    [ $SECONDS -ge $end ] && e2e_fail "$4: opacity $(opacity "$1")/255 after $3 s, not $2/255"
    sleep 0.1
  done
  e2e_log "$4: opacity $2/255 after $(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {printf "%.1f", b - a}') s"
}

# Another program's window that can take the activation.
e2e_spawn other xlogo -geometry 200x200+700+400
e2e_wait 10 bash -c '[ -n "$(xdotool search --onlyvisible --class xlogo | head -1)" ]' || e2e_fail "xlogo did not map"
OTHER=$(xdotool search --onlyvisible --class xlogo | head -1)
activate_other() {
  wmctrl -i -a "$OTHER"
  e2e_wait 5 bash -c "[ \$((\$(xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# \(0x[0-9a-f]*\).*/\1/p'))) = \$(($OTHER)) ]" \
    || e2e_fail "the other window did not become active"
}

run_app() {  # UseTransparency
  local dir="$E2E_TMP/app$1"
  mkdir -p "$dir"
  printf '[Form]\nRemoveFromTaskBar=0\nUseTransparency=%s\nTop=20\nLeft=20\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' \
    "$1" "$BASE" >"$dir/ChronelGui.ini"
  cp "$BIN" "$dir/ChronelGui"
  HOME="$E2E_TMP/home" CHRONEL_TRACE_MARKS=1 e2e_spawn "app$1" "$dir/ChronelGui"
  APP=$E2E_LAST_PID
  e2e_wait 90 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/app$1.log" || e2e_fail "timer page not read"
  WIN=$(e2e_app_main_window "$APP") || e2e_fail "no main window"
  wmctrl -i -a "$WIN"
  wait_opacity "$WIN" 255 5 "started and active"
}

run_app 1
activate_other
wait_opacity "$WIN" 127 2 "another program active"

# (a) a click into the window (its lower left corner, away from the page's controls)
read -r X Y W H <<<"$(xwininfo -id "$WIN" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END {print x, y, w, h}')"
xdotool mousemove $((X + 6)) $((Y + H - 6)) click 1
wait_opacity "$WIN" 255 2 "(a) clicked into"
activate_other
wait_opacity "$WIN" 127 2 "another program active again"

# (b) the window manager activates it
wmctrl -i -a "$WIN"
wait_opacity "$WIN" 255 2 "(b) activated by the window manager"
activate_other
wait_opacity "$WIN" 127 2 "another program active again"

# The program's own windows count as the program: its preferences window
# active keeps the main window opaque.
ICON=$(e2e_tray_icon_window ChronelGui "$APP") || e2e_fail "no tray icon"
e2e_tray_menu_choose "$ICON" 2 || e2e_fail "Preferences could not be chosen"
e2e_wait 10 e2e_window_by_title "Chronel Timer Preferences" || e2e_fail "no preferences window"
PREFS=$(e2e_window_by_title "Chronel Timer Preferences")
wmctrl -i -a "$PREFS"
wait_opacity "$WIN" 255 2 "the preferences window active"
activate_other
wait_opacity "$WIN" 127 2 "another program active again"
wmctrl -i -a "$PREFS"
wait_opacity "$WIN" 255 2 "the preferences window activated"
wmctrl -i -c "$PREFS"
e2e_wait 5 bash -c "! xwininfo -id $PREFS | grep -q IsViewable" || e2e_fail "the preferences window did not close"
wmctrl -i -a "$WIN"
wait_opacity "$WIN" 255 2 "back to the main window"
activate_other
wait_opacity "$WIN" 127 2 "another program active again"

# (c) hidden to the tray, then restored with a double click on the icon
e2e_tray_menu_choose "$ICON" 1 || e2e_fail "Hide to Tray could not be chosen"
e2e_wait 5 bash -c "! xwininfo -id $WIN | grep -q IsViewable" || e2e_fail "the window was not hidden"
activate_other
eval "$(xdotool getwindowgeometry --shell "$ICON")"
xdotool mousemove $((X + 4)) $((Y + 4)) click --repeat 2 --delay 80 1
e2e_wait 5 bash -c "xwininfo -id $WIN | grep -q IsViewable" || e2e_fail "the window was not restored"
wait_opacity "$WIN" 255 2 "(c) restored from the tray"
activate_other
wait_opacity "$WIN" 127 2 "after the restore, another program active"
kill "$APP"; e2e_wait_exit "$APP" 20 || e2e_fail "the program did not end"

# Unticked: opaque whichever program is active.
run_app 0
activate_other
sleep 1
[ "$(opacity "$WIN")" = 255 ] || e2e_fail "unticked: opacity $(opacity "$WIN")/255 with another program active"
wmctrl -i -a "$WIN"
sleep 1
[ "$(opacity "$WIN")" = 255 ] || e2e_fail "unticked: opacity $(opacity "$WIN")/255 when active"
e2e_log "unticked: opaque throughout"
echo "transparency: ok"
