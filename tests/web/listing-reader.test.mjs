// Reading a listing in pieces as its text arrives: whatever the sizes of the parts it arrives in,
// the pieces hold every entry once, in order, each piece's text parses to its entries, and names
// that hold the characters the reader cuts at ("},", quotes, backslashes) do not cut an entry.
// Replies that are cut short, hold a stray comma or are no array fail as the parser would.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {createListingReader} from '../../web/js/app/listing-reader.js';

// Feeds `text` in parts of `partChars` characters to a reader taking pieces of `pieceChars`;
// returns the pieces.
function readInParts(text, partChars, pieceChars) {
  const reader = createListingReader(pieceChars);
  const pieces = [];
  for (let at = 0; at < text.length; at += partChars) {
    pieces.push(...reader.push(text.slice(at, at + partChars)));
  }
  pieces.push(...reader.finish());
  return pieces;
}

function entry(name, i) {
  return {
    name,
    path: '/srv/' + name,
    is_dir: i % 4 === 0,
    is_symlink: false,
    size: i * 3,
    modified: 1700000000 + i,
    permissions: 'drwxr-xr-x',
    is_hidden: name.startsWith('.'),
  };
}

const PLAIN = Array.from({length: 120}, (_, i) => entry(`file-${i}.txt`, i));
const AWKWARD = [
  'a},{b',
  '},',
  '"},{"name":"x"}',
  'back\\slash',
  'ends with \\',
  '\\"},',
  'é😀\ufffd',
  '[{]}',
  ' ,',
  '\udcff raw byte',
  'line\nbreak',
].flatMap((name, i) => [entry(name, i), entry(`plain-${i}`, i)]);

test('the pieces hold every entry once, in order, whatever the parts and pieces', () => {
  for (const [label, items] of [['plain names', PLAIN], ['awkward names', AWKWARD]]) {
    for (const spacing of [undefined, 1]) {
      const text = JSON.stringify(items, null, spacing);
      for (const partChars of [1, 3, 64, 1000, text.length]) {
        for (const pieceChars of [1, 40, 500, 1 << 20]) {
          const pieces = readInParts(text, partChars, pieceChars);
          const where = `${label}, spacing ${spacing}, parts ${partChars}, pieces ${pieceChars}`;
          assert.deepEqual(pieces.flatMap((piece) => piece.items), items, where);
          for (const piece of pieces) {
            assert.deepEqual(JSON.parse(piece.text), piece.items, where);
          }
          if (spacing === undefined && pieceChars === 40) {
            assert.ok(pieces.length > items.length / 2, where);
          }
        }
      }
    }
  }
});

test('empty listings and blanks around the array', () => {
  for (const text of ['[]', '  \r\n[ ]\n', '[{"name":"a"}]  ']) {
    assert.deepEqual(readInParts(text, 1, 1).flatMap((piece) => piece.items), JSON.parse(text));
  }
});

test(
    'a reply cut short, with a stray comma or with text after it fails; one that is no array too',
    () => {
      const whole = JSON.stringify(PLAIN);
      for (const text
               of ['',
                   '   ',
                   whole.slice(0, -1),
                   whole.slice(0, whole.length / 2),
                   whole.slice(0, -1) + ',]',
                   whole + 'x',
                   whole + ']',
                   '[{"name":"a"},]',
                   '[{"name":"a"}}',
                   '<html>',
                   '\u00a0[]',
      ]) {
        for (const pieceChars of [1, 1 << 20]) {
          assert.throws(
              () => readInParts(text, 7, pieceChars), SyntaxError,
              `${JSON.stringify(text.slice(-20))} in pieces of ${pieceChars}`);
        }
      }
      for (const text of ['{"success":false}', 'null', '42', '"[]"']) {
        assert.throws(() => readInParts(text, 2, 1), {message: 'Failed to list directory'}, text);
      }
    });
