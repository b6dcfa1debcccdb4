import os, sys, json, stat, base64
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
