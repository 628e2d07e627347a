#!/usr/bin/env python3
"""The include graph of src/ as the compiler recorded it, checked for upward edges.

Reads every dependency file (*.o.d) the compiler wrote under a build tree,
maps each compiled source and each header it pulled in to its folder of src/
(a platform family counts as its own folder), and checks every edge against
the order of the layers:

    common < platform/os < openssl < names < store < registry < ui < keys
           < chain < message < automation < (encoding | signeddata | certs) < crypto
           < control < com < (host | cli)        demo sees common and platform

encoding, signeddata and certs are siblings: none of them includes another.
cli may also use demo. Besides, only platform/ (and zlib in encoding/) may
include the system's OpenSSL, iconv, PKCS#11, POSIX or Windows headers, which
is checked on the sources' own #include lines.

The same order holds for calls: every symbol of ours that an object file of
one folder leaves undefined must be defined by an object of that folder or of
one below it (read with nm), so a function declared low and defined high is
found even though the shared library links it.

    include_graph.py [--src SRC] [--dot FILE] BUILD_DIR

Exits 1 and names each offending edge or include when the rule is broken.
"""

import argparse
import os
import re
import subprocess
import sys
from collections import Counter

PLATFORM = ["platform/os", "platform/openssl", "platform/names", "platform/store",
            "platform/registry", "platform/ui", "platform/keys", "platform/chain",
            "platform/message", "platform/automation"]
SIBLINGS = ["encoding", "signeddata", "certs"]


def allowed_below(folder):
    """The folders |folder| may include besides itself."""
    if folder == "common":
        return set()
    if folder in PLATFORM:
        return {"common", *PLATFORM[:PLATFORM.index(folder)]}
    if folder in SIBLINGS or folder == "demo":
        return {"common", *PLATFORM}
    chain = ["crypto", "control", "com"]
    if folder in chain:
        return {"common", *PLATFORM, *SIBLINGS, *chain[:chain.index(folder)]}
    if folder in ("host", "cli"):
        extra = {"demo"} if folder == "cli" else set()
        return {"common", *PLATFORM, *SIBLINGS, *chain, *extra}
    return None


def folder_of(path, src):
    """The layer folder of a file under src/, or None for anything else."""
    real = os.path.realpath(path)
    if not real.startswith(src + os.sep):
        return None
    parts = os.path.relpath(real, src).split(os.sep)
    if len(parts) < 2:
        return None
    if parts[0] == "platform":
        return "platform/" + parts[1] if len(parts) > 2 else None
    return parts[0]


def read_depfile(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    text = text.replace("\\\n", " ")
    _, _, deps = text.partition(": ")
    return [d for d in re.split(r"(?<!\\)\s+", deps) if d]


SYSTEM_HEADERS = re.compile(
    r'^\s*#\s*include\s*<(openssl/|iconv\.h|unistd\.h|sys/|fcntl\.h|dirent\.h|pwd\.h|'
    r'ifaddrs\.h|net/|netinet/|termios\.h|dlfcn\.h|pkcs11|p11-kit/|windows\.h|wincrypt\.h|'
    r'zlib\.h)', re.M)


def check_system_includes(src):
    problems = []
    for root, _, files in os.walk(src):
        for name in files:
            if not name.endswith((".cc", ".h")):
                continue
            path = os.path.join(root, name)
            folder = folder_of(path, src)
            if folder is None or folder.startswith("platform/"):
                continue
            text = open(path, encoding="utf-8", errors="replace").read()
            for match in SYSTEM_HEADERS.finditer(text):
                header = match.group(1)
                if header == "zlib.h" and folder == "encoding":
                    continue
                rel = os.path.relpath(path, src)
                problems.append(f"{rel} includes <{header}...>, a platform header")
    return problems


def read_symbols(obj):
    """(defined, undefined) symbols of ours in one object file, mangled."""
    out = subprocess.run(["nm", "-P", obj], capture_output=True, text=True, check=True).stdout
    defined, undefined = set(), set()
    for line in out.splitlines():
        fields = line.split()
        if len(fields) < 2 or "9quillmark" not in fields[0]:
            continue
        (undefined if fields[1] == "U" else defined).add(fields[0])
    return defined, undefined


def check_calls(objects):
    """Undefined symbols whose only definitions lie above or beside their user."""
    defined_in = {}
    wanted = []
    for obj, folder in objects:
        defined, undefined = read_symbols(obj)
        for name in defined:
            defined_in.setdefault(name, set()).add(folder)
        wanted.append((obj, folder, undefined))
    problems = []
    for obj, folder, undefined in wanted:
        allowed = (allowed_below(folder) or set()) | {folder}
        for name in sorted(undefined):
            homes = defined_in.get(name)
            if homes and not homes & allowed:
                demangled = subprocess.run(["c++filt", name], capture_output=True,
                                           text=True).stdout.strip() or name
                problems.append(f"{os.path.basename(obj)} ({folder}) calls {demangled}, "
                                f"defined in {', '.join(sorted(homes))}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--src", default=os.path.join(os.path.dirname(__file__), "..", "src"))
    parser.add_argument("--dot", help="also write the folder graph in Graphviz form")
    args = parser.parse_args()
    src = os.path.realpath(args.src)

    edges = Counter()
    objects = []
    depfiles = 0
    for root, _, files in os.walk(args.build_dir):
        for name in files:
            if not name.endswith(".o.d"):
                continue
            deps = read_depfile(os.path.join(root, name))
            if not deps:
                continue
            source = folder_of(deps[0], src)
            if source is None:
                continue  # tests, benchmarks, fuzz targets see everything
            depfiles += 1
            obj = os.path.join(root, name[:-2])
            if os.path.exists(obj):
                objects.append((obj, source))
            for dep in deps[1:]:
                target = folder_of(dep, src)
                if target is not None and target != source:
                    edges[(source, target)] += 1

    if depfiles == 0:
        print(f"no dependency files of src/ under {args.build_dir}: build it first")
        return 1

    problems = []
    for (source, target), count in sorted(edges.items()):
        allowed = allowed_below(source)
        if allowed is None:
            problems.append(f"{source}: a folder with no place in the order")
        elif target not in allowed:
            problems.append(f"{source} -> {target} ({count} includes): runs upward or sideways")
    problems += check_system_includes(src)
    problems += check_calls(objects)

    if args.dot:
        with open(args.dot, "w") as out:
            out.write("digraph includes {\n  rankdir=BT;\n")
            for (source, target), count in sorted(edges.items()):
                out.write(f'  "{source}" -> "{target}" [label={count}];\n')
            out.write("}\n")

    folders = {f for edge in edges for f in edge}
    print(f"{depfiles} sources, {len(folders)} folders, {len(edges)} edges, "
          f"{len(objects)} objects' symbols checked")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
