#!/usr/bin/env bash
# Resumable download against curl: a 200 MB file from nginx on loopback, both
# in the same run; then a download stopped at 40% and resumed, with the bytes
# each part fetched. Usage: download_bench.sh DOWNLOAD_CLIENT
set -euo pipefail
CLIENT="$1"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$ROOT/tests/e2e/nginx_server.sh"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-dlbench.XXXXXX")"
trap 'stop_nginx; rm -rf "$work"' EXIT
start_nginx "$work/nginx"
size=$((200 * 1024 * 1024))
head -c "$size" /dev/urandom > "$work/nginx/www/file.bin"
cat "$work/nginx/www/file.bin" > /dev/null
url="http://127.0.0.1:$NGINX_PORT/file.bin"

t0=$(date +%s.%N); curl -s -o "$work/curl.bin" "$url"; t1=$(date +%s.%N)
curl_s=$(echo "$t1 - $t0" | bc -l)
rm -f "$work/curl.bin"
"$CLIENT" "$url" "$work/ours.bin" > "$work/ours.log"
ours_s=$(sed -n 's/.* seconds=\([0-9.]*\) .*/\1/p' "$work/ours.log")
cmp -s "$work/ours.bin" "$work/nginx/www/file.bin" || { echo "download differs"; exit 1; }
rm -f "$work/ours.bin"
mbs() { echo "scale=1; $size / 1048576 / $1" | bc -l; }
printf 'download 200 MB: ours %s MB/s, curl %s MB/s, ratio %s (goal >= 0.9)\n' \
  "$(mbs "$ours_s")" "$(mbs "$curl_s")" "$(echo "scale=3; $curl_s / $ours_s" | bc -l)"

"$CLIENT" "$url" "$work/resumed.bin" --resume-at $((size * 2 / 5)) > "$work/resumed.log"
cmp -s "$work/resumed.bin" "$work/nginx/www/file.bin" || { echo "resumed download differs"; exit 1; }
first=$(sed -n 's/^stopped: status=0 fetched=\([0-9]*\)$/\1/p' "$work/resumed.log")
second=$(sed -n 's/^status=0 .* fetched=\([0-9]*\)$/\1/p' "$work/resumed.log")
echo "resumed download: first run fetched $first bytes, the resumed run $second bytes (file $size bytes)"
