#!/usr/bin/env bash
# Hidden for more than a minute, the program lets its page go: the engine's
# renderer process ends, while caption and tray keep working.
# (a) Hidden to the tray with the clock running: not let go before about a
#     minute; Stop from the tray menu then loads the timer page with the
#     engine's session (no credentials posted) and submits the stop exactly
#     once; the caption says "Not working".
# (b) Minimized, with the service's clock started behind the program's back:
#     shown from the tray, the page comes back and the caption follows the
#     service without the program submitting anything.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
set +o pipefail
e2e_start_desktop tray

RUNNING_CAPTION='^(Working\.\.\.|[0-9]+ min\..*)$'
# Hidden at least this long before the page may go (the program waits a minute).
MIN_REST=55
# Hidden this long at most before the page must be gone.
MAX_REST=120

e2e_start_demo

# ---- the service's records ------------------------------------------------------------------
# Requests the test makes itself carry "by=e2e", so the program's stand apart.
# svc EXPR: a Python expression over the status JSON d, with mine(e) telling
# whether an event came from such a request and tgt(e) its request's target.
svc() {
  curl -sf --max-time 5 "${BASE}__status" | python3 -c "
import json, sys
d = json.load(sys.stdin)
targets = {r['seq']: r['target'] for r in d['requests']}
tgt = lambda e: targets.get(e.get('request'), '')
mine = lambda e: 'by=e2e' in tgt(e)
print($1)"
}
events() { svc "sum(e['kind'] == '$1' for e in d['events'])"; }
program_events() { svc "sum(e['kind'] == '$1' and not mine(e) for e in d['events'])"; }
# The program's start/stop submissions, whether or not they changed the clock.
program_submissions() { svc "sum('tid=' in r['target'] and 'by=e2e' not in r['target'] for r in d['requests'])"; }
last_seq() { svc "max([r['seq'] for r in d['requests']], default=0)"; }
service_state() { svc '"running" if d["running"] else "stopped"'; }
wait_service() {  # running|stopped SECONDS
  local end=$((SECONDS + $2))
  until [ "$(service_state)" = "$1" ]; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.3
  done
}
wait_above() {  # COMMAND-WORDS... -- ABOVE SECONDS: waits until the command prints more than ABOVE
  local cmd=() n end
  while [ "$1" != -- ]; do cmd+=("$1"); shift; done
  shift
  end=$((SECONDS + $2))
  until n=$("${cmd[@]}") && [ "$n" -gt "$1" ] 2>/dev/null; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.3
  done
}

# ---- the program ------------------------------------------------------------------------------
D="$E2E_TMP/app"; mkdir -p "$D"
# Idle stopping off: the test leaves the desktop without input for minutes.
printf '[Form]\nRemoveFromTaskBar=1\nUseTransparency=0\nTop=20\nLeft=20\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\nAutoStopStartOnIdleTime=0\nShowMinuteReminder=0\n' \
  "$BASE" >"$D/ChronelGui.ini"
cp "$BIN" "$D/ChronelGui"
LOG="$E2E_TMP/app.log"
HOME="$E2E_TMP/home" CHRONEL_TRACE_MARKS=1 e2e_spawn app "$D/ChronelGui"
APP=$E2E_LAST_PID

now_us() { echo "${EPOCHREALTIME/[.,]/}"; }
secs_between() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f", (b - a) / 1e6}'; }
mark_count() { grep -c "^chronel-mark $1 " "$LOG" || true; }
mark_time() { awk -v name="$1" -v n="$2" '$1 == "chronel-mark" && $2 == name && ++seen == n {print $3; exit}' "$LOG"; }
marks_seen() { awk '$1 == "chronel-mark" {print $2}' "$LOG" | tail -12 | tr '\n' ' '; }

renderers() { e2e_renderers "$APP"; }
shown() { xwininfo -id "$WIN" 2>/dev/null | grep -q IsViewable; }
# The window's title also while it is withdrawn or iconic.
caption() { e2e_window_title "$WIN"; }
wait_caption() {  # REGEX SECONDS
  local end=$((SECONDS + $2))
  until caption | grep -Eq "$1"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.3
  done
}
icon() { e2e_tray_icon_window ChronelGui "$APP"; }
# A double click on the tray icon, repeated when a busy machine split it in two clicks.
show_from_tray() {
  local try
  for try in 1 2 3; do
    xdotool mousemove --window "$(icon)" 8 8 click --repeat 2 --delay 80 1
    e2e_wait 10 shown && return 0
  done
  return 1
}

# wait_page_gone LABEL HIDDEN_US DISCARDS_BEFORE: waits until the renderer has
# ended and the page-discarded mark is printed, then checks neither came
# before MIN_REST seconds hidden.
wait_page_gone() {
  local label=$1 hidden_us=$2 before=$3 end=$((SECONDS + MAX_REST)) gone_us="" left
  while :; do
    left=$(renderers)
    [ -z "$left" ] && [ -z "$gone_us" ] && gone_us=$(now_us)
    [ -n "$left" ] && gone_us=""
    [ -z "$left" ] && [ "$(mark_count page-discarded)" -gt "$before" ] && break
    if [ $SECONDS -ge $end ]; then
      local why=()
      [ -n "$left" ] && why+=("the renderer still runs (process $(echo $left))")
      [ "$(mark_count page-discarded)" -gt "$before" ] || why+=("no page-discarded mark")
      e2e_fail "$label hidden ${MAX_REST} s, the page was not let go: $(IFS=';'; echo "${why[*]}" | sed 's/;/; /g'); last marks: $(marks_seen)"
    fi
    sleep 0.5
  done
  DISCARDED_US=$(mark_time page-discarded $((before + 1)))
  local after gone_after
  after=$(secs_between "$hidden_us" "$DISCARDED_US")
  gone_after=$(secs_between "$hidden_us" "$gone_us")
  awk -v a="$after" -v m="$MIN_REST" 'BEGIN {exit !(a >= m)}' \
    || e2e_fail "$label the page was let go ${after} s after the window was hidden, before ${MIN_REST} s"
  awk -v a="$gone_after" -v m="$MIN_REST" 'BEGIN {exit !(a >= m)}' \
    || e2e_fail "$label the renderer ended ${gone_after} s after the window was hidden, before ${MIN_REST} s"
  # Frozen first: a page-frozen mark between the hide and the discard.
  awk -v from="$hidden_us" -v to="$DISCARDED_US" \
    '$1 == "chronel-mark" && $2 == "page-frozen" && $3 >= from - 5000000 && $3 <= to {found = 1} END {exit !found}' "$LOG" \
    || e2e_fail "$label let go without a page-frozen mark before it; last marks: $(marks_seen)"
  e2e_log "$label the page was let go ${after} s after the hide (renderer gone after ${gone_after} s)"
}

e2e_wait 90 grep -q '^chronel-mark timer-page-read ' "$LOG" || e2e_fail "the timer page was not read"
WIN=$(e2e_app_main_window "$APP") || e2e_fail "no main window"
e2e_wait 20 icon || e2e_fail "no tray icon"
e2e_log "the program shows the timer page"

# ---- the clock started from the tray menu -------------------------------------------------------
e2e_tray_menu_choose "$(icon)" -1 || e2e_fail "Start could not be chosen from the tray menu"
wait_service running 30 || e2e_fail "the service's clock did not start: $(service_state)"
e2e_demo_running "$BASE" || e2e_fail "the service's clock does not run"
wait_caption "$RUNNING_CAPTION" 20 || e2e_fail "the caption reads '$(caption)' with the clock running"
[ "$(program_submissions)" = 1 ] || e2e_fail "the start was submitted $(program_submissions) times"
e2e_log "the clock runs; the caption reads '$(caption)'"

# ---- (a) hidden to the tray, let go, stopped from the tray menu ---------------------------------
[ -n "$(renderers)" ] || e2e_fail "(a) no renderer process before the hide; processes: $(e2e_process_tree "$APP" | tr '\n' ' ')"
DISCARDS=$(mark_count page-discarded)
[ "$DISCARDS" = 0 ] || e2e_fail "(a) the page was let go while the window was shown"
e2e_tray_menu_choose "$(icon)" 1 || e2e_fail "(a) Hide to Tray could not be chosen"
e2e_wait 10 bash -c "! xwininfo -id $WIN | grep -q IsViewable" || e2e_fail "(a) the window was not hidden"
HIDDEN_US=$(now_us)
e2e_log "(a) hidden to the tray; waiting up to ${MAX_REST} s for the page to be let go"
wait_page_gone "(a)" "$HIDDEN_US" "$DISCARDS"

# The caption keeps counting: more than a minute has run by now.
wait_caption '^[1-9][0-9]* min\.' 20 || e2e_fail "(a) let go, the caption reads '$(caption)', not the running minutes"
[ -z "$(renderers)" ] || e2e_fail "(a) the page came back by itself while hidden"
[ "$(mark_count page-discarded)" = $((DISCARDS + 1)) ] || e2e_fail "(a) let go $(($(mark_count page-discarded) - DISCARDS)) times"

STOPS=$(events stop) STARTS=$(events start) LOGINS=$(program_events login)
SUBMITTED=$(program_submissions) SEQ=$(last_seq) RESTORES=$(mark_count page-restore)
e2e_tray_menu_choose "$(icon)" -1 || e2e_fail "(a) Stop could not be chosen from the tray menu while the page was let go"
wait_above events stop -- "$STOPS" 60 || e2e_fail "(a) no stop reached the service within 60 s; last marks: $(marks_seen)"
wait_service stopped 10 || e2e_fail "(a) the service's clock still runs after the stop"
sleep 5  # a second submission would come at once
[ "$(events stop)" = $((STOPS + 1)) ] || e2e_fail "(a) the service recorded $(($(events stop) - STOPS)) stops for one press"
[ "$(events start)" = "$STARTS" ] || e2e_fail "(a) the service recorded a start after the stop"
[ "$(program_submissions)" = $((SUBMITTED + 1)) ] \
  || e2e_fail "(a) the program submitted $(($(program_submissions) - SUBMITTED)) starts/stops for one press"
# The engine's session still holds: no credentials go out.
[ "$(program_events login)" = "$LOGINS" ] || e2e_fail "(a) the page came back with a login, the session still holding"
# In that order: the timer page loaded, then the stop.
order=$(svc "(lambda new: ' '.join(
    'login' if any(e['request'] == r['seq'] and e['kind'] == 'login' for e in d['events'])
    else 'submit' if 'tid=' in r['target'] else 'page' if r['target'].startswith('/time_log.php') else 'other'
    for r in new))([r for r in d['requests'] if r['seq'] > $SEQ])")
grep -Eq '^(other )*page( page| other)* submit( page| other)*$' <<<"$order" \
  || e2e_fail "(a) the requests after the press were: $order (wanted the timer page, then the stop)"
[ "$(mark_count page-restore)" -gt "$RESTORES" ] || e2e_fail "(a) no page-restore mark"
[ -n "$(renderers)" ] || e2e_fail "(a) the page is back but no renderer process runs"
wait_caption '^Not working$' 20 || e2e_fail "(a) hidden, the caption reads '$(caption)' after the stop"
show_from_tray || e2e_fail "(a) a double click on the tray icon did not show the window"
e2e_wait_app_title "$APP" '^Not working$' 20 || e2e_fail "(a) shown, the caption reads '$(e2e_app_title "$APP")'"
e2e_log "(a) stopped once, with the engine's session (requests: $order); the caption reads 'Not working'"

# ---- (b) minimized, let go, the clock started behind the program's back -------------------------
DISCARDS=$(mark_count page-discarded)
[ -n "$(renderers)" ] || e2e_fail "(b) no renderer process before the minimize"
xdotool windowminimize "$WIN"
e2e_wait 10 bash -c "! xwininfo -id $WIN | grep -q IsViewable" || e2e_fail "(b) the window was not minimized"
HIDDEN_US=$(now_us)
e2e_log "(b) minimized; waiting up to ${MAX_REST} s for the page to be let go"
wait_page_gone "(b)" "$HIDDEN_US" "$DISCARDS"
caption | grep -Eq '^Not working$' || e2e_fail "(b) let go, the caption reads '$(caption)'"

# Another session starts the clock.
JAR="$E2E_TMP/cookies"
curl -sf --max-time 10 -c "$JAR" -d 'pw=demo' "${BASE}index.php?username_or_email=demo&by=e2e" >/dev/null \
  || e2e_fail "(b) the test's own login failed"
STARTS=$(events start)
curl -sf --max-time 10 -b "$JAR" "${BASE}time_log.php?tid=&item=3&by=e2e" >/dev/null || e2e_fail "(b) the test's own start failed"
wait_service running 10 || e2e_fail "(b) the test's own start did not start the service's clock"
[ "$(events start)" = $((STARTS + 1)) ] || e2e_fail "(b) the test's own start was not recorded"
STARTS=$(events start) STOPS=$(events stop) LOGINS=$(program_events login)
SUBMITTED=$(program_submissions) SEQ=$(last_seq) RESTORES=$(mark_count page-restore)
sleep 2
[ -z "$(renderers)" ] || e2e_fail "(b) the page came back by itself while the window was minimized"

show_from_tray || e2e_fail "(b) a double click on the tray icon did not restore the minimized window"
SHOWN_US=$(now_us)
e2e_wait_app_title "$APP" "$RUNNING_CAPTION" 60 \
  || e2e_fail "(b) 60 s after the window was shown the caption reads '$(e2e_app_title "$APP")'; the service's clock is $(service_state); last marks: $(marks_seen)"
e2e_log "(b) the caption shows the running clock $(secs_between "$SHOWN_US" "$(now_us)") s after the window was shown"
[ "$(mark_count page-restore)" -gt "$RESTORES" ] || e2e_fail "(b) no page-restore mark"
[ -n "$(renderers)" ] || e2e_fail "(b) the caption follows the service but no renderer process runs"
[ "$(program_events login)" = "$LOGINS" ] || e2e_fail "(b) the page came back with a login, the session still holding"
loaded=$(svc "sum(r['target'].startswith('/time_log.php') and 'tid=' not in r['target'] for r in d['requests'] if r['seq'] > $SEQ)")
[ "$loaded" -ge 1 ] || e2e_fail "(b) the timer page was not loaded again"
# Nothing submitted for it, now or a little later.
end=$((SECONDS + 5))
while [ $SECONDS -lt $end ]; do
  e2e_app_title "$APP" | grep -Eq "$RUNNING_CAPTION" || e2e_fail "(b) the caption changed to '$(e2e_app_title "$APP")'"
  sleep 0.5
done
[ "$(program_submissions)" = "$SUBMITTED" ] \
  || e2e_fail "(b) the program submitted $(($(program_submissions) - SUBMITTED)) starts/stops on its own"
[ "$(events start)" = "$STARTS" ] && [ "$(events stop)" = "$STOPS" ] \
  || e2e_fail "(b) the service's clock was toggled: $(($(events start) - STARTS)) starts, $(($(events stop) - STOPS)) stops"
[ "$(service_state)" = running ] || e2e_fail "(b) the service's clock stopped"
e2e_log "(b) the page came back with the engine's session and shows the service's running clock; nothing submitted"
echo "page_rest: ok"
