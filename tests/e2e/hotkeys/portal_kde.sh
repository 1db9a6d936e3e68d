#!/usr/bin/env bash
# The hot key through the real desktop portal (xdg-desktop-portal with its
# Plasma backend) in a headless KWin session with a German and a US layout:
# the stored key (Alt with the key right of Ü, "]" on a US keyboard) is
# bound as the symbol the active layout has there, fires when that key is
# pressed in the compositor, and is bound again after a switch of layout.
source "$(dirname "$0")/common.sh"
KEYS=$3
e2e_start_desktop tray
start_service

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
press() { WAYLAND_DISPLAY=$SOCKET "$KEYS" +56 27 -56 || e2e_fail "no key press through KWin"; }  # Alt + the key right of Ü
bound() { grep -c "^chronel-mark portal-bind $1 0 " "$E2E_TMP/app-kde.log"; }

# ---- German: the key is "+" ----------------------------------------------------------------
HOTKEY=32989 start_app kde WAYLAND_DISPLAY="$SOCKET" CHRONEL_TRACE_MARKS=1
e2e_wait 30 bash -c "grep -q '^chronel-mark portal-bind ' '$E2E_TMP/app-kde.log'" || e2e_fail "nothing bound"
[ "$(bound ALT+plus)" = 1 ] || e2e_fail "German layout: bound $(grep portal-bind "$E2E_TMP/app-kde.log")"
press
wait_running true 15 || e2e_fail "German layout: Alt with + did not start the clock"
e2e_log "German layout: bound ALT+plus, started"

# ---- US: the same key is "]" ---------------------------------------------------------------
layouts setLayout uint32:1 >/dev/null || e2e_fail "could not switch the layout"
e2e_wait 30 bash -c "grep -q '^chronel-mark portal-bind ALT+bracketright 0 ' '$E2E_TMP/app-kde.log'" \
  || e2e_fail "US layout: not bound again: $(grep portal-bind "$E2E_TMP/app-kde.log")"
press
wait_running false 15 || e2e_fail "US layout: Alt with ] did not stop the clock"
e2e_log "US layout: bound ALT+bracketright, stopped"

exit_app
[ "$(stored_hotkey)" = 32989 ] || e2e_fail "stored hot key changed: $(stored_hotkey)"
echo "hotkeys portal_kde: ok"
