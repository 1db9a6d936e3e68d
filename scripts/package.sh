#!/usr/bin/env bash
# The package command: installs what is missing, builds the program in
# build-package/ with Debian's hardening flags and makes the Debian package
# out/chronel-timer_<version>_<architecture>.deb with cpack (its library
# dependencies found by dpkg-shlibdeps). Prints lintian's findings where it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
bash scripts/install-deps.sh
BUILD=$CHRONEL_PACKAGE_BUILD
echo "package: building in $BUILD"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
chronel_configure "$BUILD" OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$BUILD" -j"$(nproc)" --target ChronelGui chronel-install-files
rm -rf "$BUILD/cpack"
cpack --config "$BUILD/CPackConfig.cmake" -B "$BUILD/cpack" >"$BUILD/cpack.log" 2>&1 \
  || { cat "$BUILD/cpack.log" >&2; echo "package: cpack failed" >&2; exit 1; }
mkdir -p out
deb=$(ls "$BUILD"/cpack/*.deb)
cp "$deb" out/
deb="out/$(basename "$deb")"
echo "package: $deb"
dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/  /'
# The package checker comes with the tests' packages (install-deps.sh --tests).
if command -v lintian >/dev/null 2>&1; then
  echo "package: lintian says:"
  lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' | sed 's/^/  /' || true
else
  echo "package: lintian is not installed; 'bash scripts/install-deps.sh --tests' installs it"
fi
