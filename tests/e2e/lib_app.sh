#!/usr/bin/env bash
# Helpers for driving the real program on the private desktop of lib.sh:
# its windows, its tray icon and menu, and the demo service's status.
# Source lib.sh first, then this file. Every helper returns non-zero (with a
# message on stderr where it waited) instead of ending the script, so the
# caller decides between e2e_fail and a retry.
#
#   e2e_window_pid WIN                 _NET_WM_PID of a window
#   e2e_app_main_window PID            the program's mapped top-level window
#   e2e_window_title WIN               its title
#   e2e_tray_icon_window [CLASS] [PID] an icon docked in the tray host
#   e2e_tray_menu_open ICON [SECS]     right-clicks the icon, waits for its menu
#   e2e_tray_menu_pick N [SECS]        activates item N of the open menu
#   e2e_tray_menu_choose ICON N [SECS] both of the above
#   e2e_start_demo [ARGS...]           the demo service on a free port: PORT, BASE, DEMO_PID
#   e2e_demo_status BASE               the demo service's /__status
#   e2e_demo_count BASE ERE            status lines matching ERE
#   e2e_demo_wait BASE SECS ERE [MIN]  waits for MIN (1) such lines
#   e2e_demo_running BASE              succeeds while any clock runs
#   e2e_process_tree PID               PID and its descendants
#   e2e_renderers PID                  the engine's page processes among them
#   e2e_free_port                      a port on 127.0.0.1 that nothing listens on
#   e2e_page_eval DEVTOOLS_PORT EXPR   a script expression's value in the pages a program shows
#   e2e_page_text DEVTOOLS_PORT        the text of the pages a program shows
#
# Menu items are numbered the way the keyboard walks them: N counts the
# shown, enabled items from the top starting at 1; separators and hidden
# items do not count. A negative N counts from the bottom (-1 is the last
# item). For the program's tray menu with its window shown that is
# 1 Hide to Tray, 2 Preferences, 3 Exit, 4 Start/Stop (also -1); with the
# window hidden "Hide to Tray" is not shown, so Start/Stop is 3 (still -1).

# _NET_WM_PID of a window; empty when it has none.
e2e_window_pid() {
  xprop -id "$1" _NET_WM_PID 2>/dev/null | awk '/= [0-9]+$/ {print $3}'
}

# Lines "Map State" and "Override Redirect State" of a window as "viewable,override".
_e2e_window_state() {
  xwininfo -id "$1" 2>/dev/null | awk '
    /Map State:/ {m = $3}
    /Override Redirect State:/ {o = $4}
    END {print (m == "IsViewable" ? "viewable" : "hidden") "," (o == "yes" ? "override" : "managed")}'
}

# The first mapped, window-managed, ordinary window of a process: with a
# settings file present that is the main window (dialogs have another type).
e2e_app_main_window() {
  local w
  for w in $(xdotool search --all --onlyvisible --pid "$1" 2>/dev/null); do
    [ "$(_e2e_window_state "$w")" = viewable,managed ] || continue
    xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q '_NET_WM_WINDOW_TYPE_NORMAL' || continue
    echo "$w"
    return 0
  done
  return 1
}

e2e_window_title() {
  xdotool getwindowname "$1" 2>/dev/null
}

# Window id of an icon docked in trayer's "panel": the client window the
# tray host embedded. With CLASS, only an icon whose WM_CLASS has that part
# (e.g. ChronelGui); without, the first one. With PID too, only an icon of
# that process (two instances of one program side by side).
e2e_tray_icon_window() {
  local class=${1:-} pid=${2:-} panel socket client
  panel=$(xwininfo -root -tree 2>/dev/null | awk '/\("panel" "trayer"\)/ {print $1; exit}')
  [ -n "$panel" ] || return 1
  # The tray host puts each icon into a socket window of its own.
  for socket in $(xwininfo -id "$panel" -children 2>/dev/null | awk '/^ +0x[0-9a-f]+ .* [0-9]+x[0-9]+\+/ {print $1}'); do
    client=$(xwininfo -id "$socket" -children 2>/dev/null | awk '/^ +0x[0-9a-f]+ / {print $1; exit}')
    [ -n "$client" ] || continue
    if [ -n "$class" ]; then
      xprop -id "$client" WM_CLASS 2>/dev/null | grep -qF "\"$class\"" || continue
    fi
    if [ -n "$pid" ]; then
      [ "$(e2e_window_pid "$client")" = "$pid" ] || continue
    fi
    echo "$client"
    return 0
  done
  return 1
}

# Mapped override-redirect windows of a process other than EXCEPT and its
# tool tips: the open pop-up menus.
_e2e_popup_windows() {
  local pid=$1 except=$2 w
  for w in $(xdotool search --all --onlyvisible --pid "$pid" 2>/dev/null); do
    [ "$((w))" = "$((except))" ] && continue
    [ "$(_e2e_window_state "$w")" = viewable,override ] || continue
    xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q TOOLTIP && continue
    echo "$w"
  done
  return 0
}

# Right-clicks a tray icon and waits until its menu is mapped; sets
# E2E_MENU_WINDOW and E2E_MENU_PID. The pointer stays where it clicked, so
# the menu opens with no item active and the keyboard starts from the edge.
e2e_tray_menu_open() {
  local icon=$1 secs=${2:-15} pid end click_at
  pid=$(e2e_window_pid "$icon")
  [ -n "$pid" ] || { echo "tray icon $icon: no such window or no process id" >&2; return 1; }
  end=$((SECONDS + secs))
  E2E_MENU_WINDOW=""
  while [ -z "$E2E_MENU_WINDOW" ]; do
    [ $SECONDS -ge $end ] && { echo "tray menu of $icon did not open within ${secs}s" >&2; return 1; }
    xdotool mousemove --window "$icon" 5 5 click 3 2>/dev/null || true
    # A click that landed while the icon was still settling is repeated.
    click_at=$SECONDS
    while [ -z "$E2E_MENU_WINDOW" ] && [ $((SECONDS - click_at)) -lt 3 ] && [ $SECONDS -lt $end ]; do
      sleep 0.1
      E2E_MENU_WINDOW=$(_e2e_popup_windows "$pid" "$icon" | awk 'NR == 1')
    done
  done
  E2E_MENU_PID=$pid
  # Give the menu its keyboard grab before keys arrive.
  sleep 0.3
}

# Activates item N (see the top of this file) of the menu that
# e2e_tray_menu_open opened, and waits for the menu to close.
e2e_tray_menu_pick() {
  local n=$1 secs=${2:-10} key count end
  [ -n "${E2E_MENU_WINDOW:-}" ] || { echo "no tray menu open" >&2; return 1; }
  if [ "$n" -gt 0 ]; then key=Down; count=$n
  elif [ "$n" -lt 0 ]; then key=Up; count=$((-n))
  else echo "menu item 0 does not exist; items count from 1 (or from -1 at the bottom)" >&2; return 1
  fi
  local keys=() k
  for ((k = 0; k < count; k++)); do keys+=("$key"); done
  xdotool key --delay 40 "${keys[@]}" Return
  end=$((SECONDS + secs))
  while [ "$(_e2e_window_state "$E2E_MENU_WINDOW")" = viewable,override ]; do
    [ $SECONDS -ge $end ] && { echo "tray menu stayed open after choosing item $n" >&2; return 1; }
    sleep 0.1
  done
  E2E_MENU_WINDOW=""
}

e2e_tray_menu_choose() {
  e2e_tray_menu_open "$1" "${3:-15}" && e2e_tray_menu_pick "$2" "${3:-15}"
}

# The status JSON of the demo service at BASE (ends in /). It writes one
# request or event a line, so line-wise patterns select them.
e2e_start_demo() {
  e2e_spawn demo "$DEMO" --port 0 "$@"
  DEMO_PID=$E2E_LAST_PID
  e2e_wait 10 grep -q '^PORT ' "$E2E_TMP/demo.log" || e2e_fail "demo service did not start: $(cat "$E2E_TMP/demo.log")"
  PORT=$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/demo.log")
  BASE="http://127.0.0.1:$PORT/"
}

e2e_demo_status() {
  curl -sf --max-time 5 "${1}__status"
}

e2e_demo_count() {
  local status
  status=$(e2e_demo_status "$1") || { echo 0; return 1; }
  grep -cE -- "$2" <<<"$status" || true
}

e2e_demo_wait() {
  local base=$1 secs=$2 ere=$3 min=${4:-1} end n
  end=$((SECONDS + secs))
  while :; do
    n=$(e2e_demo_count "$base" "$ere" 2>/dev/null) || n=0
    [ "$n" -ge "$min" ] && return 0
    [ $SECONDS -ge $end ] && { echo "demo service: no $min line(s) matching $ere within ${secs}s" >&2; return 1; }
    sleep 0.2
  done
}

e2e_demo_running() {
  e2e_demo_status "$1" | grep -q '^{"running":true'
}

# A process and all its descendants, one id a line, from /proc.
e2e_process_tree() {
  local pids=("$1") out=() p
  while [ ${#pids[@]} -gt 0 ]; do
    p=${pids[0]}; pids=("${pids[@]:1}")
    [ -d "/proc/$p" ] || continue
    out+=("$p")
    # Children of every thread; the file exists on all current kernels.
    pids+=($(cat /proc/"$p"/task/*/children 2>/dev/null))
  done
  printf '%s\n' "${out[@]}"
}

# The engine's page (renderer) processes in the tree of PID, one a line.
e2e_renderers() {
  local p
  for p in $(e2e_process_tree "$1"); do
    tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -q -- '--type=renderer' && echo "$p"
  done
  return 0
}

# Records every notification sent on the session bus in $E2E_TMP/notify.log.
e2e_record_notifications() {
  dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'" >"$E2E_TMP/notify.log" 2>&1 &
  E2E_PIDS+=($!)
}

# Title of program PID's main window; empty while none is shown.
e2e_app_title() {
  xdotool getwindowname "$(e2e_app_main_window "$1" || true)" 2>/dev/null
}

# Waits until that title matches: e2e_wait_app_title PID REGEX SECONDS
e2e_wait_app_title() {
  local end=$((SECONDS + $3))
  until e2e_app_title "$1" | grep -Eq "$2"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}

# A port on 127.0.0.1 that nothing listens on now.
e2e_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The value of a script expression in each page a program shows (a string
# as it is, anything else as JSON), read through the browser engine's
# remote debugging: start the program with QTWEBENGINE_REMOTE_DEBUGGING set
# to 127.0.0.1:DEVTOOLS_PORT. Fails when the engine does not answer.
e2e_page_eval() {
  /usr/bin/python3 - "$1" "$2" <<'PY'
import json, sys, urllib.request
import websocket  # python3-websocket

port, expression = sys.argv[1], sys.argv[2]
with urllib.request.urlopen(f"http://127.0.0.1:{port}/json", timeout=5) as answer:
    targets = [t for t in json.load(answer) if t.get("type") == "page" and t.get("webSocketDebuggerUrl")]
if not targets:
    sys.exit("no page to read")
for target in targets:
    ws = websocket.create_connection(target["webSocketDebuggerUrl"], timeout=10, suppress_origin=True)
    try:
        ws.send(json.dumps({"id": 1, "method": "Runtime.evaluate",
                            "params": {"expression": expression, "returnByValue": True}}))
        reply = {}
        while reply.get("id") != 1:  # events may come first
            reply = json.loads(ws.recv())
    finally:
        ws.close()
    value = reply.get("result", {}).get("result", {}).get("value", "")
    print(value if isinstance(value, str) else json.dumps(value))
PY
}

# The text of the pages a program shows (document.body.innerText).
e2e_page_text() {
  e2e_page_eval "$1" "document.body ? document.body.innerText : ''"
}

# The program's trace marks (CHRONEL_TRACE_MARKS=1) in its log $LOG, and a
# bounded wait for the COUNTth mark NAME; the wait ends early when $APP ended.
marks() { grep -c "^chronel-mark $1 " "$LOG" || true; }
wait_mark() {  # NAME COUNT SECONDS
  local end=$((SECONDS + $3))
  until [ "$(marks "$1")" -ge "$2" ]; do
    [ $SECONDS -ge $end ] && return 1
    kill -0 "$APP" 2>/dev/null || e2e_fail "the program ended: $(tail -5 "$LOG")"
    sleep 0.2
  done
}
