// The page's texts made from entry data: sizes, dates and escaped markup. The date test runs in
// the en-US locale (tests/tests.cmake sets it), the locale the browser tests see too.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {escapeHtml, formatDate, formatFileSize, nameParts, readableText} from '../../web/js/app/format.js';

const KB = 1024;
const MB = KB * 1024;
const TB = MB * MB;

test('sizes choose the unit first, then round to the nearer tenth', () => {
  const cases = [
    [1, '1 B'],
    [1023, '1023 B'],
    [KB, '1 KB'],
    [1536, '1.5 KB'],
    [1075, '1 KB'],  // 1.0498 KB
    [1076, '1.1 KB'],
    // Just under a megabyte is still counted in kilobytes, and rounds up to 1024 of them.
    [MB - 1, '1024 KB'],
    [MB, '1 MB'],
    [5_000_000_000, '4.7 GB'],
    [1.25 * TB, '1.3 TB'],
    // There is no unit above TB.
    [1024 * TB, '1024 TB'],
    [5000 * TB, '5000 TB'],
  ];
  for (const [bytes, text] of cases) {
    assert.equal(formatFileSize(bytes), text, `${bytes} bytes`);
  }
});

test('a size given as text is read as a number; nothing countable is 0 B', () => {
  assert.equal(formatFileSize('1536'), '1.5 KB');
  for (const bytes of [0, -5, NaN, 'abc', '', null, undefined, {}]) {
    assert.equal(formatFileSize(bytes), '0 B', String(bytes));
  }
});

test('a time of today shows hours and minutes, any other day its date', () => {
  const seconds = (date) => date.getTime() / 1000;
  const now = new Date();
  const todayMorning = new Date(now.getFullYear(), now.getMonth(), now.getDate(), 0, 5);
  assert.match(formatDate(seconds(todayMorning)), /^12:05\sAM$/);
  // The same day of the month in another month, or in another year, is not today.
  const lastYear = new Date(now.getFullYear() - 1, now.getMonth(), now.getDate(), 9, 30);
  assert.equal(formatDate(seconds(lastYear)).endsWith(String(now.getFullYear() - 1)), true);
  const otherMonth = new Date(now.getFullYear(), (now.getMonth() + 6) % 12, now.getDate(), 9, 30);
  assert.doesNotMatch(formatDate(seconds(otherMonth)), /:/);
  assert.equal(formatDate(seconds(new Date(2025, 2, 5, 23, 59))), 'Mar 5, 2025');
  // Seconds as text, as the listing may carry them.
  assert.equal(formatDate(String(seconds(new Date(2025, 2, 5, 12)))), 'Mar 5, 2025');
});

test('a missing or unreadable time shows as "--"', () => {
  for (const timestamp of [0, '', null, undefined, 'yesterday', NaN, 1e20]) {
    assert.equal(formatDate(timestamp), '--', String(timestamp));
  }
});

test('markup characters are escaped; nothing is left as it was but plain text', () => {
  assert.equal(
      escapeHtml(`<img src=x onerror="a('b')">&amp;`),
      '&lt;img src=x onerror=&quot;a(&#39;b&#39;)&quot;&gt;&amp;amp;');
  assert.equal(escapeHtml('plain name.txt'), 'plain name.txt');
  assert.equal(escapeHtml(0), '0');
  assert.equal(escapeHtml(false), 'false');
  for (const empty of ['', null, undefined]) {
    assert.equal(escapeHtml(empty), '', String(empty));
  }
});

// A name's byte that is not UTF-8 is a lone surrogate in the page; it shows as U+FFFD, in
// markup too, while surrogate pairs stay as they are.
test('lone surrogates show as the replacement character', () => {
  assert.equal(readableText('caf\udce9.txt'), 'caf\ufffd.txt');
  assert.equal(readableText('\ud800\ud83d\udcc1\udcff'), '\ufffd\ud83d\udcc1\ufffd');
  assert.equal(readableText('plain'), 'plain');
  assert.equal(escapeHtml('<caf\udce9>'), '&lt;caf\ufffd&gt;');
});

test('a name splits before its extension and last few characters, never inside a character', () => {
  const cases = {
    'file-00004.txt': ['file-00', '004.txt'],
    'archive.tar.gz': ['archive.', 'tar.gz'],
    'Makefile': ['Makef', 'ile'],
    // A long "extension" is not kept whole; the name's end is.
    ['x'.repeat(20) + '.averylongsuffix']: ['x'.repeat(20) + '.averylongsuf', 'fix'],
    // Too short to gain from a cut in the middle.
    'ab.txt': ['ab.txt', ''],
    '': ['', ''],
    // Marks and joined emoji stay with the character they belong to.
    'abcde\u0301f.md': ['abcd', 'e\u0301f.md'],
    'abcd\u{1F468}\u200d\u{1F469}x.md': ['abcd', '\u{1F468}\u200d\u{1F469}x.md'],
    // Astral characters count as one.
    'a\u{1F600}\u{1F600}\u{1F600}\u{1F600}.md': ['a\u{1F600}', '\u{1F600}\u{1F600}\u{1F600}.md'],
    // Right-to-left text is never split.
    '\u05e9\u05dc\u05d5\u05dd-long-name.txt': ['\u05e9\u05dc\u05d5\u05dd-long-name.txt', ''],
    'abc\u202edef-ghi.txt': ['abc\u202edef-ghi.txt', ''],
  };
  for (const [name, parts] of Object.entries(cases)) {
    assert.deepEqual(nameParts(name), parts, name);
    assert.equal(parts.join(''), name);
  }
});
