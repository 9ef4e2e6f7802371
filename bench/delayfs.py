#!/usr/bin/python3
"""A read-only FUSE view of a whole folder tree that answers every folder listing late.

    delayfs.py SOURCE MOUNTPOINT DELAY_MS

Serves the tree under SOURCE at MOUNTPOINT, as a network share serves it: each listing of a
folder waits DELAY_MS first, while other requests, other listings too, go on meanwhile. The
listing carries each entry's type, as a share's does, so that a lister need not ask for it.
Once mounted, MOUNTPOINT/.mounted exists in the view. The server dies with its parent.
"""

import ctypes
import errno
import os
import signal
import stat
import sys
import time

from fusepy import FUSE, FuseOSError, Operations


class DelayFs(Operations):
    def __init__(self, source, delay):
        self.source = source
        self.delay = delay
        self.listings = {}

    def _path(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def getattr(self, path, fh=None):
        if path == "/.mounted":
            return {"st_mode": stat.S_IFREG | 0o444, "st_nlink": 1}
        try:
            st = os.lstat(self._path(path))
        except OSError as e:
            raise FuseOSError(e.errno)
        return {key: getattr(st, key) for key in
                ("st_mode", "st_size", "st_nlink", "st_uid", "st_gid", "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        time.sleep(self.delay)
        # Each listing made once: on two cores this server's own work, under Python's one lock,
        # would otherwise outweigh the delay it stands for.
        entries = self.listings.get(path)
        if entries is None:
            entries = [(".", None, 0), ("..", None, 0)]
            with os.scandir(self._path(path)) as listing:
                for entry in listing:
                    kind = (stat.S_IFDIR if entry.is_dir(follow_symlinks=False)
                            else stat.S_IFLNK if entry.is_symlink() else stat.S_IFREG)
                    entries.append((entry.name, {"st_mode": kind}, 0))
            self.listings[path] = entries
        return entries

    def readlink(self, path):
        return os.readlink(self._path(path))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, mountpoint, delay = sys.argv[1], sys.argv[2], int(sys.argv[3]) / 1000.0
    # PR_SET_PDEATHSIG: a server left behind by a benchmark that died goes with it.
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)
    FUSE(DelayFs(os.path.abspath(source), delay), mountpoint, foreground=True, nothreads=False,
         ro=True, attr_timeout=1, entry_timeout=1)


if __name__ == "__main__":
    main()
