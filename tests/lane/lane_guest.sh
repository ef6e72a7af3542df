#!/bin/bash
# Runs inside the 32-bit lane's machine (a 64-bit Debian guest whose Wine has
# its 32-bit half): the steps of one case, first for the x86_64 build, then
# for the i686 deliverable, each in a fresh copy of the guest's base prefix.
# Every check is written to /io/out/checks as "BUILD ok|FAILED NAME".
# Usage: lane_guest.sh CASE   (install | gui | driver | screens | large)
set -u
CASE="$1"
IO=${QUILLO_LANE_IO:-/io}
OUT=$IO/out
BASE=${QUILLO_LANE_BASE:-/opt/quillo/base}
BOUND=${QUILLO_LANE_BOUND:-900}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
mkdir -p "$OUT"
# The guest has no udev: the links that bash's process substitution needs.
[ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd
: >"$OUT/checks"

B=""
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then echo "$B ok $name" | tee -a "$OUT/checks"; else echo "$B FAILED $name" | tee -a "$OUT/checks"; fi
}
note() { echo "$B note $*" | tee -a "$OUT/checks"; }
winpath() { echo "Z:${1//\//\\}"; }
pe_machine() {  # pe_machine FILE: the machine type of a PE image, in hex
  python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(4096); o=struct.unpack_from("<I",d,60)[0]; print("%x" % struct.unpack_from("<H",d,o+4)[0])' "$1" 2>/dev/null
}

fresh_prefix() {
  wineserver -k >/dev/null 2>&1
  export WINEPREFIX=${TMPDIR:-/tmp}/quillo-prefix-$B
  rm -rf "$WINEPREFIX"
  cp -a "$BASE" "$WINEPREFIX"
  # Windows has the Quick Launch folder; a fresh Wine prefix does not.
  mkdir -p "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Internet Explorer/Quick Launch"
}
stop_prefix() { wineserver -k >/dev/null 2>&1; timeout 60 wineserver -w; }

# The statistics server: a loopback listener that answers every request with
# 200 and keeps its request lines.
stat_server() {  # stat_server LOGFILE: prints the port
  python3 - "$1" <<'PY'
import socket, sys, os
log = sys.argv[1]
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 0)); s.listen(16)
print(s.getsockname()[1], flush=True)
if os.fork(): os._exit(0)
null = os.open(os.devnull, os.O_RDWR)
for fd in (0, 1, 2): os.dup2(null, fd)
while True:
    c, _ = s.accept()
    c.settimeout(10)
    data = b""
    try:
        while b"\r\n\r\n" not in data:
            chunk = c.recv(65536)
            if not chunk: break
            data += chunk
    except OSError:
        pass
    if data:
        with open(log, "ab") as f: f.write(data.split(b"\r\n", 1)[0] + b"\n")
    try: c.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK")
    except OSError: pass
    c.close()
PY
}

# The sample's uninstall entry, read through the 32-bit and the 64-bit view.
entry_value() {  # entry_value VIEW VALUE
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brightfen' /v "$2" "/reg:$1" 2>/dev/null |
    sed -n 's/.*REG_[A-Z_]* *//p' | tr -d '\r'
}
quiet_uninstall() {  # quiet_uninstall WINDOWS_PATH: the exit code once the temporary copy has ended
  local rc i
  timeout "$BOUND" wine "$1" /q >/dev/null 2>&1; rc=$?
  for ((i = 0; i < BOUND * 2; i++)); do
    pgrep -f '[Q]uillo_Temp_[0-9A-F]*.unins000.exe' >/dev/null || { echo $rc; return; }
    sleep 0.5
  done
  echo 124
}

# Quiet installation of the sample, installation over it, quiet removal.
case_install() {
  fresh_prefix
  wineserver -p
  local port events="$OUT/events-$B.txt" folder inst snap="$OUT/snapshot-$B"
  : >"$events"
  port=$(stat_server "$events")
  export QUILLO_STAT_SERVER="127.0.0.1:$port"
  SKIPS=(--skip 'users/*/temp/unins000.exe' --skip 'users/*/temp/quillo-sample-runs.txt'
         --skip 'apps' --skip 'software\brightfen\quillo3'
         --skip 'software\wow6432node\microsoft\windows\currentversion\uninstall'
         --skip 'system\currentcontrolset\control\class\{4d36e968-e325-11ce-bfc1-08002be10318}\0000')
  stop_prefix
  python3 $IO/tests/prefix_snapshot.py "$WINEPREFIX" "${SKIPS[@]}" >"$snap.before"
  wineserver -p
  folder='C:\Lane Demo'
  inst="$WINEPREFIX/drive_c/Lane Demo/Quillo 3"
  local t=$SECONDS
  timeout "$BOUND" wine "$(winpath $IO/$B/sample-setup.exe)" /q /D "$folder" >/dev/null 2>&1
  local rc=$?
  note "quiet install took $((SECONDS - t)) s"
  check "quiet install ends with 0" test $rc = 0
  check "the installed tree is the package" diff -r -x unins000.exe "$IO/$B/product" "$inst"
  check "the uninstaller is written" test -s "$inst/unins000.exe"
  check "the uninstall entry is in the 32-bit view" \
    test "$(entry_value 32 UninstallString)" = 'C:\Lane Demo\Quillo 3\unins000.exe'
  check "no uninstall entry in the 64-bit view" test -z "$(entry_value 64 UninstallString)"
  check "the desktop link is made" test -n "$(find "$WINEPREFIX/drive_c/users" -name 'Quillo 3.lnk' -path '*Desktop*')"
  check "the taskbar link is made" test -n "$(find "$WINEPREFIX/drive_c/users" -name 'Quillo 3.lnk' -path '*Quick Launch*')"
  # The x64 libraries on 64-bit Windows, whatever the program's own bitness.
  check "the 64-bit core library is installed" test "$(pe_machine "$inst/QuilloCore.dll")" = 8664

  local first
  first=$(wc -l <"$events")
  check "the first install reports operation 1" grep -q '&op=1&' "$events"
  echo "again over it" >"$inst/readme.txt"
  t=$SECONDS
  timeout "$BOUND" wine "$(winpath $IO/$B/sample-setup.exe)" /q /D "$folder" >/dev/null 2>&1
  rc=$?
  note "install over the earlier installation took $((SECONDS - t)) s"
  check "install over the earlier one ends with 0" test $rc = 0
  check "the tree is the package again" diff -r -x unins000.exe "$IO/$B/product" "$inst"
  check "the second install reports operation 3" grep -q '&op=3&' <(tail -n +$((first + 1)) "$events")
  echo "statistics requests:"; cat "$events"

  t=$SECONDS
  rc=$(quiet_uninstall 'C:\Lane Demo\Quillo 3\unins000.exe')
  note "quiet removal took $((SECONDS - t)) s"
  check "quiet removal ends with 0" test "$rc" = 0
  check "the installation folder is gone" test ! -e "$inst"
  check "the uninstall entry is gone" test -z "$(entry_value 32 UninstallString)"
  check "the links are gone" test -z "$(find "$WINEPREFIX/drive_c/users" -name 'Quillo 3.lnk')"
  stop_prefix
  python3 $IO/tests/prefix_snapshot.py "$WINEPREFIX" "${SKIPS[@]}" --skip 'lane demo' >"$snap.after"
  check "the machine is as before" diff "$snap.before" "$snap.after"
  rm -rf "$WINEPREFIX"
}

# A Windows test program of the build, with a gtest filter; each test is a check.
gtests() {  # gtests FILTER
  local log="$OUT/gtest-$B.log" t=$SECONDS
  timeout "$BOUND" wine "$IO/$B/win_tests.exe" --gtest_filter="$1" >"$log" 2>&1
  local rc=$?
  note "win_tests took $((SECONDS - t)) s"
  local name
  while read -r name; do check "$name" true; done < <(sed -n 's/^\[       OK \] \([^ ]*\).*/\1/p' "$log")
  while read -r name; do check "$name" false; done < <(sed -n 's/^\[  FAILED  \] \([^ ,]*\) (.*/\1/p' "$log")
  check "the test program ends with 0" test $rc = 0
  grep -q '^\[  PASSED  \]' "$log" || tail -n 60 "$log"
}
gtest_env() {
  export QUILLO_SAMPLE_SETUP="$(winpath $IO/$B/sample-setup.exe)" QUILLO_SAMPLE_DIR="$(winpath $IO/$B/sample)"
  export QUILLO_APPLE_DIR="$(winpath $IO/x64/apple)" QUILLO_APPLE_X86_DIR="$(winpath $IO/i686/apple)"
  export QUILLO_DETECTOR_DLL="$(winpath $IO/$B/QuilloTestDetector.dll)" QUILLO_SKIN_PACKAGE="$(winpath $IO/$B/skin.uir)"
  export QUILLO_STAT_SERVER=127.0.0.1:9
  # The test servers wait that many times longer for the program's requests.
  export QUILLO_TEST_TIME_SCALE=20
}

# The success screen's recommendations: the detector library of the build's
# machine type through its three exports, and a download offer served on
# loopback; an installation over an earlier one through the screens.
case_gui() {
  fresh_prefix
  gtest_env
  gtests 'SetupGuiTest.TheDetectorsOfferIsInstalledWhenTheScreenCloses:SetupGuiTest.ATickedDownloadRecommendationIsFetchedStartedAndReported:SetupGuiTest.InstallingOverAnEarlierInstallationReportsIt'
  stop_prefix
  rm -rf "$WINEPREFIX"
}

# The driver step: the vendor's stand-in packages (x86 and x64) through
# msiexec and the views their keys land in, the CoreFP value read back through
# the 32-bit view, the bitness read from libraries of both machine types.
case_driver() {
  fresh_prefix
  gtest_env
  gtests 'DriverTest.*:SetupGuiTest.TheDriverStepRunsBeforeTheSuccessScreenAndIsReported'
  stop_prefix
  rm -rf "$WINEPREFIX"
}

# A 1.5 GiB package installed quietly onto the case disk; the process's peak
# memory and address space are noted.
case_large() {
  # The prefix on the case disk: the
  # guest's /tmp is in memory.
  export TMPDIR=$IO/tmp
  mkdir -p "$TMPDIR"
  fresh_prefix
  local target="$IO/target-$B" peak="$OUT/peak-$B" t=$SECONDS
  rm -rf "$target"
  timeout $((BOUND * 2)) wine "$(winpath $IO/$B/sample-setup.exe)" /q /D "$(winpath "$target")" \
    "/LOG=$(winpath "$OUT/large-$B.log")" >/dev/null 2>&1 &
  local pid=$! p
  : >"$peak"
  while kill -0 $pid 2>/dev/null; do
    for p in $(pgrep -f '[s]ample-setup.exe'); do grep -E '^Vm(Peak|HWM)' /proc/$p/status 2>/dev/null; done >>"$peak"
    sleep 2
  done
  wait $pid
  local rc=$?
  note "the 1.5 GiB install took $((SECONDS - t)) s, exit code $rc, $(df -m --output=avail "$IO" | tail -1 | tr -d ' ') MiB left on the case disk"
  note "peak address space $(awk '/VmPeak/ { if ($2 > m) m = $2 } END { printf "%.1f MiB", m / 1024 }' "$peak"), peak resident $(awk '/VmHWM/ { if ($2 > m) m = $2 } END { printf "%.1f MiB", m / 1024 }' "$peak")"
  check "the 1.5 GiB install ends with 0" test $rc = 0
  [ $rc = 0 ] || tail -n 8 "$OUT/large-$B.log" 2>/dev/null
  check "the large file is installed whole" test "$(stat -c %s "$target/Quillo 3/media.bin" 2>/dev/null)" = $((1536 * 1024 * 1024))
  check "the large file's bytes are the product's" test "$(md5sum <"$target/Quillo 3/media.bin" | cut -d' ' -f1)" = "$(cat $IO/large.md5)"
  rm -rf "$target"
  stop_prefix
  rm -rf "$WINEPREFIX"
  unset TMPDIR
}

# Every screen on a virtual X server, saved for the host to check.
case_screens() {
  fresh_prefix
  stop_prefix
  local t=$SECONDS
  QUILLO_WINE_PREFIX="$WINEPREFIX" QUILLO_DRIVE=$IO/tools/quillo-drive.exe QUILLO_SCREENS_FILES=$IO/$B/screens \
    bash $IO/scripts/demo-screens.sh "$OUT/screens-$B" >"$OUT/screens-$B.log" 2>&1
  local rc=$?
  note "the screen run took $((SECONDS - t)) s"
  check "the screen run finishes" test $rc = 0
  [ $rc = 0 ] || tail -n 20 "$OUT/screens-$B.log"
  rm -rf "$WINEPREFIX"
}

for B in ${QUILLO_LANE_BUILDS:-x64 i686}; do
  echo "== $CASE: $B build"
  "case_$CASE"
done
echo "== $CASE done"
