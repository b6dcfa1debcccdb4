// Names that are not UTF-8 in the page, in headless Chromium against the program and the local
// sshd: a folder and a file named with a Latin-1 byte (0xE9) are listed with their neighbours,
// shown with U+FFFD for the byte, and every action on them (open, save, the tree, a bookmark,
// download, rename, delete) reaches exactly those entries on disk, never the UTF-8 spelling
// "café" beside them.
import assert from 'node:assert/strict';
import {existsSync, mkdirSync, readdirSync, readFileSync, writeFileSync} from 'node:fs';
import {after, before, test} from 'node:test';

import {expandTreeTo, recordToasts, toastMark, waitForToast} from './action_helpers.mjs';
import {makeScratchDirectory, saveScreenshot, startHarness, waitFor} from './harness.mjs';
import {goToPath, listedNames, openAndConnect, rowOf, waitForFolder} from './page_helpers.mjs';

let harness;
let page;
let root;

// A path as bytes, with \xe9 standing for the Latin-1 byte.
const bytes = (text) => Buffer.from(text, 'latin1');
// A file of the odd folder whose own name is UTF-8.
const utf8Entry = (name) => Buffer.concat([bytes(`${root}/d\xe9/`), Buffer.from(name, 'utf8')]);
// The same names as the page holds them (the byte as U+DCE9) and as it shows them (U+FFFD).
const held = (text) => text.replaceAll('\xe9', '\udce9');
const shown = (text) => text.replaceAll('\xe9', '\ufffd');

before(async () => {
  harness = await startHarness({browserOptions: {viewport: {width: 1100, height: 700}}});
  page = harness.page;
  await recordToasts(page);
  root = makeScratchDirectory(harness.sshd, 'names-');
  mkdirSync(bytes(`${root}/d\xe9`));
  writeFileSync(bytes(`${root}/d\xe9/caf\xe9.md`), '# Latin-1 name\n');
  writeFileSync(utf8Entry('café.md'), '# UTF-8 name\n');
  writeFileSync(bytes(`${root}/d\xe9/plain.txt`), 'plain\n');
  await page.goto(harness.program.url);
  await page.evaluate(() => localStorage.clear());
  await openAndConnect(page, harness.program, harness.sshd);
});

after(async () => {
  await harness?.close();
});

// Whether the page's current folder is `path` (given with \xe9 for the byte).
const showsFolder = (path) => waitForFolder(page, held(path));

test('the folder lists every entry and shows the odd names readably', async () => {
  await goToPath(page, root);
  assert.ok((await listedNames(page)).includes(shown('d\xe9')));
  await rowOf(page, shown('d\xe9')).dblclick();
  await showsFolder(`${root}/d\xe9`);
  assert.deepEqual(
      (await listedNames(page)).sort(), [shown('caf\xe9.md'), 'café.md', 'plain.txt'].sort());
  assert.equal(await page.textContent('#breadcrumbs .breadcrumb-pill.active'), shown('d\xe9'));
  await saveScreenshot(page, 'odd-names');
});

test('the odd file opens, and a save writes that file', async () => {
  await rowOf(page, shown('caf\xe9.md')).dblclick();
  await waitFor(
      async () => (await page.textContent('#md-save-status')).startsWith('Loaded '),
      {what: 'the read'});
  assert.equal(await page.textContent('#md-filename'), shown('caf\xe9.md'));
  assert.match(await page.textContent('#md-rendered-content'), /Latin-1 name/);
  await page.click('#tab-md-edit');
  await page.focus('#md-raw-textarea');
  await page.keyboard.press('Control+End');
  await page.keyboard.type('saved');
  await page.keyboard.press('Control+s');
  await waitFor(
      async () => (await page.textContent('#md-save-status')) === 'Saved successfully!',
      {what: 'the save'});
  await page.keyboard.press('Escape');
  assert.equal(readFileSync(bytes(`${root}/d\xe9/caf\xe9.md`), 'utf8'), '# Latin-1 name\nsaved');
  assert.equal(readFileSync(utf8Entry('café.md'), 'utf8'), '# UTF-8 name\n');
});

test('the tree and a bookmark lead to the odd folder', async () => {
  await goToPath(page, root);
  await expandTreeTo(page, root);
  const oddFolder = held(`${root}/d\xe9`);
  await page.waitForFunction(
      (path) => [...document.querySelectorAll('.tree-node')].some(
          (node) => node.dataset.path === path),
      oddFolder);
  const label = await page.evaluate((path) => {
    const node = [...document.querySelectorAll('.tree-node')].find(
        (candidate) => candidate.dataset.path === path);
    node.querySelector(':scope > .tree-row').click();
    return node.querySelector('.tree-label').textContent;
  }, oddFolder);
  assert.equal(label, shown('d\xe9'));
  await showsFolder(`${root}/d\xe9`);
  // The node of the folder shown is marked, although a selector cannot name its path.
  assert.equal(
      await page.textContent('#directory-tree-container .tree-row.active .tree-label'),
      shown('d\xe9'));

  // A bookmark of the folder keeps its real path, in storage too.
  await page.click('#btn-add-quick-access');
  const stored = await page.evaluate(
      () => JSON.parse(localStorage.getItem('wrenfield_quick_access_v2'))[0].bookmarks);
  assert.ok(stored.some((bookmark) => bookmark.path === oddFolder));
  await goToPath(page, root);
  await page.locator('#quick-access-container .qa-item-label', {hasText: shown('d\xe9')}).click();
  await showsFolder(`${root}/d\xe9`);
});

test('download, rename and delete reach exactly the odd file', async () => {
  await rowOf(page, shown('caf\xe9.md')).click({button: 'right'});
  const [download] =
      await Promise.all([page.waitForEvent('download'), page.click('#ctx-download')]);
  assert.equal(download.suggestedFilename(), shown('caf\xe9.md'));
  assert.equal(readFileSync(await download.path(), 'utf8'), '# Latin-1 name\nsaved');

  // The rename field holds the real name: typing at its end keeps the byte.
  await rowOf(page, shown('caf\xe9.md')).click();
  await page.keyboard.press('F2');
  assert.equal(
      await page.evaluate(() => document.getElementById('input-rename').value), held('caf\xe9.md'));
  let mark = await toastMark(page);
  await page.press('#input-rename', 'End');
  await page.keyboard.type('.old');
  await page.press('#input-rename', 'Enter');
  await waitForToast(page, 'Renamed successfully', mark);
  assert.equal(
      readFileSync(bytes(`${root}/d\xe9/caf\xe9.md.old`), 'utf8'), '# Latin-1 name\nsaved');
  assert.equal(existsSync(bytes(`${root}/d\xe9/caf\xe9.md`)), false);
  await page.waitForFunction(
      (name) => [...document.querySelectorAll('.file-item-name')].some(
          (cell) => cell.textContent === name),
      shown('caf\xe9.md.old'));

  await rowOf(page, shown('caf\xe9.md.old')).click();
  await page.keyboard.press('Delete');
  assert.equal(
      await page.textContent('#delete-message'),
      `Are you sure you want to permanently delete "${shown('caf\xe9.md.old')}"?`);
  mark = await toastMark(page);
  await page.click('#btn-confirm-delete');
  await waitForToast(page, 'Deleted successfully', mark);
  const left = readdirSync(bytes(`${root}/d\xe9`), {encoding: 'buffer'});
  assert.deepEqual(left.map((name) => name.toString('utf8')).sort(), ['café.md', 'plain.txt']);
});
