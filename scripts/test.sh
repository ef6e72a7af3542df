#!/usr/bin/env bash
# The whole test suite: native unit tests under sanitizers, then the Windows
# tests and end-to-end checks under wine64 in a prefix made for this run, then
# a short run of every fuzz target.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh || exit 1
# The 32-bit lane's machine image (nothing to do when it is cached) is made
# while the trees build and the other tests run: most of it is downloading
# and unpacking packages.
mkdir -p build
bash scripts/lane-image.sh >build/lane-image.log 2>&1 &
lane_image=$!
bash scripts/build.sh || exit 1
bash scripts/wine-prefix.sh || exit 1

passed=0; failed=0
run_ctest() {
  local dir="$1" log
  shift
  log="$(mktemp)"
  ctest --test-dir "$dir" --output-on-failure -j"${QUILLO_JOBS:-2}" "$@" 2>&1 | tee "$log"
  local line
  line="$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)"
  if [ -z "$line" ]; then
    echo "test.sh: ctest in $dir did not report" >&2
    failed=$((failed + 1))
  else
    local f total
    f="$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")"
    total="$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")"
    passed=$((passed + total - f)); failed=$((failed + f))
  fi
  rm -f "$log"
}
run_ctest build/native
# Threads: the tests that start threads, again under ThreadSanitizer.
run_ctest build/tsan -R "Download|HttpAgent|Statistic|Machine"
run_ctest build/x64 -LE lane
# The 32-bit lane: the i686 deliverable in a virtual machine, one case at a
# time (each keeps both processors busy).
if ! wait "$lane_image"; then
  echo "test.sh: the 32-bit lane's image could not be made:" >&2
  tail -n 20 build/lane-image.log >&2
fi
# Verbose: each case's table of both builds' checks is the lane's report.
run_ctest build/x64 -L '^lane$' -j1 -V
# Every fuzz target for a few seconds on its seed corpus (clang, ASan, UBSan).
if bash scripts/fuzz.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
