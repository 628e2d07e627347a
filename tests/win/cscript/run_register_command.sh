#!/bin/sh
# quillmark.exe register | unregister under wine: the command registers
# quillmark.dll beside it (never itself) as InprocServer32 with the class's
# entries, and unregister removes them.
#
#   run_register_command.sh BUILD_DIR
set -eu
build=$1
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
fail() { echo "FAIL: $*" >&2; exit 1; }

clsid=$(wine "$build/quillmark.exe" register | tr -d '\r' | sed -n 's/^registered LydraCorvaneQuillmark //p')
[ -n "$clsid" ] || fail "quillmark.exe register printed no class id"
server=$(wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve | tr -d '\r')
printf '%s\n' "$server"
printf '%s\n' "$server" | grep -qi 'quillmark\.dll$' || fail "InprocServer32 is not quillmark.dll"
wine reg query "HKCR\\CLSID\\$clsid\\CtlSettings" /v stubPath | tr -d '\r' |
  grep -qF 'c:\quillmarkStub\' || fail "stubPath is not the default"
wine reg query 'HKCR\Quillmark.LydraCorvaneQuillmark2\CurVer' /ve | tr -d '\r' |
  grep -q 'Quillmark.LydraCorvaneQuillmark2.1' || fail "CurVer is missing"

wine "$build/quillmark.exe" unregister | grep -q '^unregistered' || fail "unregister failed"
if wine reg query "HKCR\\CLSID\\$clsid" >/dev/null 2>&1; then fail "the class key is still there"; fi
if wine reg query 'HKCR\Quillmark.LydraCorvaneQuillmark2' >/dev/null 2>&1; then
  fail "the ProgID is still there"
fi
echo "ok: quillmark.exe registers and unregisters quillmark.dll"
