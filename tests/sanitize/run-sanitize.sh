#!/usr/bin/env bash
# Builds the sanitizer test of the tray in its own build directory and runs
# it. Any sanitizer report or failed test fails.
# usage: run-sanitize.sh <build-dir>
set -euo pipefail
build=${1:?usage: run-sanitize.sh <build-dir>}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
mkdir -p "$build"
log="$build/build.log"
if ! { cmake -S "$src" -B "$build" -G Ninja -DCHRONEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" &&
       cmake --build "$build" --target tray_sanitize; } >"$log" 2>&1; then
  tail -40 "$log" >&2
  echo "run-sanitize: build failed (log: $log)" >&2
  exit 1
fi
# The toolkit keeps some allocations until exit; only use-after-free and
# other memory errors count here.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
exec "$build/tests/sanitize/tray_sanitize"
