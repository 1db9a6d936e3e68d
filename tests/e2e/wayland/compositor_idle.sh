#!/usr/bin/env bash
# Idle stop and restart at the demo service under a real compositor running
# headless: kwin (its ext-idle-notify, input through its fake-input
# protocol), mutter (its idle monitor on the session bus, input through its
# remote-desktop interface) or sway (its idle protocol, input through a
# virtual keyboard). The program is an X11 client beside the compositor, as
# under XWayland; its idle time follows the compositor's input alone.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
source "$(dirname "$0")/idle_lib.sh"
COMPOSITOR=$1
BIN=$2
DEMO=$3
FAKE_INPUT=$4
set +o pipefail
e2e_start_desktop tray notify
e2e_record_notifications
export XDG_CONFIG_HOME="$E2E_TMP/config" XDG_DATA_HOME="$E2E_TMP/data" XDG_CACHE_HOME="$E2E_TMP/cache"

case $COMPOSITOR in
kwin)
  # The installed binary carries a file capability that a container may
  # refuse to grant; a copy has none.
  cp "$(command -v kwin_wayland)" "$E2E_TMP/kwin_wayland"
  WL=chronel-kwin
  KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 e2e_spawn kwin "$E2E_TMP/kwin_wayland" --virtual --width 1024 --height 768 \
    --socket "$WL"
  e2e_wait 20 env WAYLAND_DISPLAY="$WL" wayland-info || e2e_fail "KWin did not start: $(tail -3 "$E2E_TMP/kwin.log")"
  inject() { WAYLAND_DISPLAY="$WL" "$FAKE_INPUT" move 42 || e2e_fail "fake input failed"; }  # and Shift
  SOURCE=$(idle_wayland_source)
  ;;
mutter)
  WL=chronel-mutter
  e2e_spawn mutter mutter --headless --wayland --no-x11 --virtual-monitor 1024x768 --wayland-display "$WL"
  e2e_wait 20 dbus-send --session --print-reply --dest=org.gnome.Mutter.IdleMonitor /org/gnome/Mutter/IdleMonitor/Core \
    org.gnome.Mutter.IdleMonitor.GetIdletime || e2e_fail "Mutter did not start: $(tail -3 "$E2E_TMP/mutter.log")"
  mkfifo "$E2E_TMP/input"
  exec 7<>"$E2E_TMP/input"
  e2e_spawn mutter-input /usr/bin/python3 "$(dirname "$0")/mutter_input.py" "$E2E_TMP/input"
  e2e_wait 10 grep -q '^ready' "$E2E_TMP/mutter-input.log" || e2e_fail "no remote-desktop session"
  inject() { echo >&7; }
  SOURCE='GNOME idle monitor (org.gnome.Mutter.IdleMonitor)'
  ;;
sway)
  idle_start_sway
  inject() { WAYLAND_DISPLAY="$WL" wtype -k Shift_L || e2e_fail "wtype failed"; }
  SOURCE=$(idle_wayland_source)
  ;;
*) e2e_fail "unknown compositor $COMPOSITOR" ;;
esac

out=$(WAYLAND_DISPLAY="$WL" "$BIN" --version 2>/dev/null) || e2e_fail "--version failed"
grep -qxF "Idle time: $SOURCE" <<<"$out" || e2e_fail "idle source under $COMPOSITOR: $out"
if [ "$COMPOSITOR" = kwin ]; then
  # Without its Wayland protocols, KWin's own screen-saver service refuses
  # the idle time on Wayland: no source.
  out=$(WAYLAND_DISPLAY=no-such-compositor "$BIN" --version 2>/dev/null) || e2e_fail "--version failed"
  grep -qx "Idle time: not available" <<<"$out" || e2e_fail "KWin's screen saver on Wayland: $out"
fi
e2e_log "$COMPOSITOR: $SOURCE"

e2e_start_demo
idle_start_app "$COMPOSITOR" WAYLAND_DISPLAY="$WL"
inject
e2e_wait 10 idle_title_is ' not idle $' || e2e_fail "caption after input: $(idle_title)"
# The tray clicks went to the X server, not the compositor: the count grows,
# and the compositor's input ends it.
e2e_wait 20 idle_count_at_least 3 || e2e_fail "caption without a growing idle count: $(idle_title)"
inject
e2e_wait 10 idle_title_is ' not idle $' || e2e_fail "input did not end the idle time: $(idle_title)"
# A minute without input: stopped at the service.
e2e_wait 90 idle_stopped || e2e_fail "no idle stop; caption: $(idle_title)"
sleep 2  # a break of a few ticks
idle_running && e2e_fail "restarted without input"
mark=$(idle_notify_mark)
inject
e2e_wait 15 idle_running || e2e_fail "no restart after input"
e2e_wait 10 idle_notified_since "$mark" 'break)' || e2e_fail "start notification without the break"
[ "$(idle_stops)" = 1 ] || e2e_fail "stopped $(idle_stops) times"
idle_stop_app
e2e_log "PASS ($COMPOSITOR)"
