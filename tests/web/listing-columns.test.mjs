// A listing kept in columns gives back the entries it was made of, and finds names, paths and
// parts of names as a search through the entries themselves would: across pieces, for names
// outside ASCII, for names that are parts of their neighbours, for texts that would match only
// across the boundary of two entries, and for paths that are not the folder and the name.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {columnsOf, createListing} from '../../web/js/app/listing-columns.js';
import {foldersFirstOrder, listingOrder, SORT_COLUMNS, sortValues} from '../../web/js/app/listing-order.js';

const NAMES = [
  'a',
  'ab',
  'b',
  'ba',
  'Readme.MD',
  'ÉLAN.txt',
  'straße',
  'İ.txt',
  '😀.png',
  '\ufffd.bin',
  '.hidden',
  'a b',
  'x'.repeat(90),
  'notes',
  'otes',
  'B',
];

function entry(name, k, folder = '/data/') {
  return {
    name,
    path: folder + name,
    is_dir: k % 5 === 1,
    is_symlink: k % 7 === 3,
    size: k % 5 === 1 ? 0 : [0, 17, 2 ** 40, 2 ** 53 - 1][k % 4],
    modified: [1700000000, -86400, 0][k % 3],
    permissions: k % 5 === 1 ? 'drwxr-xr-x' : '-rw-r--r--',
    is_hidden: name.startsWith('.'),
    link_to_dir: k % 7 === 3 && k % 2 === 0,
  };
}

// The entries cut into pieces of `size` and kept in one listing.
function listingOf(items, size) {
  const listing = createListing();
  for (let start = 0; start < items.length; start += size) {
    // Handed over as a message would, its buffers detached from the worker's side.
    listing.add(structuredClone(columnsOf(items.slice(start, start + size))));
  }
  return listing;
}

const ITEMS = [
  ...NAMES.map((name, k) => entry(name, k)),
  // A piece whose paths are not the folder and the name, and an entry of another folder.
  ...NAMES.slice(0, 4).map((name, k) => ({...entry(name, k), path: '/elsewhere/' + k})),
  entry('deep', 2, '/data/sub/'),
];

test('the entries come back as they were given, in order, whatever the pieces', () => {
  for (const size of [1, 3, 7, ITEMS.length]) {
    const listing = listingOf(ITEMS, size);
    assert.equal(listing.count, ITEMS.length);
    ITEMS.forEach((item, index) => {
      assert.deepEqual(listing.entry(index), item, `piece size ${size}, entry ${index}`);
      assert.equal(listing.path(index), item.path);
      assert.equal(listing.isHidden(index), item.is_hidden);
    });
  }
  const empty = createListing();
  empty.add(columnsOf([]));
  assert.equal(empty.count, 0);
  assert.equal(empty.hasName(''), false);
  assert.equal(empty.indexOfPath('/data/a'), -1);
});

test('the worker orders the columns exactly as the entries themselves are ordered', () => {
  const listing = listingOf(ITEMS, 5);
  assert.deepEqual([...listing.folders()], ITEMS.map((item) => (item.is_dir ? 1 : 0)));
  for (const column of SORT_COLUMNS) {
    const values = listing.sortValues(column);
    assert.deepEqual([...values], sortValues(ITEMS, column), column);
    for (const ascending of [true, false]) {
      assert.deepEqual(
          [...foldersFirstOrder(listing.folders(), values, ascending)],
          [...listingOrder(ITEMS, sortValues(ITEMS, column), ascending)], `${column} ${ascending}`);
    }
  }
});

test('the filter marks the entries whose lower-cased name holds the text, and no others', () => {
  const parts = [
    '', 'a', 'b', 'ab', 'ba', 'otes', 'es', 'élan', 'straße', 'i̇', '😀', '\ufffd', 'readme.md',
    'a b', 'x'.repeat(91), 'bb', 'sn', 'zzz'
  ];
  for (const size of [1, 4, ITEMS.length]) {
    const listing = listingOf(ITEMS, size);
    for (const part of parts) {
      const expected = ITEMS.map((item) => (item.name.toLowerCase().includes(part) ? 1 : 0));
      assert.deepEqual([...listing.namesHolding(part)], expected, `piece size ${size}, "${part}"`);
    }
  }
});

test('a name or path is found only as a whole, in the first entry that has it', () => {
  const listing = listingOf(ITEMS, 3);
  assert.equal(listing.hasName('ab'), true);
  assert.equal(listing.hasName('otes'), true);
  // Parts of names, and texts that run across two names ("a" then "ab"), are not names.
  for (const name of ['ote', 'aab', 'bba', 'A', 'readme.md', '', 'deep/']) {
    assert.equal(listing.hasName(name), false, name);
  }
  ITEMS.forEach((item) => {
    assert.equal(
        listing.indexOfPath(item.path), ITEMS.findIndex((other) => other.path === item.path));
    assert.equal(listing.hasName(item.name), true);
  });
  assert.equal(listing.indexOfPath('/data/sub/deep'), ITEMS.length - 1);
  for (const path of ['/data/', '/data/o', '/data/sub', '/elsewhere/9', 'a', '/data/deep']) {
    assert.equal(listing.indexOfPath(path), -1, path);
  }
});
