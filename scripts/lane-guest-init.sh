#!/bin/bash
# The 32-bit lane guest's first process (installed as /sbin/quillo-lane-init):
# mounts the system folders and the case disk (/dev/vdb, ext4) at /io, runs
# /io/case.sh with its output in /io/out/log and its exit code in /io/out/rc,
# and powers the machine off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sys /sys
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
ip link set lo up 2>/dev/null
hostname quillo-lane

stop() {
  sync
  umount /io 2>/dev/null
  mount -o remount,ro / 2>/dev/null
  sync
  echo o >/proc/sysrq-trigger
  sleep 10
  exit 0
}

mkdir -p /io
if ! mount -t ext4 /dev/vdb /io; then
  echo "lane: no case disk"
  stop
fi
mkdir -p /io/out
echo "lane: case starts ($(nproc) cpus, $(date -u +%T))"
start=$(date +%s)
(cd /io && timeout "$(cat /io/timeout 2>/dev/null || echo 1200)" bash /io/case.sh) >/io/out/log 2>&1
rc=$?
echo "$rc" >/io/out/rc
echo "lane: case ended with $rc after $(($(date +%s) - start)) s"
# The case's output on the console too, for the runner's log.
tail -n 200 /io/out/log
stop
