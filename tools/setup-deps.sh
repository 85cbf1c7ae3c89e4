#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: when every
# package is already present it only checks and returns.
set -euo pipefail

packages=(
  # build
  cmake ninja-build make pkg-config clang clang-format libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine64-tools libwine-dev
  # libraries
  rapidjson-dev libsimpleini-dev googletest libgtest-dev libbenchmark-dev
  libgcrypt-mingw-w64-dev libksba-mingw-w64-dev
  # native libgcrypt: the PIN pad's text table tests stand in for the token library with it
  libgcrypt20-dev
  # test platform
  wine64 xvfb x11-apps imagemagick fonts-wqy-microhei
  openssl osslsigncode nsis chromium python3
  # Firefox's NSS for the installer plug-in's tests: Linux NSS behind a test-only Winelib
  # nss3.dll, judged by certutil and modutil
  libnss3-dev libnss3-tools
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
