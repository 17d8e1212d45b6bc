#!/usr/bin/env bash
# Mutation check: plants known faults in the product one at a time and runs the unit and
# integration tests against each, to show which faults the tests catch and which slip through.
#
#   scripts/mutation-check.sh [--only PATTERN] [--faults FILE] [--work DIR] [--jobs N]
#                             [--timeout S] [--keep]
#
#   --only PATTERN  run only the faults whose id matches this extended regular expression
#   --faults FILE   the fault list (default scripts/mutation-faults.txt)
#   --work DIR      scratch folder for the copied tree and its build; a folder kept from an
#                   earlier run is reused, so only what changed since is copied and rebuilt
#   --jobs N        parallel build jobs (default 2)
#   --timeout S     seconds each test binary may run before the fault counts as caught (300)
#   --keep          keep the scratch folder afterwards (a --work folder is always kept)
#
# The fault list holds one record per fault:
#   ## <id>: <what the fault stands for>
#   file: <path under the repository root>
#   find: <exact text, unique in that file>
#   replace: <the faulty text>
# A record whose find text is missing or occurs more than once is refused, so the list cannot
# silently go stale when the code moves. Blank lines and lines starting with a single '#'
# (not '##') are comments.
#
# Per fault the result is one of:
#   caught    a test failed (or the tests ran past the timeout)
#   survived  both test binaries passed with the fault in place
#   broken    the record is refused or the faulty tree does not build; an error in the list
# Exit status 0 when every fault was caught, 1 otherwise, 2 on a usage or setup error.
set -uo pipefail

# The whole script is one block, read in full before it runs: editing this file cannot disturb a
# run in progress.
{

repo=$(git -C "$(dirname "$0")" rev-parse --show-toplevel) || exit 2
faults="$repo/scripts/mutation-faults.txt"
only=''
work=''
jobs=2
keep=0
test_timeout=300
targets=(unit_tests integration_tests quellmark quellmark-cli)

usage() { sed -n '4,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while [[ $# -gt 0 ]]; do
  case $1 in
    --only) only=${2:?}; shift 2 ;;
    --faults) faults=$(realpath "${2:?}"); shift 2 ;;
    --work) work=${2:?}; keep=1; shift 2 ;;
    --jobs) jobs=${2:?}; shift 2 ;;
    --timeout) test_timeout=${2:?}; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) usage ;;
    *) echo "unknown argument: $1" >&2; usage ;;
  esac
done
[[ -f $faults ]] || { echo "no fault list at $faults" >&2; exit 2; }
if [[ -z $work ]]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/quellmark-mutation.XXXXXX") || exit 2
fi
mkdir -p "$work" && work=$(realpath "$work")
tree="$work/tree"          # the copy the faults are planted in
logs="$work/logs"          # build and test output per fault
build="$tree/build/default"
mkdir -p "$tree" "$logs"

if [[ $keep -eq 0 ]]; then
  trap 'rm -rf "$work"' EXIT
fi

# --- Copy the tree -------------------------------------------------------------------------
# Tracked and untracked-but-not-ignored files as they are in the working tree, uncommitted
# edits included. A file is copied only when it differs from the copy, so a reused scratch
# folder keeps its timestamps and rebuilds only what changed (and a fault left behind by an
# interrupted run is undone here).
echo "copying $repo to $tree"
while IFS= read -r -d '' path; do
  [[ -f $repo/$path ]] || continue                  # deleted in the working tree
  if ! cmp -s "$repo/$path" "$tree/$path"; then
    mkdir -p "$(dirname "$tree/$path")"
    cp "$repo/$path" "$tree/$path"
  fi
done < <(git -C "$repo" ls-files -z --cached --others --exclude-standard)
# Files deleted from the working tree since an earlier run go from the copy too (a stale source
# would still be picked up by the build's globs).
while IFS= read -r -d '' path; do
  [[ -e $repo/$path ]] || rm -f "$tree/$path"
done < <(cd "$tree" && find . -path ./build -prune -o -type f -printf '%P\0')

# --- Configure and build once --------------------------------------------------------------
if command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
build_targets() {   # build_targets LOGFILE
  cmake --build "$build" -j"$jobs" --target "${targets[@]}" >"$1" 2>&1
}
# run_tests LOGFILE: runs both test binaries, stopping at the first failing test, and appends
# their output to LOGFILE. Returns 0 when all passed, 1 when a test failed or a binary ran past
# the timeout (printing that binary's name).
run_tests() {
  local bin rc
  for bin in unit_tests integration_tests; do
    echo "== $bin" >>"$1"
    (cd "$build/tests" && timeout "$test_timeout" "./$bin" --gtest_brief=1 --gtest_fail_fast) >>"$1" 2>&1
    rc=$?
    if [[ $rc -ne 0 ]]; then
      if [[ $rc -eq 124 ]]; then
        echo "== $bin ran past ${test_timeout}s" >>"$1"
        echo "$bin (timed out)"
      else
        echo "$bin"
      fi
      return 1
    fi
  done
  return 0
}

start=$SECONDS
if [[ ! -f $build/CMakeCache.txt ]]; then
  echo "configuring the default preset in $tree"
  (cd "$tree" && cmake --preset default -DQUELLMARK_WINE_TESTS=OFF) >"$logs/configure.log" 2>&1 \
    || { echo "configure failed, see $logs/configure.log" >&2; exit 2; }
fi
echo "building ${targets[*]} (-j$jobs)"
build_targets "$logs/baseline-build.log" || { echo "the unchanged tree does not build, see $logs/baseline-build.log" >&2; exit 2; }
# Without a green baseline every fault would count as caught.
: >"$logs/baseline-tests.log"
if ! failed=$(run_tests "$logs/baseline-tests.log"); then
  echo "$failed fails on the unchanged tree, see $logs/baseline-tests.log" >&2; exit 2
fi
echo "baseline built and green in $((SECONDS - start))s"

# --- Parse the fault list ------------------------------------------------------------------
ids=() descs=() files=() finds=() replaces=()
current=-1
while IFS= read -r line || [[ -n $line ]]; do
  case $line in
    '## '*)
      current=${#ids[@]}
      line=${line#'## '}
      ids+=("${line%%:*}"); descs+=("${line#*: }")
      files+=(''); finds+=(''); replaces+=('') ;;
    'file: '*) [[ $current -ge 0 ]] && files[current]=${line#'file: '} ;;
    'find: '*) [[ $current -ge 0 ]] && finds[current]=${line#'find: '} ;;
    'replace: '*) [[ $current -ge 0 ]] && replaces[current]=${line#'replace: '} ;;
    ''|'#'*) ;;
    *) echo "fault list: line not understood: $line" >&2; exit 2 ;;
  esac
done <"$faults"

# --- One fault at a time ---------------------------------------------------------------------
caught=0 survived=0 broken=0 count=0
survivors=() errors=()
for i in "${!ids[@]}"; do
  id=${ids[i]} file=${files[i]} find=${finds[i]} replace=${replaces[i]}
  [[ -n $only && ! $id =~ $only ]] && continue
  count=$((count + 1))
  log="$logs/$id.log"
  t0=$SECONDS
  target="$tree/$file"

  # Plant the fault: the find text must occur exactly once (quoted patterns match literally).
  reason=''
  if [[ -z $file || -z $find ]]; then
    reason='record lacks file: or find:'
  elif [[ ! -f $target ]]; then
    reason="no file $file"
  else
    content=$(<"$target")
    if [[ $content != *"$find"* ]]; then
      reason='find text not in the file'
    else
      rest=${content#*"$find"}
      [[ $rest == *"$find"* ]] && reason='find text occurs more than once'
    fi
  fi
  if [[ -n $reason ]]; then
    broken=$((broken + 1)); errors+=("$id ($reason)")
    printf '%-9s %-34s %s\n' broken "$id" "$reason"
    continue
  fi
  cp -p "$target" "$work/original"
  printf '%s\n' "${content/"$find"/"$replace"}" >"$target"
  if cmp -s "$target" "$work/original"; then
    cp "$work/original" "$target"
    broken=$((broken + 1)); errors+=("$id (replacement changes nothing)")
    printf '%-9s %-34s %s\n' broken "$id" 'replacement changes nothing'
    continue
  fi

  if ! build_targets "$log"; then
    result=broken; detail='does not build'; broken=$((broken + 1)); errors+=("$id (does not build)")
  elif failed=$(run_tests "$log"); then
    result=survived; detail=''; survived=$((survived + 1)); survivors+=("$id")
  else
    result=caught; detail="by $failed"; caught=$((caught + 1))
  fi

  # Restore the original; copying gives it a fresh timestamp, so the next build recompiles it
  # (from ccache) instead of keeping the faulty object.
  cp "$work/original" "$target"
  touch "$target"
  printf '%-9s %-34s %4ss %s\n' "$result" "$id" "$((SECONDS - t0))" "$detail"
done

# Leave a kept scratch build matching the unchanged tree, ready for the next run.
[[ $keep -eq 1 ]] && build_targets "$logs/final-build.log"

echo
echo "$count faults: $caught caught, $survived survived, $broken broken ($((SECONDS - start))s)"
[[ ${#survivors[@]} -gt 0 ]] && echo "survivors: ${survivors[*]}"
[[ ${#errors[@]} -gt 0 ]] && printf 'error in the fault list: %s\n' "${errors[@]}"
[[ $keep -eq 1 ]] && echo "logs: $logs"
[[ $survived -eq 0 && $broken -eq 0 ]]
exit
}
