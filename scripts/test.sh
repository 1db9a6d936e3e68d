#!/usr/bin/env bash
# The test command: installs what is missing, builds everything with the
# tests and benchmarks in build/ (whatever an earlier configuration of that
# folder said) and runs every test. Fails when a test fails or none ran.
# Extra arguments go to ctest (e.g. -R e2e_smoke).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
bash scripts/install-deps.sh --tests
BUILD=$CHRONEL_TEST_BUILD
echo "test: building in $BUILD"
chronel_configure "$BUILD" ON
cmake --build "$BUILD" -j"$(nproc)"
export QTWEBENGINE_DISABLE_SANDBOX=1
chronel_ctest "$BUILD" "$@"
