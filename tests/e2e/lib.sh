#!/usr/bin/env bash
# Shared set-up for end-to-end tests: a private X server (Xvfb) with a window
# manager, a session bus and, on request, a tray host and a notification
# server. Source it, call e2e_start_desktop [tray] [notify] [nowm] (nowm: no
# window manager), and everything started is stopped on exit.
set -euo pipefail

E2E_PIDS=()
E2E_TMP=$(mktemp -d /tmp/chronel-e2e.XXXXXX)
# Every process the test starts inherits it: e2e_ours tells them apart.
export E2E_TMP
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu --disable-background-networking --disable-component-update}"
export LIBGL_ALWAYS_SOFTWARE=1
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

e2e_log() { echo "[e2e $(date +%H:%M:%S)] $*" >&2; }

# True when PID is a live process that this test started. Process numbers
# wrap quickly on a busy machine: the number of one that has ended may
# already belong to another test's X server.
e2e_ours() {
  { tr '\0' '\n' <"/proc/$1/environ"; } 2>/dev/null | grep -qxF "E2E_TMP=$E2E_TMP"
}

# Sends a signal to those of the given processes that are ours: e2e_kill SIG PID...
e2e_kill() {
  local sig=$1 p; shift
  for p in "$@"; do
    if e2e_ours "$p"; then kill "-$sig" "$p" 2>/dev/null || true; fi
  done
}

# E2E_PIDS, last started first.
_e2e_pids_reversed() {
  local i
  for ((i=${#E2E_PIDS[@]}-1; i>=0; i--)); do echo "${E2E_PIDS[$i]}"; done
}

e2e_cleanup() {
  local rc=$?
  e2e_kill TERM $(_e2e_pids_reversed)
  sleep 0.3
  e2e_kill KILL $(_e2e_pids_reversed)
  if [ "$rc" -ne 0 ] && [ -d "$E2E_TMP" ]; then
    e2e_log "failed; logs kept in $E2E_TMP"
    for f in "$E2E_TMP"/*.log; do [ -f "$f" ] && { echo "--- $f"; tail -30 "$f"; } >&2; done
  else
    rm -rf "$E2E_TMP"
  fi
  exit "$rc"
}
trap e2e_cleanup EXIT

e2e_fail() { e2e_log "FAIL: $*"; exit 1; }

# Waits until a command succeeds: e2e_wait SECONDS CMD...
e2e_wait() {
  local secs=$1; shift
  local end=$((SECONDS + secs))
  while ! "$@" >/dev/null 2>&1; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}

e2e_start_desktop() {
  local want_tray=0 want_notify=0 want_wm=1
  for a in "$@"; do
    case $a in tray) want_tray=1 ;; notify) want_notify=1 ;; nowm) want_wm=0 ;; esac
  done
  # The server picks a free display number itself and reports it.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$E2E_TMP/display" >"$E2E_TMP/xvfb.log" 2>&1 &
  E2E_PIDS+=($!)
  e2e_wait 20 test -s "$E2E_TMP/display" || e2e_fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$E2E_TMP/display" | tr -d '[:space:]')"
  e2e_wait 20 xdpyinfo -display "$DISPLAY" || e2e_fail "Xvfb did not answer on $DISPLAY"
  # Session bus for this desktop only.
  eval "$(dbus-launch --sh-syntax)"
  E2E_PIDS+=("$DBUS_SESSION_BUS_PID")
  export XDG_RUNTIME_DIR="$E2E_TMP/run"; mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  # The window manager and the tray host now and then fail their first
  # connection to a fresh server ("cannot open display"); try again.
  [ $want_wm = 1 ] && _e2e_start_retrying openbox \
    'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' openbox --sm-disable
  [ $want_tray = 1 ] && _e2e_start_retrying trayer 'xwininfo -root -tree | grep -qi trayer' \
    trayer --edge top --align right --widthtype pixel --width 120 --height 24 --transparent false \
    && { e2e_wait 10 bash -c 'xprop -root | grep -q _NET_SYSTEM_TRAY' || true; }
  if [ $want_notify = 1 ]; then
    dunst >"$E2E_TMP/dunst.log" 2>&1 &
    E2E_PIDS+=($!)
    e2e_wait 10 dbus-send --session --print-reply --dest=org.freedesktop.Notifications \
      /org/freedesktop/Notifications org.freedesktop.Notifications.GetServerInformation \
      || e2e_fail "notification server did not start"
  fi
}

# _e2e_start_retrying NAME CHECK CMD...: starts CMD until CHECK (a shell line) holds, three tries.
_e2e_start_retrying() {
  local name=$1 check=$2 try; shift 2
  for try in 1 2 3; do
    "$@" >"$E2E_TMP/$name.log" 2>&1 &
    E2E_PIDS+=($!)
    e2e_wait 10 bash -c "$check" && return 0
    [ $try = 3 ] && e2e_fail "$name did not start: $(tail -3 "$E2E_TMP/$name.log")"
    e2e_log "$name did not start (try $try); again"
  done
}

# Starts a program in the background, logging to $E2E_TMP/<name>.log; sets E2E_LAST_PID.
e2e_spawn() {
  local name=$1; shift
  "$@" >"$E2E_TMP/$name.log" 2>&1 &
  E2E_LAST_PID=$!
  E2E_PIDS+=("$E2E_LAST_PID")
}

# Window id of the first visible window with exactly this title.
e2e_window_by_title() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1
}

# Waits for a child process to end; sets E2E_EXIT_CODE. Fails on time-out.
e2e_wait_exit() {
  local pid=$1 secs=$2
  local end=$((SECONDS + secs))
  while kill -0 "$pid" 2>/dev/null; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
  E2E_EXIT_CODE=0
  wait "$pid" || E2E_EXIT_CODE=$?
}

e2e_screenshot() {
  import -display "$DISPLAY" -window root "$1" 2>/dev/null || xwd -root -display "$DISPLAY" -silent | convert xwd:- "$1"
}
