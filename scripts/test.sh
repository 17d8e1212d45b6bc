#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test suite: the Windows build
# (cross-compiled), the fuzz targets (a few seconds each over their seed corpus), the Linux
# build under AddressSanitizer+UBSan and under ThreadSanitizer, then the plain Linux build
# together with the Windows binaries under Wine; that last CTest summary closes the output.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
echo "=== windows: configure and build ==="
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
echo "=== fuzz: every target briefly over its corpus ==="
bash scripts/fuzz.sh 3
for preset in asan tsan default; do
  echo "=== ${preset}: configure and build ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== ${preset}: tests ==="
  ctest --preset "$preset" -j "$jobs"
done
