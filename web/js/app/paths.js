// Remote paths as the page composes them. Pure functions.

// The enclosing folder: the path without its last "/" piece, or "/" when nothing is left.
export function parentPath(path) {
  const parent = path.split('/').slice(0, -1).join('/');
  return parent === '' ? '/' : parent;
}

// `folder` + "/" + `name`, without doubling a trailing "/" of the folder.
export function childPath(folder, name) {
  return folder.replace(/\/+$/, '') + '/' + name;
}

// The last non-empty "/" piece of the path, or the path itself ("/" stays "/").
export function pathDisplayName(path) {
  const pieces = String(path).split('/').filter((piece) => piece !== '');
  return pieces.length > 0 ? pieces[pieces.length - 1] : String(path);
}

// The folder that holds a file bookmark's path; a bare name is taken to be in `homeDir`.
export function bookmarkParent(path, homeDir) {
  const slash = path.lastIndexOf('/');
  if (slash > 0) {
    return path.slice(0, slash);
  }
  if (slash === 0) {
    return '/';
  }
  return homeDir || '/';
}
