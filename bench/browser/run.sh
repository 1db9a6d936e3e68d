#!/usr/bin/env bash
# Runs bench_browser against the demo service, under a private X server,
# with a timer page of about 100 KB (1220 work items).
#   bench/browser/run.sh BUILD_DIR [benchmark options]
set -euo pipefail
BUILD=$(cd "${1:?build directory}" && pwd); shift
source "$(dirname "$0")/../../tests/e2e/lib.sh"
e2e_start_desktop
export HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" XDG_CACHE_HOME="$E2E_TMP/home/cache"
mkdir -p "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

config="$E2E_TMP/service.conf"
echo "account = demo:demo" >"$config"
for i in $(seq 1 1220); do echo "item = Work item $i: planning, reviews and customer calls"; done >>"$config"
echo "selected = 1100" >>"$config"
e2e_spawn service "$BUILD/tools/demo-service/chronel-demo-service" --port 0 --config "$config"
e2e_wait 20 grep -q '^PORT ' "$E2E_TMP/service.log" || e2e_fail "demo service did not start"
export CHRONEL_DEMO_URL="http://127.0.0.1:$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/service.log")/"

"$BUILD/bench/browser/bench_browser" --benchmark_report_aggregates_only=true "$@" 2>"$E2E_TMP/bench.log" \
  || { tail -20 "$E2E_TMP/bench.log" >&2; exit 1; }
