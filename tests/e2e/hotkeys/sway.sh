#!/usr/bin/env bash
# A Wayland session on sway, which offers no global shortcuts (none of its
# portal backends has them): "Global hot keys are not available on this
# desktop." comes at the first start with a settings file, not at the next;
# the stored key stays.
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/../wayland/idle_lib.sh"
e2e_start_desktop tray notify
e2e_start_demo
e2e_record_notifications
idle_start_sway
# The session's portal, as a sway desktop has it: its backends (here only
# the keyring's) offer no global shortcuts. The bus starts the real portal
# in this environment.
mkdir -p "$E2E_TMP/portals"
cp /usr/share/xdg-desktop-portal/portals/gnome-keyring.portal "$E2E_TMP/portals/"
dbus-update-activation-environment XDG_DESKTOP_PORTAL_DIR="$E2E_TMP/portals" XDG_CURRENT_DESKTOP=sway \
  WAYLAND_DISPLAY="$WL" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" || e2e_fail "could not set the bus's activation environment"

TEXT='Global hot keys are not available on this desktop.'
for run in 1 2; do
  start_app sway WAYLAND_DISPLAY="$WL" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway CHRONEL_TRACE_MARKS=1
  e2e_wait 30 grep -q '^chronel-mark hotkey-notice ' "$E2E_TMP/app-sway.log" || e2e_fail "start $run: no hot-key outcome"
  exit_app
  [ "$(stored_hotkey)" = 32960 ] || e2e_fail "start $run: stored hot key $(stored_hotkey)"
done
n=$(grep -cF "$TEXT" "$E2E_TMP/notify.log")
[ "$n" = 1 ] || e2e_fail "told $n times"
grep -q '^chronel-mark hotkey-notice 3 known' "$E2E_TMP/app-sway.log" || e2e_fail "the second start did not know it"
grep -qx 'hot keys unavailable on sway' "$DIR/ChronelGui.notices" || e2e_fail "notices: $(cat "$DIR/ChronelGui.notices")"

# A tiling desktop floats the small window at its own size, not the output's:
# the program on sway itself, no X server.
mkdir -p "$E2E_TMP/tiling"
printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\n' "$BASE" >"$E2E_TMP/tiling/ChronelGui.ini"
cp "$BIN" "$E2E_TMP/tiling/ChronelGui"
e2e_spawn app-tiling env -u DISPLAY HOME="$E2E_TMP/home" WAYLAND_DISPLAY="$WL" QT_QPA_PLATFORM=wayland XDG_SESSION_TYPE=wayland \
  XDG_CURRENT_DESKTOP=sway "$E2E_TMP/tiling/ChronelGui"
TILED=$E2E_LAST_PID
sock=$(ls "$SWAY_RUN"/sway-ipc.*.sock | head -1)
floating_at_own_size() {
  swaymsg -s "$sock" -t get_tree >"$E2E_TMP/sway-tree.json" || return 1
  python3 - "$E2E_TMP/sway-tree.json" "$TILED" <<'PY'
import json, sys
found = []
def walk(node, floating):
    if node.get("pid") == int(sys.argv[2]) and node.get("name") != "Chronel Timer Preferences":
        found.append((floating, node["window_rect"]["width"], node["window_rect"]["height"]))
    for child in node.get("nodes", []):
        walk(child, floating)
    for child in node.get("floating_nodes", []):
        walk(child, True)
walk(json.load(open(sys.argv[1])), False)
print(found)
sys.exit(0 if found and all(f[0] and 0 < f[1] <= 132 and 0 < f[2] <= 176 for f in found) else 1)
PY
}
e2e_wait 30 floating_at_own_size >/dev/null || e2e_fail "the window is not floating at its size: $(floating_at_own_size)"
kill -TERM "$TILED"
e2e_wait_exit "$TILED" 30 || e2e_fail "the program on sway did not end"
echo "hotkeys sway: ok"
