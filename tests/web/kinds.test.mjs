// File kinds and icon classes by name extension, as the list view and its sorting by kind
// show them; the page bench imports the same table.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {FILE_KINDS, fileExtension, getFileKind, iconClass, leadsToFolder} from '../../web/js/app/kinds.js';

const file = (name) => ({name, is_dir: false});

test('the extension is the lower-cased text after the last dot, or the whole name', () => {
  assert.equal(fileExtension('archive.TAR.GZ'), 'gz');
  assert.equal(fileExtension('Makefile'), 'makefile');
  assert.equal(fileExtension('trailing.'), '');
  assert.equal(fileExtension('.bashrc'), 'bashrc');
  assert.equal(fileExtension(undefined), '');
  assert.equal(fileExtension(42), '42');
});

test('kinds: folders, named kinds, unnamed extensions and names without one', () => {
  const cases = {
    'notes.MD': 'Markdown',
    'archive.tar.gz': 'GZIP Archive',
    'script.sh': 'Shell Script',
    'big.log': 'LOG File',
    'Makefile': 'MAKEFILE File',
    '.bashrc': 'BASHRC File',
    'trailing.': 'Document',
    // Names of the table object's own properties are extensions like any other.
    'odd.constructor': 'CONSTRUCTOR File',
    'odd.__proto__': '__PROTO__ File',
  };
  for (const [name, kind] of Object.entries(cases)) {
    assert.equal(getFileKind(file(name)), kind, name);
  }
  assert.equal(getFileKind({name: 'notes.md', is_dir: true}), 'Folder');
  assert.equal(getFileKind({is_dir: false}), 'Document');
  assert.equal(FILE_KINDS.yml, FILE_KINDS.yaml);
});

test('icon classes: a folder, each class by extension, and the plain page for the rest', () => {
  const cases = {
    'README.markdown': 'markdown',
    'view.TSX': 'code',
    'settings.toml': 'data',
    'photo.webp': 'media',
    'bundle.7z': 'archive',
    'notes.txt': 'document',
    'Makefile': 'document',
    'odd.constructor': 'document',
  };
  for (const [name, icon] of Object.entries(cases)) {
    assert.equal(iconClass(file(name)), icon, name);
  }
  assert.equal(iconClass({name: 'photo.png', is_dir: true}), 'folder');
});

test('a link to a folder leads to a folder; a link to a file or a dangling one does not', () => {
  const toFolder = {name: 'docs.md', is_dir: false, is_symlink: true, link_to_dir: true};
  const toFile = {name: 'docs.md', is_dir: false, is_symlink: true, link_to_dir: false};
  assert.deepEqual(
      [toFolder, toFile, file('docs.md'), {name: 'd', is_dir: true}].map(leadsToFolder),
      [true, false, false, true]);
  assert.equal(getFileKind(toFolder), 'Folder');
  assert.equal(iconClass(toFolder), 'folder-link');
  assert.equal(getFileKind(toFile), 'Markdown');
  assert.equal(iconClass(toFile), 'markdown');
});
