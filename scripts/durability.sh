#!/usr/bin/env bash
# Kills the Linux broker with SIGKILL at random moments while clients write registry values
# through it, and checks after every restart that nothing answered 0 was lost.
#
#   scripts/durability.sh [--kills N] [--writers W] [--min-ms MS] [--max-ms MS] [--build DIR]
#                         [--seed S]
#
# Each round starts the broker on one root (kept across rounds), waits until it answers an echo,
# lets W writers run quellmark-cli in loops — `value create` (command 3) of a new value, then
# `value set` (command 5) of the same value to other data — and kills the broker with SIGKILL
# after a random MIN to MAX milliseconds (default 0 to 1200). Then:
#   - a copy of the database as the kill left it (main file and write-ahead log) must pass
#     SQLite's `PRAGMA integrity_check`;
#   - the broker is started again on the same root, and every value of this round whose last
#     write was answered 0 must read back through the broker with that data (or with the data
#     of the one write of it still unanswered at the kill, which may or may not have landed);
#   - every value answered 0 in any earlier round must still be listed, with its data, under
#     the test key.
# Prints one line per round and a summary; exits 1 at the first loss or corrupt database.
set -euo pipefail
cd "$(dirname "$0")/.."

kills=200 writers=4 min_ms=0 max_ms=1200 build=build/default seed=$$
while (($#)); do
  case "$1" in
    --kills) kills=$2; shift 2 ;;
    --writers) writers=$2; shift 2 ;;
    --min-ms) min_ms=$2; shift 2 ;;
    --max-ms) max_ms=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "usage: $0 [--kills N] [--writers W] [--min-ms MS] [--max-ms MS] [--build DIR] [--seed S]" >&2; exit 2 ;;
  esac
done
RANDOM=$seed
broker_bin=$(realpath "$build/quellmark")
cli_bin=$(realpath "$build/quellmark-cli")
profile=$(realpath machines/vexor-default.profile)
command -v sqlite3 >/dev/null || { echo "durability: sqlite3 is needed" >&2; exit 2; }

work=$(mktemp -d /tmp/quellmark-durability.XXXXXX)
root=$work/root
mkdir -p "$root" "$work/logs"
key='HKEY_LOCAL_MACHINE\SOFTWARE\Durability'
broker_pid=
cleanup() {
  if [[ -n $broker_pid ]]; then
    kill -9 "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

cli() { "$cli_bin" --root "$root" "$@"; }

start_broker() {
  "$broker_bin" --root "$root" --machine "$profile" >/dev/null 2>&1 &
  broker_pid=$!
  for _ in $(seq 500); do
    if cli send 0 >/dev/null 2>&1; then return 0; fi
    kill -0 "$broker_pid" 2>/dev/null || { echo "durability: the broker exited at start" >&2; exit 1; }
    sleep 0.01
  done
  echo "durability: the broker did not answer within 5 s" >&2
  exit 1
}

# One writer: S before each request, A when it was answered 0, F with the answer otherwise.
writer() {
  local round=$1 w=$2 log=$3 n=0 name answer
  while :; do
    name="r${round}w${w}n${n}"
    for step in create set; do
      local data="${step}-${round}-${w}-${n}"
      echo "S $name $data" >>"$log"
      answer=$(cli value "$step" "$key" "$name" REG_SZ "str:$data" 2>/dev/null) || answer=
      if [[ $answer == "0 (0x00000000)" ]]; then
        echo "A $name $data" >>"$log"
      else
        echo "F $name $data" >>"$log"
        return 0
      fi
    done
    n=$((n + 1))
  done
}

# "name data" of every value under the key, read through the broker's registry database.
listed_values() {
  cli reg query "$key" 2>/dev/null | awk '$2 == "REG_SZ" { print $1, $3 }' | sort
}

# From writer logs: "name last-answered-data pending-data-or-dash" for each value with an answer.
expected_values() {
  cat "$@" | awk '
    $1 == "S" { pending[$2] = $3 }
    $1 == "A" { acked[$2] = $3; delete pending[$2] }
    END { for (n in acked) print n, acked[n], (n in pending ? pending[n] : "-") }' | sort
}

# Reads back, through the broker, every value of round $1, each with the data its last write
# was answered 0 with (or the data of its one write still unanswered at the kill).
check_round() {
  local name acked pending got
  while read -r name acked pending; do
    got=$(cli value get "$key" "$name" RRF_RT_ANY 256 2>/dev/null | sed -n 's/^text: //p') || got=
    if [[ $got != "$acked" && $got != "$pending" ]]; then
      echo "round $1: value $name reads '$got' after the restart, answered 0 with '$acked'" >&2
      exit 1
    fi
  done < <(expected_values "$work"/logs/r"$1"w*.log)
}

total_acked=0 total_rounds=0 started=$(date +%s)
for ((round = 1; round <= kills; round++)); do
  start_broker
  if ((round > 1)); then
    # Through the broker: this root's values of the last round, each with the data answered.
    check_round $((round - 1))
    # Every earlier round's answered values, all at once.
    missing=$(comm -23 <(expected_values "$work"/logs/*.log | awk '{print $1, $2}') \
      <(listed_values))
    if [[ -n $missing ]]; then
      # A value whose unanswered write landed reads that data instead; only a true loss fails.
      while read -r name acked; do
        got=$(listed_values | awk -v n="$name" '$1 == n { print $2 }')
        pend=$(expected_values "$work"/logs/*.log | awk -v n="$name" '$1 == n { print $3 }')
        if [[ $got != "$pend" ]]; then
          echo "round $round: value $name answered 0 with '$acked' is missing or reads '$got'" >&2
          exit 1
        fi
      done <<<"$missing"
    fi
  fi

  pids=()
  for ((w = 0; w < writers; w++)); do
    writer "$round" "$w" "$work/logs/r${round}w${w}.log" &
    pids+=($!)
  done
  delay_ms=$((min_ms + (RANDOM * 32768 + RANDOM) % (max_ms - min_ms + 1)))
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -9 "$broker_pid"
  wait "$broker_pid" 2>/dev/null || true
  broker_pid=
  for pid in "${pids[@]}"; do wait "$pid" || true; done

  # The database exactly as the kill left it, checked on a copy so the broker's next start
  # recovers the original.
  rm -rf "$work/copy" && mkdir "$work/copy"
  cp "$root/registry.db" "$work/copy/"
  [[ -f $root/registry.db-wal ]] && cp "$root/registry.db-wal" "$work/copy/"
  integrity=$(sqlite3 "$work/copy/registry.db" 'PRAGMA integrity_check')
  if [[ $integrity != ok ]]; then
    echo "round $round: integrity check after the kill: $integrity" >&2
    exit 1
  fi
  acked=$(cat "$work"/logs/r"$round"w*.log | grep -c '^A' || true)
  total_acked=$((total_acked + acked))
  total_rounds=$round
  echo "round $round: killed after ${delay_ms} ms, $acked writes answered 0, integrity ok"
done

# The last round's values, checked after one more restart.
start_broker
check_round "$kills"
if ((total_acked == 0)); then
  echo "durability: no write was answered 0, so nothing was shown" >&2
  exit 1
fi
values=$(listed_values | wc -l)
echo "durability: $total_rounds kills, $total_acked writes answered 0, $values values present," \
  "0 lost, every database copy passed integrity_check ($(($(date +%s) - started)) s)"
