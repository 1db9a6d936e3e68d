#!/usr/bin/env bash
# The browser control on the real engine against the demo service: navigation
# events, posted bytes, page source, body style and the page's context menu,
# with real mouse input.
source "$(dirname "$0")/../lib.sh"
BIN=$1
SERVICE=$2
e2e_start_desktop
# The engine's profile lives in the user's data directory: keep it private.
export HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" XDG_CACHE_HOME="$E2E_TMP/home/cache" \
  XDG_CONFIG_HOME="$E2E_TMP/home/config"
mkdir -p "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME"

e2e_spawn service "$SERVICE" --port 0
e2e_wait 20 grep -q '^PORT ' "$E2E_TMP/service.log" || e2e_fail "demo service did not start"
export CHRONEL_DEMO_URL="http://127.0.0.1:$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/service.log")/"

rc=0
"$BIN" --gtest_color=no >"$E2E_TMP/browser_tests.log" 2>&1 || rc=$?
# The engine's own chatter is left out.
grep -v -e '^\[[0-9:/.]*:[A-Z]*:' -e '^ *$' -e '^  \* ' "$E2E_TMP/browser_tests.log" || true
[ "$rc" = 0 ] || e2e_fail "browser tests failed ($rc)"
echo "browser: ok"
