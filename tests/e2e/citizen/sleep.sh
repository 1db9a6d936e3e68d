#!/usr/bin/env bash
# Sleep: a stand-in for logind on a private system bus. Before sleep the
# program saves its settings under a delay lock and releases it; after a
# sleep longer than the idle limit a running clock is stopped with the
# break counted from the sleep.
#
# The program measures a sleep as the growth of the boot-time clock over the
# monotonic clock (the kernel counts suspended time in the first only). No
# machine sleeps here: a preloaded shim (boottime_shim) adds the seconds in
# a file to the boot-time clock, so writing 300 there while "asleep" is a
# five-minute sleep to the program.
source "$(dirname "$0")/citizen_lib.sh"
e2e_start_desktop notify
e2e_start_demo

dbus-daemon --session --nofork --address="unix:path=$E2E_TMP/system_bus" >"$E2E_TMP/system-bus.log" 2>&1 &
E2E_PIDS+=($!)
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$E2E_TMP/system_bus"
e2e_wait 10 test -S "$E2E_TMP/system_bus" || e2e_fail "private system bus did not start"
LOGIND="$E2E_TMP/logind-events.txt"
# The system interpreter: python3-dbus and python3-gi belong to it.
e2e_spawn logind /usr/bin/python3 "$(dirname "$0")/fake_logind.py" "$LOGIND"
e2e_wait 10 grep -q READY "$LOGIND" || e2e_fail "logind stand-in did not start"
sleep_signal() {  # true|false
  dbus-send --bus="$DBUS_SYSTEM_BUS_ADDRESS" --print-reply --dest=org.freedesktop.login1 /org/freedesktop/login1 \
    org.chronel.Test.Logind.Sleep "boolean:$1" >/dev/null || e2e_fail "could not reach the logind stand-in"
}
count() { grep -c "$1" "$LOGIND" || true; }

e2e_record_notifications

INI="$E2E_TMP/f/ChronelGui.ini"
OFFSET="$E2E_TMP/boottime-offset"
# Idle auto-stop after 1 minute; Ctrl+Alt+K starts and stops the clock.
write_ini "$INI" HotKeyStartStop=49227 AutoStopStartOnIdleTime=1 AutoStopStartOnIdleTimeMinutes=1
LD_PRELOAD="$SHIM" CHRONEL_TEST_BOOTTIME_OFFSET_FILE="$OFFSET" start_app app --settings "$INI"
wait_mapped "$APP" || e2e_fail "main window not mapped"
e2e_wait 30 logged_in || e2e_fail "did not log in"
e2e_wait 10 grep -q 'INHIBIT what=sleep who=Chronel Timer mode=delay held=1' "$LOGIND" || e2e_fail "no delay lock taken: $(cat "$LOGIND")"

# ---- before sleep: the settings are saved, then the lock released ------------------------
# The start's page is slow to come: the sleep and the resume fall inside its load,
# and the stop the resume asks for must wait for that page rather than be lost.
curl -s --max-time 5 -d '' "${BASE}__config?latency_ms=4000" >/dev/null || e2e_fail "could not slow the service"
xdotool key ctrl+alt+k
e2e_wait 15 service_running || e2e_fail "the clock did not start"
move_window "$WIN" 150 250 || e2e_fail "window did not move"
sleep_signal true
e2e_wait 10 grep -q 'RELEASED held=0' "$LOGIND" || e2e_fail "delay lock not released: $(cat "$LOGIND")"
near "$(value_of "$INI" Left)" 150 && near "$(value_of "$INI" Top)" 250 \
  || e2e_fail "settings not saved before sleep: Left=$(value_of "$INI" Left) Top=$(value_of "$INI" Top)"
e2e_log "(f) saved under the delay lock, then released it"

# ---- a five-minute sleep with the clock running ----------------------------------------
echo 300 >"$OFFSET"
sleep_signal false
e2e_wait 10 bash -c "[ \$(grep -c 'INHIBIT what=sleep' '$LOGIND') -ge 2 ]" || e2e_fail "delay lock not taken again after resume"
curl -s --max-time 5 -d '' "${BASE}__config?latency_ms=0" >/dev/null || e2e_fail "could not speed the service up"
e2e_demo_wait "$BASE" 15 '"kind":"stop"' || e2e_fail "the clock was not stopped after the sleep"
e2e_wait 10 bash -c "[ \"\$(xdotool getwindowname $WIN)\" = 'Not working' ]" || e2e_fail "title after the stop: $(xdotool getwindowname "$WIN")"
sleep 2  # the stopped page loads; without input the clock stays stopped (sleep counts as idle)
service_running && e2e_fail "the clock started again without the user"
# The user is back: the idle rules start the clock again and report the break,
# counted from the moment of sleep (5 minutes and the seconds since).
xdotool mousemove 300 300 mousemove 320 320
e2e_wait 20 grep -q 'You took a 5[.0-9]* minute' "$E2E_TMP/notify.log" || e2e_fail "no break of five minutes reported: $(grep -A3 'Started Work' "$E2E_TMP/notify.log")"
e2e_wait 10 service_running || e2e_fail "the clock did not start again"
e2e_log "(f) a long sleep stopped the clock, the break counted from the sleep"
echo "citizen sleep: ok"
