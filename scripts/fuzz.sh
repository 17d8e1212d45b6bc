#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target of fuzz/ for SECONDS (default 10),
# starting from its seed corpus fuzz/corpus/NAME; prints per target the executions and the
# findings (crash, leak, timeout or out-of-memory inputs, kept in the findings folder), and a
# total. Exits with 1 when anything was found.
#   scripts/fuzz.sh [--no-build] [--findings DIR] [SECONDS [TARGET...]]
# The seeds are only read: what a run adds to the corpus goes to a scratch folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
findings=build/fuzz/findings
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0; shift ;;
    --findings) findings=$2; shift 2 ;;
    *) break ;;
  esac
done
seconds=${1:-10}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

if [ "$build" -eq 1 ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]/#/fuzz_}" >/dev/null
fi

mkdir -p "$findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
total_runs=0
total_found=0
printf '%-20s %14s %9s\n' target executions findings
for t in "${targets[@]}"; do
  rm -rf "${findings:?}/$t"
  mkdir -p "$scratch/$t" "$findings/$t"
  log="$findings/$t.log"
  rc=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build/fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$findings/$t/" "$scratch/$t" "fuzz/corpus/$t" \
    >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$findings/$t" -type f | wc -l)
  # A run that ended without its statistics (a crash of the target) counts as a finding too.
  if [ "$rc" -ne 0 ] && [ "$found" -eq 0 ]; then found=1; fi
  printf '%-20s %14s %9s\n' "$t" "${runs:-?}" "$found"
  total_runs=$((total_runs + ${runs:-0}))
  total_found=$((total_found + found))
done
printf '%-20s %14s %9s\n' total "$total_runs" "$total_found"
[ "$total_found" -eq 0 ]
