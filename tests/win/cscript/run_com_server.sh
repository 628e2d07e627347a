#!/bin/sh
# The COM server end to end under wine:
#   regsvr32 registers quillmark.dll; quillmark.exe imports a signer made here
#   by openssl into wine's MY store; cscript runs com_server.js, which creates
#   the control by its ProgID; the signature it prints is checked by openssl;
#   regsvr32 /u removes the entries again.
#
#   run_com_server.sh BUILD_DIR SCRIPT_DIR
set -eu
build=$1
scripts=$2
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A test CA (in ROOT, so that verification finds a trusted chain) and a
# signer it issued, with its key in MY and its certificate in AddressBook for
# the envelope. The prefix keeps the stores of earlier runs, so the names are
# this run's own.
run="$(date +%s)-$$"
dn="CN=Quillmark Wine Signer $run"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Quillmark Wine Test CA $run" \
  -keyout "$work/ca.key" -out "$work/ca.pem" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null || fail "openssl could not make the CA"
openssl req -new -newkey rsa:2048 -nodes -subj "/$dn/O=Quillmark Tests" -keyout "$work/key.pem" \
  -out "$work/req.pem" 2>/dev/null || fail "openssl could not make the signer's request"
printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,nonRepudiation,keyEncipherment\n' \
  >"$work/ext.cnf"
openssl x509 -req -in "$work/req.pem" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial 4242 \
  -days 30 -extfile "$work/ext.cnf" -out "$work/cert.pem" 2>/dev/null ||
  fail "openssl could not issue the signer"
# wine reads Z:\ as the root of the file system.
winpath() { echo "Z:$1" | tr / '\\'; }
wine "$build/quillmark.exe" store import MY --cert "$(winpath "$work/cert.pem")" \
  --key "$(winpath "$work/key.pem")" || fail "quillmark store import MY"
wine "$build/quillmark.exe" store add AddressBook "$(winpath "$work/cert.pem")" ||
  fail "quillmark store add AddressBook"
wine "$build/quillmark.exe" store add ROOT "$(winpath "$work/ca.pem")" ||
  fail "quillmark store add ROOT"

# The module exports the four entry points and the two compression calls.
exports=$(x86_64-w64-mingw32-objdump -p "$build/quillmark.dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  awk '/^[[:space:]]*\[ *[0-9]+\]/ {print $NF}' | LC_ALL=C sort | tr '\n' ' ')
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer"
[ "$exports" = "$expected mem_compress mem_uncompress " ] ||
  fail "quillmark.dll exports: $exports"

wine regsvr32 /s "$(winpath "$build/quillmark.dll")" || fail "regsvr32 quillmark.dll"
clsid='F05580A8-E757-478E-B4E2-453BFDF94D69'
wine reg query 'HKCR\Quillmark.LydraCorvaneQuillmark2\CLSID' | grep -qi "$clsid" ||
  fail "the ProgID is not registered"
wine reg query 'HKCR\CLSID\{F05580A8-E757-478E-B4E2-453BFDF94D69}\CtlSettings' /v stubPath |
  grep -qi 'c:\\quillmarkStub\\' || fail "stubPath is not c:\\quillmarkStub\\"

status=0
wine cscript //nologo "$(winpath "$scripts/com_server.js")" "$dn" >"$work/raw.txt" || status=$?
tr -d '\r' <"$work/raw.txt" >"$work/out.txt"
cat "$work/out.txt"
[ "$status" -eq 0 ] || fail "com_server.js reported failures"

# The signature is a PKCS#7 SignedData that openssl reads, holding the text.
sed -n 's/^SIGNATURE //p' "$work/out.txt" | openssl base64 -d -A >"$work/signature.der"
openssl cms -verify -inform DER -noverify -in "$work/signature.der" -out "$work/content.txt" \
  2>"$work/verify.err" || { cat "$work/verify.err" >&2; fail "openssl cms -verify"; }
printf 'signed under wine' | cmp -s - "$work/content.txt" || {
  # The control signs the text in the code page it was set to; show what came.
  od -c "$work/content.txt" | head -5 >&2
  fail "the signed content is not the text"
}
# The envelope opens with the recipient's key. Wine's CryptEncryptMessage
# writes the 3DES parameters as NULL instead of the IV and encrypts with a zero
# IV; openssl refuses that form, so then the envelope is opened step by step:
# the content key with the recipient's RSA key, the content with that key and
# the zero IV.
sed -n 's/^ENVELOPE //p' "$work/out.txt" | openssl base64 -d -A >"$work/envelope.der"
if ! openssl cms -decrypt -inform DER -in "$work/envelope.der" -recip "$work/cert.pem" \
  -inkey "$work/key.pem" -out "$work/opened.txt" 2>"$work/decrypt.err"; then
  openssl asn1parse -inform DER -in "$work/envelope.der" >"$work/envelope.txt"
  grep -A1 'OBJECT *:des-ede3-cbc' "$work/envelope.txt" | grep -q 'prim: NULL' || {
    cat "$work/decrypt.err" >&2
    fail "openssl cms -decrypt"
  }
  echo "the envelope names 3DES without its IV (wine's form): opened step by step"
  python3 - "$work" <<'PY' || fail "the envelope's parts could not be found"
import re, sys
work = sys.argv[1]
der = open(work + "/envelope.der", "rb").read()
key = content = None
for line in open(work + "/envelope.txt"):
    m = re.match(r"\s*(\d+):d=\d+\s+hl=(\d+) l=\s*(\d+) prim: (OCTET STRING|cont \[ 0 \])", line)
    if not m:
        continue
    offset, header, length = int(m.group(1)), int(m.group(2)), int(m.group(3))
    value = der[offset + header:offset + header + length]
    if m.group(4) == "OCTET STRING" and key is None:
        key = value  # the recipient's encrypted key comes first
    elif m.group(4) != "OCTET STRING":
        content = value
if key is None or content is None:
    sys.exit(1)
open(work + "/encrypted_key.bin", "wb").write(key)
open(work + "/content.bin", "wb").write(content)
PY
  openssl pkeyutl -decrypt -inkey "$work/key.pem" -in "$work/encrypted_key.bin" \
    -out "$work/content_key.bin" || fail "the content key does not open with the recipient's key"
  openssl enc -d -des-ede3-cbc -K "$(od -An -tx1 "$work/content_key.bin" | tr -d ' \n')" \
    -iv 0000000000000000 -in "$work/content.bin" -out "$work/opened.txt" ||
    fail "the content does not open with the content key"
fi
printf 'sealed under wine' | cmp -s - "$work/opened.txt" ||
  fail "the envelope does not hold the text"

wine regsvr32 /s /u "$(winpath "$build/quillmark.dll")" || fail "regsvr32 /u quillmark.dll"
if wine reg query 'HKCR\Quillmark.LydraCorvaneQuillmark2' >/dev/null 2>&1; then
  fail "the ProgID is still registered"
fi
if wine reg query 'HKCR\CLSID\{F05580A8-E757-478E-B4E2-453BFDF94D69}' >/dev/null 2>&1; then
  fail "the class key is still registered"
fi
for key in 'TypeLib\{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}' \
  'Interface\{2D1053EE-19C5-44D6-87CB-269A3B33791D}'; do
  if wine reg query "HKCR\\$key" >/dev/null 2>&1; then
    fail "HKCR\\$key is still registered"
  fi
done
echo "com server end to end: ok"
