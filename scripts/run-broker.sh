#!/usr/bin/env bash
# Sets up the machine, builds the Linux broker and runs it on the simulated notebook rooted in
# ${QUELLMARK_ROOT:-./quellmark-root}, with logging switched on. Ctrl+C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target quellmark quellmark-cli

root="${QUELLMARK_ROOT:-$PWD/quellmark-root}"
mkdir -p "$root"
build/default/quellmark-cli --root "$root" reg add 'HKLM\SOFTWARE\OEM\Calvane\Log' /v Quellmark /t REG_DWORD /d 1 /f >/dev/null
echo "Quellmark: root $root"
echo "  log:  $root/C/ProgramData/OEM/Calvane/Log/$(id -un)_Quellmark.log"
echo "  try:  build/default/quellmark-cli --root $root send 0 u32:5 str:hello"
exec build/default/quellmark "$@" --root "$root"
