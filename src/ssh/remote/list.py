import os, sys, json, stat, base64
target = os.fsdecode(base64.b64decode('{}'))
if sys.getfilesystemencoding() == 'utf-8' and sys.getfilesystemencodeerrors() == 'surrogateescape':
    def text(name):
        return name
else:
    def text(name):
        return os.fsencode(name).decode('utf-8', 'surrogateescape')
quote = json.encoder.encode_basestring_ascii
true_false = ('false', 'true')
folders = []
others = []
try:
    with os.scandir(target) as it:
        folder = quote(text(os.path.join(target, '')))[:-1].replace('%', '%%')
        form = ('{~name~: %s, ~path~: |%s, ~is_dir~: %s, ~size~: %d, ~modified~: %d, '
                '~permissions~: %s, ~is_hidden~: %s, ~link_to_dir~: %s}')
        form = form.replace('~', chr(34)).replace('|', folder)
        kinds = dict()
        for entry in it:
            try:
                st = entry.stat(follow_symlinks=False)
                is_d = entry.is_dir(follow_symlinks=False)
                is_s = entry.is_symlink()
                kind = kinds.get((st.st_mode, is_d, is_s))
                if kind is None:
                    kind = kinds[(st.st_mode, is_d, is_s)] = (
                        true_false[is_d] + ', ' + quote('is_symlink') + ': ' + true_false[is_s],
                        quote(stat.filemode(st.st_mode)))
                name = text(entry.name)
                quoted = quote(name)
                (folders if is_d else others).append((name.lower(), form % (
                    quoted, quoted[1:], kind[0], 0 if is_d else st.st_size, int(st.st_mtime),
                    kind[1], true_false[entry.name.startswith('.')],
                    true_false[is_s and entry.is_dir()])))
            except Exception:
                pass
except Exception as e:
    sys.stderr.write(str(e))
    sys.exit(1)
folders.sort(key=lambda pair: pair[0])
others.sort(key=lambda pair: pair[0])
out = sys.stdout
out.write('[')
separator = ''
for group in (folders, others):
    for start in range(0, len(group), 4096):
        out.write(separator + ', '.join([pair[1] for pair in group[start:start + 4096]]))
        separator = ', '
out.write(']' + chr(10))
