#!/usr/bin/env bash
# What `cmake --install` puts in place: exactly the expected files, a desktop
# entry and AppStream metadata that the freedesktop validators accept, and the
# clock icon in every size the entry's Icon name needs.
#   files.sh BUILD_DIR
source "$(dirname "$0")/../lib.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$1
ROOT="$E2E_TMP/root"

DESTDIR="$ROOT" cmake --install "$BUILD" --prefix /usr >"$E2E_TMP/install.log" 2>&1 \
  || { cat "$E2E_TMP/install.log" >&2; e2e_fail "cmake --install failed"; }
got=$(cd "$ROOT" && find . -type f -o -type l | sed 's/^\.//' | LC_ALL=C sort)
want=$(LC_ALL=C sort "$HERE/expected-files.txt")
[ "$got" = "$want" ] || e2e_fail "installed files differ from the expected list:
$(diff <(echo "$want") <(echo "$got"))"

DESKTOP="$ROOT/usr/share/applications/chronel-timer.desktop"
desktop-file-validate "$DESKTOP" || e2e_fail "desktop-file-validate rejects the desktop entry"
for f in "$ROOT"/usr/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$f" || e2e_fail "appstreamcli rejects $(basename "$f")"
done
# The tree check also matches the metadata's launchable with the desktop entry.
appstreamcli validate-tree --no-net "$ROOT" || e2e_fail "appstreamcli rejects the installed tree"

key() { sed -n "s/^$1=//p" "$DESKTOP" | head -1; }
[ "$(key Name)" = "Chronel Timer" ] || e2e_fail "Name is \"$(key Name)\""
[ "$(key Type)" = Application ] || e2e_fail "Type is \"$(key Type)\""
exe=$(key Exec | awk '{print $1}')
[ -x "$ROOT/usr/bin/$exe" ] || e2e_fail "Exec names \"$exe\", which is not an installed program"
[[ ";$(key Categories)" == *";Office;"* ]] || e2e_fail "Categories lack Office: $(key Categories)"
# The class the program gives its windows (its application name under X11).
[ "$(key StartupWMClass)" = chronel-timer ] || e2e_fail "StartupWMClass is \"$(key StartupWMClass)\""
grep -q '<launchable type="desktop-id">chronel-timer.desktop</launchable>' "$ROOT"/usr/share/metainfo/*.xml \
  || e2e_fail "the AppStream metadata does not launch chronel-timer.desktop"

# Every size of the icon: the size it claims, and the clock drawn in it
# (a round face covers about two thirds of the square; the corners are clear).
icon=$(key Icon)
for s in 16 22 24 32 48 64 128 256; do
  png="$ROOT/usr/share/icons/hicolor/${s}x${s}/apps/$icon.png"
  file -b "$png" | grep -q "^PNG image data, $s x $s, 8-bit/color RGBA" || e2e_fail "$png: $(file -b "$png")"
  cover=$(convert "$png" -alpha extract -format '%[fx:mean]' info:)
  corner=$(convert "$png" -alpha extract -format '%[fx:p{0,0}]' info:)
  awk -v c="$cover" -v k="$corner" 'BEGIN {exit !(c > 0.5 && c < 0.85 && k == 0)}' \
    || e2e_fail "$png does not look like the clock (covered $cover, corner $corner)"
done
svg="$ROOT/usr/share/icons/hicolor/scalable/apps/$icon.svg"
python3 - "$svg" <<'PY' || e2e_fail "$svg is not a square SVG with a clock face"
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
ns = "{http://www.w3.org/2000/svg}"
assert root.tag == ns + "svg", root.tag
x, y, w, h = (float(v) for v in root.get("viewBox").split())
assert w == h > 0
assert root.find(".//" + ns + "circle") is not None
PY
e2e_log "installed files, desktop entry, metadata and icons are as expected"

# The installed program finds its engines' module where the install put it,
# wherever the prefix; without it, it says so and keeps running.
e2e_start_desktop nowm
export HOME="$E2E_TMP/home" XDG_CONFIG_HOME="$E2E_TMP/home/config" XDG_DATA_HOME="$E2E_TMP/home/data"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
printf '[Form]\nTop=0\n[Prefs]\nBaseURL=http://127.0.0.1:9/\nUsername=demo\n' >"$E2E_TMP/s.ini"
run_installed() {  # name
  CHRONEL_TRACE_MARKS=1 e2e_spawn "$1" "$ROOT/usr/bin/ChronelGui" --settings "$E2E_TMP/s.ini"
  APP=$E2E_LAST_PID
}
run_installed with-module
e2e_wait 60 grep -q "^chronel-mark web-view " "$E2E_TMP/with-module.log" \
  || e2e_fail "the installed program did not start its browser engine: $(tail -5 "$E2E_TMP/with-module.log")"
e2e_kill TERM "$APP"
e2e_wait_exit "$APP" 30 || e2e_fail "the installed program did not end"
rm "$ROOT/usr/lib/chronel-timer/engine/libchronel-engine.so"
run_installed without-module
e2e_wait 60 grep -q "chronel: the browser engine could not be loaded: libchronel-engine.so" "$E2E_TMP/without-module.log" \
  || e2e_fail "no word of the missing module: $(tail -5 "$E2E_TMP/without-module.log")"
# The main window and the message.
e2e_wait 20 bash -c "[ \$(xdotool search --onlyvisible --pid $APP --name . | wc -l) -ge 2 ]" \
  || e2e_fail "the missing module was not shown in a message"
kill -0 "$APP" || e2e_fail "the program without its module ended"
e2e_log "the installed program loads its module, and says so when it is missing"
