#!/usr/bin/env bash
# Installs every Debian package Chronel Timer needs to build, run and test.
# Idempotent and non-interactive; the one list of packages lives here.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config ccache
  # toolkit, browser engine, sound
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-webengine-dev qt6-webengine-dev-tools
  libqt6webenginecore6-bin qt6-multimedia-dev qt6-qpa-plugins libqt6svg6
  qt6-svg-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # regular expressions
  libpcre2-dev
  # HTML character references
  libxml2-dev
  # X11 services
  libx11-dev libxss-dev libxcb1-dev libxcb-keysyms1-dev libx11-xcb-dev
  libxcb-render0-dev libxcb-render-util0-dev
  libxkbcommon-dev libxkbcommon-x11-dev libxcb-xkb-dev
  # Wayland idle protocols: client library, scanner and protocol descriptions
  libwayland-dev wayland-protocols plasma-wayland-protocols
  # local HTTP service, tests, benchmarks
  libcpp-httplib-dev libssl-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  # desktop for end-to-end tests and the headless demo
  xvfb xauth openbox xdotool wmctrl dbus dbus-x11 x11-utils x11-apps
  trayer dunst libnotify-bin imagemagick curl procps python3 x11-xserver-utils
  x11-xkb-utils python3-dbus python3-gi
  # installing and packaging: validators, dpkg-shlibdeps (which reads file's
  # answers), the package checker
  desktop-file-utils appstream dpkg-dev file lintian
  # stand-ins for logind and the idle-time services on private buses
  python3-dbus python3-gi
  # a headless Wayland compositor, its virtual keyboard and protocol list
  sway wtype wayland-utils qt6-wayland
  # fuzzing
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/tmp/chronel-apt.log 2>&1; then
  tail -20 /tmp/chronel-apt.log >&2
  for p in "${missing[@]}"; do
    apt-cache show "$p" >/dev/null 2>&1 || echo "install-deps: package not available: $p" >&2
  done
  echo "install-deps: apt-get install failed (log: /tmp/chronel-apt.log)" >&2
  exit 1
fi
echo "install-deps: done"
