// The order the file view shows a folder's entries in: folders first, then by the chosen column,
// entries of equal value in the listing's own order. Pure functions; the listing worker sorts
// with them, away from the page's thread.

import {getFileKind} from './kinds.js';

export const SORT_COLUMNS = ['name', 'size', 'type', 'modified'];

// The lower-cased name that sorting by name and the filter compare.
export function lowerName(item) {
  return String(item.name).toLowerCase();
}

// The value each entry is compared by for `column`: a number for size and date, a text
// otherwise (compared by UTF-16 code units, as `<` compares texts).
export function sortValues(items, column) {
  switch (column) {
    case 'size':
      return items.map((item) => item.size);
    case 'type':
      return items.map(getFileKind);
    case 'modified':
      return items.map((item) => item.modified);
    default:
      return items.map(lowerName);
  }
}

// The positions in `items` in the order shown: folders first, then ascending or descending by
// `values` (from sortValues); entries that compare equal keep their order in `items` whichever
// the direction.
export function listingOrder(items, values, ascending) {
  return foldersFirstOrder(items.map((item) => item.is_dir), values, ascending);
}

// The order of listingOrder, for entries given by whether each is a folder (`folders`, a list of
// true or false, or of 1 or 0) and their `values`. Sorting the folders and the rest apart is the
// same as one sort with "folders first" as its first rule.
export function foldersFirstOrder(folders, values, ascending) {
  const folderGroup = [];
  const files = [];
  for (let i = 0; i < folders.length; i += 1) {
    (folders[i] ? folderGroup : files).push(i);
  }
  const order = new Uint32Array(folders.length);
  placeInOrder(order, 0, folderGroup, values, ascending);
  placeInOrder(order, folderGroup.length, files, values, ascending);
  return order;
}

// Writes the positions `group` (ascending) into `order` from `start` on, ordered by `values`.
// Three ways give the one order a stable sort with the comparator below gives: a group already in
// order is kept as it is (a stable sort finds one run and moves nothing: the listing comes sorted
// by name); whole numbers, and texts of few distinct values ranked first, are sorted as numbers
// that carry the position in their low bits, which the typed array sorts natively; anything else
// is sorted with the comparator.
function placeInOrder(order, start, group, values, ascending) {
  const direction = ascending ? 1 : -1;
  const compare = (i, j) => {
    const a = values[i];
    const b = values[j];
    if (a < b) {
      return -direction;
    }
    if (a > b) {
      return direction;
    }
    return 0;
  };
  let inOrder = true;
  for (let k = 1; k < group.length && inOrder; k += 1) {
    inOrder = compare(group[k - 1], group[k]) <= 0;
  }
  if (!inOrder) {
    const keys = numericKeys(group, values, ascending);
    if (keys === null || !sortByKeys(group, keys)) {
      group.sort(compare);
    }
  }
  order.set(group, start);
}

// Texts are ranked for a column with at most this many distinct values (the kinds of files, not
// their names).
const MOST_RANKED_TEXTS = 1024;

// The sort keys of `group` as whole numbers, smaller first (negated for a descending sort), or
// null when its values are neither all safe whole numbers nor texts with few distinct values.
function numericKeys(group, values, ascending) {
  const sign = ascending ? 1 : -1;
  const keys = new Float64Array(group.length);
  if (group.every((i) => Number.isSafeInteger(values[i]))) {
    group.forEach((i, k) => {
      keys[k] = sign * values[i];
    });
    return keys;
  }
  if (!group.every((i) => typeof values[i] === 'string')) {
    return null;
  }
  const ranks = new Map();
  for (const i of group) {
    ranks.set(values[i], 0);
    if (ranks.size > MOST_RANKED_TEXTS || ranks.size * 4 > group.length) {
      return null;
    }
  }
  // The default sort compares texts by UTF-16 code units, as "<" does.
  [...ranks.keys()].sort().forEach((value, rank) => ranks.set(value, rank));
  group.forEach((i, k) => {
    keys[k] = sign * ranks.get(values[i]);
  });
  return keys;
}

// Sorts `group` by `keys`, ties in their order, by packing key and place into one exact double;
// returns false, leaving `group` as it was, when the keys span too wide a range for that.
function sortByKeys(group, keys) {
  let low = Infinity;
  let high = -Infinity;
  for (const key of keys) {
    low = Math.min(low, key);
    high = Math.max(high, key);
  }
  let scale = 1;
  while (scale < group.length) {
    scale *= 2;
  }
  if ((high - low + 1) * scale > Number.MAX_SAFE_INTEGER) {
    return false;
  }
  for (let k = 0; k < keys.length; k += 1) {
    keys[k] = (keys[k] - low) * scale + k;
  }
  keys.sort();
  const places = group.slice();
  for (let k = 0; k < keys.length; k += 1) {
    group[k] = places[keys[k] % scale];
  }
  return true;
}
