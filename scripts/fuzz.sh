#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz in build/fuzz (clang, ASan, UBSan)
# and runs each one on a copy of its seed corpus for a short fixed time, two
# at a time. Prints one line per target and fails when any target crashed,
# leaked, hung or hit undefined behaviour; the failing input and the report
# are kept in build/fuzz/findings/<target>/.
#
#   bash scripts/fuzz.sh [--seconds N | --runs N] [--parallel P] [--no-build] [TARGET...]
#
#   --seconds N   time per target (default 8: the run phase takes about 30 s)
#   --runs N      a fixed number of executions per target instead
#   --parallel P  targets run at once (default 2)
#   --no-build    use the fuzz targets already built in build/fuzz
#   TARGET        json_reader, appended_block, ... (default: all of tests/fuzz)
#
# Installs nothing: clang and its libFuzzer runtime come from scripts/setup.sh.
# The committed corpus is never written to; what a run adds stays in a
# temporary folder that is removed afterwards.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

seconds=8
runs=""
parallel=2
build=1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --parallel) parallel="$2"; shift 2 ;;
    --no-build) build=0; shift ;;
    -h|--help) sed -n '2,19p' "$0"; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

BUILD="$ROOT/build/fuzz"
CORPUS="$ROOT/tests/fuzz/corpus"
if [ ${#targets[@]} -eq 0 ]; then
  for f in tests/fuzz/*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

# Longest input each target is given, in bytes. Every format here has 32-bit
# length fields that are checked against what is there, so beyond a few
# blocks of each layout larger inputs only make the runs slower:
#  - appended_block 64 KiB: DOS header, locator, text and three sections,
#    each large enough to span the 40 KiB chunks of the whole-file read;
#  - smbios 64 KiB: the size of the BIOS area copy; firmware tables are a few KiB;
#  - http_response 16 KiB: several heads, chunk lines and 4 KiB receives;
#  - skin_package 16 KiB: a description with assets; the loader is linear;
#  - json_reader 8 KiB: blocks, manifests and state files are under 2 KiB,
#    and 2 KiB already reaches the nesting limit;
#  - stat_reply 4 KiB: replies are small, and the decoder's buffer grows
#    with the input (up to 1032 output bytes per input byte);
#  - entry_name 512: archive entry names beyond MAX_PATH are refused anyway.
max_len() {
  case "$1" in
    appended_block|smbios) echo 65536 ;;
    http_response|skin_package) echo 16384 ;;
    json_reader) echo 8192 ;;
    stat_reply) echo 4096 ;;
    entry_name) echo 512 ;;
    *) echo 4096 ;;
  esac
}

if [ "$build" = 1 ]; then
  for tool in clang clang++; do
    command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
  done
  if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DQUILLO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 2
  fi
  nice cmake --build "$BUILD" -j"${QUILLO_JOBS:-2}" >"$BUILD/build.log" 2>&1 || {
    tail -n 40 "$BUILD/build.log" >&2
    echo "fuzz.sh: the fuzz targets do not build" >&2
    exit 2
  }
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-fuzz.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# Runs one target; leaves "execs crashes seconds" in $work/<target>/result.
run_target() {
  local t="$1" dir="$work/$1" bin="$BUILD/tests/fuzz/fuzz_$1"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  if [ ! -x "$bin" ]; then
    echo "0 1 0 missing" >"$dir/result"
    return
  fi
  [ -d "$CORPUS/$t" ] && cp "$CORPUS/$t"/* "$dir/corpus/" 2>/dev/null
  local budget=(-max_total_time="$seconds")
  [ -n "$runs" ] && budget=(-runs="$runs")
  local start end rc
  start=$(date +%s.%N)
  # Leak checks stay on (ASan's default); an input running 10 s counts as a hang.
  nice "$bin" "${budget[@]}" -max_len="$(max_len "$t")" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/log" 2>&1
  rc=$?
  end=$(date +%s.%N)
  local execs crashes
  execs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$dir/log" | tail -n1)
  [ -z "$execs" ] && execs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$dir/log" | tail -n1)
  crashes=$(find "$dir/artifacts" -type f | wc -l)
  [ "$rc" != 0 ] && [ "$crashes" = 0 ] && crashes=1
  echo "${execs:-0} $crashes $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') $rc" >"$dir/result"
}

running=0
for t in "${targets[@]}"; do
  rm -rf "$BUILD/findings/$t"
  run_target "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

passed=0
failed=0
printf '%-16s %12s %8s %8s %10s  %s\n' target executions crashes seconds exec/s result
for t in "${targets[@]}"; do
  read -r execs crashes secs rc <"$work/$t/result"
  rate=$(awk -v n="$execs" -v s="$secs" 'BEGIN { printf "%d", (s > 0 ? n / s : 0) }')
  if [ "$rc" = missing ]; then
    result="FAILED: $BUILD/tests/fuzz/fuzz_$t is not built"
  elif [ "$crashes" = 0 ] && [ "$rc" = 0 ]; then
    result=ok
  else
    keep="$BUILD/findings/$t"
    mkdir -p "$keep"
    cp "$work/$t/artifacts"/* "$keep/" 2>/dev/null
    cp "$work/$t/log" "$keep/log.txt"
    result="FAILED: input and report in ${keep#"$ROOT"/}"
  fi
  printf '%-16s %12s %8s %8s %10s  %s\n' "$t" "$execs" "$crashes" "$secs" "$rate" "$result"
  if [ "$result" = ok ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
# The sanitizer reports of the failed targets, for logs that are all a CI run keeps.
for t in "${targets[@]}"; do
  read -r _ crashes _ rc <"$work/$t/result"
  if [ "$rc" != missing ] && { [ "$crashes" != 0 ] || [ "$rc" != 0 ]; }; then
    echo
    echo "---- $t"
    grep -v -E '^(#[0-9]+|INFO:|MS:)' "$work/$t/log" | grep -A 30 -m 1 -E 'ERROR|runtime error|: ' | head -n 40
  fi
done
echo
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
