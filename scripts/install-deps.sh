#!/bin/bash
# Installs, on Debian 12 as root, every package that building, testing and
# running Kelvra needs, and generates the locales its tests run under.
# Packages and locales already present are skipped, so a second run costs a
# few seconds.
set -euo pipefail

packages=(
  # builds, and the pinned formatter that the test command checks with
  cmake ninja-build g++ googletest clang-format
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
  # the slow network share of the tests (a FUSE file system; Debian's own
  # /usr/bin/python3 imports it as fusepy)
  python3-fusepy libfuse2
  # the locales of the tests in other ANSI code pages
  locales
)

# Wine takes the ANSI code page from the locale: ja_JP.UTF-8 gives the
# double-byte 932, ru_RU.UTF-8 the Cyrillic 1251.
locales=(ja_JP.UTF-8 ru_RU.UTF-8)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# `locale -a` names ja_JP.UTF-8 as ja_JP.utf8.
missing_locales=()
for l in "${locales[@]}"; do
  if ! locale -a 2>/dev/null | grep -qix "${l%%.*}.utf8"; then
    missing_locales+=("$l")
  fi
done

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_locales[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}) or locales (${missing_locales[*]});" \
    "run this script as root" >&2
  exit 1
fi

if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Listed in /etc/locale.gen, so that a later locale-gen, which rebuilds
# every locale from that list, keeps them.
if [ ${#missing_locales[@]} -gt 0 ]; then
  for l in "${missing_locales[@]}"; do
    line="$l ${l##*.}"
    if ! grep -qx "$line" /etc/locale.gen; then
      if grep -qx "# *$line" /etc/locale.gen; then
        sed -i "s/^# *$line\$/$line/" /etc/locale.gen
      else
        echo "$line" >>/etc/locale.gen
      fi
    fi
  done
  locale-gen
fi
