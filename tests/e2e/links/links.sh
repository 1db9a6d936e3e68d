#!/usr/bin/env bash
# Links in the served timer page: only web and mail links reach the system's
# opener, from a click on a link in the same tab or a new one, or from a
# script; the page stays. The opener is a recording stand-in for xdg-open,
# which the toolkit runs for every URL it is asked to open on this desktop.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop tray notify

mkdir -p "$E2E_TMP/bin" "$E2E_TMP/app" "$E2E_TMP/home"
cat >"$E2E_TMP/bin/xdg-open" <<SH
#!/bin/sh
echo "\$@" >> "$E2E_TMP/opened.txt"
SH
chmod +x "$E2E_TMP/bin/xdg-open"
unset BROWSER DEFAULT_BROWSER

# Tab order on the timer page: the item list, the button, the service's three
# links (Reports, Web, Mail), then these.
NEVER=(foo://x/1 smb://127.0.0.1/share file:///etc/hostname "data:text/html,<p>data</p>")
{
  for href in "${NEVER[@]}"; do echo "timer_page_html = <a href=\"$href\">same</a>"; done
  for href in "${NEVER[@]}"; do echo "timer_page_html = <a target=\"_blank\" href=\"$href\">new</a>"; done
  echo "timer_page_html = <a href=\"javascript:location='foo://from-script'\">script</a>"
  echo "timer_page_html = <a href=\"https://www.example.com/allowed\">web</a>"
  echo "timer_page_html = <a href=\"mailto:ann@example.org\">mail</a>"
  # Longer than the system lets a program's argument be: the opener fails.
  echo "timer_page_html = <a href=\"https://www.example.com/long?q=$(head -c 300000 /dev/zero | tr '\0' a)\">long</a>"
} >"$E2E_TMP/service.conf"
NEVER_LINKS=9

e2e_start_demo --config "$E2E_TMP/service.conf"
requests() { curl -s "${BASE}__status" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["requests"]))'; }

# The password is stored as the settings file keeps it ("demo").
printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' "$BASE" \
  >"$E2E_TMP/app/ChronelGui.ini"
cp "$BIN" "$E2E_TMP/app/ChronelGui"
HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" PATH="$E2E_TMP/bin:$PATH" \
  e2e_spawn app "$E2E_TMP/app/ChronelGui"
APP=$E2E_LAST_PID
e2e_wait 60 e2e_app_main_window "$APP" >/dev/null || e2e_fail "main window not mapped"
e2e_demo_wait "$BASE" 30 '"target": *"/time_log.php' || e2e_fail "timer page not loaded: $(curl -s "${BASE}__status")"
sleep 2  # the page settles and the window takes its size
win=$(e2e_app_main_window "$APP")
xdotool windowactivate --sync "$win" 2>/dev/null || true
read -r WX WY < <(xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}')
# The page's margin: focus without hitting anything.
xdotool mousemove $((WX + 2)) $((WY + 2)) click 1
sleep 0.3
before=$(requests)

xdotool key Tab Tab Tab Tab Tab
for i in $(seq "$NEVER_LINKS"); do
  xdotool key Tab Return
  sleep 0.7
done
sleep 2
[ ! -e "$E2E_TMP/opened.txt" ] || e2e_fail "reached the opener: $(cat "$E2E_TMP/opened.txt")"
[ "$(requests)" = "$before" ] || e2e_fail "the page moved: $(curl -s "${BASE}__status")"
e2e_app_main_window "$APP" >/dev/null || e2e_fail "the main window went away"
e2e_log "no other scheme reached the opener"

# The focus is still on the page's last link but two: the page stayed.
xdotool key Tab Return
e2e_wait 10 test -s "$E2E_TMP/opened.txt" || e2e_fail "the web link did not reach the opener"
xdotool key Tab Return
e2e_wait 10 bash -c "[ \$(wc -l <'$E2E_TMP/opened.txt') -ge 2 ]" || e2e_fail "the mail link did not reach the opener"
sleep 1
printf 'https://www.example.com/allowed\nmailto:ann@example.org\n' | cmp -s - "$E2E_TMP/opened.txt" \
  || e2e_fail "opened: $(cat "$E2E_TMP/opened.txt")"
[ "$(requests)" = "$before" ] || e2e_fail "the page moved after the web and mail links"
e2e_log "web and mail links reached the opener"

# A link the opener cannot take: one message, then the page painted again.
xdotool key Tab Return
boxes() { xdotool search --onlyvisible --name '^Chronel' 2>/dev/null | grep -vx "$win" || true; }
e2e_wait 15 bash -c "[ -n \"\$(xdotool search --onlyvisible --name '^Chronel' | grep -vx '$win')\" ]" \
  || e2e_fail "no message about the failed link"
sleep 1
e2e_screenshot "$E2E_TMP/long-link-box.png"
[ "$(boxes | wc -l)" = 1 ] || e2e_fail "not one message window: $(boxes | wc -l)"
# The message fits on the screen and is painted (not a black area).
read -r BW BH < <(xwininfo -id "$(boxes)" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
[ "$BW" -le 1024 ] && [ "$BH" -le 768 ] || e2e_fail "the message is larger than the screen: ${BW}x$BH"
import -window "$(boxes)" "$E2E_TMP/box.png"
dark=$(convert "$E2E_TMP/box.png" -colorspace gray -threshold 10% -negate -format '%[fx:mean]' info:)
python3 -c "import sys; sys.exit(0 if $dark < 0.3 else 1)" || e2e_fail "the message is not painted (dark share $dark)"
xdotool key --window "$(boxes)" Return 2>/dev/null || xdotool key Return
sleep 3
[ -z "$(boxes)" ] || e2e_fail "the message came again"
e2e_screenshot "$E2E_TMP/long-link-after.png"
import -window "$win" "$E2E_TMP/page.png"
dark=$(convert "$E2E_TMP/page.png" -colorspace gray -threshold 10% -negate -format '%[fx:mean]' info:)
python3 -c "import sys; sys.exit(0 if $dark < 0.2 else 1)" || e2e_fail "the page is not painted again (dark share $dark)"
e2e_log "a failed opener gave one message and the page was painted again"

# An opener that finds no program for the link says so only in its exit
# code, as xdg-open does on a desktop without a web browser: one message.
cat >"$E2E_TMP/bin/xdg-open" <<SH
#!/bin/sh
echo "xdg-open: no method available for opening '\$1'" >&2
exit 3
SH
xdotool key shift+Tab shift+Tab Return
e2e_wait 15 bash -c "[ -n \"\$(xdotool search --onlyvisible --name '^Chronel' | grep -vx '$win')\" ]" \
  || e2e_fail "no message when the opener found no program"
sleep 1
[ "$(boxes | wc -l)" = 1 ] || e2e_fail "not one message window for the opener's failure: $(boxes | wc -l)"
xdotool key --window "$(boxes)" Return 2>/dev/null || xdotool key Return
e2e_log "an opener that found no program gave one message"
echo "links: ok"
