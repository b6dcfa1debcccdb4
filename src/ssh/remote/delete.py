import os, shutil, sys, errno, base64
target = base64.b64decode('{}').decode('utf-8')
recursive = {}
def entry(path):
    name = path.rstrip('/')
    if path and os.path.basename(name) in ('', '.', '..'):
        raise OSError(errno.EINVAL, os.strerror(errno.EINVAL), path)
    return name
try:
    if recursive:
        shutil.rmtree(entry(target))
    else:
        os.remove(entry(target))
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
