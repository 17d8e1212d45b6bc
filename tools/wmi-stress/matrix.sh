#!/bin/bash
# Runs wmi-stress under Wine over the variants and prints one line per variant and workload:
# how many runs ended in an unhandled page fault, how many hung (killed after 60 s; a run
# takes about a second), and the failures and wrong answers counted by the runs that finished. Needs DISPLAY and WINEPREFIX set (an initialised prefix).
#   tools/wmi-stress/matrix.sh [RUNS] [THREADS] [OPS]      (defaults 10 4 500)
set -u
runs=${1:-10} threads=${2:-4} ops=${3:-500}
stress=${WMI_STRESS:-build/windows/wmi-stress.exe}
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
variants=("" "--share thread" "--share process" "--apartment sta" "--main none" "--order uninitialize-first")
workloads=("survey" "method" "survey,firmware,smbios,volume" "firmware,smbios,volume")
log=$(mktemp)
trap 'rm -f "$log"' EXIT
printf '%-28s %-30s %5s %8s %5s %7s %6s\n' variant workload runs faulted hung failed wrong
for variant in "${variants[@]}"; do
  for workload in "${workloads[@]}"; do
    faulted=0 hung=0 failed=0 wrong=0
    for _ in $(seq "$runs"); do
      # Into a file, not a pipe: Wine's own background processes may keep a pipe open.
      # shellcheck disable=SC2086
      timeout 60 "$wine" "$stress" --threads "$threads" --ops "$ops" --only "$workload" $variant >"$log" 2>&1
      status=$?
      out=$(<"$log")
      if grep -q "Unhandled page fault\|Unhandled exception" <<<"$out"; then
        faulted=$((faulted + 1))
        continue
      fi
      if [ "$status" = 124 ] || ! grep -q '^operations' <<<"$out"; then
        hung=$((hung + 1))
        continue
      fi
      read -r f w < <(sed -n 's/^operations [0-9]* failures \([0-9]*\) wrong \([0-9]*\).*/\1 \2/p' <<<"$out")
      failed=$((failed + f)) wrong=$((wrong + w))
    done
    printf '%-28s %-30s %5d %8d %5d %7d %6d\n' "${variant:-(as the broker)}" "$workload" "$runs" "$faulted" "$hung" "$failed" "$wrong"
  done
done
