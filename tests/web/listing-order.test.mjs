// The order of the file view's entries as the listing worker works it out, against the order the
// page drew before sorting moved to the worker: one sort of entry records with a comparator,
// written out here on its own. Both must agree for every column and direction, on names that
// differ only in case, outside ASCII and beyond the Basic Multilingual Plane, on ties, and on
// folders among files.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {getFileKind} from '../../web/js/app/kinds.js';
import {listingOrder, SORT_COLUMNS, sortValues} from '../../web/js/app/listing-order.js';

function referenceOrder(items, column, ascending) {
  const direction = ascending ? 1 : -1;
  const value = (item, lower) => column === 'size' ? item.size :
      column === 'type'                            ? getFileKind(item) :
      column === 'modified'                        ? item.modified :
                                                     lower;
  const entries = items.map((item, index) => {
    const lower = String(item.name).toLowerCase();
    return {index, isDir: item.is_dir, value: value(item, lower)};
  });
  entries.sort((a, b) => {
    if (a.isDir !== b.isDir) {
      return a.isDir ? -1 : 1;
    }
    if (a.value < b.value) {
      return -direction;
    }
    if (a.value > b.value) {
      return direction;
    }
    return 0;
  });
  return entries.map((entry) => entry.index);
}

const NAMES = [
  'b.txt',      'B.txt',     'a.md',       'A.MD',       'Zeta',  'zeta',
  'élan.txt',   'Élan.txt',  'straße.py',  'STRASSE.py', '😀.png', '\ufffd.png',
  '\uffee.png', '_x.js',     '.hidden',    '10.log',     '9.log', 'archive.tar.gz',
  'Makefile',   'trailing.', 'résumé.PDF', 'ǅ.txt',      'İ.txt', 'ß',
  'é',          'e\u0301',
];

// A folder of names from the list above in several copies, with sizes and dates repeating
// so that ties are frequent, one in five a folder.
function listing(count) {
  const items = [];
  for (let i = 0; i < count; i += 1) {
    const name = NAMES[(i * 7) % NAMES.length] + (i % 3 === 0 ? '' : String(i % 4));
    items.push({
      name,
      path: '/data/' + name,
      is_dir: i % 5 === 2,
      is_symlink: i % 11 === 0,
      size: i % 5 === 2 ? 0 : [0, 4096, 17, 2 ** 40, 17, 2 ** 53 + 2][i % 6],
      modified: [1700000000, -86400, 0, 1700000000, 1765000000][i % 5],
      permissions: '-rw-r--r--',
      is_hidden: name.startsWith('.'),
    });
  }
  return items;
}

test('every column in both directions gives the order the page drew before', () => {
  for (const count of [0, 1, 2, 57, 3000]) {
    const items = listing(count);
    for (const column of SORT_COLUMNS) {
      const values = sortValues(items, column);
      for (const ascending of [true, false]) {
        assert.deepEqual(
            [...listingOrder(items, values, ascending)], referenceOrder(items, column, ascending),
            `${count} entries by ${column}, ${ascending ? 'ascending' : 'descending'}`);
      }
    }
  }
});

test('folders come first and ties keep the listing\'s order in both directions', () => {
  const items = [
    {name: 'same', is_dir: false, size: 5, modified: 1},
    {name: 'SAME', is_dir: false, size: 5, modified: 1},
    {name: 'dir', is_dir: true, size: 0, modified: 1},
    {name: 'Same', is_dir: false, size: 5, modified: 1},
    {name: 'Dir', is_dir: true, size: 0, modified: 1},
  ];
  for (const column of SORT_COLUMNS) {
    for (const ascending of [true, false]) {
      assert.deepEqual(
          [...listingOrder(items, sortValues(items, column), ascending)], [2, 4, 0, 1, 3]);
    }
  }
  // Texts compare by UTF-16 code units: an astral character (a surrogate pair) sorts before
  // U+FFFD.
  const names = [{name: '\ufffd'}, {name: '😀'}, {name: 'a'}];
  assert.deepEqual([...listingOrder(names, sortValues(names, 'name'), true)], [2, 1, 0]);
});

test('a listing already in order, many distinct names, and numbers too far apart to pack', () => {
  // As the server sends it: folders first, then by lower-cased name, with ties; 5,000 distinct
  // names are too many to rank, and the sizes and dates span more than whole numbers can carry
  // with a place beside them.
  const items = [];
  for (const [index, item] of listing(5000).entries()) {
    item.name += String(index % 1250).padStart(4, '0');
    item.size = [0, 2 ** 52, 3, 2 ** 52 - 1][index % 4];
    item.modified = [-(2 ** 50), 2 ** 50, 7][index % 3];
    items.push(item);
  }
  const inListing = (a, b) => {
    if (a.is_dir !== b.is_dir) {
      return a.is_dir ? -1 : 1;
    }
    const [left, right] = [a.name.toLowerCase(), b.name.toLowerCase()];
    return left < right ? -1 : Number(left > right);
  };
  items.sort(inListing);
  for (const column of SORT_COLUMNS) {
    const values = sortValues(items, column);
    for (const ascending of [true, false]) {
      assert.deepEqual(
          [...listingOrder(items, values, ascending)], referenceOrder(items, column, ascending),
          `by ${column}, ${ascending ? 'ascending' : 'descending'}`);
    }
  }
});
