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
