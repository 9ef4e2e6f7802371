#!/usr/bin/python3
"""A read-only FUSE view of a folder whose file reads and folder listings stall on demand.

    stallfs.py SOURCE MOUNTPOINT CONTROL

Serves the files directly inside SOURCE at MOUNTPOINT. While the file CONTROL/stall-read exists,
every read of a file's content waits; while CONTROL/stall-list exists, every folder listing
waits, and CONTROL/waiting-read or CONTROL/waiting-list tells that one did. Removing the file
lets them go on. A stall never lasts longer than a minute, and ends at
once when the process that started this one is gone, so a mount left behind by a test that died
can hold nobody for long. Once mounted, CONTROL/mounted is created.
"""

import ctypes
import errno
import os
import signal
import stat
import sys
import time

import fusepy
from fusepy import FUSE, FuseOSError, Operations

MAX_STALL_SECONDS = 60


def die_with_parent():
    # PR_SET_PDEATHSIG: the kernel kills this process when its parent ends, and a FUSE server
    # that is gone fails every waiting request instead of leaving it hanging.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)


class StallFs(Operations):
    def __init__(self, source, control, parent):
        self.source = source
        self.control = control
        self.parent = parent

    def init(self, path):
        open(os.path.join(self.control, "mounted"), "w").close()

    def _stall(self, name):
        marker = os.path.join(self.control, "stall-" + name)
        if os.path.exists(marker):
            open(os.path.join(self.control, "waiting-" + name), "w").close()
        start = time.monotonic()
        while os.path.exists(marker) and os.getppid() == self.parent:
            if time.monotonic() - start > MAX_STALL_SECONDS:
                break
            # A process that ends, or gets a signal, while it waits here is let go, as NFS and
            # CIFS let it go; the kernel itself would keep it waiting for the answer.
            if fusepy._libfuse.fuse_interrupted():
                raise FuseOSError(errno.EINTR)
            time.sleep(0.05)

    def _path(self, path):
        name = path.lstrip("/")
        if "/" in name:
            raise FuseOSError(errno.ENOENT)
        return os.path.join(self.source, name) if name else self.source

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self._path(path))
        except OSError as e:
            raise FuseOSError(e.errno)
        attrs = {key: getattr(st, key) for key in
                 ("st_mode", "st_size", "st_nlink", "st_uid", "st_gid", "st_atime", "st_mtime", "st_ctime")}
        # Read-only for everybody, so that a program run as another user can read it too.
        attrs["st_mode"] = (st.st_mode & ~0o7777) | (0o755 if stat.S_ISDIR(st.st_mode) else 0o444)
        return attrs

    def readlink(self, path):
        return os.readlink(self._path(path))

    def readdir(self, path, fh):
        self._stall("list")
        return [".", ".."] + os.listdir(self._path(path))

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        return os.open(self._path(path), os.O_RDONLY)

    def read(self, path, size, offset, fh):
        self._stall("read")
        os.lseek(fh, offset, os.SEEK_SET)
        return os.read(fh, size)

    def release(self, path, fh):
        os.close(fh)
        return 0


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, mountpoint, control = sys.argv[1:]
    parent = os.getppid()
    die_with_parent()
    if os.getppid() != parent:
        sys.exit(1)
    fs = StallFs(os.path.abspath(source), os.path.abspath(control), parent)

    FUSE(fs, mountpoint, foreground=True, nothreads=False, allow_other=os.getuid() == 0,
         direct_io=True, intr=True, attr_timeout=0, entry_timeout=0, ro=True)


if __name__ == "__main__":
    main()
