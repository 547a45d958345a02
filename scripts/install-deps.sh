#!/bin/bash
# Installs, on Debian 12 as root, every package that building, testing and
# running Kelvra needs. Packages already present are skipped, so a second run
# costs a few seconds.
set -euo pipefail

packages=(
  # builds
  cmake ninja-build g++ googletest
  # kvscan's JSON report (header only, also for the cross build)
  nlohmann-json3-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-i686-dev
  # the analysis micro-benchmark (bench/)
  libbenchmark-dev
  # running the product and its tests
  wine wine64 wine32:i386 fonts-wine xvfb xauth python3
  # proxy tests, screenshots, fuzzing
  tinyproxy imagemagick xdotool clang libclang-rt-14-dev
  # locking in the Wine wrapper
  util-linux
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
