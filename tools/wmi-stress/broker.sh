#!/bin/bash
# Firmware commands from several quellmark-cli.exe clients while quellmark.exe's start-up
# survey queries WMI, under Wine. Needs DISPLAY and WINEPREFIX set (an initialised prefix).
#   tools/wmi-stress/broker.sh [CLIENTS] [REQUESTS] [each|one]      (defaults 6 1000 one)
# Each client sends batches of REQUESTS until the survey has ended, and one batch more; one: a
# batch on one connection; each: one connection per request. The survey's values are published
# first, so the start is a repeated one: the survey waits 9 to 15 s, then queries while the
# clients are busy. COMMANDS (comma-separated, a client takes
# the next in turn) defaults to the ROOT\WMI firmware reads. Prints per client the answers
# received and the distinct answers, then the broker's page faults. Exits 1 when an answer is missing or a fault was seen.
set -u
clients=${1:-6} requests=${2:-1000} mode=${3:-one}
build=${BUILD:-build/windows}
wine=${WINE:-/usr/lib/wine/wine64}
IFS=, read -ra commands <<<"${COMMANDS:-14 u32:1,16 u32:1,18,20,27 u32:1,30 u32:1}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
out=$(mktemp -d)
[ -n "${KEEP_OUTPUT:-}" ] && echo "output in $out" || trap 'rm -rf "$out"' EXIT
log="$WINEPREFIX/drive_c/ProgramData/OEM/Calvane/Log/$(whoami)_Quellmark.log"
quiet() { WINEDEBUG=-all "$wine" "$@" >/dev/null 2>&1; }
# A client's own crash shows only with Wine's err channel on; any other failure it prints.
send() { WINEDEBUG=fixme-all "$wine" "$build/quellmark-cli.exe" send "$@" || echo "client exit $?"; }

# The menu's Exit, then a bounded wait for the broker's end; killed when it does not end.
stop() {
  quiet "$build/quellmark-cli.exe" shutdown
  for _ in $(seq 60); do kill -0 "$1" 2>/dev/null || break; sleep 0.5; done
  kill "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

quiet reg add 'HKLM\SOFTWARE\OEM\Calvane\Log' /v Quellmark /t REG_DWORD /d 1 /f
# One quiet start publishes the survey's values, so that the measured start waits before it.
if ! quiet reg query 'HKLM\SOFTWARE\OEM\Calvane' /v Model_Name_1st; then
  WINEDEBUG=-all "$wine" "$build/quellmark.exe" >/dev/null 2>&1 &
  for _ in $(seq 120); do grep -qs 'check_boot_sound_switch_support | Exit' "$log" && break; sleep 0.5; done
  stop $!
fi
rm -f "$log"
# Faults reach stderr only when Wine's err channel is on.
WINEDEBUG=fixme-all "$wine" "$build/quellmark.exe" >/dev/null 2>"$out/broker.err" &
broker=$!
for _ in $(seq 120); do WINEDEBUG=-all "$wine" "$build/quellmark-cli.exe" send --timeout 2000 0 >/dev/null 2>&1 && break; sleep 0.25; done
for c in $(seq "$clients"); do
  read -ra words <<<"${commands[$(((c - 1) % ${#commands[@]}))]}"
  (
    last=no
    while [ $last = no ]; do
      grep -qs 'check_boot_sound_switch_support | Exit' "$log" && last=yes
      # --timeout bounds a client's whole exchange, every request of --repeat included.
      if [ "$mode" = each ]; then
        for _ in $(seq "$requests"); do send --raw --timeout 60000 "${words[@]}"; done
      else
        send --raw --timeout 600000 --repeat "$requests" "${words[@]}"
      fi >>"$out/$c" 2>&1
      echo "$requests" >>"$out/$c.sent"
    done
  ) &
done
wait $(jobs -p | grep -vx "$broker")
stop "$broker"
status=0
for c in $(seq "$clients"); do
  answers=$(grep -c '^0[0-9] ' "$out/$c")
  sent=$(paste -sd+ "$out/$c.sent" | bc)
  [ "$answers" = "$sent" ] || status=1
  echo "client $c (${commands[$(((c - 1) % ${#commands[@]}))]}): $answers of $sent answered;" \
    "distinct: $(tr -d '\r' <"$out/$c" | sort -u | paste -sd'|')"
done
faults=$(grep -ci 'page fault\|unhandled exception' "$out/broker.err")
[ "$faults" = 0 ] || status=1
echo "page faults: $faults; survey lines in the log: $(grep -c 'IbClientCommandProcessor::check_' "$log")"
exit $status
