#!/usr/bin/env bash
# The resumable download against a real web server (nginx on loopback):
# ranged units, a redirect, and a stopped run resumed in the same object.
# Usage: download_nginx_e2e.sh DOWNLOAD_CLIENT
set -uo pipefail
CLIENT="$1"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
. "$HERE/nginx_server.sh"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-dl.XXXXXX")"
trap 'stop_nginx; rm -rf "$work"' EXIT
start_nginx "$work/nginx" || { echo "FAILED: nginx did not start"; cat "$work/nginx/error.log"; exit 1; }

passed=0; failed=0
check() { local n="$1"; shift; if "$@"; then passed=$((passed+1)); echo "ok: $n"; else failed=$((failed+1)); echo "FAILED: $n"; fi; }

head -c 3000000 /dev/urandom > "$work/nginx/www/file.bin"
url="http://127.0.0.1:$NGINX_PORT"

"$CLIENT" "$url/file.bin" "$work/a.bin" > "$work/a.log"
check "download completes" test $? = 0
check "downloaded file is identical" cmp -s "$work/a.bin" "$work/nginx/www/file.bin"
check "five ranged requests reached the server" test "$(grep -c '" 206 ' "$work/nginx/access.log")" = 5

"$CLIENT" "$url/old" "$work/b.bin" > "$work/b.log"
check "redirected download completes" test $? = 0
check "redirected file is identical" cmp -s "$work/b.bin" "$work/nginx/www/file.bin"

"$CLIENT" "$url/file.bin" "$work/c.bin" --resume-at 1000000 > "$work/c.log"
check "resumed download completes" test $? = 0
check "resumed file is identical" cmp -s "$work/c.bin" "$work/nginx/www/file.bin"
first="$(sed -n 's/^stopped: status=0 fetched=\([0-9]*\)$/\1/p' "$work/c.log")"
second="$(sed -n 's/^status=0 size=3000000 .* fetched=\([0-9]*\)$/\1/p' "$work/c.log")"
check "the second run fetched only the missing bytes" test -n "$first" -a -n "$second" -a $((first + second)) = 3000000
cat "$work/c.log"

"$CLIENT" "$url/missing.bin" "$work/d.bin" > "$work/d.log"
check "a missing file fails the probe (status 1)" grep -q '^status=1 ' "$work/d.log"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
