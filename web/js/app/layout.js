// Where things go on screen: the part of a long list to build, and where a menu opens. Pure
// functions.

// The part of a list of `count` entries, laid out in rows of `columns` entries `pitch` pixels
// apart, to build for a view `viewHeight` pixels high scrolled `top` pixels past the first row:
// the entries in view (`inView`, start and end indices) and those to build (`start`, `end`),
// which add a screenful of rows on either side. `above` and `below` are the heights of the rows
// left out before and after them. A view scrolled past the end counts as showing the last rows.
export function listWindow({count, columns, pitch, top, viewHeight}) {
  const rows = Math.ceil(count / columns);
  const screenRows = Math.max(1, Math.ceil(viewHeight / pitch));
  let firstRow = Math.max(0, Math.floor(top / pitch));
  let lastRow = Math.min(rows, Math.ceil((top + viewHeight) / pitch));
  if (firstRow >= rows) {
    firstRow = Math.max(0, rows - screenRows);
    lastRow = rows;
  }
  const startRow = Math.max(0, firstRow - screenRows);
  const endRow = Math.min(rows, lastRow + screenRows);
  return {
    inView: {start: firstRow * columns, end: Math.min(count, lastRow * columns)},
    start: startRow * columns,
    end: Math.min(count, endRow * columns),
    above: startRow * pitch,
    below: (rows - endRow) * pitch,
  };
}

// Where a menu of `size` pixels opened at `pointer` begins along an axis `room` pixels long: at
// the pointer when it fits after it, else ending at the pointer (flipped up or left), else
// pushed in from the far edge, never before 0.
export function menuPosition(pointer, size, room) {
  if (pointer + size <= room) {
    return pointer;
  }
  if (pointer - size >= 0) {
    return pointer - size;
  }
  return Math.max(0, room - size);
}
