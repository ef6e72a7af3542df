#!/usr/bin/env bash
# Runs every fuzz target of tests/fuzz for a fixed number of executions
# (default 10,000,000 each), two targets at a time on copies of the seed
# corpora, and prints a table: target, executions, crashes, seconds, exec/s.
# A target stops at its first crash, leak, hang or UB report, which
# build/fuzz/findings/<target>/ then holds.
#
#   bash bench/fuzz_bench.sh [--runs N] [--parallel P] [--no-build] [TARGET...]
#
# The build and the runs are those of scripts/fuzz.sh (same input limits,
# same sanitizers); only the budget differs. With the sanitizers on, the
# executions per second measure the fuzzing, not the code's own speed.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

runs=10000000
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) args+=("$1"); shift ;;
  esac
done

echo "fuzz bench: $runs executions per target, started $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores"
start=$(date +%s)
bash "$ROOT/scripts/fuzz.sh" --runs "$runs" "${args[@]}"
rc=$?
echo "fuzz bench: $(( $(date +%s) - start )) s in all"
exit "$rc"
