// Remote paths as the page composes them: the enclosing folder (Up, Rename), a name in a folder
// (New File, Rename, Upload), a bookmark's name and a file bookmark's folder.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {bookmarkParent, childPath, encodePathParameter, entryNameProblem, parentPath, pathDisplayName} from '../../web/js/app/paths.js';

test('the enclosing folder, for absolute and relative paths', () => {
  const cases = {
    '/home/alice/notes': '/home/alice',
    '/home': '/',
    '/': '/',
    '~/notes': '~',
    '~': '/',
  };
  for (const [path, parent] of Object.entries(cases)) {
    assert.equal(parentPath(path), parent, path);
  }
});

test('a name in a folder never doubles the slash', () => {
  assert.equal(childPath('/', 'a.txt'), '/a.txt');
  assert.equal(childPath('/srv/data', 'a.txt'), '/srv/data/a.txt');
  assert.equal(childPath('/srv/data//', 'a.txt'), '/srv/data/a.txt');
  assert.equal(childPath('~', 'a.txt'), '~/a.txt');
});

test('a bookmark is named after the last piece of its path', () => {
  assert.equal(pathDisplayName('/srv/data/'), 'data');
  assert.equal(pathDisplayName('/'), '/');
  assert.equal(pathDisplayName('~'), '~');
});

test('a file bookmark\'s folder; a bare name is in the home folder', () => {
  assert.equal(bookmarkParent('/srv/data/a.txt', '/home/alice'), '/srv/data');
  assert.equal(bookmarkParent('/a.txt', '/home/alice'), '/');
  assert.equal(bookmarkParent('a.txt', '/home/alice'), '/home/alice');
  assert.equal(bookmarkParent('a.txt', ''), '/');
});

// A name's byte that is not UTF-8 arrives in the listing as a lone surrogate U+DCXX; it goes
// back to the server as that byte (%XX), which encodeURIComponent would refuse to encode.
test('a path parameter carries the bytes of a name that is not UTF-8', () => {
  assert.equal(encodePathParameter('/srv/caf\udce9 & co.txt'), '%2Fsrv%2Fcaf%E9%20%26%20co.txt');
  assert.equal(encodePathParameter('\udc80\udcff'), '%80%FF');
  // Well-formed text is encoded as encodeURIComponent encodes it, surrogate pairs included.
  const text = '/home/é/📁 a+b?#%';
  assert.equal(encodePathParameter(text), encodeURIComponent(text));
  assert.equal(
      encodePathParameter('x\udce9\ud83d\udcc1'), 'x%E9' + encodeURIComponent('\ud83d\udcc1'));
  // A lone surrogate that stands for no byte is sent as U+FFFD.
  assert.equal(encodePathParameter('a\ud800b\udc41'), 'a%EF%BF%BDb%EF%BF%BD');
  assert.equal(encodePathParameter(''), '');
});

test('a name made or renamed in a folder stays in that folder', () => {
  for (const name of ['notes.txt', '...', '.hidden', '..x', 'a\\b', 'sp ace']) {
    assert.equal(entryNameProblem(name), '', name);
  }
  assert.equal(entryNameProblem(''), 'Enter a name.');
  for (const name of ['../escaped.txt', 'sub/moved.txt', '/', 'end/']) {
    assert.equal(entryNameProblem(name), 'A name cannot contain "/".', name);
  }
  for (const name of ['.', '..']) {
    assert.equal(entryNameProblem(name), 'A name cannot be "." or "..".', name);
  }
});
