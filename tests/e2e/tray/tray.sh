#!/usr/bin/env bash
# The tray icon on a real desktop: docked in an XEmbed tray host, its menu on
# a right click, a double click that brings the hidden window back, balloons
# at the notification server (shown, clicked, timed out), and the icon back
# after the tray host restarts.
source "$(dirname "$0")/../lib.sh"
PROBE=$1
OUT=${E2E_OUT:-$PWD}

e2e_start_desktop tray notify
e2e_spawn dbusmon dbus-monitor --session "interface='org.freedesktop.Notifications'"
sleep 0.5
e2e_spawn probe "$PROBE" --balloon "Probe Title" "Probe <b>balloon</b> & text"
probe_pid=$E2E_LAST_PID
LOG="$E2E_TMP/probe.log"

seen() { grep -qxF "$1" "$LOG"; }
count() { grep -cxF "$1" "$LOG" || true; }
expect() { e2e_wait "${2:-10}" seen "$1" || e2e_fail "probe never said: $1"; }
window_visible() { [ -n "$(e2e_window_by_title 'Tray Probe')" ]; }

# The probe's icon inside the tray host: prints "X Y" of its centre.
icon_centre() {
  local panel line
  panel=$(xwininfo -root -tree | awk '/\("panel" "trayer"\)/ {print $1; exit}')
  [ -n "$panel" ] || return 1
  line=$(xwininfo -id "$panel" -tree | grep '"tray_probe"' | head -1)
  [ -n "$line" ] || return 1
  echo "$line" | awk '{ split($(NF-1), s, /[x+]/); split($NF, p, /\+/); print p[2] + int(s[1] / 2), p[3] + int(s[2] / 2) }'
}
docked() { icon_centre >/dev/null; }
click_icon() {
  local xy; xy=$(icon_centre) || e2e_fail "icon not in the tray"
  xdotool mousemove $xy
  sleep 0.3
  xdotool click "$@"
}
# Right click; waits for the menu to report its visible items.
open_menu() {
  local before; before=$(grep -cF "$1 at " "$LOG" || true)
  click_icon 3
  e2e_wait 10 bash -c "[ \$(grep -cF '$1 at ' '$LOG') -gt $before ]" || e2e_fail "menu not shown as: $1"
  sleep 0.3
}

expect ready
e2e_wait 15 docked || e2e_fail "icon not docked in the tray host"
e2e_log "icon docked at $(icon_centre)"

# The balloon reaches the notification server whole, its text escaped for a
# server that reads markup in the body, and its click comes back.
expect "balloon shown"
if dbus-send --session --print-reply --dest=org.freedesktop.Notifications /org/freedesktop/Notifications \
    org.freedesktop.Notifications.GetCapabilities | grep -q '"body-markup"'; then
  e2e_log "the notification server reads markup in the body"
  body='"Probe &lt;b&gt;balloon&lt;/b&gt; &amp; text"'
else
  body='"Probe <b>balloon</b> & text"'
fi
e2e_wait 10 grep -qF "$body" "$E2E_TMP/dbusmon.log" || e2e_fail "balloon not sent to the notification server as $body"
grep -A12 'member=Notify$' "$E2E_TMP/dbusmon.log" >"$E2E_TMP/notify.txt"
for want in '"Probe Title"' '"dialog-information"' '"default"' 'int32 10000'; do
  grep -qF "$want" "$E2E_TMP/notify.txt" || e2e_fail "Notify lacks $want"
done
dunstctl action 0
expect "balloon clicked"

# Right click: the application menu with its four items, at the icon.
open_menu "menu shown Hide to Tray|Preferences|Exit|Start Clock"
at=$(grep '^menu shown' "$LOG" | tail -1 | sed 's/.* at //; s/,/+/')
xwininfo -root -children | grep -q " +$at\$" || e2e_fail "no menu window at +$at"
e2e_screenshot "$OUT/tray-menu.png"
xdotool key Down Return
expect "menu Hide to Tray"
e2e_wait 10 bash -c "! xdotool search --onlyvisible --name '^Tray Probe\$' >/dev/null" || e2e_fail "window not hidden"

# Hidden: the menu prepares itself without "Hide to Tray".
open_menu "menu shown Preferences|Exit|Start Clock"
xdotool key Escape

# A double click brings the window back, and is no single click as well.
sleep 0.5
click_icon --repeat 2 --delay 80 1
expect dblclick
e2e_wait 10 window_visible || e2e_fail "double click did not bring the window back"
sleep 1.5
[ "$(sed -n '/^dblclick$/,$p' "$LOG" | grep -cx click)" = 0 ] || e2e_fail "double click also gave a click"
[ "$(count dblclick)" = 1 ] || e2e_fail "more than one double click"

# A balloon of one second, with a title and no text, is shown and times out
# at the server.
open_menu "menu shown Hide to Tray|Preferences|Exit|Start Clock"
xdotool key Up Return
expect "menu Start Clock"
e2e_wait 10 bash -c "[ \$(grep -cxF 'balloon shown' '$LOG') -ge 2 ]" || e2e_fail "second balloon not shown"
grep -A6 'member=Notify$' "$E2E_TMP/dbusmon.log" | grep -A1 -F '"Started Work"' | grep -qxF '   string ""' ||
  e2e_fail "the balloon without text did not reach the server with its title"
expect "balloon timed out" 15

# The tray host restarts: the icon is added to the new one.
for p in "${E2E_PIDS[@]}"; do
  [ "$(cat /proc/$p/comm 2>/dev/null)" = trayer ] && tray_pid=$p
done
kill "$tray_pid"
e2e_wait 10 bash -c "! kill -0 $tray_pid 2>/dev/null"
sleep 1
e2e_spawn trayer2 trayer --edge top --align right --widthtype pixel --width 120 --height 24 --transparent false
expect "tray host back" 15
e2e_wait 15 docked || e2e_fail "icon not docked again after the tray host restarted"
e2e_log "icon docked again at $(icon_centre)"
open_menu "menu shown Hide to Tray|Preferences|Exit|Start Clock"

# Exit from the menu ends the probe cleanly.
xdotool key Down Down Down Return
expect "menu Exit"
e2e_wait_exit "$probe_pid" 20 || e2e_fail "probe did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "probe exit code $E2E_EXIT_CODE"

# An image shown again looks as it did the first time, and an expose of the
# tray does not bring back an older one. Images 1 and 0 are new to the icon's
# window, 1 comes back, 2 is new and takes the place of 1, and 0 comes back
# while the toolkit's own copy of the window holds 2.
e2e_spawn probe2 "$PROBE" --icons 1,0,1,2,0 --quit-after 30
LOG="$E2E_TMP/probe2.log"
icon_image() {
  local panel icon
  panel=$(xwininfo -root -tree | awk '/\("panel" "trayer"\)/ {print $1; exit}')
  icon=$(xwininfo -id "$panel" -tree | awk '/"tray_probe"/ {print $1; exit}')
  [ -n "$icon" ] && xwd -id "$icon" -silent | md5sum | cut -c1-32
}
g=()
for n in 1 2 3 4 5; do
  if [ "$n" = 1 ]; then expect ready; e2e_wait 15 docked || e2e_fail "second probe not docked"; sleep 0.5
  else e2e_wait 10 bash -c "[ \$(grep -c '^icon ' '$LOG') -ge $((n - 1)) ]" || e2e_fail "the probe's image $n did not come"; sleep 0.3
  fi
  g+=("$(icon_image)")
done
e2e_log "icon images: ${g[*]}"
[ "${g[0]}" != "${g[1]}" ] && [ "${g[3]}" != "${g[0]}" ] && [ "${g[3]}" != "${g[1]}" ] || e2e_fail "images not told apart: ${g[*]}"
[ "${g[2]}" = "${g[0]}" ] && [ "${g[4]}" = "${g[1]}" ] || e2e_fail "an image shown again differs: ${g[*]}"
expect "icons done"
xrefresh
sleep 0.5
[ "$(icon_image)" = "${g[1]}" ] || e2e_fail "after an expose the icon is not image 0"
echo "tray: ok"
