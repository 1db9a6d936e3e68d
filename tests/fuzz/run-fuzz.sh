#!/usr/bin/env bash
# Builds the regex fuzz target with clang in its own build directory and runs
# it for a bounded time. Any crash, sanitizer report, leak or slow input fails.
# usage: run-fuzz.sh <build-dir> [seconds, default 60]
set -euo pipefail
build=${1:?usage: run-fuzz.sh <build-dir> [seconds]}
seconds=${2:-60}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../.." && pwd)

command -v clang++ >/dev/null || { echo "run-fuzz: clang++ not found (packages clang, libclang-rt-14-dev)" >&2; exit 1; }
mkdir -p "$build"
log="$build/build.log"
if ! { cmake -S "$src" -B "$build" -G Ninja -DCHRONEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
         -DCMAKE_BUILD_TYPE=RelWithDebInfo && cmake --build "$build" --target regex_fuzz; } >"$log" 2>&1; then
  tail -40 "$log" >&2
  echo "run-fuzz: build failed (log: $log)" >&2
  exit 1
fi

corpus="$build/corpus"
artifacts="$build/artifacts"
mkdir -p "$corpus" "$artifacts"
echo "run-fuzz: fuzzing for ${seconds}s (corpus $corpus, crashes in $artifacts)"
"$build/tests/fuzz/regex_fuzz" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=1024 \
  -dict="$here/regex.dict" -artifact_prefix="$artifacts/" -print_final_stats=1 \
  "$corpus" "$here/seeds" 2>"$build/fuzz.log" || {
  status=$?
  tail -60 "$build/fuzz.log" >&2
  echo "run-fuzz: failed with status $status; reproduce with $build/tests/fuzz/regex_fuzz <artifact>" >&2
  exit 1
}
grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|Done )" "$build/fuzz.log" || tail -3 "$build/fuzz.log"
# Each input once more, timed one by one: the slowest shows how far the run
# stays from the per-input limit.
find "$corpus" "$here/seeds" -type f -print0 | xargs -0 -r "$build/tests/fuzz/regex_fuzz" -timeout=30 -rss_limit_mb=2048 \
  2>"$build/replay.log" || { tail -30 "$build/replay.log" >&2; echo "run-fuzz: replay failed" >&2; exit 1; }
awk '/^Executed .* in [0-9]+ ms$/ {ms = $(NF-1); if (ms + 0 > max + 0) {max = ms; file = $2}} END {printf "run-fuzz: slowest input %s ms (%s)\n", max, file}' "$build/replay.log"
echo "run-fuzz: no failures"
