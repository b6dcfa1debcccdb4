import os, sys, stat, errno, base64
target = os.fsdecode(base64.b64decode('{}'))
limit = {}
def check(mode):
    if stat.S_ISFIFO(mode) or stat.S_ISCHR(mode) or stat.S_ISBLK(mode) or stat.S_ISSOCK(mode):
        sys.stderr.write('Not a regular file: ' + target)
        sys.exit(1)
    if stat.S_ISDIR(mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), target)
try:
    check(os.stat(target).st_mode)
    fd = os.open(target, os.O_RDONLY | os.O_NONBLOCK)
    try:
        info = os.fstat(fd)
        check(info.st_mode)
        os.set_blocking(fd, True)
        if limit >= 0 and info.st_size > limit:
            sys.stderr.write(str(info.st_size))
            sys.exit(3)
        out = sys.stdout.buffer
        total = 0
        sending = hasattr(os, 'sendfile') and info.st_size > 0
        while sending:
            step = 8388608 if limit < 0 else min(8388608, limit - total)
            if step == 0:
                break
            try:
                sent = os.sendfile(1, fd, None, step)
            except OSError as e:
                if total > 0 or e.errno not in (errno.EINVAL, errno.ENOSYS, errno.EOPNOTSUPP):
                    raise
                break
            if sent == 0:
                break
            total += sent
        while True:
            chunk = os.read(fd, 1048576 if limit < 0 else min(1048576, limit + 1 - total))
            if not chunk:
                break
            total += len(chunk)
            if limit >= 0 and total > limit:
                sys.exit(3)
            out.write(chunk)
    finally:
        os.close(fd)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
