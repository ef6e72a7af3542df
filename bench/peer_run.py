#!/usr/bin/env python3
"""Runs one command and reports its wall time, exit code and peak memory.

Usage: peer_run.py [--poll MS] [--server PID] -- COMMAND [ARGS...]
Prints one line:
  rc=N seconds=S user=U sys=Y server=V maxrss_kb=K hwm_kb=H vmpeak_kb=P name=NAME

seconds    wall time from the start of the command to its end
user, sys  CPU seconds of the command (with the children it waited for)
server     CPU seconds that process PID (the wineserver: Wine opens, creates
           and deletes files there) spent meanwhile; 0 without --server
maxrss_kb  ru_maxrss of wait4() on the command: the peak resident set of the
           started process (Wine's loader execs the Windows program in the
           same Linux process, so this is the Windows program's own peak)
hwm_kb     the last VmHWM read from /proc/PID/status while the process ran
           (polled every MS milliseconds, 20 by default; 0 turns it off): a
           cross-check of maxrss_kb
vmpeak_kb  the last VmPeak read the same way: the peak of the address space
           in use (reserved and mapped), which is what a 32-bit process runs
           out of
name       what /proc/PID/cmdline showed last, to tell which process was
           measured (under Wine the Windows command line)
Standard output and error of the command go to /dev/null.
"""
import os
import subprocess
import sys
import time


def read_status(pid, field):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def read_name(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            parts = f.read().split(b"\0")
        return parts[0].decode("utf-8", "replace") if parts else ""
    except OSError:
        return ""


def cpu_seconds(pid):
    """utime + stime of a process, in seconds; 0 when it cannot be read."""
    if not pid:
        return 0.0
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return 0.0


def main():
    args = sys.argv[1:]
    poll_ms = 20
    server = 0
    while args and args[0] != "--":
        if args[0] == "--poll" and len(args) > 1:
            poll_ms = int(args[1])
            args = args[2:]
        elif args[0] == "--server" and len(args) > 1:
            server = int(args[1]) if args[1] else 0
            args = args[2:]
        else:
            sys.exit(__doc__)
    args = args[1:]
    if not args:
        sys.exit(__doc__)

    server0 = cpu_seconds(server)
    t0 = time.monotonic()
    proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    hwm, vmpeak, name = 0, 0, ""
    status, usage = 0, None
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG if poll_ms > 0 else 0)
        if pid == proc.pid:
            break
        value = read_status(proc.pid, "VmHWM")
        if value is not None:
            hwm = max(hwm, value)
            vmpeak = max(vmpeak, read_status(proc.pid, "VmPeak") or 0)
            name = read_name(proc.pid) or name
        time.sleep(poll_ms / 1000.0)
    t1 = time.monotonic()
    server_cpu = cpu_seconds(server) - server0
    proc.returncode = os.waitstatus_to_exitcode(status)
    print("rc=%d seconds=%.3f user=%.2f sys=%.2f server=%.2f maxrss_kb=%d hwm_kb=%d vmpeak_kb=%d name=%s"
          % (proc.returncode, t1 - t0, usage.ru_utime, usage.ru_stime, max(server_cpu, 0.0), usage.ru_maxrss, hwm,
             vmpeak, name.replace(" ", "_")))


if __name__ == "__main__":
    main()
