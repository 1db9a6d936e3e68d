# Shared by the scripts (source it from the repository root): the build
# folders and how each is configured. Every command configures its own folder
# with every option it relies on, so none depends on what ran before it.
#
#   CHRONEL_BUILD_DIR          the test command's folder (default: build)
#   CHRONEL_DEMO_BUILD_DIR     the run command's folder (default: build-demo)
#   CHRONEL_PACKAGE_BUILD_DIR  the package command's folder (default: build-package)
CHRONEL_ROOT=$(pwd)
CHRONEL_TEST_BUILD=${CHRONEL_BUILD_DIR:-build}
CHRONEL_DEMO_BUILD=${CHRONEL_DEMO_BUILD_DIR:-build-demo}
CHRONEL_PACKAGE_BUILD=${CHRONEL_PACKAGE_BUILD_DIR:-build-package}

# The compiler cache, when installed, speeds up rebuilds only; paths below
# the repository count relative, so another clone shares the entries.
chronel_launcher() {
  if command -v ccache >/dev/null 2>&1; then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$CHRONEL_ROOT} CCACHE_NOHASHDIR=1
    # Also for the builds the tests configure themselves (the fuzz run).
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache
    echo ccache
  fi
}

# chronel_configure FOLDER TESTS(ON|OFF) [cmake arguments...]
# TESTS switches the tests and the benchmarks together.
chronel_configure() {
  local dir=$1 tests=$2
  shift 2
  cmake -S "$CHRONEL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCHRONEL_BUILD_TESTS="$tests" -DCHRONEL_BUILD_BENCH="$tests" -DCHRONEL_FUZZ=OFF -DCHRONEL_TEST_DIRS= \
    -DCMAKE_CXX_COMPILER_LAUNCHER="$(chronel_launcher)" "$@" >/dev/null
}

# chronel_ctest FOLDER [ctest arguments...]: runs the tests and says how many
# ran; fails when one fails or when none ran. Tests labelled "beside" mostly
# wait (a minute without input, five minutes of watching): they run one at a
# time beside the others, which run one at a time too.
chronel_ctest() {
  local dir=$1 log blog rc=0 brc=0 count bcount bpid
  shift
  log=$(mktemp /tmp/chronel-ctest.XXXXXX)
  blog=$(mktemp /tmp/chronel-ctest-beside.XXXXXX)
  ctest --test-dir "$dir" --no-tests=ignore --output-on-failure --timeout 900 -L beside "$@" >"$blog" 2>&1 &
  bpid=$!
  ctest --test-dir "$dir" --no-tests=ignore --output-on-failure --timeout 900 -LE beside "$@" 2>&1 | tee "$log" || rc=$?
  wait "$bpid" || brc=$?
  echo "---- the tests that ran beside the others:"
  cat "$blog"
  count=$(_chronel_ctest_count "$log")
  bcount=$(_chronel_ctest_count "$blog")
  rm -f "$log" "$blog"
  count=$((count + bcount))
  if [ "$rc" -eq 0 ] && [ "$brc" -eq 0 ] && [ "$count" -gt 0 ]; then
    echo "test: $count tests ran, all passed"
    return 0
  fi
  [ "$count" -gt 0 ] || echo "test: no test ran" >&2
  rc=$(( rc != 0 ? rc : brc ))
  return $(( rc == 0 ? 1 : rc ))
}

# How many tests a ctest log says ran; 0 when none.
_chronel_ctest_count() {
  local n
  n=$(sed -n 's/.*tests passed, [0-9]* tests\{0,1\} failed out of \([0-9]*\)$/\1/p' "$1" | tail -1)
  echo "${n:-0}"
}
