// The python3 programs run on the remote machine, one named template each, and the filling of
// their placeholders. The only data put into a program is Base64 text and a decimal count, so
// the remote shell hands the double-quoted program to python3 unchanged.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace wrenfield::remote_programs {

// Lists one directory as a JSON array: directories first, then by lower-cased name.
inline constexpr std::string_view kList = R"(python3 -c "
import os, sys, json, stat, base64
target = base64.b64decode('{}').decode('utf-8')
items = []
try:
    with os.scandir(target) as it:
        for entry in it:
            try:
                st = entry.stat(follow_symlinks=False)
                is_d = entry.is_dir(follow_symlinks=False)
                is_s = entry.is_symlink()
                items.append({
                    'name': entry.name,
                    'path': os.path.join(target, entry.name),
                    'is_dir': is_d,
                    'is_symlink': is_s,
                    'size': st.st_size if not is_d else 0,
                    'modified': int(st.st_mtime),
                    'permissions': stat.filemode(st.st_mode),
                    'is_hidden': entry.name.startswith('.')
                })
            except Exception:
                pass
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
items.sort(key=lambda x: (not x['is_dir'], x['name'].lower()))
print(json.dumps(items))
")";

// Copies the whole file to standard output, unchanged, a buffer at a time: the interpreter never
// holds more than one buffer of it, whatever the file's size. Placeholders: the Base64 path,
// then the most bytes the caller takes (-1: any number).
//
// Only files that end are read: a named pipe, a device or a socket is refused before it is
// opened (opening a pipe waits for a writer; a device may never end). The open does not wait
// either, and the opened file is checked again, in case the name changed meanwhile. A regular
// file is read to its end whatever size it reports, since /proc and /sys files report 0. With
// a bound, a file that reports more bytes is refused before reading, writing its size to
// standard error, and a read that finds more than the bound stops there; both exit with 3.
inline constexpr std::string_view kRead = R"(python3 -c "
import os, sys, stat, errno, base64
target = base64.b64decode('{}').decode('utf-8')
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
")";

inline constexpr std::string_view kMkdir = R"(python3 -c "
import os, sys, base64
target = base64.b64decode('{}').decode('utf-8')
try:
    os.makedirs(target, exist_ok=True)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
")";

inline constexpr std::string_view kRemove = R"(python3 -c "
import os, sys, base64
target = base64.b64decode('{}').decode('utf-8')
try:
    os.remove(target)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
")";

inline constexpr std::string_view kRmtree = R"(python3 -c "
import shutil, sys, base64
target = base64.b64decode('{}').decode('utf-8')
try:
    shutil.rmtree(target)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
")";

inline constexpr std::string_view kRename = R"(python3 -c "
import os, sys, base64
src = base64.b64decode('{}').decode('utf-8')
dst = base64.b64decode('{}').decode('utf-8')
try:
    os.rename(src, dst)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
")";

// Replaces a file without ever losing its old content or identity. Placeholders: the Base64
// path, then the exact number of bytes that standard input carries.
//
// The path is taken as the kernel takes it for a plain open: a name that such an open refuses
// (empty, ending in "/", through a missing directory or a symbolic link loop) is refused with
// the same error, naming the path as given. A symbolic link at the path is followed, so its
// target is replaced and the link stays. A file that could not be opened for writing is
// refused as it would be by a plain write, although the directory would allow replacing it.
//
// The data is streamed into a new file beside the target: an unnamed one where the system
// offers them (so that nothing is left behind when the program is killed), else a named one
// removed on any failure. The count is checked, then the new file takes the old one's owner,
// group, extended attributes and mode, is flushed to disk, given a name and renamed over the
// target, and the directory is flushed too. When the identity cannot be carried over in full
// or the system refuses the rename (a mount point, a sticky directory), the target is
// rewritten in place from the new file instead; no error ever names the new file.
//
// A file with several hard links, or one that is not a regular file, is rewritten in place so
// that it stays one file; so is a file whose directory refuses new files while the file itself
// is writable. In place, the whole input is taken in and counted before the file is touched,
// and the space the new content needs is reserved before the first old byte is overwritten:
// a full disk fails with the file exactly as it was.
inline constexpr std::string_view kWrite = R"(python3 -c "
import os, sys, stat, errno, base64
target = base64.b64decode('{}').decode('utf-8')
size = {}
def receive(take):
    received = 0
    while True:
        chunk = os.read(0, 1048576)
        if not chunk:
            break
        received += len(chunk)
        if received > size:
            break
        take(chunk)
    if received == size:
        return
    raise IOError('Upload incomplete: expected ' + str(size) + ' bytes, received ' + str(received))
def resolve_links(name):
    for attempt in range(40):
        try:
            link = os.readlink(name)
        except OSError:
            return name
        name = os.path.join(os.path.dirname(name), link)
    return name
def write_all(fd, data):
    view = memoryview(data)
    while len(view) > 0:
        view = view[os.write(fd, view):]
def write_in_place(path, pieces):
    fd = os.open(path, os.O_WRONLY)
    try:
        old = os.fstat(fd)
        regular = stat.S_ISREG(old.st_mode)
        if regular and size > 0 and hasattr(os, 'posix_fallocate'):
            try:
                os.posix_fallocate(fd, 0, size)
            except OSError as e:
                if os.fstat(fd).st_size > old.st_size:
                    os.ftruncate(fd, old.st_size)
                if e.errno not in (errno.EOPNOTSUPP, errno.EINVAL):
                    raise
        for piece in pieces:
            write_all(fd, piece)
        if regular:
            os.ftruncate(fd, size)
            os.fsync(fd)
    finally:
        os.close(fd)
def check_writable(path):
    try:
        os.close(os.open(path, os.O_WRONLY))
    except OSError as e:
        raise OSError(e.errno, e.strerror, target)
def unused_name(make):
    for attempt in range(100):
        name = '.wrenfield-' + os.urandom(8).hex() + '.tmp'
        try:
            return name, make(name)
        except FileExistsError:
            continue
    raise FileExistsError(errno.EEXIST, os.strerror(errno.EEXIST), target)
def create_temporary(directory):
    if hasattr(os, 'O_TMPFILE') and os.path.isdir('/proc/self/fd'):
        try:
            return None, os.open('.', os.O_TMPFILE | os.O_RDWR, 0o600, dir_fd=directory)
        except OSError as e:
            if e.errno not in (errno.EOPNOTSUPP, errno.EISDIR, errno.EINVAL):
                raise
    flags = os.O_RDWR | os.O_CREAT | os.O_EXCL
    return unused_name(lambda name: os.open(name, flags, 0o600, dir_fd=directory))
def attribute_names(file):
    try:
        return os.listxattr(file) if hasattr(os, 'listxattr') else []
    except OSError as e:
        if e.errno == errno.ENOTSUP:
            return []
        raise
def take_identity(fd, path, old):
    try:
        if old is None:
            mask = os.umask(0)
            os.umask(mask)
            os.fchmod(fd, 0o666 & ~mask)
            return True
        os.fchown(fd, old.st_uid, old.st_gid)
        names = attribute_names(path)
        for name in names:
            os.setxattr(fd, name, os.getxattr(path, name))
        for name in attribute_names(fd):
            if name not in names:
                os.removexattr(fd, name)
        os.fchmod(fd, stat.S_IMODE(old.st_mode))
        new = os.fstat(fd)
        return (new.st_uid, new.st_gid, new.st_mode) == (old.st_uid, old.st_gid, old.st_mode)
    except OSError:
        return False
def write_replacing(path, old, directory, name, fd):
    try:
        receive(lambda chunk: write_all(fd, chunk))
        if take_identity(fd, path, old):
            os.fsync(fd)
            try:
                if name is None:
                    proc = '/proc/self/fd/' + str(fd)
                    name = unused_name(lambda new: os.link(proc, new, dst_dir_fd=directory))[0]
                os.replace(name, path, src_dir_fd=directory)
            except OSError as e:
                if old is None:
                    raise OSError(e.errno, e.strerror, target)
            else:
                name = None
                try:
                    os.fsync(directory)
                except OSError:
                    pass
                return
        os.lseek(fd, 0, os.SEEK_SET)
        write_in_place(path, iter(lambda: os.read(fd, 1048576), b''))
    finally:
        os.close(fd)
        if name is not None:
            try:
                os.unlink(name, dir_fd=directory)
            except OSError:
                pass
try:
    path = resolve_links(target)
    if path == '' or path.endswith('/'):
        os.close(os.open(target, os.O_WRONLY | os.O_CREAT, 0o666))
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), target)
    try:
        old = os.stat(path)
    except FileNotFoundError:
        old = None
    except OSError as e:
        raise OSError(e.errno, e.strerror, target)
    if old is not None and stat.S_ISDIR(old.st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), target)
    if old is not None and stat.S_ISREG(old.st_mode):
        check_writable(path)
    in_place = old is not None and (old.st_nlink > 1 or not stat.S_ISREG(old.st_mode))
    if not in_place:
        try:
            directory = os.open(os.path.dirname(path) or '.', os.O_RDONLY)
            name, fd = create_temporary(directory)
        except OSError as e:
            if old is None or not isinstance(e, PermissionError):
                raise OSError(e.errno, e.strerror, target)
            in_place = True
    if in_place:
        chunks = []
        receive(chunks.append)
        write_in_place(path, chunks)
    else:
        write_replacing(path, old, directory, name, fd)
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
")";

// Puts each value in place of the next "{}" of the template, in order.
std::string fill_program(std::string_view program, std::initializer_list<std::string_view> values);

}  // namespace wrenfield::remote_programs
