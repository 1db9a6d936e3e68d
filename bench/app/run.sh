#!/usr/bin/env bash
# Start-up time, memory and CPU of the real program against the demo service,
# on a private desktop (Xvfb, openbox, tray host, notification server).
#   bench/app/run.sh [BUILD_DIR] [--runs N] [--cpu-seconds S] [--pss-at S]
# Prints each run's figures and their medians; see README.md beside it.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$ROOT/build
RUNS=5 CPU_SECS=60 PSS_AT=15
while [ $# -gt 0 ]; do
  case $1 in
    --runs) RUNS=$2; shift 2 ;;
    --cpu-seconds) CPU_SECS=$2; shift 2 ;;
    --pss-at) PSS_AT=$2; shift 2 ;;
    -h|--help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) BUILD=$(cd "$1" && pwd); shift ;;
  esac
done
APP_BIN=$BUILD/bin/ChronelGui
SERVICE=$BUILD/tools/demo-service/chronel-demo-service
for f in "$APP_BIN" "$SERVICE"; do
  [ -x "$f" ] || { echo "missing $f; build the targets ChronelGui and chronel-demo-service first" >&2; exit 2; }
done

source "$ROOT/tests/e2e/lib.sh"
source "$ROOT/tests/e2e/lib_app.sh"
set +o pipefail  # "grep -q" ends its writers early
HZ=$(getconf CLK_TCK)
POLL=0.02
POLL_MS=()

e2e_start_desktop tray notify
# One browser profile for all runs, as a user has; kept out of the real home.
export HOME="$E2E_TMP/home" XDG_DATA_HOME="$E2E_TMP/home/data" XDG_CACHE_HOME="$E2E_TMP/home/cache"
mkdir -p "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

e2e_spawn service "$SERVICE" --port 0
e2e_wait 20 grep -q '^PORT ' "$E2E_TMP/service.log" || e2e_fail "demo service did not start"
BASE="http://127.0.0.1:$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/service.log")/"

DIR="$E2E_TMP/app"; mkdir -p "$DIR"
cp "$APP_BIN" "$DIR/ChronelGui"

now_us() { echo "${EPOCHREALTIME/./}"; }

# The poll loop stays in the shell, so the figures are not made of process
# start-ups: the status over bash's own TCP, the pause as a read time-out.
PORT=${BASE#http://127.0.0.1:}; PORT=${PORT%/}
exec {PAUSE_FD}<> <(:)
pause() { read -r -t "$1" -u "$PAUSE_FD" || true; }
fetch_status() {  # sets STATUS; HTTP/1.0, so the service closes after the answer
  local fd
  STATUS=""
  # The braces keep the error redirection from sticking to the shell.
  { exec {fd}<>"/dev/tcp/127.0.0.1/$PORT"; } 2>/dev/null || return 1
  printf 'GET /__status HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&"$fd"
  IFS= read -r -d '' STATUS <&"$fd" || true
  exec {fd}<&-
}

# utime + stime of every process in the tree, "pid ticks" a line.
tree_ticks() {
  local p
  for p in $(e2e_process_tree "$1"); do
    awk -v p="$p" '{ sub(/^.*\) /, ""); print p, $12 + $13 }' "/proc/$p/stat" 2>/dev/null || true
  done
}
# CPU ticks the tree spent between two snapshots; a process new since the
# first counts whole, one that ended in between is lost.
ticks_between() {
  awk 'NR == FNR { before[$1] = $2; next } { sum += $2 - ($1 in before ? before[$1] : 0) } END { print sum + 0 }' "$1" "$2"
}
# Memory of the tree in kB: "PSS OWN processes". PSS shares each page out
# among all processes on the machine that map it, so it drops while another
# program maps the same libraries; OWN is the PSS of anonymous and shared
# memory, which only the tree (and the X server's shared images) map.
tree_memory() {
  local p pss=0 own=0 n=0 line
  for p in $(e2e_process_tree "$1"); do
    line=$(awk '/^Pss:/ {p = $2} /^Pss_(Anon|Shmem):/ {o += $2} END {if (p != "") print p, o + 0}' "/proc/$p/smaps_rollup" 2>/dev/null) || continue
    [ -n "$line" ] || continue
    pss=$((pss + ${line% *})); own=$((own + ${line#* })); n=$((n + 1))
  done
  echo "$pss $own $n"
}

start_app() {
  printf '[Form]\nRemoveFromTaskBar=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\n' "$BASE" >"$DIR/ChronelGui.ini"
  curl -sf --max-time 5 -d '' "${BASE}__reset" >/dev/null || e2e_fail "could not reset the demo service"
  # The window manager lists every window it takes on in _NET_CLIENT_LIST; a
  # spy on that property stamps the main window's arrival as it happens.
  CLIENTS="$E2E_TMP/clients.$1"
  xprop -spy -root _NET_CLIENT_LIST > >(while IFS= read -r l; do echo "${EPOCHREALTIME/./} $l"; done >"$CLIENTS") 2>/dev/null &
  SPY=$!
  E2E_PIDS+=("$SPY")
  e2e_wait 10 test -s "$CLIENTS" || e2e_fail "cannot watch the window manager's client list"
  T0=$(now_us)
  e2e_spawn "app-$1" "$DIR/ChronelGui"
  APP=$E2E_LAST_PID
}

close_app() {
  local win
  win=$(e2e_app_main_window "$APP") || e2e_fail "main window gone before the close"
  wmctrl -i -c "$win"
  e2e_wait_exit "$APP" 30 || e2e_fail "ChronelGui did not end within 30 s of the close"
  [ "$E2E_EXIT_CODE" = 0 ] || e2e_fail "ChronelGui ended with exit code $E2E_EXIT_CODE"
}

# Follows the start-up until the timer page has been asked for and parsed;
# sets the stage times in ms after the start. The window's time comes from
# the client-list spy; the others are when the poll of the service's request
# log that first showed them returned, at most one poll late.
watch_start_up() {
  local status t t_first end=$((SECONDS + 60)) polls=0 stamp line id
  T_MAP="" T_POST="" T_PAGE="" T_ICON=""
  t_first=$(now_us)
  while [ -z "$T_ICON" ]; do
    [ $SECONDS -ge $end ] && e2e_fail "start-up incomplete after 60 s (posted '$T_POST', page '$T_PAGE', parsed '$T_ICON')"
    kill -0 "$APP" 2>/dev/null || e2e_fail "ChronelGui ended during start-up"
    fetch_status || true
    status=$STATUS
    t=$((($(now_us) - T0) / 1000))
    polls=$((polls + 1))
    [ -z "$T_POST" ] && [[ $status == *'"method":"POST","target":"/index.php'* ]] && T_POST=$t
    [ -z "$T_PAGE" ] && [[ $status == *'"method":"GET","target":"/time_log.php'* ]] && T_PAGE=$t
    # The engine asks for the page's icon once it has parsed the document.
    [ -z "$T_ICON" ] && [ -n "$T_PAGE" ] && [[ $status == *'"method":"GET","target":"/favicon.ico'* ]] && T_ICON=$t
    pause "$POLL"
  done
  POLL_MS+=($((($(now_us) - t_first) / 1000 / polls)))
  e2e_wait 30 e2e_app_main_window "$APP" || e2e_fail "main window not mapped within 30 s of the timer page"
  # The first list after the start that holds a window of the program.
  while read -r stamp line; do
    [ "$stamp" -ge "$T0" ] || continue
    for id in $(grep -o '0x[0-9a-f]*' <<<"$line"); do
      if [ "$(e2e_window_pid "$id")" = "$APP" ]; then T_MAP=$(((stamp - T0) / 1000)); break 2; fi
    done
  done <"$CLIENTS"
  kill "$SPY" 2>/dev/null || true
  [ -n "$T_MAP" ] || e2e_fail "the window manager never listed the main window"
}

cpu_over() {  # seconds; prints CPU seconds of the tree in that time
  local a="$E2E_TMP/ticks.a" b="$E2E_TMP/ticks.b"
  tree_ticks "$APP" >"$a"
  sleep "$1"
  tree_ticks "$APP" >"$b"
  awk -v t="$(ticks_between "$a" "$b")" -v hz="$HZ" 'BEGIN { printf "%.2f", t / hz }'
}

toggle_clock() {  # start|stop
  local kind=$1 before running=stop
  before=$(e2e_demo_count "$BASE" "\"kind\":\"$kind\"")
  e2e_tray_menu_choose "$ICON" -1 || e2e_fail "could not choose the clock item in the tray menu"
  e2e_demo_wait "$BASE" 20 "\"kind\":\"$kind\"" $((before + 1)) || e2e_fail "the service saw no $kind"
  e2e_demo_running "$BASE" && running=start
  [ "$running" = "$kind" ] || e2e_fail "the service's clock is in the wrong state after $kind"
}

e2e_log "warm-up run (not counted)"
start_app warmup
watch_start_up
close_app

declare -a R_MAP R_POST R_PAGE R_ICON R_PSS R_OWN R_NPROC R_IDLE R_RUN
for ((r = 1; r <= RUNS; r++)); do
  start_app "$r"
  watch_start_up
  R_MAP+=("$T_MAP"); R_POST+=("$T_POST"); R_PAGE+=("$T_PAGE"); R_ICON+=("$T_ICON")
  wait_us=$((T0 + PSS_AT * 1000000 - $(now_us)))
  [ "$wait_us" -gt 0 ] && sleep "$(awk -v u="$wait_us" 'BEGIN { printf "%.3f", u / 1e6 }')"
  read -r pss own nproc <<<"$(tree_memory "$APP")"
  R_PSS+=("$(awk -v k="$pss" 'BEGIN { printf "%.1f", k / 1024 }')")
  R_OWN+=("$(awk -v k="$own" 'BEGIN { printf "%.1f", k / 1024 }')")
  R_NPROC+=("$nproc")
  e2e_wait 20 e2e_tray_icon_window ChronelGui || e2e_fail "no tray icon docked"
  ICON=$(e2e_tray_icon_window ChronelGui)

  R_IDLE+=("$(cpu_over "$CPU_SECS")")
  toggle_clock start
  R_RUN+=("$(cpu_over "$CPU_SECS")")
  toggle_clock stop
  close_app
  e2e_log "run $r: mapped ${T_MAP} ms, posted ${T_POST} ms, page ${T_PAGE} ms, parsed ${T_ICON} ms, PSS ${R_PSS[-1]} MiB (anonymous and shared ${R_OWN[-1]}) in $nproc processes, CPU idle ${R_IDLE[-1]} s, running ${R_RUN[-1]} s"
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
row() {  # label values...
  local label=$1; shift
  printf '%-44s' "$label"
  printf '%9s' "$@"
  printf '%9s\n' "$(median "$@")"
}

echo
echo "ChronelGui against the demo service on 127.0.0.1; Xvfb, openbox, trayer, dunst"
echo "$(nproc) CPUs ($(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)), load $(cut -d' ' -f1-3 /proc/loadavg), $RUNS runs after a warm-up, one poll every $(median "${POLL_MS[@]}") ms"
printf '%-44s' ""; for ((r = 1; r <= RUNS; r++)); do printf '%9s' "run $r"; done; printf '%9s\n' median
row "window mapped (ms after start)" "${R_MAP[@]}"
row "login posted (ms)" "${R_POST[@]}"
row "timer page requested (ms)" "${R_PAGE[@]}"
row "timer page parsed, icon asked for (ms)" "${R_ICON[@]}"
row "PSS of the process tree at ${PSS_AT} s (MiB)" "${R_PSS[@]}"
row "  of it anonymous and shared memory (MiB)" "${R_OWN[@]}"
row "processes in the tree" "${R_NPROC[@]}"
row "CPU, ${CPU_SECS} s idle, clock stopped (s)" "${R_IDLE[@]}"
row "CPU, ${CPU_SECS} s, clock running (s)" "${R_RUN[@]}"
