import os, sys, errno, base64
src = os.fsdecode(base64.b64decode('{}'))
dst = os.fsdecode(base64.b64decode('{}'))
refuse_existing = {}
def failure(number):
    return OSError(number, os.strerror(number), src, None, dst)
def same_entry():
    if not os.path.dirname(src) == os.path.dirname(dst):
        return False
    if not os.path.basename(src).lower() == os.path.basename(dst).lower():
        return False
    return os.path.samestat(os.lstat(src), os.lstat(dst))
def rename_without_replacing():
    try:
        import ctypes
        libc = ctypes.CDLL(None, use_errno=True)
        function = libc.renameat2
    except Exception:
        function = None
    if function is not None:
        if function(-100, os.fsencode(src), -100, os.fsencode(dst), 1) == 0:
            return
        number = ctypes.get_errno()
        if number not in (errno.EINVAL, errno.ENOSYS, errno.EOPNOTSUPP):
            raise failure(number)
    if not os.path.isdir(src) or os.path.islink(src):
        try:
            os.link(src, dst, follow_symlinks=False)
        except FileExistsError:
            raise failure(errno.EEXIST)
        except OSError:
            pass
        else:
            os.unlink(src)
            return
    if os.path.lexists(dst):
        raise failure(errno.EEXIST)
    os.rename(src, dst)
try:
    if not refuse_existing:
        os.rename(src, dst)
    else:
        try:
            rename_without_replacing()
        except FileExistsError:
            if not same_entry():
                raise
            os.rename(src, dst)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
