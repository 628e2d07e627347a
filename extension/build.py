#!/usr/bin/env python3
"""Builds the Quillmark extension for Chromium-family browsers and Firefox,
and the page client quillmark.js, from the one source in extension/.

Usage: extension/build.py --cli build/quillmark [--out build/extension] [--release]
       extension/build.py --typelib FILE.json [--out DIR] [--release]

The member table of quillmark.js comes from `quillmark typelib --json`.
Output in DIR: chromium/ (Manifest V3 with a service worker), firefox/
(background scripts and the fixed gecko id), quillmark.js for pages, and a
zip of each package. The Chromium manifest carries the development key (the
store assigns its own ID, so --release leaves it out); the build fails when
extension-id.txt does not name the ID that key gives.
"""
import argparse
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import zipfile

SOURCE = os.path.dirname(os.path.abspath(__file__))
PACKAGE_FILES = ["background.js", "content.js"]
MEMBERS_PLACEHOLDER = "/*@MEMBERS@*/[]"
GECKO_ID = "quillmark@quillmark.example"
GECKO_MIN_VERSION = "115.0"
ZIP_TIME = (2020, 1, 1, 0, 0, 0)


def extension_id(public_key_b64):
    """The Chromium extension ID of a manifest "key": the first 128 bits of
    the SHA-256 of the DER public key, one letter a-p per hex digit."""
    digest = hashlib.sha256(base64.b64decode(public_key_b64)).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


def member_table(typelib):
    rows = []
    for m in typelib["members"]:
        params = [p["name"] for p in m["params"] if p["dir"] != "out,retval"]
        rows.append([m["name"], m["kind"], params])
    if not rows:
        raise ValueError("the type library lists no members")
    return rows


def page_client(members):
    with open(os.path.join(SOURCE, "quillmark.js"), encoding="utf-8") as f:
        text = f.read()
    if text.count(MEMBERS_PLACEHOLDER) != 1:
        raise ValueError("quillmark.js must hold the member placeholder exactly once")
    table = json.dumps(members, ensure_ascii=True, separators=(",", ":"))
    return text.replace(MEMBERS_PLACEHOLDER, table)


def manifests(source, release):
    chromium = {k: v for k, v in source.items() if not (release and k == "key")}
    chromium["minimum_chrome_version"] = "110"
    firefox = {k: v for k, v in source.items() if k != "key"}
    firefox["background"] = {"scripts": [source["background"]["service_worker"]]}
    firefox["browser_specific_settings"] = {
        "gecko": {"id": GECKO_ID, "strict_min_version": GECKO_MIN_VERSION}}
    return {"chromium": chromium, "firefox": firefox}


def write_zip(folder, path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name in sorted(os.listdir(folder)):
            info = zipfile.ZipInfo(name, ZIP_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(info, f.read())


def build(typelib, out, release=False):
    with open(os.path.join(SOURCE, "manifest.json"), encoding="utf-8") as f:
        source = json.load(f)
    with open(os.path.join(SOURCE, "extension-id.txt"), encoding="utf-8") as f:
        recorded = f.read().strip()
    derived = extension_id(source["key"])
    if recorded != derived:
        raise ValueError(f"extension-id.txt says {recorded} but the manifest key gives {derived}")

    os.makedirs(out, exist_ok=True)
    client = page_client(member_table(typelib))
    with open(os.path.join(out, "quillmark.js"), "w", encoding="utf-8") as f:
        f.write(client)
    for browser, manifest in manifests(source, release).items():
        folder = os.path.join(out, browser)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name in PACKAGE_FILES:
            shutil.copyfile(os.path.join(SOURCE, name), os.path.join(folder, name))
        with open(os.path.join(folder, "manifest.json"), "w", encoding="utf-8") as f:
            json.dump(manifest, f, indent=2)
            f.write("\n")
        write_zip(folder, os.path.join(out, f"quillmark-{browser}.zip"))
    return derived


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument("--cli", help="the quillmark command, run as `typelib --json`")
    source.add_argument("--typelib", help="a saved `quillmark typelib --json` output")
    parser.add_argument("--out", default="build/extension")
    parser.add_argument("--release", action="store_true",
                        help="leave the development key out of the Chromium manifest")
    args = parser.parse_args()
    try:
        if args.cli:
            text = subprocess.run([args.cli, "typelib", "--json"], check=True,
                                  capture_output=True, text=True).stdout
        else:
            with open(args.typelib, encoding="utf-8") as f:
                text = f.read()
        ident = build(json.loads(text), args.out, args.release)
    except (OSError, ValueError, KeyError, subprocess.CalledProcessError) as e:
        print(f"extension build: {e}", file=sys.stderr)
        return 1
    print(f"extension {ident} built in {args.out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
