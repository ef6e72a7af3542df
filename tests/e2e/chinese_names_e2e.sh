#!/usr/bin/env bash
# Chinese, space-holding and mixed names end to end, on a Chinese system (ANSI
# code page 936) and on a Western one (1252), each in a Wine prefix made in
# its locale: a product packed by mksetup, a block with a Chinese shortcut
# name and Chinese command lists, installed quietly into a Chinese folder,
# checked on disk, through the shell's links, in the registry and by the
# sample program's record of what it ran; then removed.
# Usage: chinese_names_e2e.sh MKSETUP STUB WIN_TESTS SAMPLE_BIN_DIR
set -uo pipefail
MKSETUP="$1"; STUB="$2"; WIN_TESTS="$3"; SAMPLE_BIN="$4"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QUILLO_STAT_SERVER="${QUILLO_STAT_SERVER:-127.0.0.1:9}"
BOUND=120

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-chinese.XXXXXX")"
cleanup() { for p in "$work"/prefix-*; do WINEPREFIX="$p" wineserver -k >/dev/null 2>&1; done; rm -rf "$work"; }
trap cleanup EXIT

passed=0; failed=0
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $name"; else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
winpath() { echo "Z:${1//\//\\}"; }

# The product: Chinese, space-holding and mixed names in nested folders, and
# a program with a Chinese name (the sample program, which records its runs).
product="$work/product"
mkdir -p "$product/文档" "$product/a b" "$product/混合 Mixed/子 目录"
cp "$SAMPLE_BIN/Quillo.exe" "$SAMPLE_BIN/QuilloDaemon.exe" "$product/"
cp "$SAMPLE_BIN/QuilloDaemon.exe" "$product/助手.exe"
echo "中文内容" > "$product/中文名.txt"
echo "说明" > "$product/文档/说明.txt"
echo "spaces" > "$product/a b/c d.txt"
echo "混合 mixed" > "$product/混合 Mixed/子 目录/文件 1.txt"
cat > "$work/block.json" <<'JSON'
{"mode":1,"channel":1,"extrapack":false,"lastrun":"Quillo.exe",
 "shortcut":{"desktop":[{"file":"Quillo.exe","name":"Quillo 3 助手"}],
             "taskbar":[{"file":"文档/说明.txt","name":"说明 文档"}]},
 "instrun":["助手.exe /记录 首次"],
 "uninstrun":["助手.exe /u卸载"]}
JSON
"$MKSETUP" --stub "$STUB" --block "$work/block.json" --package "$product" --out "$work/setup.exe" >/dev/null
check "the packer takes the Chinese names" test -s "$work/setup.exe"

# The uninstall entry's UninstallString as the registry file stores it
# (Wine writes characters beyond ASCII as \x escapes of UTF-16 units).
uninstall_string() {
  python3 - "$1/system.reg" <<'PY'
import re, sys
key = None
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    if line.startswith("["):
        key = line[1:line.rindex("]")].lower()
    elif key == r"software\\wow6432node\\microsoft\\windows\\currentversion\\uninstall\\brightfen" \
            and line.startswith('"UninstallString"='):
        raw = line.split("=", 1)[1].strip()[1:-1]
        text = re.sub(r"\\x([0-9a-fA-F]{1,4})", lambda m: chr(int(m.group(1), 16)), raw)
        print(text.replace("\\\\", "\\"))
PY
}

for locale in 936:zh_CN.UTF-8 1252:C.UTF-8; do
  cp="${locale%%:*}"; export LC_ALL="${locale#*:}"
  export WINEPREFIX="$work/prefix-$cp"
  bash "$ROOT/scripts/wine-prefix.sh" "$WINEPREFIX" >/dev/null
  # Windows has the Quick Launch folder; a new Wine prefix does not.
  mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Internet Explorer/Quick Launch"
  folder='C:\软件\测试 目录'
  inst="$WINEPREFIX/drive_c/软件/测试 目录/Quillo 3"
  runs="$(find "$WINEPREFIX/drive_c/users" -maxdepth 3 -ipath '*/temp' -type d | head -n1)/quillo-sample-runs.txt"
  timeout "$BOUND" wine "$(winpath "$work/setup.exe")" /q /D "$folder" "/LOG=$(winpath "$work/$cp.log")" >/dev/null 2>&1
  rc=$?
  check "$cp: the quiet install ends with code 0" test "$rc" = 0
  check "$cp: every file by name and content" \
    diff -r -x unins000.exe "$product" "$inst"
  check "$cp: the log names the files as they are" grep -q '文档/说明.txt' "$work/$cp.log"
  QUILLO_EXPECT_LINKS="desktop:Quillo 3 助手=>$folder\\Quillo 3\\Quillo.exe|quicklaunch:说明 文档=>$folder\\Quillo 3\\文档\\说明.txt|startmenu:=>$folder\\Quillo 3\\Quillo.exe" \
    timeout "$BOUND" wine "$WIN_TESTS" --gtest_filter=SetupFileEndToEnd.LinksReadBackThroughTheShell > "$work/links-$cp.log" 2>&1
  rc=$?
  check "$cp: the links have their names and targets" test "$rc" = 0
  [ "$rc" = 0 ] || grep -E "Failure|expected|->" "$work/links-$cp.log" | head
  wineserver -w  # the registry file is written when the server ends
  check "$cp: the uninstall entry names the uninstaller" \
    test "$(uninstall_string "$WINEPREFIX")" = "$folder\\Quillo 3\\unins000.exe"
  for _ in $(seq 50); do grep -q '首次' "$runs" 2>/dev/null && break; sleep 0.1; done
  check "$cp: the Chinese command ran" grep -q 'QuilloDaemon /记录 首次' "$runs"

  timeout "$BOUND" wine "$folder\\Quillo 3\\unins000.exe" /q >/dev/null 2>&1
  for _ in $(seq $((BOUND * 10))); do pgrep -f '[T]emp.unins000.exe' >/dev/null || break; sleep 0.1; done
  check "$cp: the removal ran the Chinese clean-up command" grep -q 'QuilloDaemon /u卸载' "$runs"
  check "$cp: the removal leaves no installation folder" test ! -e "$inst"
  check "$cp: the removal leaves no links" \
    test -z "$(find "$WINEPREFIX/drive_c" -name '*.lnk' \( -name 'Quillo 3 助手*' -o -name '说明 文档*' -o -name 'Quillo.lnk' \))"
  wineserver -w
  check "$cp: the removal leaves no uninstall entry" test -z "$(uninstall_string "$WINEPREFIX")"
  WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
