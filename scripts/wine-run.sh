#!/usr/bin/env bash
# Runs a Windows program under wine64 in a fresh copy of the base prefix and
# returns its exit code. The copy is removed afterwards unless QUILLO_KEEP_PREFIX
# is set. QUILLO_WINE_PREFIX, when set, names a prefix to use as it is.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
# Statistics go to a closed local port unless a test names its own server.
export QUILLO_STAT_SERVER="${QUILLO_STAT_SERVER:-127.0.0.1:9}"

if [ -n "${QUILLO_WINE_PREFIX:-}" ]; then
  export WINEPREFIX="$QUILLO_WINE_PREFIX"
  owned=0
else
  [ -d "$BASE" ] || { echo "wine-run: no base prefix at $BASE (run scripts/wine-prefix.sh)" >&2; exit 125; }
  WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/quillo-wine.XXXXXX")"
  export WINEPREFIX
  cp -a "$BASE/." "$WINEPREFIX/"
  owned=1
fi

wine "$@"
rc=$?
wineserver -k >/dev/null 2>&1 || true
if [ "$owned" = 1 ] && [ -z "${QUILLO_KEEP_PREFIX:-}" ]; then rm -rf "$WINEPREFIX"; fi
exit $rc
