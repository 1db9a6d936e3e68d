#!/usr/bin/env bash
# The hot key through the real desktop portal (xdg-desktop-portal with its
# Plasma backend) in a headless KWin session with a German and a US layout:
# the stored key (Alt with the key right of Ü, "]" on a US keyboard) is
# bound as the symbol the active layout has there and fires when that key
# is pressed in the compositor, also after a switch of layout and back, and
# at the next start, which binds nothing (no question, no settings window);
# the desktop keeps one shortcut group for the settings file. Alt+`, which
# KWin keeps for itself, is reported once by name and stays stored.
source "$(dirname "$0")/common.sh"
KEYS=$3
e2e_start_desktop tray notify
e2e_start_demo
e2e_record_notifications

# ---- the compositor and the portal, on this test's session bus ----------------------------
KDE="$E2E_TMP/kde"
mkdir -p "$KDE/config" "$KDE/data" "$KDE/cache"
printf '[Layout]\nLayoutList=de,us\nUse=true\n' >"$KDE/config/kxkbrc"
# The installed binary carries a file capability a container may refuse; a copy has none.
cp /usr/bin/kwin_wayland "$KDE/kwin_wayland"
SOCKET=chronel-kwin
e2e_spawn kwin env -u DISPLAY XDG_CONFIG_HOME="$KDE/config" XDG_DATA_HOME="$KDE/data" XDG_CACHE_HOME="$KDE/cache" \
  KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 "$KDE/kwin_wayland" --virtual --width 1024 --height 768 --socket "$SOCKET"
e2e_wait 20 test -S "$XDG_RUNTIME_DIR/$SOCKET" || e2e_fail "KWin did not start"
layouts() { dbus-send --session --print-reply --dest=org.kde.keyboard /Layouts "org.kde.KeyboardLayouts.$@"; }
e2e_wait 20 layouts getLayout || e2e_fail "KWin's layout service did not answer"
# The portal and its backend are started by the bus, in this environment.
dbus-update-activation-environment WAYLAND_DISPLAY="$SOCKET" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" XDG_CURRENT_DESKTOP=KDE \
  QT_QPA_PLATFORM=wayland XDG_CONFIG_HOME="$KDE/config" XDG_DATA_HOME="$KDE/data" XDG_CACHE_HOME="$KDE/cache" \
  || e2e_fail "could not set the bus's activation environment"
# Every call to the portal's global shortcuts on the bus.
dbus-monitor --session "type='method_call',interface='org.freedesktop.portal.GlobalShortcuts'" \
  >"$E2E_TMP/calls.log" 2>&1 &
E2E_PIDS+=($!)
calls() { grep -c "member=$1" "$E2E_TMP/calls.log" || true; }
press() { WAYLAND_DISPLAY=$SOCKET "$KEYS" +56 "$1" -56 || e2e_fail "no key press through KWin"; }  # Alt + an evdev key
groups() { grep -c '^\[chronel' "$KDE/config/kglobalshortcutsrc"; }
wait_bound() {  # TRIGGER COUNT
  e2e_wait 30 bash -c "[ \$(grep -c '^chronel-mark portal-bind $1 0 ' '$E2E_TMP/app-kde.log') -ge $2 ]" \
    || e2e_fail "$1 not bound: $(grep portal-bind "$E2E_TMP/app-kde.log")"
}
pages_read() { grep -c '^chronel-mark timer-page-read ' "$E2E_TMP/app-kde.log"; }
toggle() {  # EVDEV-KEY true|false: whether the clock runs after it; waits for the page it brought
  local read; read=$(pages_read)
  press "$1"
  wait_running "$2" 15 || return 1
  e2e_wait 15 bash -c "[ \$(grep -c '^chronel-mark timer-page-read ' '$E2E_TMP/app-kde.log') -gt $read ]"
}
RIGHT_OF_UE=27  # evdev: "+" on German, "]" on US

# ---- first start, German: the key is "+"; US: "]"; German again ----------------------------
HOTKEY=32989 start_app kde WAYLAND_DISPLAY="$SOCKET" CHRONEL_TRACE_MARKS=1
wait_bound ALT+plus 1
toggle $RIGHT_OF_UE true || e2e_fail "German layout: Alt with + did not start the clock"
layouts setLayout uint32:1 >/dev/null || e2e_fail "could not switch the layout"
wait_bound ALT+bracketright 1
toggle $RIGHT_OF_UE false || e2e_fail "US layout: Alt with ] did not stop the clock"
layouts setLayout uint32:0 >/dev/null || e2e_fail "could not switch the layout back"
wait_bound ALT+plus 2
toggle $RIGHT_OF_UE true || e2e_fail "German again: Alt with + did not start the clock"
toggle $RIGHT_OF_UE false || e2e_fail "German again: Alt with + did not stop the clock"
exit_app
[ "$(stored_hotkey)" = 32989 ] || e2e_fail "stored hot key changed: $(stored_hotkey)"
[ "$(groups)" = 1 ] || e2e_fail "$(groups) shortcut groups: $(grep -A2 '^\[chronel' "$KDE/config/kglobalshortcutsrc")"
e2e_log "first start: German, US and German again fired; one group"

# ---- second start, the key unchanged: nothing bound, it fires ------------------------------
binds=$(calls BindShortcuts) sessions=$(calls CreateSession)
HOTKEY=32989 start_app kde WAYLAND_DISPLAY="$SOCKET" CHRONEL_TRACE_MARKS=1
wait_bound ALT+plus 1
toggle $RIGHT_OF_UE true || e2e_fail "second start: Alt with + did not start the clock"
toggle $RIGHT_OF_UE false || e2e_fail "second start: Alt with + did not stop the clock"
exit_app
[ "$(calls CreateSession)" -gt "$sessions" ] || e2e_fail "second start: no portal session seen on the bus"
[ "$(calls BindShortcuts)" = "$binds" ] || e2e_fail "second start: $(( $(calls BindShortcuts) - binds )) BindShortcuts calls"
grep -q '^chronel-mark portal-bind ALT+plus 0 kept ' "$E2E_TMP/app-kde.log" \
  || e2e_fail "second start: the kept key was set again: $(grep portal-bind "$E2E_TMP/app-kde.log")"
[ "$(groups)" = 1 ] || e2e_fail "second start: $(groups) shortcut groups"
grep -q '^hot keys' "$DIR/ChronelGui.notices" 2>/dev/null && e2e_fail "a notice was recorded: $(cat "$DIR/ChronelGui.notices")"
grep -q 'notices\|hot keys' "$DIR/ChronelGui.ini" && e2e_fail "the settings file holds notices"
e2e_log "second start: no binding asked, fired"

# ---- Alt+` (US), which KWin keeps for itself: told once by name, kept ----------------------
layouts setLayout uint32:1 >/dev/null || e2e_fail "could not switch to US"
for run in 1 2; do
  HOTKEY=32960 start_app held WAYLAND_DISPLAY="$SOCKET" CHRONEL_TRACE_MARKS=1
  e2e_wait 30 grep -q '^chronel-mark hotkey-notice ' "$E2E_TMP/app-held.log" \
    || e2e_fail "held, start $run: not reported: $(grep portal-bind "$E2E_TMP/app-held.log")"
  exit_app
  [ "$(stored_hotkey)" = 32960 ] || e2e_fail "held, start $run: stored hot key $(stored_hotkey)"
done
n=$(grep -c 'The start/stop hot key Alt + ` is kept by the desktop' "$E2E_TMP/notify.log")
[ "$n" = 1 ] || e2e_fail "held: told $n times"
[ "$(grep -c '^chronel-mark hotkey-notice 2 known' "$E2E_TMP/app-held.log")" = 1 ] || e2e_fail "held: the second start did not know it"
version() { WAYLAND_DISPLAY="$SOCKET" timeout 60 "$1/ChronelGui" --version 2>/dev/null | grep '^Global hot key'; }
version "$DIR" | grep -q 'the start/stop key is taken' || e2e_fail "held: --version says $(version "$DIR")"
version "$E2E_TMP/kde" | grep -q 'taken' && e2e_fail "--version says a bound key is taken: $(version "$E2E_TMP/kde")"
echo "hotkeys portal_kde: ok"
