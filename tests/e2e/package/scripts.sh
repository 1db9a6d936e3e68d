#!/usr/bin/env bash
# The README's commands in the README's order: the run command, then the test
# command. Each configures a build folder of its own, and the test command
# switches the tests on even in a folder configured with them off; its test
# run fails when no test ran and reports how many did. The builds themselves
# are left out (a stand-in for `cmake --build` stops each script there).
#   scripts.sh SOURCE_DIR
source "$(dirname "$0")/../lib.sh"
SRC=$(cd "$1" && pwd)
T=$E2E_TMP
REAL_CMAKE=$(command -v cmake)

# Default folders: apart, so neither command reconfigures the other's.
folders=$(cd "$SRC" && env -u CHRONEL_BUILD_DIR -u CHRONEL_DEMO_BUILD_DIR -u CHRONEL_PACKAGE_BUILD_DIR \
  bash -c 'source scripts/common.sh; echo "$CHRONEL_TEST_BUILD $CHRONEL_DEMO_BUILD $CHRONEL_PACKAGE_BUILD"')
read -r test_dir demo_dir package_dir <<<"$folders"
[ "$test_dir" != "$demo_dir" ] && [ "$test_dir" != "$package_dir" ] && [ "$demo_dir" != "$package_dir" ] \
  || e2e_fail "the commands share build folders: $folders"

mkdir -p "$T/bin"
cat >"$T/bin/cmake" <<SH
#!/usr/bin/env bash
for a in "\$@"; do
  [ "\$a" = --build ] && { echo "\$*" >>"$T/builds"; echo "(build left out by the test)"; exit 97; }
done
exec "$REAL_CMAKE" "\$@"
SH
chmod +x "$T/bin/cmake"
cache() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }

# Worst case: both commands pointed at one folder, the run command first.
export CHRONEL_BUILD_DIR="$T/shared" CHRONEL_DEMO_BUILD_DIR="$T/shared"
rc=0; (cd "$T" && PATH="$T/bin:$PATH" bash "$SRC/scripts/run.sh") >"$T/run.log" 2>&1 || rc=$?
[ "$rc" = 97 ] || { cat "$T/run.log" >&2; e2e_fail "the run command did not reach its build (exit $rc)"; }
[ "$(cache "$T/shared" CHRONEL_BUILD_TESTS)" = OFF ] || e2e_fail "the run command built with tests"
rc=0; (cd "$T" && PATH="$T/bin:$PATH" bash "$SRC/scripts/test.sh") >"$T/test.log" 2>&1 || rc=$?
[ "$rc" = 97 ] || { cat "$T/test.log" >&2; e2e_fail "the test command did not reach its build (exit $rc)"; }
for o in CHRONEL_BUILD_TESTS CHRONEL_BUILD_BENCH; do
  [ "$(cache "$T/shared" $o)" = ON ] || e2e_fail "the test command left $o=$(cache "$T/shared" $o)"
done
[ -z "$(cache "$T/shared" CHRONEL_TEST_DIRS)" ] || e2e_fail "the test command kept a limit on the test folders"
n=$(ctest --test-dir "$T/shared" -N | sed -n 's/^Total Tests: //p')
[ "${n:-0}" -gt 0 ] || e2e_fail "the test command's configuration has no tests"
[ "$(wc -l <"$T/builds")" = 2 ] || e2e_fail "expected two builds: $(cat "$T/builds")"

# The test run itself: a folder without tests fails, one with a test says how
# many ran, and tests that run beside the others count and fail the run too.
mkdir -p "$T/p"
cat >"$T/p/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(p NONE)
option(WITH_TEST "" OFF)
option(WITH_BESIDE "" OFF)
if(WITH_TEST)
  enable_testing()
  add_test(NAME passes COMMAND true)
endif()
if(WITH_BESIDE)
  add_test(NAME waits COMMAND sh -c "sleep 1; test -f $ENV{BESIDE_PASSES}")
  set_tests_properties(waits PROPERTIES LABELS beside)
endif()
CM
cd "$SRC"
source scripts/common.sh
"$REAL_CMAKE" -S "$T/p" -B "$T/p/none" >/dev/null
rc=0; chronel_ctest "$T/p/none" >"$T/none.log" 2>&1 || rc=$?
[ "$rc" != 0 ] || e2e_fail "a test run without tests passed: $(cat "$T/none.log")"
grep -q '^test: no test ran' "$T/none.log" || e2e_fail "no word that no test ran: $(cat "$T/none.log")"
"$REAL_CMAKE" -S "$T/p" -B "$T/p/one" -DWITH_TEST=ON >/dev/null
chronel_ctest "$T/p/one" >"$T/one.log" 2>&1 || e2e_fail "a passing test run failed: $(cat "$T/one.log")"
grep -q '^test: 1 tests ran, all passed' "$T/one.log" || e2e_fail "the count is missing: $(cat "$T/one.log")"
touch "$T/beside-passes"
BESIDE_PASSES="$T/beside-passes" "$REAL_CMAKE" -S "$T/p" -B "$T/p/beside" -DWITH_TEST=ON -DWITH_BESIDE=ON >/dev/null
chronel_ctest "$T/p/beside" >"$T/beside.log" 2>&1 || e2e_fail "a run with a test beside failed: $(cat "$T/beside.log")"
grep -q '^test: 2 tests ran, all passed' "$T/beside.log" || e2e_fail "the test beside was not counted: $(cat "$T/beside.log")"
rm "$T/beside-passes"
rc=0; chronel_ctest "$T/p/beside" >"$T/beside.log" 2>&1 || rc=$?
[ "$rc" != 0 ] || e2e_fail "a failing test beside the others passed the run: $(cat "$T/beside.log")"
e2e_log "run then test: separate folders, tests switched on ($n registered), empty runs fail"
