#!/usr/bin/env bash
# The real program against the local service: login, the tray icon and its
# menu, starting and stopping the clock, notifications, links, the page's
# context menu, hide to tray, and exit while the clock runs.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail  # "| head -1" ends its writers early
e2e_start_desktop tray notify

e2e_record_notifications

# A recording stand-in for the system's browser.
mkdir -p "$E2E_TMP/bin"
cat >"$E2E_TMP/bin/xdg-open" <<SH
#!/bin/sh
echo "\$@" >> "$E2E_TMP/opened.txt"
SH
chmod +x "$E2E_TMP/bin/xdg-open"

status() { curl -s "${BASE}__status"; }
# Python over the status JSON: status_py 'expression using d'
status_py() { status | python3 -c "import json,sys; d=json.load(sys.stdin); print($1)"; }

start_app() {  # folder
  local dir=$1
  cp "$BIN" "$dir/ChronelGui"
  HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" PATH="$E2E_TMP/bin:$PATH" \
    e2e_spawn "app-$(basename "$dir")" "$dir/ChronelGui"
  APP=$E2E_LAST_PID
  local end=$((SECONDS + 60))
  while [ -z "$(main_window)" ]; do
    [ $SECONDS -ge $end ] && e2e_fail "main window not mapped"
    sleep 0.3
  done
}

main_window() { e2e_app_main_window "$APP" || true; }

title() { e2e_app_title "$APP"; }
wait_title() { e2e_wait_app_title "$APP" "$1" "$2"; }  # regex seconds

tray_icon() { e2e_tray_icon_window; }
icon_image() { xwd -id "$(tray_icon)" -silent | md5sum | cut -c1-32; }
# The icon's images over 4 s, one per line.
icon_images() { local i; for i in $(seq 16); do icon_image; sleep 0.25; done; }

open_tray_menu() {
  e2e_tray_menu_open "$(tray_icon)" || e2e_fail "the tray menu did not open"
  MENU=$E2E_MENU_WINDOW
  MENU_HEIGHT=$(xwininfo -id "$MENU" | awk '/Height:/{print $2}')
}

choose_clock_item() {  # the last item of the menu: Start or Stop
  e2e_tray_menu_choose "$(tray_icon)" -1 || e2e_fail "could not choose the clock item"
}

wait_status() {  # python condition over d, seconds
  e2e_wait "$2" bash -c "curl -s ${BASE}__status | python3 -c 'import json,sys; d=json.load(sys.stdin); sys.exit(0 if ($1) else 1)'"
}

# ---- (a) start-up posts the password; the timer page shows ---------------------------------
e2e_start_demo
A="$E2E_TMP/a"; mkdir -p "$A"
printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' "$BASE" >"$A/ChronelGui.ini"
start_app "$A"
wait_status 'any(r["method"]=="GET" and r["target"].startswith("/time_log.php") and r["user"]=="demo" for r in d["requests"])' 30 \
  || e2e_fail "(a) timer page not shown: $(status)"
post=$(status_py '[ (r["target"], r["content_type"], r["body"]) for r in d["requests"] if r["method"]=="POST"][0]')
[ "$post" = "('/index.php?mobile=1&username_or_email=demo&goto=time_log.php%3Fsmallbtn=1', 'application/x-www-form-urlencoded', 'pw=demo')" ] \
  || e2e_fail "(a) login post: $post"
e2e_log "(a) login ok"

# ---- tray: icon docked, menu, hide to tray, double click -----------------------------------
e2e_wait 10 bash -c "xwininfo -root -tree | grep -A3 '\"panel\": (\"panel\" \"trayer\")' | grep -q 'child'" \
  || e2e_fail "icon not docked in the tray"
open_tray_menu
FULL_MENU=$MENU_HEIGHT
e2e_screenshot "$E2E_TMP/tray-menu.png"
xdotool key Escape
sleep 0.3
# Hide to Tray is the first item.
open_tray_menu
e2e_tray_menu_pick 1 || e2e_fail "could not choose Hide to Tray"
hidden() { [ -z "$(main_window)" ]; }
end=$((SECONDS + 10)); until hidden; do [ $SECONDS -ge $end ] && e2e_fail "Hide to Tray left the window mapped"; sleep 0.2; done
open_tray_menu
[ "$MENU_HEIGHT" -lt "$FULL_MENU" ] || e2e_fail "menu still has Hide to Tray while hidden ($MENU_HEIGHT vs $FULL_MENU)"
xdotool key Escape
sleep 0.3
icon=$(tray_icon)
xdotool mousemove --window "$icon" 8 8 click --repeat 2 --delay 80 1
end=$((SECONDS + 10)); while hidden; do [ $SECONDS -ge $end ] && e2e_fail "double click did not bring the window back"; sleep 0.2; done
e2e_log "tray ok"

# ---- (c) start and stop from the tray menu -------------------------------------------------
steady=$(icon_image)
choose_clock_item
wait_status 'd["running"]' 15 || e2e_fail "(c) clock not started at the service"
wait_title '^(Working\.\.\.|0 min\.)$' 10 || e2e_fail "(c) title after start: $(title)"
wait_title '^0 min\.$' 10 || e2e_fail "(c) title not the running minutes: $(title)"
e2e_wait 10 grep -q 'Started Work @ ' "$E2E_TMP/notify.log" || e2e_fail "(c) no start notification"
grep -A3 'Started Work @ ' "$E2E_TMP/notify.log" | grep -q 'Website redesign' || e2e_fail "(c) start notification lacks the item"
# The icon blinks: two images, one of them the steady one.
images=$(icon_images | sort | uniq -c)
[ "$(echo "$images" | wc -l)" = 2 ] && echo "$images" | grep -q " $steady$" || e2e_fail "(c) the icon does not blink: $images"
open_tray_menu
e2e_screenshot "$E2E_TMP/tray-menu-running.png"
xdotool key Escape
sleep 0.3
choose_clock_item
wait_status 'not d["running"]' 15 || e2e_fail "(c) clock not stopped at the service"
wait_title '^Not working$' 10 || e2e_fail "(c) title after stop: $(title)"
# Steady again, also once the tray has been covered and uncovered.
sleep 0.5
xrefresh
images=$(icon_images | sort -u)
[ "$images" = "$steady" ] || e2e_fail "(c) the icon is not steady after the stop: $images"
e2e_wait 10 grep -Eq 'Stopped Work @ .* mins\)' "$E2E_TMP/notify.log" || e2e_fail "(c) no stop notification"
e2e_log "(c) start/stop ok"

# ---- (d) an outside link opens in the system's browser; the page stays ----------------------
requests_before=$(status_py 'len(d["requests"])')
win=$(main_window)
xdotool windowactivate --sync "$win" 2>/dev/null || true
# Focus the page, then Tab to the outside link (select, button, Reports, Web).
read -r WX WY WW WH < <(xwininfo -id "$win" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}')
xdotool mousemove $((WX + WW / 2)) $((WY + WH - 10)) click 1
sleep 0.3
xdotool key Tab Tab Tab Tab Return
e2e_wait 10 test -s "$E2E_TMP/opened.txt" || e2e_fail "(d) outside link not handed to the system browser"
grep -q '^https://www.example.com/' "$E2E_TMP/opened.txt" || e2e_fail "(d) opened: $(cat "$E2E_TMP/opened.txt")"
sleep 1
after=$(status_py '[r["target"] for r in d["requests"]]')
status_py 'd["requests"][-1]["target"]' | grep -q '^/time_log.php' || e2e_fail "(d) page moved: $after"
e2e_log "(d) outside link ok"

# ---- (e) a right click in the page opens the application menu -----------------------------
xdotool mousemove $((WX + WW / 2)) $((WY + WH - 10)) click 3
end=$((SECONDS + 10))
until MENU=$(_e2e_popup_windows "$APP" "$(tray_icon)" | awk 'NR == 1') && [ -n "$MENU" ]; do
  [ $SECONDS -ge $end ] && e2e_fail "(e) no menu on right click"
  sleep 0.2
done
h=$(xwininfo -id "$MENU" | awk '/Height:/{print $2}')
e2e_screenshot "$E2E_TMP/page-menu.png"
[ "$h" = "$FULL_MENU" ] || e2e_fail "(e) the page's menu is not the application menu (height $h, expected $FULL_MENU)"
xdotool key Escape
e2e_log "(e) page menu ok"

# ---- (f) closing while the clock runs asks; Yes stops it and ends the program ---------------
choose_clock_item
wait_status 'd["running"]' 15 || e2e_fail "(f) clock not started"
wmctrl -i -c "$(main_window)"
e2e_wait 10 bash -c "xdotool search --onlyvisible --name '^Time Clock Still Running\$'" || e2e_fail "(f) no question"
box=$(xdotool search --onlyvisible --name '^Time Clock Still Running$' | head -1)
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key Return   # Yes is the default button
wait_status 'not d["running"]' 15 || e2e_fail "(f) clock not stopped at the service"
e2e_wait_exit "$APP" 30 || e2e_fail "(f) program did not end"
[ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "(f) exit code $E2E_EXIT_CODE"
grep -q '^Password=qrzb' "$A/ChronelGui.ini" && grep -q '^AutoStopStartOnIdleTimeMinutes=' "$A/ChronelGui.ini" \
  || e2e_fail "(f) settings not written"
e2e_log "(f) exit while running ok"

# ---- (b) a refused posted password: the login form is filled and sent once ------------------
curl -s -d '' "${BASE}__reset" >/dev/null
curl -s -d '' "${BASE}__config?refuse_posted_password=1" >/dev/null
B="$E2E_TMP/b"; mkdir -p "$B"
printf '[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\n' "$BASE" >"$B/ChronelGui.ini"
start_app "$B"
wait_status 'any(e["kind"]=="login" and e["via"]=="form" for e in d["events"])' 30 || { status >"$E2E_TMP/status-b.json"; e2e_fail "(b) no form login"; }
sleep 3
n=$(status_py 'sum(1 for e in d["events"] if e["kind"]=="login" and e["via"]=="form")')
[ "$n" = 1 ] || e2e_fail "(b) form submitted $n times"
status_py '[e["result"] for e in d["events"] if e["kind"]=="login" and e["via"]=="form"][0]' | grep -q ok || e2e_fail "(b) form login failed"
# Exit from the tray menu ends the program and writes the settings.
e2e_tray_menu_choose "$(tray_icon)" 3 || e2e_fail "could not choose Exit"
e2e_wait_exit "$APP" 30 || e2e_fail "Exit did not end the program"
grep -q '^\[Form\]' "$B/ChronelGui.ini" && grep -q '^Top=' "$B/ChronelGui.ini" || e2e_fail "Exit did not write the settings"
e2e_log "(b) form login once ok; Exit ok"
echo "app: ok"
