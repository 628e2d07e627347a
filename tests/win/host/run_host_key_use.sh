#!/bin/sh
# quillmark-host.exe under wine, for a page of an allowed origin in server
# mode: with no one to ask (QUILLMARK_UI=none, or a dialog script with no
# answers) every member that uses a private key fails as cancelled by the
# user and hands the page nothing; with a confirmation scripted it signs.
#
#   run_host_key_use.sh BUILD_DIR
set -eu
build=$1
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { echo "Z:$1" | tr / '\\'; }

# A signer of this run's own, its key in wine's MY store.
run="$(date +%s)-$$"
dn="CN=Quillmark Host Key Use $run"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/$dn/O=Quillmark Tests" \
  -keyout "$work/key.pem" -out "$work/cert.pem" -addext basicConstraints=CA:FALSE \
  -addext keyUsage=digitalSignature,nonRepudiation,keyEncipherment 2>/dev/null ||
  fail "openssl could not make the signer"
wine "$build/quillmark.exe" store import MY --cert "$(winpath "$work/cert.pem")" \
  --key "$(winpath "$work/key.pem")" >/dev/null || fail "quillmark store import MY"
wine "$build/quillmark.exe" store add AddressBook "$(winpath "$work/cert.pem")" >/dev/null ||
  fail "quillmark store add AddressBook"

# The page's origin is allowed in the user's own decisions.
mkdir -p "$work/home"
printf '{"origins":{"https://bank.example":"always"}}' >"$work/home/origins.json"
: >"$work/empty.txt"
printf 'confirm\nconfirm\nconfirm\n' >"$work/confirm.txt"

# Drives one host: the hello, then the calls of the scenario; checks each
# answer. Python only frames and reads the messages.
drive() {
  ui=$1 expect=$2
  QUILLMARK_HOME="$(winpath "$work/home")" \
  QUILLMARK_SYSTEM_ORIGINS="$(winpath "$work/none/origins.json")" \
  QUILLMARK_UI="$ui" \
    python3 - "$build/quillmark-host.exe" "$dn" "$expect" <<'PY'
import json, struct, subprocess, sys

host, dn, expect = sys.argv[1], sys.argv[2], sys.argv[3]
p = subprocess.Popen(["wine", host, "chrome-extension://test/"], stdin=subprocess.PIPE,
                     stdout=subprocess.PIPE)
failures = []

def send(obj):
    body = json.dumps(obj).encode()
    p.stdin.write(struct.pack("<I", len(body)) + body)
    p.stdin.flush()

def ended():
    for f in failures:
        print("FAIL: " + f)
    sys.exit("FAIL: the host ended early")

def read():
    header = p.stdout.read(4)
    if len(header) < 4:
        ended()
    (n,) = struct.unpack("<I", header)
    body = p.stdout.read(n)
    if len(body) < n:
        ended()
    return json.loads(body)

def ask(obj):
    send(obj)
    return read()

def check(what, ok, answer):
    if not ok:
        failures.append("%s: %s" % (what, json.dumps(answer)[:400]))

ready = ask({"origin": "https://bank.example"})
check("hello", "ready" in ready, ready)
check("server mode", ask({"id": 1, "put": "QMServerMode", "value": 1}).get("hr") == 0, {})
cancelled = -2146434962  # SCARD_W_CANCELLED_BY_USER as the page sees it
n = 2
# QMAttachedSign fails in its PKCS#7 signing, QMRawSign in its hash
# signing, QMAdvanceAttachedSign as cancelled; each with the user's cancel.
for member, error_num in (("QMAttachedSign", -10020), ("QMRawSign", -10031),
                          ("QMAdvanceAttachedSign", -10051)):
    ask({"id": n, "call": "QMSetPlainText", "args": ["pay 10 to Alice"]})
    a = ask({"id": n + 1, "call": member, "args": [dn]})
    n += 2
    if expect == "refused":
        check(member + " errorNum", a.get("errorNum") == error_num, a)
        check(member + " errorCode", a.get("errorCode") == cancelled, a)
        check(member + " result", a.get("result", "") == "", a)
    else:
        check(member + " signs", a.get("hr") == 0 and len(a.get("result", "")) > 100, a)

# Opening an envelope asks before the key decrypts; refused, it opens nothing.
ask({"id": n, "call": "QMSetPlainText", "args": ["secret"]})
sealed = ask({"id": n + 1, "call": "QMEncryptedEnvelop", "args": [dn]})
check("envelope made", sealed.get("hr") == 0, sealed)
if expect == "refused":
    opened = ask({"id": n + 2, "call": "QMDecryptEnvelop", "args": [sealed.get("result", "")]})
    check("QMDecryptEnvelop errorCode", opened.get("errorCode") == cancelled, opened)
    text = ask({"id": n + 3, "call": "QMGetPlainText"})
    check("nothing opened", text.get("result") != "secret", text)
p.stdin.close()
p.wait()
for f in failures:
    print("FAIL: " + f)
sys.exit(1 if failures else 0)
PY
}

drive none refused || fail "QUILLMARK_UI=none: a key was used"
echo "ok: QUILLMARK_UI=none refuses every key use"
drive "script:$(winpath "$work/empty.txt")" refused || fail "an empty dialog script: a key was used"
echo "ok: an empty dialog script refuses every key use"
drive "script:$(winpath "$work/confirm.txt")" signs || fail "a scripted confirm: no signature"
echo "ok: a scripted confirm signs"
