#!/bin/sh
# The type library's registry entries as regsvr32 leaves them under wine:
# exactly one TypeLib key names quillmark.dll, it is the library GUID of
# src/control/guids.h and of the IDL, its entry is the DLL's own bitness
# (win64 or win32), the class's TypeLib value names the same GUID, and
# regsvr32 /u removes the library's key, or only the DLL's entry when a
# module of the other bitness has its own there.
#
#   run_typelib_registration.sh BUILD_DIR SOURCE_DIR win64|win32
set -eu
build=$1
src=$2
kind=$3
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }

libid=$(sed -n 's/.*kLibidText = u"\({[0-9A-F-]*}\)".*/\1/p' "$src/src/control/guids.h")
idl_libid=$(grep -B4 '^library ' "$src/src/com/win/quillmark.idl" |
  sed -n 's/.*uuid(\([0-9A-Fa-f-]*\)).*/{\1}/p' | tr 'a-f' 'A-F')
clsid=$(sed -n 's/.*kClsidText = u"\({[0-9A-F-]*}\)".*/\1/p' "$src/src/control/guids.h")
[ -n "$libid" ] && [ -n "$clsid" ] || fail "no library or class GUID in guids.h"
[ "$idl_libid" = "$libid" ] || fail "the IDL's library is $idl_libid, guids.h says $libid"

# Every key below HKCR\TypeLib with a value naming quillmark.dll.
ours() {
  wine reg query 'HKCR\TypeLib' /s | tr -d '\r' |
    awk '/^HKEY_/ { key = $0 } /REG_SZ/ && tolower($0) ~ /quillmark\.dll/ { print key }' | sort -u
}

# A prefix kept from an earlier build may hold that build's entries: they go
# first, so that what is counted below is this build's registration alone.
for key in $(ours | cut -d'\' -f1-3); do
  echo "removing a leftover $key"
  wine reg delete "$key" /f >/dev/null 2>&1 || true
done

wine regsvr32 /s "$build/quillmark.dll" || fail "regsvr32 failed"
keys=$(ours)
printf 'after regsvr32:\n%s\n' "$keys"
expected="HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0\\0\\$kind"
[ "$keys" = "$expected" ] || fail "expected exactly $expected"
wine reg query "HKCR\\TypeLib\\$libid\\1.0" /ve | tr -d '\r' |
  grep -q 'LydraQuillmark 1.0 Type Library' || fail "the library's version key has no name"
wine reg query "HKCR\\CLSID\\$clsid\\TypeLib" /ve | tr -d '\r' | grep -qF "$libid" ||
  fail "the class's TypeLib value is not $libid"

wine regsvr32 /u /s "$build/quillmark.dll" || fail "regsvr32 /u failed"
[ -z "$(ours)" ] || fail "a TypeLib key still names quillmark.dll: $(ours)"
if wine reg query "HKCR\\TypeLib\\$libid" >/dev/null 2>&1; then
  fail "TypeLib\\$libid is still there"
fi

# Beside a module of the other bitness (its entry written by hand here), the
# DLL's own entry goes and the other one stays.
other=win32
[ "$kind" = win32 ] && other=win64
version="HKCR\\TypeLib\\$libid\\1.0"
wine reg add "$version\\0\\$other" /ve /d 'C:\other\other-bitness.dll' /f >/dev/null
wine regsvr32 /s "$build/quillmark.dll" || fail "regsvr32 beside the other entry failed"
wine regsvr32 /u /s "$build/quillmark.dll" || fail "regsvr32 /u beside the other entry failed"
left=$(wine reg query "$version" /s 2>/dev/null | tr -d '\r')
wine reg delete "HKCR\\TypeLib\\$libid" /f >/dev/null 2>&1 || true
printf '%s\n' "$left" | grep -q 'other-bitness\.dll' || fail "the $other entry was removed too"
[ -z "$(printf '%s\n' "$left" | grep -i 'quillmark\.dll')" ] || fail "the $kind entry stayed"
echo "ok: one type library $libid with a $kind entry, removed by regsvr32 /u, the $other one kept"
