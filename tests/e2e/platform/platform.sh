#!/usr/bin/env bash
# Desktop services for real: window timers fire in real time, the taskbar
# hint reaches _NET_WM_STATE, a message box appears as a window and answers.
source "$(dirname "$0")/../lib.sh"
PROBE=$1
e2e_start_desktop

# Timers.
out=$(timeout 20 "$PROBE" timer) || e2e_fail "timer probe failed: $out"
ms=${out##*elapsed_ms=}
[ "$ms" -ge 450 ] || e2e_fail "five 100 ms ticks came after only $ms ms"
e2e_log "timer: $out"

# Taskbar hint.
e2e_spawn taskbar "$PROBE" taskbar
pid=$E2E_LAST_PID
e2e_wait 20 e2e_window_by_title "Platform Probe" || e2e_fail "probe window not mapped"
win=$(e2e_window_by_title "Platform Probe")
e2e_wait 5 bash -c "xprop -id $win _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR" \
  || e2e_fail "skip-taskbar hint missing: $(xprop -id "$win" _NET_WM_STATE)"
e2e_wait 10 grep -q shown "$E2E_TMP/taskbar.log" || e2e_fail "probe did not show the button again"
e2e_wait 5 bash -c "! xprop -id $win _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR" \
  || e2e_fail "skip-taskbar hint not removed"
kill "$pid"

# Message box: appears with its caption; Yes answers IDYES (6).
e2e_spawn msgbox "$PROBE" msgbox
pid=$E2E_LAST_PID
e2e_wait 20 e2e_window_by_title "Time Clock Still Running" || e2e_fail "message box not shown"
box=$(e2e_window_by_title "Time Clock Still Running")
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool key Return 2>/dev/null || true
e2e_wait_exit "$pid" 20 || e2e_fail "message box did not close"
grep -q "answer=6" "$E2E_TMP/msgbox.log" || e2e_fail "answer was $(cat "$E2E_TMP/msgbox.log")"
# Global hot key: delivered while another window has the focus; a second
# program cannot take the same combination; withdrawn means no delivery.
e2e_spawn hotkey "$PROBE" hotkey 6000
hk=$E2E_LAST_PID
e2e_wait 20 grep -q registered "$E2E_TMP/hotkey.log" || e2e_fail "hot key not registered: $(cat "$E2E_TMP/hotkey.log")"
rc=0; "$PROBE" hotkey >"$E2E_TMP/hotkey2.log" 2>&1 || rc=$?
[ "$rc" = 3 ] && grep -q refused "$E2E_TMP/hotkey2.log" || e2e_fail "second registration not refused (rc $rc)"
xdotool key alt+grave
e2e_wait 10 grep -q "hotkey id=0" "$E2E_TMP/hotkey.log" || e2e_fail "hot key not delivered"
e2e_wait 15 grep -q withdrawn "$E2E_TMP/hotkey.log" || e2e_fail "hot key not withdrawn"
n=$(grep -c "hotkey id=0" "$E2E_TMP/hotkey.log")
xdotool key alt+grave
sleep 1
[ "$(grep -c "hotkey id=0" "$E2E_TMP/hotkey.log")" = "$n" ] || e2e_fail "withdrawn hot key still delivered"
kill "$hk"
# Activation: what the program does when it gains or loses the activation
# reaches the server at once, though its loop then sleeps with no X event
# to wake it.
e2e_spawn other xlogo -geometry 100x100+600+400
e2e_wait 20 bash -c 'xdotool search --onlyvisible --class xlogo | grep -q .' || e2e_fail "xlogo not mapped"
other=$(xdotool search --onlyvisible --class xlogo | head -1)
# The mapped window of a probe process (earlier probes' windows may linger).
probe_window() { xdotool search --onlyvisible --pid "$1" | head -1; }
# opacity_is WIN VALUE: the property reads VALUE; "opaque" also where it is absent.
opacity_is() {
  local v
  v=$(xprop -id "$1" _NET_WM_WINDOW_OPACITY | sed -n 's/.* = //p')
  [ "$v" = "$2" ] || { [ "$2" = opaque ] && { [ -z "$v" ] || [ "$v" = 4294967295 ]; }; }
}
e2e_spawn activation "$PROBE" activation
e2e_wait 20 bash -c "xdotool search --onlyvisible --pid $E2E_LAST_PID | grep -q ." \
  || e2e_fail "activation probe not mapped"
probe=$(probe_window "$E2E_LAST_PID")
# activated WIN OPACITY (as the property reads)
activated() {
  wmctrl -i -a "$1"
  e2e_wait 5 opacity_is "$probe" "$2" || e2e_fail "after activating $1: $(xprop -id "$probe" _NET_WM_WINDOW_OPACITY)"
}
activated "$probe" opaque
for round in 1 2 3; do
  activated "$other" 2147483648
  activated "$probe" 4294967295
done
kill "$E2E_LAST_PID"
e2e_spawn beat "$PROBE" activation beat
e2e_wait 20 bash -c "xdotool search --onlyvisible --pid $E2E_LAST_PID | grep -q ." \
  || e2e_fail "beat probe not mapped"
probe=$(probe_window "$E2E_LAST_PID")
e2e_wait 5 opacity_is "$probe" 1073741824 \
  || e2e_fail "the opacity set from a timer did not reach the server: $(xprop -id "$probe" _NET_WM_WINDOW_OPACITY)"
kill "$E2E_LAST_PID"
echo "platform: ok"
