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

// Why `name` (trimmed) cannot be the name of an entry made or renamed in a folder, or '' when it
// can. Empty, the request would target the folder itself; with a "/" it would reach into
// another folder; "." and ".." are the folder itself and its parent.
export function entryNameProblem(name) {
  if (name === '') {
    return 'Enter a name.';
  }
  if (name.includes('/')) {
    return 'A name cannot contain "/".';
  }
  if (name === '.' || name === '..') {
    return 'A name cannot be "." or "..".';
  }
  return '';
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

// A surrogate pair, a lone surrogate, or a run of other characters.
const PATH_PIECES = /[\uD800-\uDBFF][\uDC00-\uDFFF]|[\uD800-\uDFFF]|[^\uD800-\uDFFF]+/g;

// A path as the value of a URL's query parameter: percent-encoded UTF-8, except that a lone
// surrogate U+DC80 to U+DCFF, which stands for a byte of a name that is not UTF-8, is encoded
// as that byte, so that the server receives the name's own bytes. (encodeURIComponent refuses
// lone surrogates.) Any other lone surrogate is encoded as U+FFFD.
export function encodePathParameter(path) {
  return String(path).replace(PATH_PIECES, (piece) => {
    const unit = piece.charCodeAt(0);
    if (piece.length > 1 || unit < 0xD800 || unit > 0xDFFF) {
      return encodeURIComponent(piece);
    }
    if (unit < 0xDC80 || unit > 0xDCFF) {
      return '%EF%BF%BD';
    }
    return '%' + (unit & 0xFF).toString(16).toUpperCase();
  });
}
