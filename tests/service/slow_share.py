#!/usr/bin/python3
"""A slow network share for the tests of install folders that answer late: a
FUSE file system that passes every operation through to a real folder and
sleeps before each one. A Windows program under Wine cannot mount, but it can
start this and map the mount as a drive letter of its prefix.

    slow_share.py --backing DIR --mount MOUNT --delay SECONDS [--slow SUB]
                  [--link PATH]

Mounts DIR on MOUNT (an existing, empty folder). Every operation sleeps
SECONDS first; with --slow, only the operations on SUB (a folder relative to
DIR, "/" or "\\" between its parts) and what lies below it, so that one
folder of the share is slow and the others answer at once. The kernel keeps
no attributes or names in its caches, so every lookup of a Windows program
reaches the share. With --link, PATH becomes a symbolic link to MOUNT while
the share lives (a drive letter: PREFIX/dosdevices/x:), removed at the end.

It writes MOUNT.state (beside MOUNT, outside the mount) with the line
"mounted PORT", then a line "delay SECONDS slow SUB"; or "not root" when it
does not run as root, who alone may mount here, or "failed: <reason>" when
root cannot mount (no /dev/fuse, no libfuse2, a container without the right).
The test connects to the loopback port PORT and keeps that connection open
for as long as it needs the share.

The delay and the slow folder change while mounted: write MOUNT.control with
the line "delay SECONDS" and, optionally, a line "slow SUB" ("slow" alone:
every operation). Within 50 ms the operations that start from then on sleep
the new delay, the state's second line says so, and then MOUNT.control goes.

When the connection closes, for whatever reason (the test released the share,
finished, crashed or was killed), every sleeping operation wakes and fails,
the share is unmounted (lazily, so that an open handle cannot keep it), the
link goes and so does MOUNT.state. A test that never connects within a
minute, or a quarter of an hour in all, ends it too.
"""

import argparse
import errno
import os
import select
import socket
import subprocess
import sys
import threading
import time

CONNECT_WAIT = 60.0
LIFETIME = 15 * 60.0


def write_whole(path, text):
    temp = path + ".part"
    with open(temp, "w") as out:
        out.write(text)
    os.replace(temp, path)


def normalized(sub):
    """"a\\b/" -> "/a/b"; "" -> "" (every operation)."""
    parts = [part for part in sub.replace("\\", "/").split("/") if part]
    return "/" + "/".join(parts) if parts else ""


class Delays:
    """The delay and the slow folder, changed by the control file."""

    def __init__(self, seconds, slow):
        self.lock = threading.Lock()
        self.seconds = seconds
        self.slow = normalized(slow)
        self.stopping = threading.Event()

    def set(self, seconds, slow):
        with self.lock:
            self.seconds = seconds
            self.slow = normalized(slow)

    def describe(self):
        with self.lock:
            return "delay %.3f slow %s" % (self.seconds, self.slow or "/")

    def wait(self, path):
        """Sleeps the delay when path is slow; False when the share is ending."""
        with self.lock:
            seconds, slow = self.seconds, self.slow
        if seconds > 0 and (not slow or path == slow or path.startswith(slow + "/")):
            self.stopping.wait(seconds)
        return not self.stopping.is_set()


def make_operations(fusepy, backing, delays):
    class Passthrough(fusepy.Operations):
        use_ns = True

        def __call__(self, op, path, *args):
            if op not in ("init", "destroy") and not delays.wait(path):
                raise fusepy.FuseOSError(errno.EIO)
            return super().__call__(op, path, *args)

        def _full(self, path):
            return os.path.join(backing, path.lstrip("/"))

        def access(self, path, mode):
            if not os.access(self._full(path), mode):
                raise fusepy.FuseOSError(errno.EACCES)

        def chmod(self, path, mode):
            os.chmod(self._full(path), mode)

        def chown(self, path, uid, gid):
            os.chown(self._full(path), uid, gid)

        def create(self, path, mode, fi=None):
            return os.open(self._full(path), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)

        def flush(self, path, fh):
            return 0

        def fsync(self, path, datasync, fh):
            if datasync:
                os.fdatasync(fh)
            else:
                os.fsync(fh)

        def getattr(self, path, fh=None):
            st = os.lstat(self._full(path))
            names = ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime", "st_nlink",
                     "st_size", "st_uid", "st_blocks")
            attributes = {name: getattr(st, name) for name in names}
            for name in ("st_atime", "st_ctime", "st_mtime"):
                attributes[name] = getattr(st, name + "_ns")
            return attributes

        def mkdir(self, path, mode):
            os.mkdir(self._full(path), mode)

        def open(self, path, flags):
            return os.open(self._full(path), flags)

        def read(self, path, size, offset, fh):
            return os.pread(fh, size, offset)

        def readdir(self, path, fh):
            return [".", ".."] + os.listdir(self._full(path))

        def readlink(self, path):
            return os.readlink(self._full(path))

        def release(self, path, fh):
            os.close(fh)

        def rename(self, old, new):
            os.rename(self._full(old), self._full(new))

        def rmdir(self, path):
            os.rmdir(self._full(path))

        def statfs(self, path):
            st = os.statvfs(self._full(path))
            names = ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree",
                     "f_files", "f_flag", "f_frsize", "f_namemax")
            return {name: getattr(st, name) for name in names}

        def truncate(self, path, length, fh=None):
            with open(self._full(path), "r+b") as f:
                f.truncate(length)

        def unlink(self, path):
            os.unlink(self._full(path))

        def utimens(self, path, times=None):
            os.utime(self._full(path), ns=times)

        def write(self, path, data, offset, fh):
            return os.pwrite(fh, data, offset)

    return Passthrough()


def run(*command):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)


def read_control(path, delays, state_head, state):
    try:
        with open(path) as control:
            lines = control.read().splitlines()
    except OSError:
        return
    seconds, slow = None, delays.slow
    for line in lines:
        word, _, rest = line.strip().partition(" ")
        if word == "delay":
            seconds = float(rest)
        elif word == "slow":
            slow = rest.strip()
    delays.set(delays.seconds if seconds is None else seconds, slow)
    write_whole(state, state_head + delays.describe() + "\n")
    os.remove(path)  # the sign that the new values hold


def serve(mount, state, control_path, link, delays):
    """The lifeline: waits for the mount, then for the connection to close."""
    control = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        deadline = time.monotonic() + 20
        while not os.path.ismount(mount):
            if delays.stopping.is_set() or time.monotonic() > deadline:
                return
            time.sleep(0.02)
        if link:
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(mount, link)
        control.bind(("127.0.0.1", 0))
        control.listen(1)
        control.settimeout(CONNECT_WAIT)
        head = "mounted %d\n" % control.getsockname()[1]
        write_whole(state, head + delays.describe() + "\n")
        conn, _ = control.accept()
        deadline = time.monotonic() + LIFETIME
        while time.monotonic() < deadline:
            readable, _, _ = select.select([conn], [], [], 0.05)
            if readable and not conn.recv(4096):
                break
            if os.path.exists(control_path):
                read_control(control_path, delays, head, state)
    except OSError:
        pass
    finally:
        control.close()
        delays.stopping.set()
        if link and os.path.islink(link):
            os.remove(link)
        run("umount", "-l", mount)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--backing", required=True)
    parser.add_argument("--mount", required=True)
    parser.add_argument("--delay", type=float, required=True)
    parser.add_argument("--slow", default="")
    parser.add_argument("--link", default="")
    args = parser.parse_args()
    backing = os.path.abspath(args.backing)
    mount = os.path.abspath(args.mount)
    state = mount + ".state"
    control_path = mount + ".control"

    if os.geteuid() != 0:
        write_whole(state, "not root\n")
        return 1
    if not os.path.exists("/dev/fuse"):
        write_whole(state, "failed: no /dev/fuse\n")
        return 1
    try:
        import fusepy
    except (ImportError, OSError) as error:  # OSError: libfuse2 missing
        write_whole(state, "failed: %s\n" % error)
        return 1

    delays = Delays(args.delay, args.slow)
    lifeline = threading.Thread(target=serve,
                                args=(mount, state, control_path, args.link, delays),
                                daemon=True)
    lifeline.start()
    failure = None
    try:
        # Many threads, so that a fast folder answers while a slow one sleeps;
        # no caches, so that every lookup comes here.
        fusepy.FUSE(make_operations(fusepy, backing, delays), mount, foreground=True,
                    nothreads=False, fsname="kelvra-slow-share", attr_timeout=0,
                    entry_timeout=0, negative_timeout=0)
    except (RuntimeError, OSError) as error:
        failure = str(error) or "mount failed"
    delays.stopping.set()
    lifeline.join(5)
    run("umount", "-l", mount)
    if failure:
        write_whole(state, "failed: %s\n" % failure)  # left for the test to read
        return 1
    for path in (state, control_path):
        try:
            os.remove(path)
        except FileNotFoundError:
            pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
