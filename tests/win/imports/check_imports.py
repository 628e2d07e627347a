#!/usr/bin/env python3
"""Fails when a Windows binary imports a DLL that Windows does not ship.

  check_imports.py --allowed LIST [--require NAME ...] DIR_OR_FILE ...

Reads the import and delay-load import tables of every .exe and .dll given,
or found directly inside a given folder (not below it), and prints each file's
DLLs. Exits 1 when a DLL is not named in LIST (one name a line, '#' starts a
comment), when a --require'd file name was not among the files, or when a file
is not a PE image; 0 otherwise.
"""
import argparse
import os
import struct
import sys


class PeError(Exception):
    pass


def _sections(data, pe):
    count, opt_size = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + opt_size
    out = []
    for i in range(count):
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<4I", data, table + 40 * i + 8)
        out.append((vaddr, max(vsize, rawsize), rawptr))
    return out


def _offset(sections, rva):
    for vaddr, size, rawptr in sections:
        if vaddr <= rva < vaddr + size:
            return rawptr + rva - vaddr
    raise PeError("address 0x%x is in no section" % rva)


def _name(data, sections, rva):
    start = _offset(sections, rva)
    end = data.find(b"\0", start)
    if end < 0:
        raise PeError("unterminated DLL name")
    return data[start:end].decode("ascii")


def imported_dlls(data):
    """The DLL names of a PE image's import and delay-load import tables."""
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise PeError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic == 0x10B:
        dirs = opt + 96
    elif magic == 0x20B:
        dirs = opt + 112
    else:
        raise PeError("unknown optional header 0x%x" % magic)
    count = struct.unpack_from("<I", data, dirs - 4)[0]
    sections = _sections(data, pe)
    names = []
    # Directory 1: IMAGE_IMPORT_DESCRIPTOR, 20 bytes, name at +12.
    # Directory 13: the delay-load descriptor, 32 bytes, name at +4.
    for index, size, name_at in ((1, 20, 12), (13, 32, 4)):
        if index >= count:
            continue
        rva, length = struct.unpack_from("<II", data, dirs + 8 * index)
        if rva == 0 or length == 0:
            continue
        at = _offset(sections, rva)
        while True:
            entry = data[at:at + size]
            if len(entry) < size:
                raise PeError("import table runs past the end of the file")
            name_rva = struct.unpack_from("<I", entry, name_at)[0]
            if name_rva == 0:
                break
            names.append(_name(data, sections, name_rva))
            at += size
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--allowed", required=True)
    parser.add_argument("--require", action="append", default=[])
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()

    with open(args.allowed, encoding="utf-8") as f:
        allowed = {line.split("#")[0].strip().lower() for line in f} - {""}

    files = []
    for path in args.paths:
        if os.path.isdir(path):
            files += sorted(os.path.join(path, n) for n in os.listdir(path)
                            if n.lower().endswith((".exe", ".dll")))
        else:
            files.append(path)

    ok = True
    for name in args.require:
        if name not in {os.path.basename(f) for f in files}:
            print("FAIL: %s was not built" % name)
            ok = False
    for path in files:
        try:
            with open(path, "rb") as f:
                dlls = imported_dlls(f.read())
        except (OSError, PeError, struct.error) as e:
            print("FAIL: %s: %s" % (path, e))
            ok = False
            continue
        print("%s: %s" % (os.path.basename(path), " ".join(sorted(set(dlls))) or "(none)"))
        for dll in sorted(set(dlls)):
            if dll.lower() not in allowed:
                print("FAIL: %s imports %s, which is not a Windows system DLL"
                      % (os.path.basename(path), dll))
                ok = False
    print("%d files checked" % len(files))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
