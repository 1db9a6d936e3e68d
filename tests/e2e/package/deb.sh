#!/usr/bin/env bash
# The Debian package for real: built with cpack from this build folder, its
# files and dependencies read with dpkg-deb, installed with apt-get, the
# installed program started from its desktop entry and as `ChronelGui` on a
# private desktop (window mapped, logged in to the demo service, settings
# written in the per-user folder), and purged, leaving no file behind.
# Needs root (or password-less sudo); refuses to touch an installed copy.
#   deb.sh BUILD_DIR DEMO_SERVICE
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "$1" && pwd)
SERVICE=$2
PKG=chronel-timer
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  sudo -n true 2>/dev/null || e2e_fail "installing a package needs root or password-less sudo"
  SUDO="sudo -n"
fi
export DEBIAN_FRONTEND=noninteractive
APT=($SUDO apt-get -o DPkg::Lock::Timeout=600 -y -q)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
installed "$PKG" && e2e_fail "$PKG is installed on this machine; this test installs and purges it itself"
mapfile -t FILES < <(LC_ALL=C sort "$HERE/expected-files.txt")
for f in "${FILES[@]}"; do
  [ -e "$f" ] && e2e_fail "$f exists already; the package would take it over"
done
# Folders the package brings: afterwards each must exist exactly when it did before.
mapfile -t DIRS < <(printf '%s\n' "${FILES[@]}" | while read -r f; do
  d=$(dirname "$f"); while [ "$d" != / ]; do echo "$d"; d=$(dirname "$d"); done; done | LC_ALL=C sort -u)
dirs_state() { local d; for d in "${DIRS[@]}"; do [ -d "$d" ] && echo "$d yes" || echo "$d no"; done; }
DIRS_BEFORE=$(dirs_state)

# ---- build and inspect -------------------------------------------------------------------
cpack --config "$BUILD/CPackConfig.cmake" -B "$E2E_TMP/pkg" >"$E2E_TMP/cpack.log" 2>&1 \
  || e2e_fail "cpack failed"
DEB=$(ls "$E2E_TMP"/pkg/*.deb)
e2e_log "built $(basename "$DEB") ($(stat -c %s "$DEB") bytes)"
[ "$(dpkg-deb -f "$DEB" Package)" = "$PKG" ] || e2e_fail "package name $(dpkg-deb -f "$DEB" Package)"
got=$(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}' | sed 's/^\.//' | LC_ALL=C sort)
[ "$got" = "$(printf '%s\n' "${FILES[@]}")" ] || e2e_fail "package files differ from the expected list:
$(diff <(printf '%s\n' "${FILES[@]}") <(echo "$got"))"
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ && $2 != "root/root" {bad = 1} END {exit bad}' \
  || e2e_fail "files not owned by root in the package"
file -b "$(dpkg-deb --fsys-tarfile "$DEB" | tar -x -O ./usr/bin/ChronelGui >"$E2E_TMP/bin"; echo "$E2E_TMP/bin")" \
  | grep -q ', stripped' || e2e_fail "the packaged program is not stripped"
# Dependencies: found by dpkg-shlibdeps from what the program links (the
# browser engine's helper process comes with its library's shlibs), plus
# what the toolkit loads unseen: sound plugins, the cursor library.
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
e2e_log "Depends: $DEPENDS"
for d in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6webenginewidgets6 libqt6webenginecore6-bin \
         libqt6multimedia6 libqt6dbus6 libsecret-1-0 libpcre2-8-0 libx11-6 libxss1 gstreamer1.0-plugins-good libxcursor1; do
  [[ ", $DEPENDS," == *", $d "* || ", $DEPENDS," == *", $d,"* ]] || e2e_fail "Depends lacks $d"
done

# ---- install -----------------------------------------------------------------------------
NEW=()
purge() {
  installed "$PKG" || [ ${#NEW[@]} -gt 1 ] || return 0
  "${APT[@]}" purge "${NEW[@]:-$PKG}" >"$E2E_TMP/purge.log" 2>&1
}
finish() {
  local rc=$?
  # The desktop first: nothing of the package may run while it goes.
  e2e_kill TERM $(_e2e_pids_reversed)
  purge || { rc=1; e2e_log "purging $PKG failed"; cat "$E2E_TMP/purge.log" >&2; }
  (exit "$rc")
  e2e_cleanup
}
trap finish EXIT

"${APT[@]}" install --no-install-recommends "$DEB" >"$E2E_TMP/install.log" 2>&1 \
  || e2e_fail "apt-get install failed"
# What apt-get added (the package and any dependency it had to fetch) goes again at the end.
mapfile -t NEW < <(awk '/^The following NEW packages will be installed:/ {on = 1; next}
                        on && /^  / {for (i = 1; i <= NF; i++) print $i; next} {on = 0}' "$E2E_TMP/install.log" \
                   | sed 's/:.*//')
[[ " ${NEW[*]} " == *" $PKG "* ]] || NEW+=("$PKG")
e2e_log "installed: ${NEW[*]}"
installed "$PKG" || e2e_fail "dpkg does not list $PKG as installed"
for f in "${FILES[@]}"; do [ -e "$f" ] || e2e_fail "$f missing after the install"; done
[ "$(command -v ChronelGui)" = /usr/bin/ChronelGui ] || e2e_fail "ChronelGui is not /usr/bin/ChronelGui on PATH"

# ---- run ---------------------------------------------------------------------------------
e2e_start_desktop
export HOME="$E2E_TMP/home" XDG_CONFIG_HOME="$E2E_TMP/config" XDG_DATA_HOME="$E2E_TMP/data" XDG_CACHE_HOME="$E2E_TMP/cache"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
e2e_spawn service "$SERVICE" --port 0
e2e_wait 20 grep -q '^PORT ' "$E2E_TMP/service.log" || e2e_fail "the demo service did not start"
BASE="http://127.0.0.1:$(awk '/^PORT / {print $2; exit}' "$E2E_TMP/service.log")/"
INI="$XDG_CONFIG_HOME/chronel-timer/ChronelGui.ini"
mkdir -p "$(dirname "$INI")"

DESKTOP=/usr/share/applications/$PKG.desktop
WMCLASS=$(sed -n 's/^StartupWMClass=//p' "$DESKTOP")
# The desktop entry's command, as a launcher runs it (no field codes in ours).
read -r -a EXEC <<<"$(sed -n 's/^Exec=//p' "$DESKTOP" | sed 's/ %[fFuUick]//g')"

# Every library and data file the running program and its browser processes
# have mapped comes from a package that the declared dependencies bring, or
# from the base system (required and important packages); fonts are the
# system's choice. This catches what the toolkit loads at run time unseen by
# dpkg-shlibdeps.
DEP_NAMES=$(sed 's/([^)]*)//g; s/|/,/g' <<<"$DEPENDS" | tr ',' '\n' | tr -d ' ')
check_mapped() {  # pid
  local files used closure missing
  files=$(for p in $(e2e_process_tree "$1"); do awk '$6 ~ /^\/usr\// {print $6}' "/proc/$p/maps" 2>/dev/null || true; done | sort -u)
  [ -n "$files" ] || e2e_fail "no mapped files seen"
  # With merged /usr, dpkg knows some libraries by their /lib name.
  used=$({ dpkg -S $files $(sed 's|^/usr||' <<<"$files") 2>/dev/null || true; } | sed 's/: \/.*//' | tr ',' '\n' \
         | sed 's/^ //; s/:.*//' | sort -u)
  closure=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances $DEP_NAMES 2>/dev/null | grep -v '^ ' | sed 's/:.*//' | sort -u)
  missing=$(comm -23 <(echo "$used") <(echo "$closure") | grep -vx "$PKG" | grep -v '^fonts-' \
            | while read -r p; do
                dpkg-query -W -f='${Package} ${Priority} ${Essential}\n' "$p" 2>/dev/null
              done | awk '$2 != "required" && $2 != "important" && $3 != "yes" {print $1}')
  [ -z "$missing" ] || e2e_fail "the running program uses packages its dependencies do not bring: $(echo $missing)"
  e2e_log "the running program maps files of $(wc -l <<<"$used") packages, all brought by its dependencies"
}

run_once() {  # name command...
  local name=$1; shift
  # The password is stored scrambled ("demo").
  printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\n' "$BASE" >"$INI"
  local logins
  logins=$(e2e_demo_count "$BASE" '"method":"GET","target":"/time_log.php')
  (cd "$HOME" && exec "$@") >"$E2E_TMP/$name.log" 2>&1 &
  local app=$!
  E2E_PIDS+=("$app")
  e2e_wait 60 e2e_app_main_window "$app" || e2e_fail "$name: no window mapped within 60 s"
  local win
  win=$(e2e_app_main_window "$app")
  local class
  class=$(xprop -id "$win" WM_CLASS | sed 's/.*", "//; s/"$//')
  [ "$class" = "$WMCLASS" ] || e2e_fail "$name: window class \"$class\", desktop entry says \"$WMCLASS\""
  e2e_demo_wait "$BASE" 60 '"method":"GET","target":"/time_log.php' $((logins + 1)) \
    || e2e_fail "$name: the installed program did not reach the timer page"
  [ "$name" = desktop-entry ] && check_mapped "$app"
  wmctrl -i -c "$win" || e2e_fail "$name: could not ask the window to close"
  e2e_wait_exit "$app" 30 || e2e_fail "$name: did not end within 30 s of the close"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "$name: exit code $E2E_EXIT_CODE"
  # The file held no position; the close path writes it.
  grep -q '^Left=' "$INI" && grep -q '^Top=' "$INI" \
    || e2e_fail "$name: the window position was not written to $INI: $(cat "$INI")"
  e2e_log "$name: window mapped (class $class), logged in, settings written to the per-user folder"
}
run_once desktop-entry "${EXEC[@]}"
run_once shell ChronelGui
[ -e /usr/bin/ChronelGui.ini ] && e2e_fail "the installed program wrote its settings beside itself"

# ---- purge -------------------------------------------------------------------------------
e2e_kill TERM $(_e2e_pids_reversed)
sleep 0.3
purge || { cat "$E2E_TMP/purge.log" >&2; e2e_fail "apt-get purge failed"; }
installed "$PKG" && e2e_fail "$PKG is still installed after the purge"
dpkg-query -W -f='${Status}' "$PKG" 2>/dev/null | grep -q 'config-files' && e2e_fail "$PKG left its configuration"
for f in "${FILES[@]}"; do [ -e "$f" ] && e2e_fail "$f left behind by the purge"; done
[ "$(dirs_state)" = "$DIRS_BEFORE" ] || e2e_fail "folders differ after the purge:
$(diff <(echo "$DIRS_BEFORE") <(dirs_state))"
e2e_log "installed, ran and purged ${NEW[*]}; nothing of it is left"
