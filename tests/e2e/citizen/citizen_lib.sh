#!/usr/bin/env bash
# Shared by the desktop-citizen end-to-end tests: the demo service, a
# settings file, starting the program and reading where its window is.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
SHIM=${3:-}
set +o pipefail  # "| head -1" ends its writers early

# write_ini FILE [KEY=VALUE...]: a settings file logging in to the service
# (or to nothing when BASE is unset), the extra keys under [Prefs]/[Form].
write_ini() {
  local file=$1; shift
  mkdir -p "$(dirname "$file")"
  { printf '[Form]\nRemoveFromTaskBar=0\n'
    local kv; for kv in "$@"; do case $kv in MinimizeOnClose=*|Top=*|Left=*) echo "$kv" ;; esac; done
    printf '[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\n' "${BASE:-http://127.0.0.1:9/}"
    for kv in "$@"; do case $kv in MinimizeOnClose=*|Top=*|Left=*) ;; *) echo "$kv" ;; esac; done
  } >"$file"
}

value_of() {  # file key
  grep -m1 "^$2=" "$1" | cut -d= -f2- | tr -d '\r'
}

# start_app NAME ARGS...: the program in the background; sets APP.
start_app() {
  local name=$1; shift
  e2e_spawn "$name" "$BIN" "$@"
  APP=$E2E_LAST_PID
}

# wait_mapped PID [SECS]: waits for the program's main window; sets WIN.
wait_mapped() {
  local end=$((SECONDS + ${2:-60}))
  WIN=""
  until WIN=$(e2e_app_main_window "$1") && [ -n "$WIN" ]; do
    [ $SECONDS -ge $end ] && return 1
    kill -0 "$1" 2>/dev/null || return 1
    sleep 0.3
  done
}

wait_unmapped() {  # PID [SECS]
  local end=$((SECONDS + ${2:-10}))
  while e2e_app_main_window "$1" >/dev/null; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}

# The service has shown the timer page to the logged-in user.
logged_in() {
  curl -sf --max-time 5 "${BASE}__status" | python3 -c '
import json, sys
d = json.load(sys.stdin)
sys.exit(0 if any(r["method"] == "GET" and r["target"].startswith("/time_log.php") and r["user"] == "demo"
                  for r in d["requests"]) else 1)'
}

service_running() {
  curl -sf --max-time 5 "${BASE}__status" | python3 -c 'import json,sys; sys.exit(0 if json.load(sys.stdin)["running"] else 1)'
}

# Outer top-left corner of a window, "X Y".
window_corner() {
  xwininfo -id "$1" -frame 2>/dev/null | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}'
}

# near A B: |A - B| within 40 pixels (frames and gravity differ a little).
near() {
  local d=$(($1 - $2)); [ ${d#-} -le 40 ]
}

# move_window WIN X Y: moves it and waits until the window manager did
# (a window just mapped may still be placed once more: move it again).
move_window() {
  local end=$((SECONDS + 15)) x y
  while :; do
    xdotool windowmove "$1" "$2" "$3"
    sleep 0.5
    read -r x y < <(window_corner "$1")
    near "$x" "$2" && near "$y" "$3" && return 0
    [ $SECONDS -ge $end ] && return 1
  done
}

# Icons of the program docked in the tray host.
tray_icon_count() {
  local panel socket client n=0
  panel=$(xwininfo -root -tree 2>/dev/null | awk '/\("panel" "trayer"\)/ {print $1; exit}')
  [ -n "$panel" ] || { echo 0; return; }
  for socket in $(xwininfo -id "$panel" -children 2>/dev/null | awk '/^ +0x[0-9a-f]+ .* [0-9]+x[0-9]+\+/ {print $1}'); do
    client=$(xwininfo -id "$socket" -children 2>/dev/null | awk '/^ +0x[0-9a-f]+ / {print $1; exit}')
    [ -n "$client" ] && xprop -id "$client" WM_CLASS 2>/dev/null | grep -qF '"ChronelGui"' && n=$((n + 1))
  done
  echo "$n"
}
