#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, if any are missing.
# As root it runs apt-get; otherwise it names the packages and stops.
set -euo pipefail

packages=(g++ make cmake pkg-config libssl-dev zlib1g-dev libgtest-dev libgmock-dev
          libbenchmark-dev openssl gzip python3
          chromium firefox-esr   # the browser tests; the page round-trip benchmark
          softhsm2 p11-kit libp11-kit-dev  # hardware tokens: PKCS#11 headers, a software token for tests
          qt6-base-dev xvfb xauth fonts-noto-cjk  # the desktop dialogs and their screenshots
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
          libz-mingw-w64-dev wine wine64)  # the Windows build and its tests under wine

# The browser tests and the extension build's checks run on Node.js (18 or
# later, for node:test); a node already on the PATH will do.
command -v node >/dev/null 2>&1 || packages+=(nodejs)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
