#!/usr/bin/env bash
# Failures no retry can mend, on the real program and engine:
# (a) the service behind a certificate of its own (the demo service with
#     --tls-self-signed): the certificate is refused, the status page says it
#     is not trusted with the host and the reason, nothing reaches the
#     service, and it is not tried again by itself; "Try now" tries once more;
# (b) a base URL on a port web pages may not use says so in words and is held too.
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_app.sh"
BIN=$1
DEMO=$2
HERE=$(cd "$(dirname "$0")" && pwd)
set +o pipefail
export QTWEBENGINE_DISABLE_SANDBOX=1
e2e_start_desktop

e2e_spawn demo "$DEMO" --port 0 --tls-self-signed
e2e_wait 10 grep -q '^PORT ' "$E2E_TMP/demo.log" || e2e_fail "demo service did not start: $(cat "$E2E_TMP/demo.log")"
PORT=$(awk '/^PORT /{print $2; exit}' "$E2E_TMP/demo.log")
grep -q "serving https://127.0.0.1:$PORT/" "$E2E_TMP/demo.log" || e2e_fail "the demo service does not serve HTTPS"
status() { curl -sk --max-time 5 "https://127.0.0.1:$PORT/__status"; }
requests() { status | /usr/bin/python3 -c "import json,sys; print(len(json.load(sys.stdin)['requests']))"; }
# Nobody trusts the certificate: curl refuses it as the engine should.
curl -s --max-time 5 -o /dev/null "https://127.0.0.1:$PORT/__status" && e2e_fail "the certificate is trusted"
[ "$(requests)" = 0 ] || e2e_fail "the service has requests before the program: $(status)"

DEVTOOLS=$(e2e_free_port)
start_app() {  # NAME BASEURL
  local dir="$E2E_TMP/$1"; mkdir -p "$dir"
  printf '[Form]\nRemoveFromTaskBar=0\nUseTransparency=0\n[Prefs]\nBaseURL=%s\nUsername=demo\nPassword=qrzb\nHotKeyStartStop=0\nShowMinuteReminder=0\n' \
    "$2" >"$dir/ChronelGui.ini"
  cp "$BIN" "$dir/ChronelGui"
  LOG="$E2E_TMP/app-$1.log"
  e2e_spawn "app-$1" env HOME="$E2E_TMP/home-$1" CHRONEL_TRACE_MARKS=1 \
    QTWEBENGINE_REMOTE_DEBUGGING="127.0.0.1:$DEVTOOLS" "$dir/ChronelGui"
  APP=$E2E_LAST_PID
}
page() { e2e_page_eval "$DEVTOOLS" "$1" 2>&1; }
failure() { page "document.getElementById('failure') ? document.getElementById('failure').textContent : ''"; }
has() { [ "$(page "!!document.getElementById('$1')")" = true ]; }
stop_app() { kill "$APP" 2>/dev/null; e2e_wait_exit "$APP" 20 || kill -9 "$APP" 2>/dev/null; }

# ---- (a) a certificate nobody trusts -----------------------------------------------------------
start_app tls "https://127.0.0.1:$PORT/"
wait_mark status-page 1 60 || e2e_fail "(a) no status page; program: $(grep chronel-mark "$LOG" | tail -5)"
[ "$(marks certificate-refused)" -ge 1 ] || e2e_fail "(a) the engine's certificate error was not seen"
e2e_wait 20 bash -c "source '$HERE/../lib_app.sh'; e2e_page_eval $DEVTOOLS \"document.getElementById('failure') ? 'yes' : ''\" | grep -q yes" \
  || e2e_fail "(a) the status page cannot be read: $(page 'document.body.innerText')"
text=$(failure)
e2e_log "(a) the page says: $text"
expected="The service's certificate for 127.0.0.1 is not trusted: it was not issued by an authority this computer trusts."
case $text in "$expected"*ERR_CERT_AUTHORITY_INVALID*) ;; *) e2e_fail "(a) the page says: '$text'" ;; esac
has try-now || e2e_fail "(a) no Try now link"
has preferences || e2e_fail "(a) no Preferences link"
has next && e2e_fail "(a) a next try is announced: $(page 'document.body.innerText')"
e2e_screenshot "$E2E_TMP/a-certificate.png"
# Held: nothing more within the first retry's pause (5 s) and more, and nothing reached the service.
sleep 8
[ "$(marks load-failed)" = 1 ] || e2e_fail "(a) tried again by itself: $(marks load-failed) failed loads"
[ "$(marks certificate-refused)" = 1 ] || e2e_fail "(a) tried again by itself: $(marks certificate-refused) refusals"
[ "$(requests)" = 0 ] || e2e_fail "(a) a request reached the service through the untrusted certificate: $(status)"
# The user's Try now tries once, and the answer is the same.
page "document.getElementById('try-now').click(); 'clicked'" >/dev/null
wait_mark certificate-refused 2 30 || e2e_fail "(a) Try now did not try again"
wait_mark status-page 2 30 || e2e_fail "(a) no status page after Try now"
sleep 6
[ "$(marks certificate-refused)" = 2 ] || e2e_fail "(a) tried again by itself after Try now"
stop_app
e2e_log "(a) the untrusted certificate is said with its host and reason, and held"

# ---- (b) a port web pages may not use ----------------------------------------------------------
start_app unsafe "http://127.0.0.1:9/"
wait_mark status-page 1 60 || e2e_fail "(b) no status page"
e2e_wait 20 bash -c "source '$HERE/../lib_app.sh'; e2e_page_eval $DEVTOOLS \"document.getElementById('failure') ? 'yes' : ''\" | grep -q yes" \
  || e2e_fail "(b) the status page cannot be read"
text=$(failure)
case $text in "The address 127.0.0.1:9 uses a port that web pages may not use."*) ;; *) e2e_fail "(b) the page says: '$text'" ;; esac
has preferences || e2e_fail "(b) no Preferences link"
has next && e2e_fail "(b) a next try is announced"
# The code in brackets wraps only at its separators: no line of the page ends inside a word.
lines=$(page "(() => { const p = document.getElementById('failure'); const r = document.createRange(); const out = [];
  const t = p.textContent; let top = null, line = '';
  const walker = document.createTreeWalker(p, NodeFilter.SHOW_TEXT); let n, all = [];
  while ((n = walker.nextNode())) for (let i = 0; i < n.length; ++i) all.push([n, i]);
  for (const [node, i] of all) { r.setStart(node, i); r.setEnd(node, i + 1); const y = r.getBoundingClientRect().top;
    if (top !== null && y > top + 2) { out.push(line); line = ''; } top = y; line += node.data[i]; }
  out.push(line); return out.join('|'); })()")
e2e_log "(b) the lines: $lines"
/usr/bin/python3 - "$lines" <<'PY' || e2e_fail "(b) a line breaks inside a word: $lines"
import sys
lines = sys.argv[1].split("|")
for a, b in zip(lines, lines[1:]):
    # A break after a space, or after a separator of the bracketed code.
    if not (a.endswith(" ") or b.startswith(" ") or a[-1] in "_:/."):
        sys.exit(1)
PY
e2e_screenshot "$E2E_TMP/b-unsafe-port.png"
sleep 7
[ "$(marks load-failed)" = 1 ] || e2e_fail "(b) tried again by itself"
stop_app
e2e_log "(b) the unsafe port is said in words and held"
echo "tls: ok"
