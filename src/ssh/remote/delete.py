import os, shutil, sys, stat, errno, base64
target = os.fsdecode(base64.b64decode('{}'))
recursive = {}
def entry(path):
    name = path.rstrip('/')
    if path and os.path.basename(name) in ('', '.', '..'):
        raise OSError(errno.EINVAL, os.strerror(errno.EINVAL), path)
    return name
def unescape(field):
    # The mount table writes space, tab, line feed and backslash as a backslash and three
    # octal digits.
    out = bytearray()
    at = 0
    while at < len(field):
        digits = field[at + 1:at + 4]
        if field[at] == 92 and len(digits) == 3 and all(48 <= d <= 55 for d in digits):
            out.append(int(digits, 8))
            at += 4
        else:
            out.append(field[at])
            at += 1
    return bytes(out)
def mount_points():
    try:
        with open('/proc/self/mountinfo', 'rb') as table:
            return [unescape(line.split(b' ')[4]) for line in table if line.count(b' ') >= 4]
    except OSError:
        return []
def shown(real, inside, name):
    # The mount named as the user named the folder, when it lies inside it.
    if inside == real:
        return name
    return os.path.join(name, os.fsdecode(inside[len(real.rstrip(b'/')) + 1:]))
def refuse(name, mount):
    if mount == name:
        message = 'Not deleted: the folder is the mount point of another file system'
    else:
        message = 'Not deleted: another file system is mounted inside the folder, at ' + mount
    raise OSError(errno.EBUSY, message, name)
def check_no_mounts(name):
    # Nothing is removed when another file system is mounted at or under the folder: removing
    # would empty that file system before the mount point itself refused to go.
    top = os.lstat(name)
    if not stat.S_ISDIR(top.st_mode):
        return
    real = os.fsencode(os.path.realpath(name))
    for point in mount_points():
        if point == real or point.startswith(real.rstrip(b'/') + b'/'):
            refuse(name, shown(real, point, name))
    if not os.lstat(os.path.join(name, '..')).st_dev == top.st_dev:
        refuse(name, name)
    for folder, folders, files in os.walk(name):
        for child in folders:
            path = os.path.join(folder, child)
            if not os.lstat(path).st_dev == top.st_dev:
                refuse(name, path)
try:
    if recursive:
        check_no_mounts(entry(target))
        shutil.rmtree(entry(target))
    else:
        os.remove(entry(target))
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
