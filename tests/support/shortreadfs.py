#!/usr/bin/python3
"""A read-only FUSE file system that shows SOURCE at MOUNTPOINT and answers every read with at
most MAX_BYTES bytes, with direct I/O, as some FUSE daemons and network file systems do. It stays
in the foreground until unmounted.
    shortreadfs.py SOURCE MOUNTPOINT MAX_BYTES"""
import errno
import os
import sys

from fusepy import FUSE, FuseOSError, Operations


class ShortReads(Operations):
    def __init__(self, source, most):
        self.source = source
        self.most = most

    def _path(self, path):
        return os.path.join(self.source, path.lstrip("/"))

    def getattr(self, path, fh=None):
        try:
            st = os.lstat(self._path(path))
        except OSError as e:
            raise FuseOSError(e.errno)
        return {key: getattr(st, key) for key in ("st_mode", "st_size", "st_nlink", "st_uid",
                                                  "st_gid", "st_atime", "st_mtime", "st_ctime")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._path(path))

    def open(self, path, flags):
        if flags & (os.O_WRONLY | os.O_RDWR):
            raise FuseOSError(errno.EROFS)
        return os.open(self._path(path), os.O_RDONLY)

    def read(self, path, size, offset, fh):
        return os.pread(fh, min(size, self.most), offset)

    def release(self, path, fh):
        os.close(fh)


if __name__ == "__main__":
    source, mountpoint, most = sys.argv[1], sys.argv[2], int(sys.argv[3])
    FUSE(ShortReads(source, most), mountpoint, foreground=True, ro=True, direct_io=True,
         nothreads=True)
