#!/usr/bin/env bash
# ChronelGui beside its floors: start-up, memory and idle cost, in one run.
#   bench/lean/run.sh [BUILD_DIR] [--rounds N] [--idle-seconds S] [--pss-at S] [--short]
#                       [--hidden-seconds S] [--hidden-rounds N]
#                       [--trace] [--only KIND,...]   (KIND: web tray stopped running)
# Runs, interleaved, a bare browser view loading a local page, a bare widget
# with a tray icon and a one-second title timer, and ChronelGui against the
# demo service with its clock stopped and running; ChronelGui then also
# hidden in the tray (memory, and a tray-menu click to the service's record).
# Prints the figures as median [min-max] and their ratios to the floors.
# See README.md beside it.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build
ROUNDS=5 IDLE_SECS=60 PSS_AT=15 WARMUP=1 TRACE=0 ONLY="" SETTLE_SECS=2
HIDDEN_SECS=120 HIDDEN_ROUNDS=2 HIDDEN_SET=0 SHORT=0
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) ROUNDS=$2; shift 2 ;;
    --idle-seconds) IDLE_SECS=$2; shift 2 ;;
    --pss-at) PSS_AT=$2; shift 2 ;;
    --short) ROUNDS=1 IDLE_SECS=5 PSS_AT=5 WARMUP=0 SETTLE_SECS=0 SHORT=1; shift ;;
    --hidden-seconds) HIDDEN_SECS=$2 HIDDEN_SET=1; shift 2 ;;
    --hidden-rounds) HIDDEN_ROUNDS=$2; shift 2 ;;
    --trace) TRACE=1; shift ;;
    --only) ONLY=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) BUILD=$(cd "$1" && pwd); shift ;;
  esac
done
for v in "$ROUNDS" "$IDLE_SECS" "$PSS_AT" "$HIDDEN_SECS" "$HIDDEN_ROUNDS"; do
  [[ $v =~ ^[0-9]+$ ]] || { echo "not a whole number of seconds or rounds: $v" >&2; exit 2; }
done
# CI's short run stays short: the hidden phase only when asked for.
[ "$SHORT" = 1 ] && [ "$HIDDEN_SET" = 0 ] && HIDDEN_SECS=0
[ "$HIDDEN_SECS" = 0 ] && HIDDEN_ROUNDS=0
APP_BIN=$BUILD/bin/ChronelGui
SERVICE=$BUILD/tools/demo-service/chronel-demo-service
FLOOR_WEB=$BUILD/bench/lean/lean_floor_web
FLOOR_TRAY=$BUILD/bench/lean/lean_floor_tray
MAP_WATCH=$BUILD/bench/lean/lean_map_watch
for f in "$APP_BIN" "$SERVICE" "$FLOOR_WEB" "$FLOOR_TRAY" "$MAP_WATCH"; do
  [ -x "$f" ] || { echo "missing $f; build the target bench_lean_programs first" >&2; exit 2; }
done

source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/lib_app.sh"
set +o pipefail  # "grep -q" ends its writers early

# No window manager: the map is the program's own, not a manager's reparenting.
e2e_start_desktop tray notify nowm
export HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" XDG_CACHE_HOME="$E2E_TMP/home/cache"
export XDG_CONFIG_HOME="$E2E_TMP/home/config"
mkdir -p "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_CONFIG_HOME"
export CHRONEL_TRACE_MARKS=1

e2e_spawn service "$SERVICE" --port 0
e2e_wait 20 grep -q '^PORT ' "$E2E_TMP/service.log" || e2e_fail "demo service did not start"
BASE="http://127.0.0.1:$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/service.log")/"

# Every top-level map, stamped by the X server's own notice.
MAPS=$E2E_TMP/maps.log
"$MAP_WATCH" >"$MAPS" 2>"$E2E_TMP/map_watch.err" &
E2E_PIDS+=($!)
e2e_wait 10 grep -qx ready "$MAPS" || e2e_fail "the map watcher did not start"

DIR="$E2E_TMP/app"; mkdir -p "$DIR"
cp "$APP_BIN" "$DIR/ChronelGui"
PAGE="$E2E_TMP/floor.html"
cp "$HERE/floor.html" "$PAGE"

now_us() { echo "${EPOCHREALTIME/[.,]/}"; }  # the locale's decimal sign

# One line per thread of the tree: "tid cpu-nanoseconds voluntary-switches
# process:thread" (names without blanks).
tree_threads() {
  local p t ns rest vcs pname tname
  for p in $(e2e_process_tree "$1"); do
    pname=$(tr -d ' ' <"/proc/$p/comm" 2>/dev/null) || continue
    for t in /proc/"$p"/task/*; do
      read -r ns rest <"$t/schedstat" 2>/dev/null || continue
      vcs=$(awk '/^voluntary_ctxt_switches:/ {print $2}' "$t/status" 2>/dev/null) || continue
      tname=$(tr -d ' ' <"$t/comm" 2>/dev/null) || continue
      echo "${t##*/} $ns ${vcs:-0} $pname:$tname"
    done
  done
}
# With --trace: where the idle window's CPU and wakeups went, per thread.
threads_detail() {
  awk 'NR == FNR { ns[$1] = $2; vcs[$1] = $3; next }
       { c = ($2 - ns[$1]) / 1e6; w = $3 - vcs[$1]; if (c >= 0.05 || w > 0) printf "    %-40s %8.1f ms %6d wakeups\n", $4, c, w }' "$1" "$2" |
    sort -k3 -g -r >&2
}
# "cpu-ms switches" spent between two snapshots; a thread new since the first
# counts whole, one that ended in between is lost.
threads_between() {
  awk 'NR == FNR { ns[$1] = $2; vcs[$1] = $3; next }
       { cpu += $2 - ns[$1]; sw += $3 - vcs[$1] }
       END { printf "%.1f %d\n", cpu / 1e6, sw }' "$1" "$2"
}
# PSS of the tree in MB (1 MB = 1024 kB, as the kernel counts).
tree_pss() {
  local p sum=0 v
  for p in $(e2e_process_tree "$1"); do
    v=$(awk '/^Pss:/ {print $2; exit}' "/proc/$p/smaps_rollup" 2>/dev/null) || continue
    sum=$((sum + ${v:-0}))
  done
  awk -v k="$sum" 'BEGIN { printf "%.1f", k / 1024 }'
}

stop_tree() {
  local pid=$1 p tree
  tree=$(e2e_process_tree "$pid")
  kill "$pid" 2>/dev/null || true
  e2e_wait_exit "$pid" 10 || true
  e2e_kill KILL $tree
  wait "$pid" 2>/dev/null || true
}

# ms from T0 to the first map of a top-level window (larger than a tray
# icon) of process $1; empty if none within the deadline.
wait_map() {
  local pid=$1 end=$((SECONDS + 60)) stamp
  while [ $SECONDS -lt $end ]; do
    stamp=$(awk -v p="$pid" -v t0="$T0" '$3 == p && $1 >= t0 { split($4, s, "x"); if (s[1] > 32 || s[2] > 32) { print $1; exit } }' "$MAPS")
    [ -n "$stamp" ] && { echo $(((stamp - T0) / 1000)); return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}
# ms from T0 to the program's mark $2 in log $1.
wait_mark() {
  local log=$1 name=$2 pid=$3 end=$((SECONDS + 60)) stamp
  while [ $SECONDS -lt $end ]; do
    stamp=$(awk -v n="$name" '$1 == "chronel-mark" && $2 == n { print $3; exit }' "$log")
    [ -n "$stamp" ] && { echo $(((stamp - T0) / 1000)); return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}

start_clock() {
  local pid=$1 icon
  e2e_wait 20 e2e_tray_icon_window ChronelGui "$pid" || e2e_fail "ChronelGui's tray icon did not dock"
  icon=$(e2e_tray_icon_window ChronelGui "$pid")
  e2e_tray_menu_choose "$icon" -1 || e2e_fail "could not choose the clock item in the tray menu"
  e2e_demo_wait "$BASE" 20 '"kind":"start"' || e2e_fail "the service saw no start"
  e2e_demo_running "$BASE" || e2e_fail "the service's clock does not run after the start"
}

# True once window $1 is no longer mapped (or gone).
window_unmapped() {
  ! xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# ChronelGui (pid $2, kind $1, log $3) hidden to the tray for HIDDEN_SECS:
# sets HIDDEN_PSS, the tree's PSS at the end, and CLICK_MS, from the press of
# the tray menu's clock item to the service's record of the start or stop.
hidden_phase() {
  local kind=$1 pid=$2 log=$3 icon win hidden_at ere what n0 click at r
  icon=$(e2e_tray_icon_window ChronelGui "$pid") || e2e_fail "$kind: ChronelGui's tray icon is not docked"
  win=$(e2e_app_main_window "$pid") || e2e_fail "$kind: the main window is not shown before hiding it"
  e2e_tray_menu_choose "$icon" 1 || e2e_fail "$kind: could not choose Hide to Tray in the tray menu"
  e2e_wait 10 window_unmapped "$win" ||
    e2e_fail "$kind: the main window is still mapped 10 s after Hide to Tray"
  hidden_at=$(now_us)
  sleep "$HIDDEN_SECS"
  kill -0 "$pid" 2>/dev/null || e2e_fail "$kind: ChronelGui ended while hidden; see $log"
  ! e2e_app_main_window "$pid" >/dev/null || e2e_fail "$kind: the main window came back while hidden"
  HIDDEN_PSS=$(tree_pss "$pid")
  if [ "$TRACE" = 1 ]; then
    r=$(e2e_renderers "$pid" | paste -sd, -)
    echo "    after ${HIDDEN_SECS} s hidden: PSS $HIDDEN_PSS MB, renderer process in the tree: $([ -n "$r" ] && echo "yes (pid $r)" || echo no)" >&2
  fi

  # Stopped: the click starts the clock; running: it stops it.
  if [ "$kind" = running ]; then
    ere='"kind":"stop"' what=stop
    e2e_demo_running "$BASE" || e2e_fail "$kind: the service's clock no longer runs before the click"
  else
    ere='"kind":"start"' what=start
    ! e2e_demo_running "$BASE" || e2e_fail "$kind: the service's clock runs before the click"
  fi
  n0=$(e2e_demo_count "$BASE" "$ere") || e2e_fail "$kind: the demo service does not answer"
  e2e_tray_menu_open "$icon" || e2e_fail "$kind: the tray menu did not open while hidden"
  # Up from no active item reaches the last item, Start/Stop; the stamp is
  # taken right before the key that activates it.
  xdotool key Up
  sleep 0.2
  click=$(now_us)
  xdotool key Return
  e2e_wait 10 window_unmapped "$E2E_MENU_WINDOW" ||
    e2e_fail "$kind: the tray menu stayed open after choosing Start/Stop"
  E2E_MENU_WINDOW=""
  e2e_demo_wait "$BASE" 30 "$ere" $((n0 + 1)) ||
    e2e_fail "$kind: the service recorded no $what within 30 s of the tray-menu click while hidden"
  at=$(e2e_demo_status "$BASE" | grep -E -- "$ere" | sed -n "$((n0 + 1))p" | grep -o '"at_us":[0-9]*' | cut -d: -f2)
  [ -n "$at" ] || e2e_fail "the service's $what event carries no at_us; rebuild chronel-demo-service"
  [ "$at" -ge "$click" ] || e2e_fail "$kind: the service's $what was recorded before the click"
  CLICK_MS=$(((at - click) / 1000))
  if [ "$kind" = running ]; then
    ! e2e_demo_running "$BASE" || e2e_fail "$kind: the service's clock still runs after the stop"
  else
    e2e_demo_running "$BASE" || e2e_fail "$kind: the service's clock does not run after the start"
  fi
  if [ "$TRACE" = 1 ]; then
    echo "    marks after the hide, in ms after it (the click at $(((click - hidden_at) / 1000)) ms):" >&2
    awk -v h="$hidden_at" '$1 == "chronel-mark" && $3 >= h { printf "      %-18s %8d ms\n", $2, ($3 - h) / 1000 }' "$log" >&2
    echo "    tray-menu click -> the service's $what: $CLICK_MS ms" >&2
  fi
}

# Runs one program once; with "measure" appends its figures to the results.
# Kinds: web, tray, stopped, running.
run_one() {
  local kind=$1 round=$2 measure=${3:-measure} log pid map="" page="" pss a b cpu sw
  log="$E2E_TMP/$kind.$round.log"
  case $kind in
    stopped|running)
      # "Remove from task bar" ticked, as by default: Hide to Tray then withdraws
      # the window; unticked it would iconify it, which needs a window manager.
      printf '[Form]\nRemoveFromTaskBar=1\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\n' "$BASE" >"$DIR/ChronelGui.ini"
      curl -sf --max-time 5 -d '' "${BASE}__reset" >/dev/null || e2e_fail "could not reset the demo service" ;;
  esac
  T0=$(now_us)
  case $kind in
    web) "$FLOOR_WEB" "$PAGE" >"$log" 2>&1 & ;;
    tray) "$FLOOR_TRAY" >"$log" 2>&1 & ;;
    *) "$DIR/ChronelGui" >"$log" 2>&1 & ;;
  esac
  pid=$!
  E2E_PIDS+=("$pid")
  map=$(wait_map "$pid") || e2e_fail "$kind (round $round): no window mapped within 60 s; see $log"
  case $kind in
    web) page=$(wait_mark "$log" loaded "$pid") || e2e_fail "$kind: the page did not load within 60 s" ;;
    stopped|running) page=$(wait_mark "$log" timer-page-read "$pid") || e2e_fail "$kind: the timer page was not read within 60 s" ;;
  esac
  [ "$kind" = running ] && start_clock "$pid"
  if [ "$TRACE" = 1 ]; then
    awk -v t0="$T0" '$1 == "chronel-mark" { printf "    %-20s %6d ms\n", $2, ($3 - t0) / 1000 }' "$log" >&2
    echo "    (first window mapped  $map ms)" >&2
    awk -v p="$pid" -v t0="$T0" '$3 == p && $1 >= t0 { printf "    (map of %s %s at %d ms)\n", $2, $4, ($1 - t0) / 1000 }' "$MAPS" >&2
  fi
  if [ "$measure" = measure ]; then
    local wait_us=$((T0 + PSS_AT * 1000000 - $(now_us)))
    [ "$wait_us" -gt 0 ] && sleep "$(awk -v u="$wait_us" 'BEGIN { printf "%.3f", u / 1e6 }')"
    pss=$(tree_pss "$pid")
    a="$E2E_TMP/threads.a" b="$E2E_TMP/threads.b"
    tree_threads "$pid" >"$a"
    sleep "$IDLE_SECS"
    tree_threads "$pid" >"$b"
    read -r cpu sw <<<"$(threads_between "$a" "$b")"
    [ "$TRACE" = 1 ] && threads_detail "$a" "$b"
    # Per idle minute, whatever the window's length.
    cpu=$(awk -v c="$cpu" -v s="$IDLE_SECS" 'BEGIN { printf "%.1f", c * 60 / s }')
    sw=$(awk -v c="$sw" -v s="$IDLE_SECS" 'BEGIN { printf "%d", c * 60 / s + 0.5 }')
    HIDDEN_PSS=- CLICK_MS=-
    if [ "$kind" = stopped ] || [ "$kind" = running ]; then
      [ "$round" -gt "$HIDDEN_ROUNDS" ] || hidden_phase "$kind" "$pid" "$log"
    fi
    echo "$kind $round ${map:--} ${page:--} $pss $cpu $sw $HIDDEN_PSS $CLICK_MS" >>"$RESULTS"
    e2e_log "round $round $kind: mapped $map ms, loaded ${page:--} ms, PSS $pss MB, idle $cpu ms CPU, $sw wakeups$(
      [ "$HIDDEN_PSS" != - ] && echo "; hidden ${HIDDEN_SECS} s: PSS $HIDDEN_PSS MB, click -> record $CLICK_MS ms")"
  fi
  stop_tree "$pid"
  # The desktop settles after the exit before the next start.
  sleep "$SETTLE_SECS"
}

RESULTS="$E2E_TMP/results"
: >"$RESULTS"
KINDS=(web tray stopped running)
# --only KIND[,KIND...] measures some of them (for tracing; the table needs all).
[ -n "$ONLY" ] && IFS=, read -r -a KINDS <<<"$ONLY"
if [ "$WARMUP" = 1 ]; then
  e2e_log "warm-up (not counted): libraries into the page cache, the browser profile made"
  for k in "${KINDS[@]}"; do [ "$k" = running ] || run_one "$k" 0 warmup; done
fi
# Round r runs the programs in the order FIRST + r - 1 (mod N), with FIRST
# = 0, 1, N-1, 2, N-2, ...: a different program goes first in each round,
# so a drift in the machine's load spreads over all of them, and over N
# rounds each program follows each other one once, so the exit of the one
# before (its tray icon leaving the host, its memory returned) does not
# weigh on one program only.
N=${#KINDS[@]} FIRST=(0) lo=1 hi=$((${#KINDS[@]} - 1))
while [ ${#FIRST[@]} -lt "$N" ]; do
  FIRST+=("$lo"); lo=$((lo + 1))
  [ ${#FIRST[@]} -lt "$N" ] && { FIRST+=("$hi"); hi=$((hi - 1)); }
done
for ((r = 1; r <= ROUNDS; r++)); do
  for ((i = 0; i < N; i++)); do
    run_one "${KINDS[$(((FIRST[i] + r - 1) % N))]}" "$r"
  done
done

# ---- the table ----------------------------------------------------------------
stat() {  # kind column(3 map, 4 page, 5 pss, 6 cpu, 7 wakeups, 8 hidden pss, 9 click) -> "median min max" or "-"
  awk -v k="$1" -v c="$2" '$1 == k && $c != "-" { print $c }' "$RESULTS" | sort -g | awk '
    { v[NR] = $1 } END {
      if (NR == 0) { print "-"; exit }
      m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      print m, v[1], v[NR] }'
}
cell() {  # kind column unit
  local s
  s=$(stat "$1" "$2")
  [ "$s" = - ] && { printf -- '-'; return; }
  awk -v s="$s" -v u="$3" 'BEGIN { split(s, a, " ");
    if (a[2] == a[3]) printf "%g%s", a[1], u; else printf "%g%s [%g-%g]", a[1], u, a[2], a[3] }'
}
median_of() { local s; s=$(stat "$1" "$2"); echo "${s%% *}"; }

echo
echo "Chronel Timer beside its floors: $(nproc) CPUs ($(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Xvfb, session bus, XEmbed tray (trayer), notification server (dunst), no window manager; $ROUNDS interleaved round(s)$([ "$WARMUP" = 1 ] && echo " after a warm-up"), median [min-max]"
if [ "$HIDDEN_ROUNDS" -gt 0 ]; then
  echo "Hidden in the tray for ${HIDDEN_SECS} s after the idle window: round(s) 1-$((HIDDEN_ROUNDS < ROUNDS ? HIDDEN_ROUNDS : ROUNDS))"
else
  echo "Hidden phase skipped"
fi
echo
echo "| figure | bare WebEngine view (floor) | bare widget + tray icon + 1 s timer (floor) | ChronelGui, clock stopped | ChronelGui, clock running |"
echo "|---|---|---|---|---|"
row() {  # label column unit
  printf '| %s | %s | %s | %s | %s |\n' "$1" "$(cell web "$2" "$3")" "$(cell tray "$2" "$3")" "$(cell stopped "$2" "$3")" "$(cell running "$2" "$3")"
}
row "start -> first window mapped" 3 " ms"
row "start -> page loaded (floor's load finished / the timer page read)" 4 " ms"
row "PSS of the process tree at ${PSS_AT} s" 5 " MB"
row "CPU over an idle minute$([ "$IDLE_SECS" != 60 ] && echo " (from ${IDLE_SECS} s)")" 6 " ms"
row "wakeups (voluntary context switches) per idle minute" 7 ""
HS=$([ "$HIDDEN_ROUNDS" -gt 0 ] && echo "${HIDDEN_SECS} s" || echo "S s")
row "PSS of the process tree after $HS hidden in the tray" 8 " MB"
row "tray-menu click after $HS hidden -> the service's record" 9 " ms"

echo
echo "Against the floors (medians):"
W_MAP=$(median_of web 3) W_LOAD=$(median_of web 4) W_PSS=$(median_of web 5)
T_MAP=$(median_of tray 3) T_CPU=$(median_of tray 6) T_SW=$(median_of tray 7)
S_MAP=$(median_of stopped 3) S_PAGE=$(median_of stopped 4) S_PSS=$(median_of stopped 5) S_CPU=$(median_of stopped 6) S_SW=$(median_of stopped 7)
S_CLICK=$(median_of stopped 9)
R_MAP=$(median_of running 3) R_CPU=$(median_of running 6) R_SW=$(median_of running 7) R_CLICK=$(median_of running 9)
# A figure that was not measured ("-") meets no target.
target() {  # text value op limit
  awk -v t="$1" -v v="$2" -v op="$3" -v l="$4" 'BEGIN {
    ok = (op == "<=") ? (v + 0 <= l + 0) : 0
    printf "  %-66s %10s   target %s %-8s %s\n", t, v, op, l, v == "-" ? "not measured" : ok ? "met" : "NOT met" }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
diff_of() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-") print "-"; else printf "%.1f", a - b }'; }
target "window mapped, clock stopped / WebEngine floor (x)" "$(ratio "$S_MAP" "$W_MAP")" "<=" 1.2
target "window mapped, clock running / WebEngine floor (x)" "$(ratio "$R_MAP" "$W_MAP")" "<=" 1.2
target "window mapped, clock stopped / widget-and-tray floor (x)" "$(ratio "$S_MAP" "$T_MAP")" "<=" 1.5
target "window mapped, clock running / widget-and-tray floor (x)" "$(ratio "$R_MAP" "$T_MAP")" "<=" 1.5
target "timer page read - floor's load finished (ms)" "$(diff_of "$S_PAGE" "$W_LOAD")" "<=" 100
target "PSS, clock stopped - WebEngine floor (MB)" "$(diff_of "$S_PSS" "$W_PSS")" "<=" 15
target "idle minute, clock stopped: wakeups" "$S_SW" "<=" 70
target "idle minute, clock stopped: CPU (ms)" "$S_CPU" "<=" 12
target "idle minute, clock running: wakeups / widget-and-tray floor (x)" "$(ratio "$R_SW" "$T_SW")" "<=" 1
target "idle minute, clock running: CPU / widget-and-tray floor (x)" "$(ratio "$R_CPU" "$T_CPU")" "<=" 1
target "tray-menu click after $HS hidden -> record, clock stopped (ms)" "$S_CLICK" "<=" 1000
target "tray-menu click after $HS hidden -> record, clock running (ms)" "$R_CLICK" "<=" 1000
