"""A FUSE file system for the tests: the folder BACKING shown at MOUNT_POINT with names matched
regardless of case, as FAT and many FUSE mounts do. Like most FUSE file systems it has no
fallocate, no unnamed temporary files and no rename flags. Runs under Debian's python3 with
python3-fusepy; goes to the background once mounted. Usage: case_insensitive_fs.py BACKING
MOUNT_POINT"""

import errno
import os
import sys

from fusepy import FUSE, FuseOSError, Operations


class CaseInsensitive(Operations):
    def __init__(self, root):
        self.root = root

    def real(self, path):
        """The backing path: each name is the entry's own when one matches it in any case."""
        current = self.root
        for part in [part for part in path.split('/') if part]:
            candidate = os.path.join(current, part)
            if not os.path.lexists(candidate):
                try:
                    for name in os.listdir(current):
                        if name.lower() == part.lower():
                            candidate = os.path.join(current, name)
                            break
                except OSError:
                    pass
            current = candidate
        return current

    def __call__(self, operation, *arguments):
        try:
            return getattr(self, operation)(*arguments)
        except OSError as e:
            raise FuseOSError(e.errno or errno.EIO)
        except AttributeError:
            raise FuseOSError(errno.ENOSYS)

    def getattr(self, path, fh=None):
        st = os.lstat(self.real(path))
        return {key: getattr(st, key) for key in (
            'st_mode', 'st_nlink', 'st_uid', 'st_gid', 'st_size', 'st_atime', 'st_mtime',
            'st_ctime', 'st_ino', 'st_blocks')}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self.real(path))

    def readlink(self, path):
        return os.readlink(self.real(path))

    def mkdir(self, path, mode):
        os.mkdir(self.real(path), mode)

    def rmdir(self, path):
        os.rmdir(self.real(path))

    def unlink(self, path):
        os.unlink(self.real(path))

    def symlink(self, target, source):
        os.symlink(source, self.real(target))

    def link(self, target, source):
        os.link(self.real(source), self.real(target))

    def rename(self, old, new):
        # A new case for the same entry renames it to that case.
        destination = self.real(new)
        if os.path.lexists(destination) and os.path.samefile(destination, self.real(old)):
            destination = os.path.join(os.path.dirname(destination), os.path.basename(new))
        os.rename(self.real(old), destination)

    def chmod(self, path, mode):
        os.chmod(self.real(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self.real(path), uid, gid, follow_symlinks=False)

    def truncate(self, path, length, fh=None):
        os.truncate(self.real(path), length)

    def utimens(self, path, times=None):
        os.utime(self.real(path), times, follow_symlinks=False)

    def open(self, path, flags):
        return os.open(self.real(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self.real(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def release(self, path, fh):
        os.close(fh)

    def statfs(self, path):
        st = os.statvfs(self.real(path))
        return {key: getattr(st, key) for key in (
            'f_bavail', 'f_bfree', 'f_blocks', 'f_bsize', 'f_favail', 'f_ffree', 'f_files',
            'f_flag', 'f_frsize', 'f_namemax')}


if __name__ == '__main__':
    FUSE(CaseInsensitive(os.path.abspath(sys.argv[1])), sys.argv[2], foreground=False,
         allow_other=True, nothreads=True, use_ino=True,
         attr_timeout=0, entry_timeout=0, negative_timeout=0)
