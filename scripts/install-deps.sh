#!/usr/bin/env bash
# Installs the Debian packages Chronel Timer needs to build and run, and with
# --tests also those its tests need. Idempotent and non-interactive; the one
# list of packages lives here.
set -euo pipefail

# What the program needs to build and run, the headless demo included.
PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config ccache
  # toolkit, browser engine, sound
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-webengine-dev qt6-webengine-dev-tools qt6-declarative-dev
  libqt6webenginecore6-bin qt6-multimedia-dev qt6-qpa-plugins libqt6svg6
  qt6-svg-dev qt6-wayland
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # regular expressions
  libpcre2-dev
  # HTML character references
  libxml2-dev
  # the password in the desktop's keyring (Secret Service)
  libsecret-1-dev
  # X11 services
  libx11-dev libxss-dev libxcb1-dev libxcb-keysyms1-dev libx11-xcb-dev
  libxcb-render0-dev libxcb-render-util0-dev
  libxkbcommon-dev libxkbcommon-x11-dev libxcb-xkb-dev
  # Wayland idle protocols: client library, scanner and protocol descriptions
  libwayland-dev wayland-protocols plasma-wayland-protocols
  # local HTTP service
  libcpp-httplib-dev libssl-dev
  # the headless demo's desktop: X server, window manager, tray host,
  # notification server, input and screenshots
  xvfb xauth openbox xdotool wmctrl dbus dbus-x11 x11-utils x11-apps
  trayer dunst libnotify-bin imagemagick curl procps x11-xserver-utils
  x11-xkb-utils
  # the Debian package: validators, dpkg-shlibdeps (which reads file's answers)
  desktop-file-utils appstream dpkg-dev file
)

# What only the tests need (--tests): test and benchmark libraries, the
# package checker, stand-ins for desktop services on private buses, the
# desktops' own components that run headless, and the fuzzer's compiler.
TEST_PACKAGES=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # generated runs of the session core
  librapidcheck-dev
  # keyboard layouts the unit tests compile keymaps from
  xkb-data
  lintian
  python3 python3-dbus python3-gi
  # reading the program's pages through the browser engine's remote debugging
  python3-websocket
  # the desktop's keyring daemon, its unlock prompter and its command-line tool
  gnome-keyring gcr libsecret-tools
  # a headless Wayland compositor, its virtual keyboard and protocol list
  sway wtype wayland-utils
  # a tiling X11 window manager
  i3-wm
  # the desktops' own compositors, headless: KWin (idle protocols, fake input, its
  # screen-saver service, global shortcuts) and Mutter (idle monitor, remote
  # desktop input); the desktop portal with its Plasma backend (a Qt 5
  # program: its Wayland plugin), for the global shortcuts
  kwin-wayland mutter xdg-desktop-portal xdg-desktop-portal-kde qtwayland5
  # the accessibility bus as a screen reader sees it: bus launcher and registry,
  # the client library, and the desktop's switches that turn it on
  at-spi2-core python3-pyatspi gsettings-desktop-schemas dconf-gsettings-backend dconf-service libglib2.0-bin
  # fuzzing
  clang libclang-rt-14-dev
)

if [ "${1:-}" = --tests ]; then
  PACKAGES+=("${TEST_PACKAGES[@]}")
fi

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
