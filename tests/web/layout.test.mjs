// The part of a long list that the file view builds, and where a menu opens.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {listWindow, menuPosition} from '../../web/js/app/layout.js';

test('the part built covers the view and a screenful either side, with space for the rest', () => {
  // 1,000 rows of 30 px, a 300 px view scrolled to row 500.
  const part = listWindow({count: 1000, columns: 1, pitch: 30, top: 15000, viewHeight: 300});
  assert.deepEqual(part.inView, {start: 500, end: 510});
  assert.deepEqual([part.start, part.end], [490, 520]);
  assert.equal(part.above, 490 * 30);
  assert.equal(part.below, 480 * 30);
  // Built rows and spaces add up to the whole list's height.
  assert.equal(part.above + (part.end - part.start) * 30 + part.below, 1000 * 30);
});

test('at the top, at the end and past it, every row counts once', () => {
  const top = listWindow({count: 1000, columns: 1, pitch: 30, top: 0, viewHeight: 300});
  assert.deepEqual([top.start, top.end, top.above], [0, 20, 0]);
  const end = listWindow({count: 1000, columns: 1, pitch: 30, top: 29700, viewHeight: 300});
  assert.deepEqual(end.inView, {start: 990, end: 1000});
  assert.deepEqual([end.end, end.below], [1000, 0]);
  // A filter shortened the list under a view scrolled far down: the last rows are in view.
  const past = listWindow({count: 50, columns: 1, pitch: 30, top: 29700, viewHeight: 300});
  assert.deepEqual(past.inView, {start: 40, end: 50});
  assert.equal(past.above + (past.end - past.start) * 30 + past.below, 50 * 30);
});

test('a grid is built in whole rows, its last row possibly short', () => {
  // 103 cards in rows of 8 (13 rows, the last of 7), rows 100 px apart, view of 250 px.
  const part = listWindow({count: 103, columns: 8, pitch: 100, top: 520, viewHeight: 250});
  assert.deepEqual(part.inView, {start: 40, end: 64});
  assert.deepEqual([part.start, part.end], [16, 88]);
  assert.equal(part.above + (part.end - part.start) / 8 * 100 + part.below, 13 * 100);
  const last = listWindow({count: 103, columns: 8, pitch: 100, top: 1050, viewHeight: 250});
  assert.equal(last.end, 103);
  assert.equal(last.below, 0);
});

test('a list that fits in the view is built whole', () => {
  const part = listWindow({count: 12, columns: 1, pitch: 33, top: 0, viewHeight: 700});
  assert.deepEqual(part, {inView: {start: 0, end: 12}, start: 0, end: 12, above: 0, below: 0});
});

test(
    'a menu opens at the pointer, flipped where it would not fit, never outside the window', () => {
      // A 280 px menu in a 750 px window.
      assert.equal(menuPosition(100, 280, 750), 100);
      assert.equal(menuPosition(470, 280, 750), 470);
      assert.equal(menuPosition(700, 280, 750), 420);
      // Neither below nor above the pointer: as far up as it fits.
      assert.equal(menuPosition(200, 280, 300), 20);
      // Larger than the window: from its start.
      assert.equal(menuPosition(50, 400, 300), 0);
      // A 190 px menu at the right edge of a 1000 px window ends at the pointer.
      assert.equal(menuPosition(995, 190, 1000), 805);
    });
