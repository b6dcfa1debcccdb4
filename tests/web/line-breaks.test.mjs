// The line break a file is saved with: its own, the most common one of a mixed file, "\n" for
// a file without any.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {lineBreakOf} from '../../web/js/app/line-breaks.js';

test('a file with one kind of line break keeps it', () => {
  assert.equal(lineBreakOf('a\nb\n'), '\n');
  assert.equal(lineBreakOf('a\r\nb\r\n'), '\r\n');
  assert.equal(lineBreakOf('a\rb\r'), '\r');
  assert.equal(lineBreakOf('\r\n'), '\r\n');
  assert.equal(lineBreakOf('\r'), '\r');
});

test('a file without a line break gets "\\n"', () => {
  assert.equal(lineBreakOf(''), '\n');
  assert.equal(lineBreakOf('one line'), '\n');
});

test('a mixed file gets its most common line break, ties to "\\n", then to "\\r\\n"', () => {
  const cases = [
    ['a\r\nb\r\nc\n', '\r\n'],
    ['a\r\nb\nc\n', '\n'],
    ['a\rb\rc\r\nd\n', '\r'],
    ['a\r\r\nb\r', '\r'],  // "\r\r\n" is a lone "\r", then "\r\n"
    ['a\r\nb\n', '\n'],
    ['a\rb\n', '\n'],
    ['\n\r', '\n'],
    ['a\r\nb\r', '\r\n'],
  ];
  for (const [text, lineBreak] of cases) {
    assert.equal(lineBreakOf(text), lineBreak, JSON.stringify(text));
  }
});
