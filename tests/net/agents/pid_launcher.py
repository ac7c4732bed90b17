#!/usr/bin/env python3
"""Runs a command with a chosen process id, in a pid namespace of its own.

Usage: unshare --pid --fork --kill-child --mount-proc pid_launcher.py PID COMMAND [ARGS...]

Runs as the first process of the new pid namespace (as root): it raises the
namespace's pid_max above PID where the kernel keeps one per namespace,
sets ns_last_pid to PID - 1 and starts COMMAND, which thus gets PID there
(and keeps it through exec, so a program started by setpriv has it too).
Exits with the command's status; when the command did not get PID it says
so on standard error and exits with 125.
"""
import subprocess
import sys

PID_MAX_LIMIT = 4194304


def write(path, value):
    with open(path, "w") as f:
        f.write(str(value))


def main():
    wanted = int(sys.argv[1])
    command = sys.argv[2:]
    try:
        with open("/proc/sys/kernel/pid_max") as f:
            if int(f.read()) <= wanted:
                write("/proc/sys/kernel/pid_max", PID_MAX_LIMIT)
        write("/proc/sys/kernel/ns_last_pid", wanted - 1)
    except OSError as err:
        print("pid_launcher: cannot make the next pid %d: %s" % (wanted, err), file=sys.stderr)
        return 125
    proc = subprocess.Popen(command)
    status = proc.wait()
    if proc.pid != wanted:
        print("pid_launcher: the command got pid %d, not %d" % (proc.pid, wanted), file=sys.stderr)
        return 125
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
