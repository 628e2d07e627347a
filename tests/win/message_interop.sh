#!/bin/sh
# Messages exchanged between crypt32 (under wine) and the openssl command.
# Usage: message_interop.sh WINE WINTEST_MESSAGE_WIN_EXE OPENSSL
#
# openssl signs a content three ways (attached without attributes, attached
# with its default attributes, detached); the Windows test program verifies
# those and writes its own attached and detached signatures of another
# content, which openssl then verifies (no chain check) and refuses over
# changed content.
set -eu
wine=$1 program=$2 openssl=$3
d=$(mktemp -d)
trap 'rm -rf "$d"' EXIT

printf 'signed by openssl, read by crypt32\n' >"$d/openssl-content.bin"
"$openssl" req -x509 -newkey rsa:2048 -nodes -keyout "$d/openssl.key" -out "$d/openssl.pem" \
  -subj "/CN=OpenSSL Signer" -days 2 2>/dev/null
for form in noattr attr detached; do
  case $form in
    noattr) opts="-nodetach -noattr" ;;
    attr) opts="-nodetach" ;;
    detached) opts="" ;;
  esac
  # shellcheck disable=SC2086
  "$openssl" cms -sign -binary $opts -md sha256 -in "$d/openssl-content.bin" \
    -signer "$d/openssl.pem" -inkey "$d/openssl.key" -outform DER -out "$d/openssl-$form.p7"
done

QUILLMARK_INTEROP_DIR="Z:$(printf %s "$d" | tr / '\\')" \
  "$wine" "$program" --gtest_filter=MessageWinTest.ExchangesMessagesWithOpenssl \
  >"$d/run.log" 2>&1 || { cat "$d/run.log"; exit 1; }
grep -q '^\[  PASSED  \] 1 test' "$d/run.log" || { cat "$d/run.log"; exit 1; }

"$openssl" cms -verify -inform DER -in "$d/attached.p7" -noverify -binary -out "$d/attached.out"
cmp "$d/attached.out" "$d/content.bin"
"$openssl" cms -verify -inform DER -in "$d/detached.p7" -content "$d/content.bin" -noverify \
  -binary -out /dev/null
printf 'changed' >"$d/other.bin"
if "$openssl" cms -verify -inform DER -in "$d/detached.p7" -content "$d/other.bin" -noverify \
  -binary -out /dev/null 2>/dev/null; then
  echo "openssl accepted a crypt32 signature over other content" >&2
  exit 1
fi
