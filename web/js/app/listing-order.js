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
// the direction. Array sort is stable, and sorting the folders and the rest apart is the same as
// one sort with "folders first" as its first rule.
export function listingOrder(items, values, ascending) {
  const direction = ascending ? 1 : -1;
  const folders = [];
  const files = [];
  for (let i = 0; i < items.length; i += 1) {
    (items[i].is_dir ? folders : files).push(i);
  }
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
  folders.sort(compare);
  files.sort(compare);
  const order = new Uint32Array(items.length);
  order.set(folders);
  order.set(files, folders.length);
  return order;
}
