#!/usr/bin/env bash
# Installs what is missing, builds and starts Chronel Timer. Without a
# display it runs under a private Xvfb and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
bash scripts/install-deps.sh
BUILD=${CHRONEL_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHRONEL_BUILD_TESTS=OFF -DCHRONEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target ChronelGui
export QTWEBENGINE_DISABLE_SANDBOX=1
APP="$ROOT/$BUILD/bin/ChronelGui"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$APP"
fi

# No display: run on a private X server with a window manager and take a picture.
source "$ROOT/tests/e2e/lib.sh"
trap - EXIT
trap 'rc=$?; for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; exit $rc' EXIT
e2e_start_desktop
OUT="$ROOT/out"; mkdir -p "$OUT"
e2e_spawn app "$APP"
e2e_wait 60 e2e_window_by_title "Chronel Timer" || { cat "$E2E_TMP/app.log"; echo "ChronelGui did not show its window" >&2; exit 1; }
sleep 3
e2e_screenshot "$OUT/chronel-main.png"
echo "Screenshot saved: $OUT/chronel-main.png"
wmctrl -F -c "Chronel Timer" || true
e2e_wait_exit "$E2E_LAST_PID" 30 || true
