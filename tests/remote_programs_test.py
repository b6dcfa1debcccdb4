"""The remote python3 programs run directly, without ssh, against temporary folders: the safe
write's choices (replace by a new file or rewrite in place), the identity a replaced file keeps,
and the bounds of the read. What needs the server (other accounts, mounts, killed runs) is
tested against the real sshd in the C++ tests."""

import base64
import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest

PROGRAMS = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'ssh', 'remote')


def run(name, values, data=b'', env=None, stdin=None):
    """Runs src/ssh/remote/NAME.py with its placeholders filled in order, as the program does:
    texts (str as UTF-8, or bytes) go in as Base64, numbers as they are. `data` goes in on a
    pipe, or `stdin` (an open file) is the standard input."""
    with open(os.path.join(PROGRAMS, name + '.py')) as file:
        program = file.read()
    for value in values:
        if isinstance(value, str):
            value = value.encode('utf-8')
        if isinstance(value, bytes):
            value = base64.b64encode(value).decode('ascii')
        program = program.replace('{}', str(value), 1)
    if stdin is not None:
        return subprocess.run([sys.executable, '-c', program], stdin=stdin, capture_output=True,
                              env=env)
    return subprocess.run([sys.executable, '-c', program], input=data, capture_output=True,
                          env=env)


def write(path, data, refuse_existing=False):
    return run('write', [path, len(data), refuse_existing], data)


def temporary_files(folder):
    return [name for name in os.listdir(folder) if name.startswith('.wrenfield-')]


class Folder(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.folder = self.scratch.name

    def tearDown(self):
        self.scratch.cleanup()

    def path(self, name):
        return os.path.join(self.folder, name)

    def make(self, name, data=b'old'):
        with open(self.path(name), 'wb') as file:
            file.write(data)
        return self.path(name)

    def content(self, name):
        with open(self.path(name), 'rb') as file:
            return file.read()


class WriteTest(Folder):
    def test_single_name_is_replaced_keeping_mode_and_attributes(self):
        file = self.make('file')
        os.chmod(file, 0o640)
        try:
            os.setxattr(file, 'user.origin', b'kept')
            attributes = True
        except OSError:
            attributes = False
        before = os.stat(file)
        result = write(file, b'new content')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.content('file'), b'new content')
        after = os.stat(file)
        self.assertNotEqual(after.st_ino, before.st_ino)
        self.assertEqual(stat.S_IMODE(after.st_mode), 0o640)
        if attributes:
            self.assertEqual(os.getxattr(file, 'user.origin'), b'kept')
        self.assertEqual(temporary_files(self.folder), [])

    def test_hard_linked_file_is_rewritten_in_place(self):
        file = self.make('file', b'a longer old content')
        os.link(file, self.path('second'))
        before = os.stat(file)
        result = write(file, b'short')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.content('second'), b'short')
        self.assertEqual(os.stat(file).st_ino, before.st_ino)
        self.assertEqual(os.stat(file).st_nlink, 2)
        self.assertEqual(temporary_files(self.folder), [])
        # The marks by which the caller tells a killed rewrite from a finished one.
        self.assertEqual(result.stderr, b'\x1erewriting\n\x1ewritten\n')

    def test_symbolic_link_is_followed_and_kept(self):
        target = self.make('target')
        os.symlink('target', self.path('link'))
        result = write(self.path('link'), b'through the link')
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.islink(self.path('link')))
        self.assertEqual(self.content('target'), b'through the link')
        self.assertEqual(os.stat(target).st_nlink, 1)

    def test_new_file_takes_the_mode_of_a_plain_create(self):
        previous = os.umask(0o027)
        try:
            result = write(self.path('new'), b'fresh')
        finally:
            os.umask(previous)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.content('new'), b'fresh')
        self.assertEqual(stat.S_IMODE(os.stat(self.path('new')).st_mode), 0o640)
        self.assertEqual(temporary_files(self.folder), [])

    def test_cut_or_long_stream_leaves_the_old_content(self):
        file = self.make('file', b'precious')
        os.link(file, self.path('second'))
        for linked in (True, False):
            if not linked:
                os.unlink(self.path('second'))
            for announced, sent in ((10, b'short'), (3, b'too long')):
                result = run('write', [file, announced, False], sent)
                self.assertEqual(result.returncode, 1)
                self.assertIn(b'Upload incomplete', result.stderr)
                self.assertEqual(self.content('file'), b'precious')
        self.assertEqual(temporary_files(self.folder), [])

    def test_content_comes_whole_whether_the_input_is_a_pipe_or_not(self):
        # A pipe is moved into the file by the kernel in steps of 1 MiB; a regular file as
        # standard input cannot be, and is read and written instead. Both take exactly the
        # announced count, refuse one byte more or less, and leave the old content then.
        data = bytes(range(256)) * 12289  # three steps of 1 MiB, the last one short
        source = self.make('source', data)
        for announced, expected in ((len(data), 0), (len(data) - 1, 1), (len(data) + 1, 1)):
            for piped in (True, False):
                target = self.make('file', b'precious')
                if piped:
                    result = run('write', [target, announced, False], data)
                else:
                    with open(source, 'rb') as stdin:
                        result = run('write', [target, announced, False], stdin=stdin)
                self.assertEqual(result.returncode, expected, result.stderr)
                self.assertEqual(self.content('file'), b'precious' if expected else data)
        self.assertEqual(temporary_files(self.folder), [])

    def test_directory_is_refused_with_the_system_text(self):
        result = write(self.folder, b'x')
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(), "[Errno 21] Is a directory: '%s'" % self.folder)


class RefuseExistingTest(Folder):
    def test_write_refuses_any_entry_under_the_name(self):
        self.make('file', b'precious')
        os.symlink('nowhere', self.path('dangling'))
        os.mkdir(self.path('folder'))
        for name in ('file', 'dangling', 'folder'):
            result = write(self.path(name), b'', refuse_existing=True)
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stderr.decode(),
                             "[Errno 17] File exists: '%s'" % self.path(name))
        self.assertEqual(self.content('file'), b'precious')
        self.assertFalse(os.path.lexists(self.path('nowhere')))
        result = write(self.path('new'), b'made', refuse_existing=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.content('new'), b'made')

    def test_rename_refuses_an_existing_destination(self):
        self.make('a', b'a')
        self.make('b', b'b')
        result = run('rename', [self.path('a'), self.path('b'), True])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(), "[Errno 17] File exists: '%s' -> '%s'"
                         % (self.path('a'), self.path('b')))
        self.assertEqual((self.content('a'), self.content('b')), (b'a', b'b'))
        # Keeping the name is no clash.
        result = run('rename', [self.path('a'), self.path('a'), True])
        self.assertEqual(result.returncode, 0, result.stderr)
        result = run('rename', [self.path('a'), self.path('c'), True])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.folder)), ['b', 'c'])
        result = run('rename', [self.path('c'), self.path('b'), False])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.content('b'), b'a')


class DeleteTest(Folder):
    def test_trailing_slashes_name_the_link_and_dots_are_refused(self):
        os.makedirs(self.path('target/inside'))
        os.symlink('target', self.path('link'))
        for path in (self.path('link/.'), self.path('link/..'), self.path('target/inside/..')):
            for recursive in (False, True):
                result = run('delete', [path, recursive])
                self.assertEqual(result.stderr.decode(), "[Errno 22] Invalid argument: '%s'" % path)
        result = run('delete', [self.path('link/'), True])
        self.assertEqual(result.returncode, 1)
        self.assertTrue(os.path.isdir(self.path('target/inside')))
        result = run('delete', [self.path('link//'), False])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.lexists(self.path('link')))
        self.assertTrue(os.path.isdir(self.path('target/inside')))


class PipeTest(Folder):
    def test_pipe_without_reader_is_refused_at_once(self):
        os.mkfifo(self.path('fifo'))
        result = write(self.path('fifo'), b'data')
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(), "[Errno 6] No program is reading from the "
                         "named pipe: '%s'" % self.path('fifo'))


class ReadTest(Folder):
    def test_large_file_comes_whole(self):
        data = os.urandom(3 << 20) + b'end'
        self.make('large', data)
        self.assertEqual(run('read', [self.path('large'), -1]).stdout, data)
        self.assertEqual(run('read', [self.path('large'), len(data)]).stdout, data)
        result = run('read', [self.path('large'), len(data) - 1])
        self.assertEqual((result.returncode, result.stdout), (3, b''))

    def test_bound_refuses_by_size_and_by_bytes_read(self):
        file = self.make('file', b'x' * 100)
        result = run('read', [file, 100])
        self.assertEqual((result.returncode, result.stdout), (0, b'x' * 100))
        result = run('read', [file, 99])
        self.assertEqual((result.returncode, result.stdout, result.stderr), (3, b'', b'100'))
        result = run('read', [file, -1])
        self.assertEqual(result.stdout, b'x' * 100)
        # /proc files report a size of 0: the bound stops the read itself.
        result = run('read', ['/proc/self/status', 10])
        self.assertEqual((result.returncode, result.stdout, result.stderr), (3, b'', b''))

    def test_pipe_is_refused_before_it_is_opened(self):
        os.mkfifo(self.path('fifo'))
        result = run('read', [self.path('fifo'), -1])
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(), 'Not a regular file: ' + self.path('fifo'))


# A locale whose file names Python reads as ASCII: bytes beyond it become surrogates there, so
# only taking names as bytes gives the same result as under UTF-8.
ASCII_LOCALE = dict(os.environ, LC_ALL='C', PYTHONUTF8='0', PYTHONCOERCECLOCALE='0')


class NameTest(Folder):
    """Names that are not UTF-8 (Latin-1 "caf\\xe9") are listed as Python's surrogateescape
    writes them, and a path's bytes reach exactly that file, whatever the remote locale."""

    def setUp(self):
        super().setUp()
        self.bytes_folder = os.fsencode(self.folder)

    def named(self, name):
        return os.path.join(self.bytes_folder, name)

    def test_listing_writes_the_bytes_of_every_name_the_same_way(self):
        for name in (b'caf\xe9.txt', 'café.txt'.encode('utf-8'), b'd\xff'):
            with open(self.named(name), 'wb'):
                pass
        for env in (None, ASCII_LOCALE):
            result = run('list', [self.bytes_folder], env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn(b'"name": "caf\\udce9.txt", "path": "' + self.bytes_folder +
                          b'/caf\\udce9.txt"', result.stdout)
            names = [item['name'] for item in json.loads(result.stdout)]
            self.assertEqual(names, ['café.txt', 'caf\udce9.txt', 'd\udcff'])
        # A folder of such a name is listed too.
        os.mkdir(self.named(b'sub\xe9'))
        open(self.named(b'sub\xe9/x'), 'wb').close()
        result = run('list', [self.named(b'sub\xe9')], env=ASCII_LOCALE)
        self.assertEqual(json.loads(result.stdout)[0]['path'], self.folder + '/sub\udce9/x')

    def test_each_change_reaches_exactly_the_named_file(self):
        odd = self.named(b'caf\xe9')
        with open(self.named('café'.encode('utf-8')), 'wb') as file:
            file.write(b'utf-8 spelling')
        for env in (None, ASCII_LOCALE):
            result = run('write', [odd, 3, False], b'new', env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(run('read', [odd, -1], env=env).stdout, b'new')
            result = run('write', [odd, 4, False], b'next', env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(run('read', [odd, -1], env=env).stdout, b'next')
            moved = self.named(b'\xc0\xff')
            self.assertEqual(run('rename', [odd, moved, True], env=env).returncode, 0)
            self.assertEqual(run('delete', [moved, False], env=env).returncode, 0)
            self.assertEqual(run('mkdir', [odd + b'/sub\xe9'], env=env).returncode, 0)
            self.assertTrue(os.path.isdir(odd + b'/sub\xe9'))
            self.assertEqual(run('delete', [odd, True], env=env).returncode, 0)
            self.assertFalse(os.path.lexists(odd))
        self.assertEqual(sorted(os.listdir(self.bytes_folder)), ['café'.encode('utf-8')])
        self.assertEqual(self.content('café'), b'utf-8 spelling')

    def test_a_failure_naming_such_a_path_is_still_a_message(self):
        for env in (None, ASCII_LOCALE):
            result = run('read', [self.named(b'gone\xe9'), -1], env=env)
            self.assertEqual(result.returncode, 1)
            self.assertIn(b'No such file or directory', result.stderr)
            self.assertIn(b'gone', result.stderr)


# The listing program as it was before it wrote its output in pieces: its output is the form
# the listing keeps, byte for byte.
LIST_REFERENCE = """import os, sys, json, stat, base64
target = os.fsdecode(base64.b64decode('{}'))
def text(name):
    return os.fsencode(name).decode('utf-8', 'surrogateescape')
items = []
try:
    with os.scandir(target) as it:
        for entry in it:
            try:
                st = entry.stat(follow_symlinks=False)
                is_d = entry.is_dir(follow_symlinks=False)
                is_s = entry.is_symlink()
                items.append({
                    'name': text(entry.name),
                    'path': text(os.path.join(target, entry.name)),
                    'is_dir': is_d,
                    'is_symlink': is_s,
                    'size': st.st_size if not is_d else 0,
                    'modified': int(st.st_mtime),
                    'permissions': stat.filemode(st.st_mode),
                    'is_hidden': entry.name.startswith('.'),
                    'link_to_dir': is_s and entry.is_dir()
                })
            except Exception:
                pass
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
items.sort(key=lambda x: (not x['is_dir'], x['name'].lower()))
print(json.dumps(items))
"""


class ListTest(Folder):
    """The listing's output is the bytes that json.dumps writes for the list of entries,
    whatever the names, the folder's own name and the locale."""

    def reference(self, folder, env=None):
        program = LIST_REFERENCE.replace('{}', base64.b64encode(folder).decode('ascii'), 1)
        return subprocess.run([sys.executable, '-c', program], capture_output=True, env=env)

    def assert_same_as_reference(self, folder, attempts=1):
        """Other programs change the root's entries (the dates of /tmp, /proc) as they run: a
        listing of it is taken again, a few times, until nothing changed in between."""
        for env in (None, ASCII_LOCALE):
            for attempt in range(attempts):
                expected = self.reference(folder, env)
                result = run('list', [folder], env=env)
                if result.stdout == expected.stdout:
                    break
            self.assertEqual(result.returncode, expected.returncode, result.stderr)
            self.assertEqual(result.stderr, expected.stderr)
            self.assertEqual(result.stdout, expected.stdout)
        return result

    def test_every_kind_of_entry_and_name(self):
        # The folder's own name holds the characters the program's text is built with.
        folder = os.path.join(os.fsencode(self.folder), b'~a%s|b"c%%\\d\xe9')
        os.mkdir(folder)
        for name in ('B', 'b', 'a', 'A', '.hidden', '\u00e9t\u00e9', '\u03a9', '\U0001f600',
                     'quote"back\\slash', 'control\x01tab\t', 'new\nline', '%d %s'):
            with open(os.path.join(folder, name.encode('utf-8', 'surrogatepass')), 'wb') as file:
                file.write(b'x' * len(name))
        for name in (b'caf\xe9', b'\xff'):
            open(os.path.join(folder, name), 'wb').close()
        for name in (b'Sub', b'sub', b'.git', b'Z', b'dir\xe9'):
            os.mkdir(os.path.join(folder, name))
        os.symlink(b'Sub', os.path.join(folder, b'link to folder'))
        os.symlink(b'nowhere', os.path.join(folder, b'dangling'))
        os.utime(os.path.join(folder, b'a'), (0, -1.5))
        result = self.assert_same_as_reference(folder)
        names = [item['name'] for item in json.loads(result.stdout)]
        self.assertEqual(names[:5], ['.git', 'dir\udce9', 'Sub', 'sub', 'Z'])
        # The folder given with a trailing slash, and the root.
        self.assert_same_as_reference(folder + b'/')
        self.assert_same_as_reference(b'/', attempts=5)

    def test_empty_large_and_missing_folders(self):
        folder = os.fsencode(self.folder)
        self.assertEqual(self.assert_same_as_reference(folder).stdout, b'[]\n')
        # More entries than one piece of the output holds, in no sorted order.
        for index in range(10000):
            name = 'E%d' % ((index * 7919) % 10000) if index % 3 else 'e%d' % index
            os.mknod(os.path.join(self.folder, name))
        self.assert_same_as_reference(folder)
        result = self.assert_same_as_reference(os.path.join(folder, b'missing'))
        self.assertEqual(result.returncode, 1)


if __name__ == '__main__':
    unittest.main()
