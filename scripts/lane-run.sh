#!/usr/bin/env bash
# Runs one case in the 32-bit lane's virtual machine (made by lane-image.sh).
# Usage: lane-run.sh CASE_FOLDER RESULT_FOLDER
#   CASE_FOLDER holds case.sh and the files it needs; in the guest it is /io
#   and case.sh runs there as root. What the case writes to /io/out comes back
#   as RESULT_FOLDER (its output in log, the machine's console in console.log).
#   The exit code is case.sh's, or 125 when the machine did not run it.
# The guest's root disk is used read-only (changes go to a throw-away
# overlay), so every case starts from the same machine.
# QUILLO_LANE_TIMEOUT: seconds before the machine is stopped (1200).
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TIMEOUT="${QUILLO_LANE_TIMEOUT:-1200}"

[ $# = 2 ] || { echo "usage: $0 CASE_FOLDER RESULT_FOLDER" >&2; exit 2; }
CASE="$1"; RESULT="$2"
[ -f "$CASE/case.sh" ] || { echo "lane-run: no case.sh in $CASE" >&2; exit 2; }
IMAGE="${QUILLO_LANE_IMAGE_DIR:-$(bash "$ROOT/scripts/lane-image.sh" --print)}"
if [ ! -f "$IMAGE/root.img" ]; then
  echo "lane-run: no lane image at $IMAGE (run scripts/lane-image.sh)" >&2
  exit 125
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-lane-run.XXXXXX")"
trap 'rm -rf "$work"' EXIT
io="$work/io"
mkdir -p "$io"
cp -r "$CASE/." "$io/"
# The guest stops the case a little before the machine is stopped.
echo $((TIMEOUT > 120 ? TIMEOUT - 60 : TIMEOUT)) >"$io/timeout"
# Room for the case's own writes: QUILLO_LANE_SPARE_MB beside twice the files.
size_mb=$(( $(du -sm "$io" | cut -f1) * 2 + ${QUILLO_LANE_SPARE_MB:-1024} ))
mkfs.ext4 -q -F -L quillo-io -d "$io" "$work/io.img" "${size_mb}M" >/dev/null || exit 125

root_drive="file=$IMAGE/root.img,format=raw,if=virtio"
# QUILLO_LANE_WRITABLE: the changes stay (the image's first boot).
[ -n "${QUILLO_LANE_WRITABLE:-}" ] || root_drive="$root_drive,snapshot=on"
mkdir -p "$RESULT"
# Software emulation (the machine's KVM does not run a stock guest). SMAP and
# SMEP are off: with them, Wine's return to user mode faults in the guest.
timeout -k 10 "$TIMEOUT" qemu-system-x86_64 -accel tcg,thread=multi -smp "${QUILLO_LANE_CPUS:-2}" -m 4096 \
  -cpu max,-smap,-smep,-pku -nographic -no-reboot -nic none \
  -kernel "$IMAGE/vmlinuz" -initrd "$IMAGE/initrd.img" \
  -append "console=ttyS0 panic=-1 quiet nosmap nosmep" \
  -drive "$root_drive" -drive "file=$work/io.img,format=raw,if=virtio" \
  </dev/null >"$RESULT/console.log" 2>&1
qrc=$?
[ "$qrc" = 124 ] && echo "lane-run: the machine was stopped after $TIMEOUT s" >&2

debugfs -R "rdump /out $work" "$work/io.img" >/dev/null 2>&1
if [ -d "$work/out" ]; then cp -r "$work/out/." "$RESULT/"; fi
if [ ! -f "$RESULT/rc" ]; then
  echo "lane-run: the case did not finish; the machine's console:" >&2
  tail -n 40 "$RESULT/console.log" >&2
  exit 125
fi
exit "$(cat "$RESULT/rc")"
