#!/bin/sh
# quillmark-host.exe under wine, for a page of an allowed origin in server
# mode, over every member the type library marks as using a private key
# (`quillmark.exe typelib --json`): with no one to ask (QUILLMARK_UI=none, or
# a dialog script with no answers) each fails as cancelled by the user and
# hands the page no signature and no plain text; with a confirmation
# scripted each works. The arguments come from the parameter names; a
# parameter this script cannot fill fails the test, so a member newly marked
# cannot slip past. Where wine lacks the system call a member needs once
# confirmed, that member's confirmed call is reported as skipped with the
# reason, never as passed.
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

# Certificates of this run's own, their keys in wine's MY store: a signer,
# a recipient of envelopes (an exchange key), and a signer under the fixed
# issuer DN for the members that take a serial number alone. Each run
# has its own names and serial numbers, as the prefix keeps its stores.
run="$(date +%s)-$$"
signer="CN=Quillmark Host Key Use $run"
recipient="CN=Quillmark Host Recipient $run"
serial() { echo "0x1$(openssl rand -hex 7)"; }
self_signed() {  # NAME SUBJECT
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "$2" -set_serial "$(serial)" \
    -keyout "$work/$1.key" -out "$work/$1.pem" -addext basicConstraints=CA:FALSE \
    -addext keyUsage=digitalSignature,nonRepudiation,keyEncipherment 2>/dev/null ||
    fail "openssl could not make $1"
}
self_signed signer "/$signer/O=Quillmark Tests"
self_signed recipient "/$recipient/O=Quillmark Tests"
# The fixed issuer's signer is its own issuer: wine's CertFindCertificateInStore
# compares the subject where it is asked for the issuer name, so under wine
# only a self-signed certificate is found again by issuer and serial number.
self_signed fixed "/O=VevorAvuze/OU=config/CN=ZAVU"
# Serial numbers as the BySN members take them: the hex digits of the bytes.
serial_of() { openssl x509 -in "$work/$1.pem" -noout -serial | sed 's/^serial=//'; }
signer_sn=$(serial_of signer)
fixed_sn=$(serial_of fixed)
import() {  # NAME KEY-SPEC
  wine "$build/quillmark.exe" store import MY --cert "$(winpath "$work/$1.pem")" \
    --key "$(winpath "$work/$1.key")" --key-spec "$2" >/dev/null || fail "store import $1"
}
import signer signature
import fixed signature
import recipient exchange
wine "$build/quillmark.exe" store add AddressBook "$(winpath "$work/recipient.pem")" >/dev/null ||
  fail "quillmark store add AddressBook"
wine "$build/quillmark.exe" typelib --json >"$work/typelib.json" || fail "quillmark typelib --json"

# The page's origin is allowed in the user's own decisions.
mkdir -p "$work/home"
printf '{"origins":{"https://bank.example":"always"}}' >"$work/home/origins.json"
: >"$work/empty.txt"
i=0
while [ $i -lt 64 ]; do echo confirm; i=$((i + 1)); done >"$work/confirm.txt"

# Drives one host: the hello, server mode, then one call of every key
# member; checks each answer. Python only frames and reads the messages.
drive() {
  ui=$1 expect=$2
  QUILLMARK_HOME="$(winpath "$work/home")" \
  QUILLMARK_SYSTEM_ORIGINS="$(winpath "$work/none/origins.json")" \
  QUILLMARK_UI="$ui" \
    python3 - "$build" "$work/typelib.json" "$signer" "$recipient" "$signer_sn" "$fixed_sn" "$expect" <<'PY'
import json, struct, subprocess, sys

build, typelib, signer, recipient, signer_sn, fixed_sn, expect = sys.argv[1:8]
# The signer is its own issuer; its name as the control writes it.
signer_issuer = signer + ", O=Quillmark Tests"
failures = []
cancelled = -2146434962  # SCARD_W_CANCELLED_BY_USER as the page sees it
text = "pay 10 to Alice"
# What wine does not have, by the members that need it once confirmed.
wine_lacks = {
    "QMDecryptEnvelop": "CryptDecryptMessage",
    "QMDecryptedAndVerifiedEnvelop": "CryptDecryptAndVerifyMessageSignature",
    "QMSignedAndEncryptedEnvelop": "CryptSignAndEncryptMessage",
    "QMUseKeySpecSignedAndEncryptedEnvelop": "CryptSignAndEncryptMessage",
}
# The members' own errorNum for a cancelled key use, where it is fixed.
error_nums = {"QMAttachedSign": -10020, "QMRawSign": -10031, "QMAdvanceAttachedSign": -10051}

def check(what, ok, answer):
    if not ok:
        failures.append("%s: %s" % (what, json.dumps(answer, ensure_ascii=False)[:400]))

p = subprocess.Popen(["wine", build + "/quillmark-host.exe", "chrome-extension://test/"],
                     stdin=subprocess.PIPE, stdout=subprocess.PIPE)

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

ids = iter(range(1, 1 << 20))
def ask(obj):
    send(dict(obj, id=next(ids)))
    return read()
def call(member, *args):
    return ask({"call": member, "args": list(args)})

ready = ask({"origin": "https://bank.example"})
check("hello", "ready" in ready, ready)
check("server mode", ask({"put": "QMServerMode", "value": 1}).get("hr") == 0, {})

# An envelope for the recipient (no private key is used to make one). Wine
# cannot make a signed one; the opening members are refused before they look
# inside, so the plain one stands in for it there.
call("QMSetPlainText", text)
sealed = call("QMEncryptedEnvelop", recipient)
check("envelope made", sealed.get("hr") == 0 and sealed.get("result"), sealed)
envelope = sealed.get("result", "")

by_param = {
    "deSignerDN": signer, "deReciptDN": recipient, "plainText": text,
    "envelopedMsg": envelope, "signedAndEnvelopedMsg": envelope,
}
members = [m for m in json.load(open(typelib, encoding="utf-8"))["members"]
           if "key" in m["effects"]]
check("key members listed", len(members) > 0, {})
skipped = []
for m in members:
    name = m["name"]
    params = [q["name"] for q in m["params"] if q["dir"] != "out,retval"]
    serial_only = "deSignerSN" in params and "IssuerDN" not in params
    args = []
    for q in params:
        if q == "deSignerSN":
            args.append(fixed_sn if serial_only else signer_sn)
        elif q == "IssuerDN":
            args.append(signer_issuer)
        elif q in by_param:
            args.append(by_param[q])
        else:
            failures.append("%s: no argument for its parameter %s" % (name, q))
    if len(args) != len(params):
        continue
    opens = any(q.endswith("Msg") for q in params)
    if expect != "refused" and name in wine_lacks:
        # Confirmed, the member would reach a call wine does not implement,
        # and wine ends the program there.
        skipped.append("%s (wine lacks %s)" % (name, wine_lacks[name]))
        continue
    call("QMSetPlainText", "" if opens else text)
    a = call(name, *args)
    plain = call("QMGetPlainText").get("result", "") if opens else ""
    if expect == "refused":
        check(name + " refused", a.get("hr") != 0, a)
        check(name + " errorCode", a.get("errorCode") == cancelled, a)
        # errorCode outlives a failure that sets none: an empty argument or
        # a certificate not found would leave the previous call's cancel.
        check(name + " arguments", a.get("errorNum") not in (-10001, -10005), a)
        check(name + " result", a.get("result", "") == "", a)
        if name in error_nums:
            check(name + " errorNum", a.get("errorNum") == error_nums[name], a)
        if opens:
            check(name + " opened nothing", plain == "", {"plain text": plain})
        continue
    check(name + " confirmed", any(d.get("kind") == "confirm" for d in a.get("dialogs", [])), a)
    if opens:
        check(name + " opens", a.get("hr") == 0 and plain == text, dict(a, plain=plain))
    else:
        check(name + " signs", a.get("hr") == 0 and len(a.get("result", "")) > 100, a)
p.stdin.close()
p.wait()
for s in skipped:
    print("skip: the confirmed call of " + s)
for f in failures:
    print("FAIL: " + f)
print("%d key members, %d skipped" % (len(members), len(skipped)))
sys.exit(1 if failures else 0)
PY
}

drive none refused || fail "QUILLMARK_UI=none: a key was used"
echo "ok: QUILLMARK_UI=none refuses every key use"
drive "script:$(winpath "$work/empty.txt")" refused || fail "an empty dialog script: a key was used"
echo "ok: an empty dialog script refuses every key use"
drive "script:$(winpath "$work/confirm.txt")" works || fail "a scripted confirm: a key member failed"
echo "ok: a scripted confirm lets every key member work"
