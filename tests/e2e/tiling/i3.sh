#!/usr/bin/env bash
# A tiling X11 desktop (i3) floats the small window at its own size instead
# of stretching it over the screen, and the program logs in there as anywhere.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop nowm
e2e_start_demo

# i3 with no bar and no start-up programs; its IPC socket in the test's folder.
cat >"$E2E_TMP/i3.conf" <<CONF
ipc-socket $E2E_TMP/i3.sock
font pango:monospace 8
CONF
_e2e_start_retrying i3 "i3-msg -s '$E2E_TMP/i3.sock' -t get_version" i3 -c "$E2E_TMP/i3.conf"

DIR="$E2E_TMP/i3"; mkdir -p "$DIR"; cp "$BIN" "$DIR/ChronelGui"
printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' "$BASE" >"$DIR/ChronelGui.ini"
CHRONEL_TRACE_MARKS=1 e2e_spawn app env HOME="$E2E_TMP/home" "$DIR/ChronelGui"
APP=$E2E_LAST_PID
e2e_wait 60 grep -q '^chronel-mark timer-page-read ' "$E2E_TMP/app.log" || e2e_fail "the timer page was not read"

# The program's windows in i3's tree: (floating, width, height) each.
floating_at_own_size() {
  i3-msg -s "$E2E_TMP/i3.sock" -t get_tree >"$E2E_TMP/i3-tree.json" || return 1
  python3 - "$E2E_TMP/i3-tree.json" "$(xdotool search --all --pid "$APP" 2>/dev/null | tr '\n' ' ')" <<'PY'
import json, sys
ours = {int(w) for w in sys.argv[2].split()}
found = []
def walk(node, floating):
    if node.get("window") in ours:
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
e2e_log "i3 floats the window at its size: $(floating_at_own_size)"

e2e_kill TERM "$APP"
e2e_wait_exit "$APP" 30 || e2e_fail "the program did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "exit code $E2E_EXIT_CODE"
echo "tiling i3: ok"
