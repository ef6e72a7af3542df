#!/usr/bin/env bash
# Unattended runs as a deployment tool makes them: real setup files from the
# packer, started quietly under Wine, each judged by its exit code within a
# time bound and by what drive C: and the registry hold before and after.
# Usage: unattended_e2e.sh MKSETUP STUB SAMPLE_SETUP HOLDER PLANTED_DLL PLANTED_EXE APPLE_MSI_DIR
set -uo pipefail
MKSETUP="$1"; STUB="$2"; SAMPLE="$3"; HOLDER="$4"; PLANTED="$5"; PLANTED_EXE="$6"; APPLE_MSI="$7"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
HERE="$ROOT/tests/e2e"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QUILLO_STAT_SERVER="${QUILLO_STAT_SERVER:-127.0.0.1:9}"
BOUND=120  # seconds a quiet run may take before it counts as waiting for a person

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-unattended.XXXXXX")"
export WINEPREFIX="$work/prefix"
small="$work/small"
cleanup() {
  wineserver -k >/dev/null 2>&1
  mountpoint -q "$small" && umount "$small"
  rm -rf "$work"
}
trap cleanup EXIT
[ -n "${QUILLO_KEEP_WORK:-}" ] && trap "wineserver -k >/dev/null 2>&1; mountpoint -q $small && umount $small" EXIT

passed=0; failed=0
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $name"; else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
winpath() { echo "Z:${1//\//\\}"; }
drive_c() { echo "$WINEPREFIX/drive_c/$1"; }

# What the program may leave: the uninstaller's temporary copy and the sample
# programs' record in the temporary folder, the user's product settings, the
# parent key of the uninstall entry, and the folder named with /D (the user's
# own: the removal takes only the installation folder below it). Wine itself
# rewrites the display driver's date.
SKIPS=(--skip 'users/*/temp/quillo-sample-runs.txt'
       --skip 'apps' --skip 'software\brightfen\quillo3'
       --skip 'software\wow6432node\microsoft\windows\currentversion\uninstall'
       --skip 'system\currentcontrolset\control\class\{4d36e968-e325-11ce-bfc1-08002be10318}\0000')
snapshot() { wineserver -w; python3 "$HERE/prefix_snapshot.py" "$WINEPREFIX" "${SKIPS[@]}" > "$1"; }
same_as() {  # same_as BEFORE: the prefix holds what it held then
  snapshot "$work/after"
  if diff -q "$1" "$work/after" >/dev/null; then return 0; fi
  diff "$1" "$work/after" | head -n 20
  return 1
}

fresh_prefix() {
  wineserver -k >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
  cp -a "$BASE" "$WINEPREFIX"
  ln -s "$small" "$WINEPREFIX/dosdevices/t:"
}
small_disk() {  # small_disk SIZE: a volume of that size as drive T:
  mountpoint -q "$small" && umount "$small"
  mkdir -p "$small"
  mount -t tmpfs -o "size=$1" tmpfs "$small"
}
quiet() {  # quiet SETUP ARGS...: runs it, prints its exit code (124 = still waiting)
  local setup="$1"; shift
  timeout "$BOUND" wine "$(winpath "$setup")" /q "$@" >/dev/null 2>&1
  echo $?
}
uninstall_entry() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brightfen' /v UninstallString \
    /reg:32 2>/dev/null | sed -n 's/.*REG_SZ *//p' | tr -d '\r'
}
# The uninstaller hands over to its temporary copy and waits for it.
quiet_uninstall() {  # quiet_uninstall UNINSTALLER_WINDOWS_PATH [ARGS...]
  timeout "$BOUND" wine "$@" /q >/dev/null 2>&1
  echo $?
}
log_has() { grep -q -- "$2" "$1"; }
code_of() { echo $(( $1 % 256 )); }  # a Windows exit code as a shell reads it
count_lines() { local n; n="$(grep -c -- "$2" "$1" 2>/dev/null)"; echo "${n:-0}"; }
wait_for_lines() {  # wait_for_lines FILE PATTERN N: until FILE holds N lines with PATTERN
  for _ in $(seq 1500); do
    [ "$(count_lines "$1" "$2")" -ge "$3" ] && return 0
    sleep 0.01
  done
  return 1
}
pending() {  # pending TEXT: a file rename waiting for the next restart names TEXT
  wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations 2>/dev/null \
    | tr -d '\r' | grep -qi -- "$1"
}
kill_program() { pkill -9 -f "$1"; sleep 0.3; } 2>/dev/null

# Inputs: a 24 MB product of 320 incompressible files, one of 1,500 small
# files, and the sample product with hostile packages put in its place.
python3 "$HERE/unattended_inputs.py" product "$work/big" 320 76800
python3 "$HERE/unattended_inputs.py" product "$work/many" 1500 2048
for p in big many; do
  "$MKSETUP" --stub "$STUB" --block "$ROOT/tools/sample-product/block.json" --package "$work/$p" \
    --out "$work/$p-setup.exe" >/dev/null || { echo "FAILED: packing $p"; exit 1; }
done
for kind in escape device badcrc; do
  python3 "$HERE/unattended_inputs.py" repack "$SAMPLE" "$work/$kind-setup.exe" "$kind"
done
cp "$SAMPLE" "$work/sample-setup.exe"
long="C:\\$(printf 'L%.0s' $(seq 244))"

# --- Failures found before anything is written: code, and nothing left. ---
# name | setup | target folder | size of drive T: (or -) | expected code
while IFS='|' read -r name setup target disk code; do
  [ -z "$name" ] && continue
  fresh_prefix
  [ "$disk" != - ] && small_disk "$disk"
  snapshot "$work/before"
  rc="$(quiet "$work/$setup" /D "$target" "/LOG=$(winpath "$work/$name.log")")"
  check "$name: ends with code $code" test "$rc" = "$code"
  check "$name: drive C: and the registry as before" same_as "$work/before"
  [ "$disk" != - ] && check "$name: nothing left on the small volume" test -z "$(ls -A "$small")"
  check "$name: the log ends with the code" log_has "$work/$name.log" "exit code $code"
  check "$name: the log says why" log_has "$work/$name.log" "install error $code"
done <<ROWS
target-disk-full|big-setup.exe|T:\\Full|12m|8
target-too-long|many-setup.exe|$long|-|8
no-room-for-uninstaller|sample-setup.exe|T:\\Tight|400k|8
escaping-entry|escape-setup.exe|C:\\Fail|-|8
device-entry|device-setup.exe|C:\\Fail|-|8
damaged-entry|badcrc-setup.exe|C:\\Fail\\New|-|8
ROWS
check "damaged-entry: the files before the damage were written, then taken back" \
  test "$(count_lines "$work/damaged-entry.log" "file written")" -ge 11
mountpoint -q "$small" && umount "$small"

# --- A temporary folder with no room for the package: the package is
# unpacked beside the installation folder and never written there. ---
fresh_prefix
small_disk 1m
wine reg add 'HKCU\Environment' /v TEMP /d 'T:\' /f >/dev/null 2>&1
wine reg add 'HKCU\Environment' /v TMP /d 'T:\' /f >/dev/null 2>&1
rc="$(quiet "$work/big-setup.exe" /D 'C:\Apps' "/LOG=$(winpath "$work/small-temp.log")")"
check "small temporary folder: the install ends with 0" test "$rc" = 0
check "small temporary folder: the product is complete" test -f "$(drive_c "Apps/Quillo 3/data/part15/file0319.bin")"
check "small temporary folder: nothing of the package went there" test -z "$(find "$small" -iname '*.zip')"
check "small temporary folder: no run folder left" \
  test -z "$(find "$(drive_c Apps)" -maxdepth 1 -iname '~QuilloSetup.*')"
mountpoint -q "$small" && umount "$small"

# --- The uninstaller cannot be written (a folder stands in its place): a
# failed install, taken back whole, links included. ---
fresh_prefix
mkdir -p "$(drive_c "Fail/Quillo 3/unins000.exe")"
snapshot "$work/before"
rc="$(quiet "$work/sample-setup.exe" /D 'C:\Fail' "/LOG=$(winpath "$work/no-uninstaller.log")")"
check "no uninstaller: ends with code 8" test "$rc" = 8
check "no uninstaller: files, links and registration taken back" same_as "$work/before"
check "no uninstaller: the log says why" log_has "$work/no-uninstaller.log" "the uninstaller cannot be written"

# --- A file held by a program that is not the product's: never ended, no
# question, the file moved aside and replaced. ---
fresh_prefix
held="$(drive_c "Apps/Quillo 3")"
mkdir -p "$held"
cp "$ROOT/build/x64/sample/QuilloCore.dll" "$held/QuilloCore.dll"
printf 'older' >> "$held/QuilloCore.dll"
wine "$HOLDER" 'C:\Apps\Quillo 3\QuilloCore.dll' 300 > "$work/holder.out" 2>&1 &
holder=$!
for _ in $(seq 100); do grep -q ready "$work/holder.out" && break; sleep 0.1; done
rc="$(quiet "$work/sample-setup.exe" /D 'C:\Apps' "/LOG=$(winpath "$work/held.log")")"
check "held file: ends with 3010, a restart finishes it" test "$rc" = "$(code_of 3010)"
holding() { pgrep -f '[q]uillo-hold.exe C:.Apps' >/dev/null; }
check "held file: the holder still runs" holding
no_question() { ! grep -q '^\[[ 0-9.]*\] message ' "$1"; }
check "held file: no question for a program that is not the product's" no_question "$work/held.log"
check "held file: the held library was moved aside" log_has "$work/held.log" "moved aside: C:.Apps.Quillo 3.QuilloCore.dll"
check "held file: the held library goes at the next restart" pending '~QuilloSetup'
check "held file: nothing of it is left in the folder" test ! -e "$held/QuilloCore.dll.old"
check "held file: the new library is in place" cmp -s "$held/QuilloCore.dll" "$ROOT/build/x64/sample/QuilloCore.dll"
kill_program "quillo-hold.exe C:.Apps" 2>/dev/null
{ wait "$holder"; } 2>/dev/null

# --- Programs in use during an install over an earlier one and a removal:
# the product's own running program is ended; a stand-in shell that has a
# product library loaded and a stranger's program that shares a product
# program's name run on; the held library goes at the next restart. ---
fresh_prefix
inuse="$work/inuse"
mkdir -p "$inuse/Extensions"
cp "$HOLDER" "$inuse/Quillo.exe"
cp "$ROOT/build/x64/sample/QuilloDaemon.exe" "$inuse/QuilloDaemon.exe"
cp "$ROOT/build/x64/sample/QuilloCore.dll" "$inuse/Extensions/QuilloBHO64.dll"
echo "readme" > "$inuse/readme.txt"
"$MKSETUP" --stub "$STUB" --block "$ROOT/tools/sample-product/block.json" --package "$inuse" \
  --out "$work/inuse-setup.exe" >/dev/null
rc="$(quiet "$work/inuse-setup.exe" /D 'C:\Apps')"
check "in use: first install ends with code 0" test "$rc" = 0
mkdir -p "$(drive_c Shell)" "$(drive_c Other)"
cp "$HOLDER" "$(drive_c Shell/shell.exe)"
cp "$HOLDER" "$(drive_c Other/Quillo.exe)"
echo "notes" > "$(drive_c Other/notes.txt)"
start_holder() {  # start_holder NAME PROGRAM FILE: runs until ended, "ready" once it holds FILE
  wine "$2" "$3" 300 > "$work/$1.out" 2>&1 &
  for _ in $(seq 100); do grep -q ready "$work/$1.out" && return 0; sleep 0.1; done
  return 1
}
# The patterns start with a one-letter class so that they never match the
# command line that carries them.
runs() { pgrep -f "$1" >/dev/null; }
ended() { ! runs "$1"; }
PRODUCT='[Q]uillo 3.Quillo.exe C:'; SHELL_STANDIN='[s]hell.exe C:'; STRANGER='[O]ther.Quillo.exe C:'

start_holder product 'C:\Apps\Quillo 3\Quillo.exe' 'C:\Apps\Quillo 3\readme.txt'
start_holder shell 'C:\Shell\shell.exe' 'C:\Apps\Quillo 3\Extensions\QuilloBHO64.dll'
start_holder stranger 'C:\Other\Quillo.exe' 'C:\Other\notes.txt'
check "in use: the product's program runs" runs "$PRODUCT"
check "in use: the shell runs" runs "$SHELL_STANDIN"
check "in use: the stranger runs" runs "$STRANGER"
rc="$(quiet "$work/inuse-setup.exe" /D 'C:\Apps' "/LOG=$(winpath "$work/inuse.log")")"
check "in use: the install over it ends with 3010" test "$rc" = "$(code_of 3010)"
check "in use: the product's own program was ended" ended "$PRODUCT"
check "in use: the shell runs on" runs "$SHELL_STANDIN"
check "in use: the stranger of the same name runs on" runs "$STRANGER"
check "in use: the new library is in place" \
  cmp -s "$(drive_c "Apps/Quillo 3/Extensions/QuilloBHO64.dll")" "$inuse/Extensions/QuilloBHO64.dll"
# Windows refuses to rename a folder while a file in it is open, so the
# held library is moved aside by itself; Wine renames the folder with it.
check "in use: the held library was moved aside" \
  log_has "$work/inuse.log" "moved aside: .*QuilloBHO64.dll\|moved aside whole: .*Quillo 3.Extensions"
check "in use: the held library goes at the next restart" pending '~QuilloSetup'
check "in use: the log says a restart finishes it" log_has "$work/inuse.log" "a restart finishes its removal"
# The new library is loaded by the stand-in shell too: the removal leaves it
# to the next restart.
start_holder shell2 'C:\Shell\shell.exe' 'C:\Apps\Quillo 3\Extensions\QuilloBHO64.dll'
rc="$(quiet_uninstall 'C:\Apps\Quillo 3\unins000.exe' "/LOG=$(winpath "$work/inuse-removal.log")")"
check "in use: the removal ends with 3010" test "$rc" = "$(code_of 3010)"
check "in use: after the removal the shell runs on" runs "$SHELL_STANDIN"
check "in use: after the removal the stranger runs on" runs "$STRANGER"
left="$(find "$(drive_c "Apps/Quillo 3")" -type f ! -name '*.old' 2>/dev/null)"
check "in use: all that is left waits for the restart" test -z "$left"
check "in use: the uninstall entry is gone" test -z "$(uninstall_entry)"
kill_program "$SHELL_STANDIN" 2>/dev/null
kill_program "$STRANGER" 2>/dev/null

# --- No window can be made (no display driver): the work is done all the same. ---
fresh_prefix
snapshot "$work/before"
wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >/dev/null 2>&1
rc="$(env -u DISPLAY bash -c "$(declare -f quiet winpath); BOUND=$BOUND; quiet '$work/big-setup.exe' /D 'C:\\Apps' '/LOG=$(winpath "$work/headless.log")'")"
check "headless: install ends with code 0 (was $rc)" test "$rc" = 0
check "headless: the product is in place" test -f "$(drive_c "Apps/Quillo 3/Quillo.exe")"
check "headless: the log lists the files and the code" \
  bash -c "grep -q 'file written' '$work/headless.log' && grep -q 'exit code 0' '$work/headless.log'"
rc="$(env -u DISPLAY bash -c "$(declare -f quiet_uninstall); BOUND=$BOUND; quiet_uninstall 'C:\\Apps\\Quillo 3\\unins000.exe'")"
check "headless: removal ends with code 0" test "$rc" = 0
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
check "headless: install and removal leave drive C: and the registry as before" same_as "$work/before"

# --- Killed installs: nothing left in the temporary folder, and the next
# install and its removal leave the machine as it was. ---
# name | log line to wait for | how many
while IFS='|' read -r name marker count; do
  [ -z "$name" ] && continue
  fresh_prefix
  snapshot "$work/before"
  log="$work/$name.log"
  wine "$(winpath "$work/big-setup.exe")" /q /D 'C:\Apps' "/LOG=$(winpath "$log")" >/dev/null 2>&1 &
  setup=$!
  wait_for_lines "$log" "$marker" "$count"
  kill_program big-setup.exe 2>/dev/null
  { wait "$setup"; } 2>/dev/null
  check "$name: killed while running" bash -c "! grep -q 'exit code' '$log'"
  check "$name: no temporary archive left" \
    test -z "$(find "$(drive_c users)" -ipath '*temp*' \( -iname '*.zip' -o -iname '*.dll' \) 2>/dev/null)"
  rc="$(quiet "$work/big-setup.exe" /D 'C:\Apps')"
  check "$name: the next install ends with code 0" test "$rc" = 0
  check "$name: the next install is complete" test -f "$(drive_c "Apps/Quillo 3/data/part15/file0319.bin")"
  rc="$(quiet_uninstall 'C:\Apps\Quillo 3\unins000.exe')"
  check "$name: its removal ends with code 0" test "$rc" = 0
  check "$name: drive C: and the registry as before" same_as "$work/before"
done <<ROWS
kill-at-start|arguments|1
kill-after-unpacking|package digest verified|1
kill-during-extraction|file written|60
ROWS

# --- A killed removal: the entry still names an uninstaller that is there,
# and that uninstaller finishes the removal. ---
fresh_prefix
snapshot "$work/before"
rc="$(quiet "$work/many-setup.exe" /D 'C:\Apps')"
check "killed removal: install ends with code 0" test "$rc" = 0
log="$work/removal.log"
wine 'C:\Apps\Quillo 3\unins000.exe' /q "/LOG=$(winpath "$log")" >/dev/null 2>&1 &
removal=$!
wait_for_lines "$log" "file removed" 200
kill_program unins000.exe 2>/dev/null
{ wait "$removal"; } 2>/dev/null
check "killed removal: cut short" bash -c "! grep -q 'exit code' '$log'"
entry="$(uninstall_entry)"
check "killed removal: the uninstall entry stays" test -n "$entry"
check "killed removal: its uninstaller is still there" test -f "$(drive_c "Apps/Quillo 3/unins000.exe")"
rc="$(quiet_uninstall "$entry" "/LOG=$(winpath "$work/removal2.log")")"
check "killed removal: the registered uninstaller ends with code 0" test "$rc" = 0
check "killed removal: the second removal ends with code 0" log_has "$work/removal2.log" "exit code 0"
check "killed removal: drive C: and the registry as before" same_as "$work/before"

# --- Upgrades that fail: an installation A, then a setup file B run over it
# that fails or is killed. Afterwards A is exactly as it was (its files byte
# for byte, its entry, its links: the whole prefix as after A), and A's own
# uninstaller still removes all of it. A killed run is taken back by the next
# run of a setup file of the product (here a damaged one, which then fails
# with 9) or by the earlier uninstaller. ---
python3 "$HERE/unattended_inputs.py" product "$work/many2" 1500 2048 99
python3 "$HERE/unattended_inputs.py" longname "$work/longname"
for p in many2 longname; do
  "$MKSETUP" --stub "$STUB" --block "$ROOT/tools/sample-product/block.json" --package "$work/$p" \
    --out "$work/$p-setup.exe" >/dev/null || { echo "FAILED: packing $p"; exit 1; }
done
python3 "$HERE/unattended_inputs.py" damage "$SAMPLE" "$work/damaged-setup.exe"
python3 "$HERE/unattended_inputs.py" truncate "$SAMPLE" "$work/truncated-setup.exe"
UPGRADE_SKIPS=(--skip 'users/*/temp/*.zip')
tree_sums() {  # tree_sums FOLDER: every file below it with its MD5
  (cd "$1" 2>/dev/null && find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}
upgrade_snapshot() { wineserver -w; python3 "$HERE/prefix_snapshot.py" "$WINEPREFIX" "${SKIPS[@]}" "${UPGRADE_SKIPS[@]}" > "$1"; }
same_prefix_as() {
  upgrade_snapshot "$work/after"
  if diff -q "$1" "$work/after" >/dev/null; then return 0; fi
  diff "$1" "$work/after" | head -n 20
  return 1
}
unix_of() {  # unix_of WINDOWS_PATH: where a C: or T: path lies here
  local p="${1//\\//}"
  case "$p" in
    C:*) echo "$WINEPREFIX/drive_c${p#C:}" ;;
    T:*) echo "$small${p#T:}" ;;
  esac
}
# name | A | B | target | size of T: | log line to kill at | count | B's code (or killed) | taken back by
while IFS='|' read -r name a b target disk marker count code by; do
  [ -z "$name" ] && continue
  fresh_prefix
  [ "$disk" != - ] && small_disk "$disk"
  upgrade_snapshot "$work/before-a"
  rc="$(quiet "$work/$a" /D "$target")"
  check "$name: A installs" test "$rc" = 0
  dir="$(unix_of "$target")/Quillo 3"
  tree_sums "$dir" > "$work/a-tree"
  upgrade_snapshot "$work/after-a"
  log="$work/upgrade-$name.log"
  if [ "$code" = killed ]; then
    case "$marker" in "pausing before step "*) export QUILLO_PAUSE_BEFORE_STEP="${marker#pausing before step }" ;; esac
    wine "$(winpath "$work/$b")" /q /D "$target" "/LOG=$(winpath "$log")" >/dev/null 2>&1 &
    setup=$!
    unset QUILLO_PAUSE_BEFORE_STEP
    wait_for_lines "$log" "$marker" "$count"
    kill_program "$b" 2>/dev/null
    { wait "$setup"; } 2>/dev/null
    check "$name: B was killed while running" bash -c "! grep -q 'exit code' '$log'"
    if [ "$by" = setup ]; then
      rc="$(quiet "$work/damaged-setup.exe" /D "$target" "/LOG=$(winpath "$work/upgrade-$name-next.log")")"
      check "$name: the next setup run ends with 9" test "$rc" = 9
      check "$name: the next setup run took B back" log_has "$work/upgrade-$name-next.log" "taking back an installation"
    fi
  else
    rc="$(quiet "$work/$b" /D "$target" "/LOG=$(winpath "$log")")"
    check "$name: B ends with code $code" test "$rc" = "$code"
  fi
  if [ "$by" != uninstall ]; then
    tree_sums "$dir" > "$work/a-tree-after"
    check "$name: A's files byte for byte" cmp -s "$work/a-tree" "$work/a-tree-after"
    check "$name: A's entry, links and everything else as after A" same_prefix_as "$work/after-a"
  fi
  rc="$(quiet_uninstall "$(winpath "$dir")\\unins000.exe")"
  check "$name: A's uninstaller ends with code 0" test "$rc" = 0
  check "$name: A's uninstaller leaves the machine as before A" same_prefix_as "$work/before-a"
  [ "$disk" != - ] && check "$name: nothing left on the small volume but the folder named" \
    test -z "$(find "$small" -mindepth 1 ! -path "$small/G")"
done <<ROWS
damaged-package|sample-setup.exe|damaged-setup.exe|C:\\Apps|-|-|-|9|-
truncated-file|sample-setup.exe|truncated-setup.exe|C:\\Apps|-|-|-|5|-
volume-too-small|sample-setup.exe|big-setup.exe|T:\\G|12m|-|-|8|-
path-too-long|sample-setup.exe|longname-setup.exe|C:\\Apps|-|-|-|8|-
entry-fails-half-way|sample-setup.exe|badcrc-setup.exe|C:\\Apps|-|-|-|8|-
killed-moving-aside|many-setup.exe|many2-setup.exe|C:\\Apps|-|moved aside|1|killed|setup
killed-after-moving-aside|many-setup.exe|many2-setup.exe|C:\\Apps|-|pausing before step extract|1|killed|setup
killed-extracting|many-setup.exe|many2-setup.exe|C:\\Apps|-|file written|300|killed|setup
killed-registering|many-setup.exe|many2-setup.exe|C:\\Apps|-|pausing before step register|1|killed|setup
killed-extracting-then-removed|many-setup.exe|many2-setup.exe|C:\\Apps|-|file written|300|killed|uninstall
ROWS
mountpoint -q "$small" && umount "$small"

# --- An upgrade that succeeds: nothing of the run's folder is left, and
# files the user saved in the installation folder and in one of its folders
# are still there. The folders holding only the product's files go aside in
# one rename each; the one holding the user's file goes file by file. ---
fresh_prefix
rc="$(quiet "$work/many-setup.exe" /D 'C:\Apps')"
check "upgrade: A installs" test "$rc" = 0
echo "the user's own notes" > "$(drive_c "Apps/Quillo 3/user-notes.txt")"
echo "more of the user's notes" > "$(drive_c "Apps/Quillo 3/data/part05/notes.txt")"
rc="$(quiet "$work/many2-setup.exe" /D 'C:\Apps' "/LOG=$(winpath "$work/upgrade.log")")"
check "upgrade: B over A ends with code 0" test "$rc" = 0
check "upgrade: B's files are in place" \
  cmp -s "$(drive_c "Apps/Quillo 3/data/part03/file0003.bin")" "$work/many2/data/part03/file0003.bin"
check "upgrade: the user's file is unchanged" \
  bash -c "[ \"\$(cat '$(drive_c "Apps/Quillo 3/user-notes.txt")')\" = \"the user's own notes\" ]"
check "upgrade: the user's file in a product folder is unchanged" \
  bash -c "[ \"\$(cat '$(drive_c "Apps/Quillo 3/data/part05/notes.txt")')\" = \"more of the user's notes\" ]"
check "upgrade: a folder of only the product's files went aside whole" \
  log_has "$work/upgrade.log" "moved aside whole: C:.Apps.Quillo 3.data.part04"
check "upgrade: the folder holding the user's file went file by file" \
  log_has "$work/upgrade.log" "moved aside: C:.Apps.Quillo 3.data.part05.file0005.bin"
check "upgrade: nothing of the run's folder is left" test -z "$(find "$(drive_c Apps)" -iname '~QuilloSetup.*')"
check "upgrade: the log says the installation stands" log_has "$work/upgrade.log" "the installation stands"

# --- The deployment contract: a run returns when its work is done, with a
# code that tells the truth (a shell reads Windows exit codes modulo 256). ---
python3 "$HERE/unattended_inputs.py" setkey "$SAMPLE" "$work/launch-setup.exe" selflaunch true
fresh_prefix
snapshot "$work/before"
timeout "$BOUND" wine "$(winpath "$work/sample-setup.exe")" /VERYSILENT '/D=C:\Apps' >/dev/null 2>&1; rc=$?
check "contract: /VERYSILENT /D=C:\\Apps installs, ends with 0" test "$rc" = 0
check "contract: below C:\\Apps" test -f "$(drive_c "Apps/Quillo 3/Quillo.exe")"
timeout "$BOUND" wine 'C:\Apps\Quillo 3\unins000.exe' /q >/dev/null 2>&1; rc=$?
check "contract: unins000.exe /q ends with 0" test "$rc" = 0
check "contract: when it returns the product's files are gone" test ! -e "$(drive_c "Apps/Quillo 3")"
check "contract: when it returns the uninstall entry is gone" test -z "$(uninstall_entry)"
check "contract: nothing of the uninstaller stays in the temporary folder" \
  test -z "$(find "$(drive_c users)" -ipath '*/temp/*' -iname '*.exe' 2>/dev/null)"
check "contract: install and removal leave the machine as before" same_as "$work/before"

rc="$(quiet "$work/sample-setup.exe" '/DIR=C:\Exact Place')"
check "contract: /DIR= ends with 0" test "$rc" = 0
check "contract: /DIR= installs into exactly that folder" test -f "$(drive_c "Exact Place/Quillo.exe")"
check "contract: /DIR= makes no product folder below it" test ! -e "$(drive_c "Exact Place/Quillo 3")"
python3 "$HERE/unattended_inputs.py" setblock "$(drive_c "Exact Place/unins000.exe")" '{"mode":0}'
timeout "$BOUND" wine 'C:\Exact Place\unins000.exe' /q >/dev/null 2>&1; rc=$?
check "contract: a removal that fails ends with 1" test "$rc" = 1
check "contract: after a failed removal nothing stays in the temporary folder" \
  test -z "$(find "$(drive_c users)" -ipath '*/temp/*' -iname '*.exe' 2>/dev/null)"

fresh_prefix
snapshot "$work/before"
rc="$(quiet "$work/sample-setup.exe" /D 'C:\Apps' /SILENTT "/LOG=$(winpath "$work/badswitch.log")")"
check "contract: an unknown switch ends a quiet run with 1639" test "$rc" = "$(code_of 1639)"
check "contract: an unknown switch is named in the log" log_has "$work/badswitch.log" "bad command line, unknown: /SILENTT"
check "contract: an unknown switch touches nothing" same_as "$work/before"
usage="$(timeout "$BOUND" wine "$(winpath "$work/sample-setup.exe")" /q '/?' 2>/dev/null)"; rc=$?
check "contract: /q /? ends with 0" test "$rc" = 0
check "contract: /q /? prints the switches" bash -c "grep -q '/DIR=FOLDER' <<<'$usage'"

rc="$(quiet "$work/launch-setup.exe" /D 'C:\Apps' /NOLAUNCH)"
check "contract: a quiet install with /NOLAUNCH ends with 0" test "$rc" = 0
wineserver -w
check "contract: with /NOLAUNCH the product is not started" \
  bash -c "! grep -qs '^Quillo ' $(drive_c "users/*/Temp/quillo-sample-runs.txt")"
rc="$(quiet "$work/launch-setup.exe" /D 'C:\Apps')"
wineserver -w
check "contract: without /NOLAUNCH the quiet install starts the product" \
  bash -c "grep -qs '^Quillo ' $(drive_c "users/*/Temp/quillo-sample-runs.txt")"

# One run at a time: a second run while the first is held before unpacking.
fresh_prefix
QUILLO_PAUSE_BEFORE_STEP=extract wine "$(winpath "$work/big-setup.exe")" /q /D 'C:\Apps' \
  "/LOG=$(winpath "$work/first-run.log")" >/dev/null 2>&1 &
first=$!
wait_for_lines "$work/first-run.log" "pausing before step extract" 1
rc="$(quiet "$work/sample-setup.exe" /D 'C:\Other' "/LOG=$(winpath "$work/second-run.log")")"
check "contract: a second run while one runs ends with 1618" test "$rc" = "$(code_of 1618)"
check "contract: the second run says why" log_has "$work/second-run.log" "another installation or removal"
check "contract: the second run installed nothing" test ! -e "$(drive_c Other)"
kill_program big-setup.exe 2>/dev/null
{ wait "$first"; } 2>/dev/null

# --- Libraries planted where others can write: beside the setup file (a
# Downloads folder), in the temporary folder and in the installation folder,
# under the names of libraries the program or the system may look for. None
# is loaded, with Wine's default load order and with native ones preferred.
# (With native ones preferred, Wine's own advapi32 loads "version.dll" by
# name before the program's first instruction: that one is left out of the
# second round; the program's import table names known libraries only, which
# a native test checks.) ---
PLANTED_NAMES=(version iphlpapi msimg32 msvfw32 propsys rstrtmgr uxtheme dwmapi windowscodecs)
for order in default native; do
  fresh_prefix
  names=("${PLANTED_NAMES[@]}")
  if [ "$order" = native ]; then
    names=("${PLANTED_NAMES[@]:1}")
    export WINEDLLOVERRIDES="mscoree,mshtml=;$(IFS=,; echo "${names[*]}")=n,b"
  fi
  plant() { local n; for n in "${names[@]}"; do cp "$PLANTED" "$1/$n.dll"; done; }
  rm -rf "$work/downloads"; mkdir -p "$work/downloads"
  cp "$work/sample-setup.exe" "$work/downloads/"
  plant "$work/downloads"
  plant "$(find "$(drive_c users)" -maxdepth 2 -iname temp -type d | head -n1)"
  rc="$(quiet "$work/downloads/sample-setup.exe" /D 'C:\Apps')"
  check "planted ($order): the install ends with 0" test "$rc" = 0
  plant "$(drive_c "Apps/Quillo 3")"
  rc="$(quiet_uninstall 'C:\Apps\Quillo 3\unins000.exe')"
  check "planted ($order): the removal ends with 0" test "$rc" = 0
  check "planted ($order): no planted library was loaded" test -z "$(ls -A "$(drive_c planted)" 2>/dev/null)"
  export WINEDLLOVERRIDES="mscoree,mshtml="
done

# --- Programs planted where the setup or its uninstaller would start one:
# "unins000.exe" in the temporary folder, held open by another process (the
# fixed name of old), and "msiexec.exe" beside a setup file that installs
# the device-support packages. Neither runs; the work is done all the same. ---
fresh_prefix
rc="$(quiet "$work/sample-setup.exe" /D 'C:\Apps')"
check "squatted copy: the install ends with 0" test "$rc" = 0
temp="$(find "$(drive_c users)" -maxdepth 2 -iname temp -type d | head -n1)"
cp "$PLANTED_EXE" "$temp/unins000.exe"
wine "$HOLDER" "$(winpath "$temp/unins000.exe")" 60 > "$work/squat-hold.out" 2>&1 &
squatter=$!
wait_for_lines "$work/squat-hold.out" ready 1
rc="$(quiet_uninstall 'C:\Apps\Quillo 3\unins000.exe' "/LOG=$(winpath "$work/squat.log")")"
check "squatted copy: the removal ends with 0" test "$rc" = 0
check "squatted copy: the product is removed" test ! -e "$(drive_c "Apps/Quillo 3")"
check "squatted copy: the planted program never ran" test ! -e "$(drive_c planted/unins000.exe)"
check "squatted copy: the planted program is left as it was" cmp -s "$PLANTED_EXE" "$temp/unins000.exe"
kill "$squatter" 2>/dev/null; { wait "$squatter"; } 2>/dev/null

fresh_prefix
rm -rf "$work/drivers" "$work/downloads"; mkdir -p "$work/drivers" "$work/downloads"
cp "$APPLE_MSI/AppleMobileDeviceSupport.msi" "$work/drivers/"
(cd "$work/drivers" && zip -q -X ../drivers.zip AppleMobileDeviceSupport.msi)
python3 "$HERE/unattended_inputs.py" product "$work/small-product" 3 1024
"$MKSETUP" --stub "$STUB" --block "$ROOT/tools/sample-product/block.json" --package "$work/small-product" \
  --set ituneslite64=true --set ituneslite32=true --driver "$work/drivers.zip" \
  --out "$work/downloads/driver-setup.exe" >/dev/null || check "packing the driver setup" false
cp "$PLANTED_EXE" "$work/downloads/msiexec.exe"
rc="$(quiet "$work/downloads/driver-setup.exe" /D 'C:\Apps' "/LOG=$(winpath "$work/msiexec.log")")"
check "planted msiexec: the install ends with 0" test "$rc" = 0
check "planted msiexec: the planted program never ran" test ! -e "$(drive_c planted/msiexec.exe)"
package_installed() {
  wine reg query 'HKLM\Software\Apple Inc.\Apple Mobile Device Support' /v Package /reg:32 2>/dev/null \
    | tr -d '\r' | grep -q AppleMobileDeviceSupport
}
check "planted msiexec: the package was installed by Windows Installer" package_installed
check "planted msiexec: run from a private folder" log_has "$work/msiexec.log" 'running: .*Quillo_Temp_[0-9A-F]\{16\}\\AppleMobileDeviceSupport.msi'

# --- The listed installation folder replaced by a link (to a folder the
# product never owned), a link on the way to it, and the folder named by a
# network path that leads to drive C:: the removal takes nothing through
# them. ---
tree_of() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 md5sum); }
same_tree() { [ "$(tree_of "$1")" = "$(cat "$2")" ]; }
for row in link link-on-the-way network; do
  fresh_prefix
  rc="$(quiet "$work/sample-setup.exe" /D 'C:\Apps')"
  check "$row: the install ends with 0" test "$rc" = 0
  uninstaller='C:\Apps\Quillo 3\unins000.exe'
  case "$row" in
    link)
      mv "$(drive_c "Apps/Quillo 3")" "$(drive_c Victim)"
      ln -s "$(drive_c Victim)" "$(drive_c "Apps/Quillo 3")"
      kept="$(drive_c Victim)"; uninstaller='C:\Victim\unins000.exe' ;;
    link-on-the-way)
      mv "$(drive_c Apps)" "$(drive_c Victim)"
      ln -s "$(drive_c Victim)" "$(drive_c Apps)"
      kept="$(drive_c "Victim/Quillo 3")" ;;
    network)
      mkdir -p "$WINEPREFIX/dosdevices/unc/localhost"
      ln -s ../../../drive_c "$WINEPREFIX/dosdevices/unc/localhost/C\$"
      python3 "$HERE/unattended_inputs.py" reroot "$(drive_c "Apps/Quillo 3/unins000.exe")" \
        'C:\Apps\Quillo 3' '\\localhost\C$\Apps\Quillo 3'
      kept="$(drive_c "Apps/Quillo 3")" ;;
  esac
  tree_of "$kept" > "$work/kept-before"
  rc="$(quiet_uninstall "$uninstaller" "/LOG=$(winpath "$work/$row.log")")"
  # (Wine cannot delete a link to a folder: the link row ends with 0 only
  # where the link could go.)
  check "$row: the removal ends with 0 only when nothing is left of it" \
    bash -c "[ '$rc' != 0 ] || { [ '$row' = link ] && [ ! -L '$(drive_c "Apps/Quillo 3")' ]; }"
  check "$row: nothing was removed through it" same_tree "$kept" "$work/kept-before"
  case "$row" in
    link) check "$row: the log says only the link goes" log_has "$work/$row.log" "is a link; only the link is removed" ;;
    link-on-the-way) check "$row: the log says where it opens" log_has "$work/$row.log" "opens as C:.Victim.Quillo 3" ;;
    network) check "$row: the log refuses the network path" log_has "$work/$row.log" "not a local folder" ;;
  esac
done

# --- A folder that is no installation holds a file of the package's name.
# A run with a damaged entry finds it before anything is put in place: the
# file is never touched. A run that fails after the files are in place (the
# uninstaller cannot be written: a folder stands in its place) puts the file
# back as it was. ---
fresh_prefix
mkdir -p "$(drive_c "Apps/Quillo 3/good")"
echo "the user's own file of that name" > "$(drive_c "Apps/Quillo 3/good/file00.txt")"
snapshot "$work/before"
rc="$(quiet "$work/badcrc-setup.exe" /D 'C:\Apps' "/LOG=$(winpath "$work/replaced.log")")"
check "replaced file: the run ends with code 8" test "$rc" = 8
check "replaced file: the damaged entry is found before the file is touched" \
  bash -c "! grep -q 'moved aside: .*file00.txt' '$work/replaced.log'"
check "replaced file: it is there, unchanged" \
  bash -c "[ \"\$(cat '$(drive_c "Apps/Quillo 3/good/file00.txt")')\" = \"the user's own file of that name\" ]"
check "replaced file: drive C: and the registry as before" same_as "$work/before"
fresh_prefix
mkdir -p "$(drive_c "Apps/Quillo 3/unins000.exe")"
echo "the user's own program of that name" > "$(drive_c "Apps/Quillo 3/Quillo.exe")"
snapshot "$work/before"
rc="$(quiet "$work/sample-setup.exe" /D 'C:\Apps' "/LOG=$(winpath "$work/replaced2.log")")"
check "replaced file, late failure: the run ends with code 8" test "$rc" = 8
check "replaced file, late failure: it was replaced before the failure" \
  log_has "$work/replaced2.log" "moved aside: .*Quillo.exe"
check "replaced file, late failure: it is back, unchanged" \
  bash -c "[ \"\$(cat '$(drive_c "Apps/Quillo 3/Quillo.exe")')\" = \"the user's own program of that name\" ]"
check "replaced file, late failure: drive C: and the registry as before" same_as "$work/before"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
