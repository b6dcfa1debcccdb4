// A folder's entries held in columns rather than as one object each. The listing worker turns
// each piece of a listing into columns (columnsOf): every text field of its entries joined into
// one string with the offsets where each entry's text starts, the numbers and flags in typed
// arrays. The page keeps the pieces in one listing (createListing), looks names and paths up in
// those strings, and makes an entry object only for an entry it draws or hands on. A folder of
// 200,000 entries then costs the page a few thousand objects instead of 200,000, whose making and
// collecting would hold the page's frames. Pure functions.

import {getFileKind} from './kinds.js';
import {lowerName} from './listing-order.js';

const IS_DIR = 1;
const IS_SYMLINK = 2;
const IS_HIDDEN = 4;
const LINK_TO_DIR = 8;

// Texts as one string and the offsets of their starts, the last offset the string's length.
function textColumn(texts) {
  const starts = new Uint32Array(texts.length + 1);
  let at = 0;
  for (let k = 0; k < texts.length; k += 1) {
    starts[k] = at;
    at += texts[k].length;
  }
  starts[texts.length] = at;
  return {text: texts.join(''), starts};
}

const textAt = ({text, starts}, k) => text.slice(starts[k], starts[k + 1]);

// The last place k from 0 to `last` of the ascending `list` with list[k] <= value.
function lastAtOrBefore(list, value, last) {
  let low = 0;
  let high = last;
  while (low < high) {
    const middle = (low + high + 1) >> 1;
    if (list[middle] <= value) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return low;
}

// The entry k of a column that holds the offset `at` of its text (at < the text's length): the
// last one starting at or before it, which skips the empty texts that start there too.
const entryAtOffset = (starts, at) => lastAtOrBefore(starts, at, starts.length - 2);

// Calls found(k) for each entry k of `column` whose text holds `part`, or with `whole`, is
// `part`. A match that runs on into the next entry's text is none; the search goes on from the
// start of the next entry, since any later match inside this one would run on too.
function eachHolding(column, part, whole, found) {
  const {text, starts} = column;
  const count = starts.length - 1;
  if (part === '') {
    for (let k = 0; k < count; k += 1) {
      if (!whole || starts[k] === starts[k + 1]) {
        found(k);
      }
    }
    return;
  }
  for (let at = text.indexOf(part); at >= 0;) {
    const k = entryAtOffset(starts, at);
    const end = starts[k + 1];
    if (at + part.length <= end && (!whole || (at === starts[k] && at + part.length === end))) {
      found(k);
    }
    at = end < text.length ? text.indexOf(part, end) : -1;
  }
}

// The columns of `items`, entries of a listing as parsed: {count, names, lowerNames, paths,
// pathPrefix, permissions, sizes, modified, flags}. When every path is one text followed by the
// entry's name (as in a listing of one folder), `pathPrefix` is that text and `paths` null.
// `lowerNames` are the entries' lower-cased names when they have been worked out already.
export function columnsOf(items, lowerNames = items.map(lowerName)) {
  const names = items.map((item) => String(item.name));
  const paths = items.map((item) => String(item.path));
  const name = names[0] ?? '';
  const path = paths[0] ?? '';
  const prefix = path.endsWith(name) ? path.slice(0, path.length - name.length) : null;
  const prefixed = prefix !== null &&
      paths.every(
          (text, k) => text.length === prefix.length + names[k].length && text.startsWith(prefix) &&
              text.endsWith(names[k]));
  const sizes = new Float64Array(items.length);
  const modified = new Float64Array(items.length);
  const flags = new Uint8Array(items.length);
  items.forEach((item, k) => {
    sizes[k] = item.size;
    modified[k] = item.modified;
    flags[k] = (item.is_dir === true ? IS_DIR : 0) | (item.is_symlink === true ? IS_SYMLINK : 0) |
        (item.is_hidden === true ? IS_HIDDEN : 0) | (item.link_to_dir === true ? LINK_TO_DIR : 0);
  });
  return {
    count: items.length,
    names: textColumn(names),
    lowerNames: textColumn(lowerNames),
    paths: prefixed ? null : textColumn(paths),
    pathPrefix: prefixed ? prefix : null,
    permissions: textColumn(items.map((item) => String(item.permissions))),
    sizes,
    modified,
    flags,
  };
}

// A listing made of the columns of its pieces, added in the listing's order. Entries are
// numbered from 0 across the pieces.
export function createListing() {
  const pieces = [];
  // The number of each piece's first entry.
  const firsts = [];
  // Every entry's flags in one array, for the walks over the whole listing.
  let flags = new Uint8Array(0);
  let count = 0;

  // The piece holding entry `index`, and the entry's place in it.
  function locate(index) {
    const p = lastAtOrBefore(firsts, index, pieces.length - 1);
    return [pieces[p], index - firsts[p]];
  }

  function pathOf(piece, k) {
    return piece.paths === null ? piece.pathPrefix + textAt(piece.names, k) :
                                  textAt(piece.paths, k);
  }

  // The number of the first entry whose text is the one wanted, or -1: `search(piece)` gives
  // the column of the piece to look in and the text wanted there, or null to pass the piece by.
  function find(search) {
    for (let p = 0; p < pieces.length; p += 1) {
      const [texts, wanted] = search(pieces[p]) ?? [null, ''];
      let found = -1;
      if (texts !== null) {
        eachHolding(texts, wanted, true, (k) => {
          found = found < 0 ? k : found;
        });
      }
      if (found >= 0) {
        return firsts[p] + found;
      }
    }
    return -1;
  }

  return {
    get count() {
      return count;
    },
    add(columns) {
      if (count + columns.count > flags.length) {
        const grown = new Uint8Array(Math.max(1024, 2 * (count + columns.count)));
        grown.set(flags.subarray(0, count));
        flags = grown;
      }
      flags.set(columns.flags, count);
      pieces.push(columns);
      firsts.push(count);
      count += columns.count;
    },
    // Entry `index` as the listing gave it.
    entry(index) {
      const [piece, k] = locate(index);
      const bits = piece.flags[k];
      return {
        name: textAt(piece.names, k),
        path: pathOf(piece, k),
        is_dir: (bits & IS_DIR) !== 0,
        is_symlink: (bits & IS_SYMLINK) !== 0,
        size: piece.sizes[k],
        modified: piece.modified[k],
        permissions: textAt(piece.permissions, k),
        is_hidden: (bits & IS_HIDDEN) !== 0,
        link_to_dir: (bits & LINK_TO_DIR) !== 0,
      };
    },
    path(index) {
      return pathOf(...locate(index));
    },
    isHidden(index) {
      return (flags[index] & IS_HIDDEN) !== 0;
    },
    // Whether each entry is a folder (1) or not (0).
    folders() {
      return flags.slice(0, count).map((bits) => bits & IS_DIR);
    },
    // The values that sortValues (listing-order.js) gives for `column`, worked out from the
    // columns: sizes and dates as one typed array, kinds and lower-cased names as texts.
    sortValues(column) {
      if (column === 'size' || column === 'modified') {
        const values = new Float64Array(count);
        pieces.forEach((piece, p) => {
          values.set(column === 'size' ? piece.sizes : piece.modified, firsts[p]);
        });
        return values;
      }
      // A kind depends on the name and whether the entry leads to a folder.
      const kindOf = (piece, k) => getFileKind({
        name: textAt(piece.names, k),
        is_dir: (piece.flags[k] & IS_DIR) !== 0,
        link_to_dir: (piece.flags[k] & LINK_TO_DIR) !== 0,
      });
      const valueOf = column === 'type' ? kindOf : (piece, k) => textAt(piece.lowerNames, k);
      const values = new Array(count);
      pieces.forEach((piece, p) => {
        for (let k = 0; k < piece.count; k += 1) {
          values[firsts[p] + k] = valueOf(piece, k);
        }
      });
      return values;
    },
    // Marks, one an entry, whether the entry's lower-cased name holds `part`.
    namesHolding(part) {
      const marks = new Uint8Array(count);
      pieces.forEach((piece, p) => {
        eachHolding(piece.lowerNames, part, false, (k) => {
          marks[firsts[p] + k] = 1;
        });
      });
      return marks;
    },
    hasName(name) {
      const text = String(name);
      return find((piece) => [piece.names, text]) >= 0;
    },
    // The number of the entry whose path is `path`, or -1. In a piece whose paths are its
    // prefix and the name, that is the entry named by what follows the prefix.
    indexOfPath(path) {
      const text = String(path);
      return find((piece) => {
        if (piece.paths !== null) {
          return [piece.paths, text];
        }
        return text.startsWith(piece.pathPrefix) ?
            [piece.names, text.slice(piece.pathPrefix.length)] :
            null;
      });
    },
  };
}
