#!/usr/bin/python3
"""A small file system of its own on a test's folder, for the tests of a data
folder that is full or read-only: a Windows program under Wine cannot mount,
but it can start this.

    small_disk.py --dir DIR --kib N

Mounts a tmpfs of N KiB on DIR (which must exist) and writes DIR.state
(beside DIR, outside the mount) with the line "mounted PORT", "not root"
when it does not run as root, who alone may mount, or "failed: <reason>" when
root cannot mount (no tmpfs, a container without the right). The
test connects to the loopback port PORT and keeps that connection open for
as long as it needs the file system. When the file DIR.seal appears, the file
system is made read-only with what it holds and the state becomes "sealed".
When the connection closes, for whatever reason (the test released the disk,
finished, crashed or was killed), the file system is unmounted (lazily, so
that an open handle cannot keep it) and DIR.state goes. A test that never
connects within a minute, or a quarter of an hour in all, ends it too.
"""

import argparse
import os
import select
import socket
import subprocess
import sys
import time

CONNECT_WAIT = 60.0
LIFETIME = 15 * 60.0


def write_whole(path, text):
    temp = path + ".part"
    with open(temp, "w") as out:
        out.write(text)
    os.replace(temp, path)


def run(*command):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--kib", type=int, required=True)
    args = parser.parse_args()
    folder = os.path.abspath(args.dir)
    state = folder + ".state"
    seal = folder + ".seal"

    if os.geteuid() != 0:
        write_whole(state, "not root\n")
        return 1
    mounted = run("mount", "-t", "tmpfs", "-o", "size=%dk,mode=0777" % args.kib,
                  "kelvra-test", folder)
    if mounted.returncode != 0:
        write_whole(state, "failed: %s\n" % (mounted.stderr.strip() or "mount failed"))
        return 1
    control = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        control.bind(("127.0.0.1", 0))
        control.listen(1)
        control.settimeout(CONNECT_WAIT)
        write_whole(state, "mounted %d\n" % control.getsockname()[1])
        conn, _ = control.accept()
        deadline = time.monotonic() + LIFETIME
        sealed = False
        while time.monotonic() < deadline:
            readable, _, _ = select.select([conn], [], [], 0.05)
            if readable and not conn.recv(4096):
                break
            if not sealed and os.path.exists(seal):
                run("mount", "-o", "remount,ro", folder)
                write_whole(state, "sealed\n")
                sealed = True
    except OSError:
        pass
    finally:
        control.close()
        run("umount", "-l", folder)
        for path in (state, seal):
            try:
                os.remove(path)
            except FileNotFoundError:
                pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
