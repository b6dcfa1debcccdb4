// Remote paths as the page composes them: the enclosing folder (Up, Rename), a name in a folder
// (New File, Rename, Upload), a bookmark's name and a file bookmark's folder.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {bookmarkParent, childPath, parentPath, pathDisplayName} from '../../web/js/app/paths.js';

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
