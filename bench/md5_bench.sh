#!/usr/bin/env bash
# Compares md5_bench against the system MD5 tool on 256 MB of random data.
# Usage: md5_bench.sh PATH/TO/md5_bench
# Both tools hash the same file in the same run (best of 3 after a warm-up
# read).  Exits non-zero only when the digests differ or a tool fails; the
# throughput ratio is reported, not enforced.
set -euo pipefail

ours=${1:?usage: $0 PATH/TO/md5_bench}
[[ -x $ours ]] || { echo "md5_bench: $ours is not executable" >&2; exit 2; }

size=268435456
tmp=$(mktemp "${TMPDIR:-/tmp}/md5_bench.XXXXXX")
trap 'rm -f "$tmp"' EXIT

if command -v openssl >/dev/null 2>&1; then
    ref_name=openssl
    ref_digest() { openssl md5 -r "$1" | awk '{print $1}'; }
elif command -v md5sum >/dev/null 2>&1; then
    ref_name=md5sum
    ref_digest() { md5sum "$1" | awk '{print $1}'; }
else
    echo "md5_bench: neither openssl nor md5sum found" >&2
    exit 2
fi
our_digest() { "$ours" "$1" | awk 'NR == 1 {print $1}'; }

head -c "$size" /dev/urandom > "$tmp"
cat "$tmp" > /dev/null  # warm the page cache

now() { date +%s.%N; }

# best_of3 FUNC: sets best_s (fastest wall time) and digest.
best_of3() {
    local fn=$1 i t0 t1 d
    best_s=
    for i in 1 2 3; do
        t0=$(now)
        d=$("$fn" "$tmp")
        t1=$(now)
        digest=$d
        best_s=$(awk -v a="$t0" -v b="$t1" -v best="$best_s" \
            'BEGIN { t = b - a; if (best == "" || t < best) best = t; printf "%.6f", best }')
    done
}

best_of3 ref_digest;  ref_s=$best_s;  ref_d=$digest
best_of3 our_digest;  our_s=$best_s;  our_d=$digest

awk -v n="$size" -v o="$our_s" -v r="$ref_s" -v name="$ref_name" 'BEGIN {
    mo = n / 1048576 / o; mr = n / 1048576 / r
    printf "md5: ours %.1f MB/s, %s %.1f MB/s, ratio %.3f (goal >= 0.9)\n", mo, name, mr, mo / mr
}'

if [[ ${our_d,,} != "${ref_d,,}" ]]; then
    echo "md5: DIGEST MISMATCH: ours $our_d, $ref_name $ref_d" >&2
    exit 1
fi
echo "md5: digests agree ($ref_d)"
