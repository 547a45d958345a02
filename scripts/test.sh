#!/bin/bash
# Sets up a Debian 12 machine and passes every test of both builds:
#   native - the portable core with AddressSanitizer + UBSan;
#   win32  - the product cross-built for 32-bit Windows, tested under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Every C and C++ file as the pinned formatter leaves it.
bash scripts/check-format.sh

stop_wine() {
  cmake/wine-run.sh build/win32/wine --stop || true
  cmake/wine-run.sh --arch win32 build/win32/wine32 --stop || true
}
trap stop_wine EXIT

for preset in native win32; do
  echo "=== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset tests"
  if [ "$preset" = win32 ]; then
    # The dialog and tray tests open real windows: they need an X display.
    sh scripts/with-display.sh ctest --preset "$preset"
  else
    ctest --preset "$preset"
  fi
done

# Every fuzz target once over its corpus, so a crash once found stays fixed.
echo "=== fuzz targets over their corpora"
bash fuzz/run.sh 0

# The benchmarks build and their smallest case runs once; no time is asserted.
echo "=== benchmark smoke"
bash scripts/bench.sh --smoke --win32-build build/win32 --native-build build/native
