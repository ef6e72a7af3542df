#!/usr/bin/env bash
# Builds the benches without sanitizers and runs them; prints ratios against
# references measured in the same run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j"$(nproc)" --target md5_bench download_client >/dev/null
bash bench/md5_bench.sh build/bench/bench/md5_bench
bash bench/download_bench.sh build/bench/tests/native/download_client
# The Windows bench runs the x64 build of scripts/build.sh under Wine.
bash scripts/build.sh >/dev/null
bash scripts/wine-prefix.sh >/dev/null
bash bench/extract_bench.sh build/x64/bench/extract_bench.exe
# The setup program against an NSIS installer of the same product (about 5 min).
bash bench/peer_bench.sh --skip-subbenches
