#!/usr/bin/env bash
# Mutation check of the tests: plants one small fault at a time in the
# program (a flipped comparison, a bound moved by one, a dropped statement,
# two arguments swapped, a negated condition), rebuilds build-mutants/, runs
# the tests and puts the source back. It prints the kill rate and every
# mutant the tests let through. Not part of scripts/test.sh: the default
# 60 mutants take about 10 minutes on 2 cores, after one full build the
# first time.
#
#   scripts/mutants.sh                    # SEED=1 COUNT=60
#   SEED=7 COUNT=100 scripts/mutants.sh   # another, larger sample
#
# The work is done by scripts/mutants.py; this wrapper makes sure that no
# mutated file outlives the run, whatever stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

# While a file is mutated, its original sits in $pending, and the build or
# test run in progress (a session of its own) is named in $session_file.
# The Python script clears both itself unless it is killed outright; then
# this puts the file back, after ending that run: a compiler still reading
# the mutant would otherwise write an object file newer than the restored
# source, which the next run's build would keep.
pending=build-mutants/pending
session_file=build-mutants/session
restore_leftovers() {
  if [ -f "$session_file" ]; then
    local sid pids tries=0
    sid=$(cat "$session_file")
    while pids=$(ps -o pid= -s "$sid") && [ -n "$pids" ] && [ $tries -lt 100 ]; do
      # shellcheck disable=SC2086  # one pid a word
      kill -KILL $pids 2>/dev/null || true
      sleep 0.1
      tries=$((tries + 1))
    done
    rm -f -- "$session_file"
  fi
  [ -d "$pending" ] || return 0
  local copy
  while IFS= read -r -d '' copy; do
    cp -- "$copy" "${copy#"$pending"/}"
    rm -f -- "$copy"
    echo "restored ${copy#"$pending"/}" >&2
  done < <(find "$pending" -type f -print0)
}

# Run in the background so that a signal reaches this shell at once rather
# than after the run: pass it on, wait for the cleanup, then check.
child=
stop() {
  local sig=$1
  trap '' INT TERM HUP
  if [ -n "$child" ]; then
    kill -TERM "$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  restore_leftovers
  trap - "$sig" EXIT
  kill -s "$sig" $$
}
trap restore_leftovers EXIT
trap 'stop INT' INT
trap 'stop TERM' TERM
trap 'stop HUP' HUP

python3 scripts/mutants.py &
child=$!
status=0
wait "$child" || status=$?
child=
exit "$status"
