#!/usr/bin/env bash
# CPU time of the tray probe on a real desktop (Xvfb, openbox, XEmbed tray
# host) over a stretch of wall time: once with the icon still, once with it
# cycling through the clock images every second.
#   cycle_cpu.sh PATH/TO/tray_probe [SECONDS]
source "$(dirname "$0")/../../tests/e2e/lib.sh"
PROBE=$1
SECS=${2:-60}
HZ=$(getconf CLK_TCK)

# utime + stime of a process, in clock ticks.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }

e2e_start_desktop tray
for p in "${E2E_PIDS[@]}"; do
  [ "$(cat /proc/$p/comm 2>/dev/null)" = trayer ] && tray_pid=$p
done

measure() {
  local mode=$1; shift
  e2e_spawn "probe-$mode" "$PROBE" "$@"
  local pid=$E2E_LAST_PID
  e2e_wait 20 grep -qx ready "$E2E_TMP/probe-$mode.log" || e2e_fail "probe did not start"
  sleep 5  # past start-up and docking
  local p0 t0 p1 t1
  p0=$(cpu_ticks "$pid"); t0=$(cpu_ticks "$tray_pid")
  sleep "$SECS"
  p1=$(cpu_ticks "$pid"); t1=$(cpu_ticks "$tray_pid")
  kill "$pid"; wait "$pid" 2>/dev/null || true
  awk -v m="$mode" -v s="$SECS" -v hz="$HZ" -v p=$((p1 - p0)) -v t=$((t1 - t0)) 'BEGIN {
    printf "%-8s probe %.2f s CPU in %d s (%.3f%%)   tray host %.2f s\n", m, p / hz, s, 100 * p / hz / s, t / hz }'
}

measure still
measure cycling --cycle
