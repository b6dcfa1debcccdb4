// The folder tree, the three context menus and the keyboard, in headless Chromium against the
// program and the local sshd.
import assert from 'node:assert/strict';
import {rmSync} from 'node:fs';
import {after, before, beforeEach, test} from 'node:test';

import {countRequests, expandTreeNode, expandTreeTo, recordToasts, storedGroups, toastMark, treeChildren, treeNode, waitForToast,} from './action_helpers.mjs';
import {makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness} from './harness.mjs';
import {goToPath, listedNames, openAndConnect, pageCaughtUp, rowOf, waitForFolder} from './page_helpers.mjs';

let harness;
let page;
let sshd;
let scratch;

before(async () => {
  harness = await startHarness({browserOptions: {viewport: {width: 1000, height: 700}}});
  ({page, sshd} = harness);
  await harness.browser.context.grantPermissions(
      ['clipboard-read', 'clipboard-write'], {origin: harness.program.url});
  await recordToasts(page);
  scratch = makeScratchDirectory(sshd, 'tree-');
  makeRemoteFiles(scratch, {
    'alpha/inner/deep.txt': 'deep\n',
    'alpha/.hidden-dir/': null,
    'alpha/file.txt': 'file\n',
    'beta/': null,
    'readme.md': '# Read me\n',
    'data.bin': Buffer.from([0, 1, 2, 3, 254, 255]),
  });
  await page.goto(harness.program.url);
  await page.evaluate(() => localStorage.clear());
  await openAndConnect(page, harness.program, sshd);
});

after(async () => {
  await harness?.close();
});

beforeEach(async () => {
  await page.evaluate(() => window.hideContextMenus());
});

const visibleMenus = () => page.$$eval(
    '.context-menu',
    (menus) => menus.filter((menu) => !menu.classList.contains('hidden')).map((menu) => menu.id));
// The menu's box on screen once its opening animation is over, and the window's size.
const menuBox = (id) => page.$eval(`#${id}`, (menu) => {
  menu.getAnimations().forEach((animation) => animation.finish());
  const box = menu.getBoundingClientRect();
  return {
    left: box.left,
    top: box.top,
    right: box.right,
    bottom: box.bottom,
    width: window.innerWidth,
    height: window.innerHeight,
  };
});
// Asserts that the menu lies wholly inside the window, with its corner `corner` (an object of
// any of left, top, right, bottom) at the pointer.
async function assertMenuAt(id, corner) {
  const box = await menuBox(id);
  assert.ok(
      box.left >= 0 && box.top >= 0 && box.right <= box.width && box.bottom <= box.height,
      `${id} inside the window: ${JSON.stringify(box)}`);
  for (const [side, value] of Object.entries(corner)) {
    assert.ok(Math.abs(box[side] - value) < 1, `${id} ${side} at ${value}: ${JSON.stringify(box)}`);
  }
}
const currentPath = () => page.evaluate(() => window.state.currentPath);

test(
    'the tree has a Home and a Root node, loads folders lazily, follows the folder shown and refreshes',
    async () => {
      const home = await page.evaluate(() => window.state.homeDir);
      const rootLabels =
          await page.locator('#directory-tree-container > .tree-node > .tree-row .tree-label')
              .allTextContents();
      const homeName = home.split('/').pop() || '~';
      assert.deepEqual(rootLabels, [`Home (${homeName})`, 'Root (/)']);
      assert.equal(await treeNode(page, home).getAttribute('data-level'), '0');
      assert.equal(
          await treeNode(page, home)
              .locator(':scope > .tree-row .tree-toggle')
              .evaluate((toggle) => toggle.classList.contains('expanded')),
          true,
          'the home node starts expanded',
      );
      assert.equal(
          await treeNode(page, home)
              .locator(':scope > .tree-row')
              .evaluate((row) => row.classList.contains('active')),
          true);

      // Each folder is listed once, when first expanded; hidden folders and files stay out.
      const lists = countRequests(page, '/api/list', `${scratch}/alpha`);
      await expandTreeTo(page, scratch);
      const scratchNode = (await treeNode(page, scratch).count()) - 1;
      assert.deepEqual(await treeChildren(page, scratch, scratchNode), ['alpha', 'beta']);
      assert.equal(
          await treeNode(page, `${scratch}/alpha`).getAttribute('data-level'),
          String(scratch.split('/').length));
      await expandTreeNode(page, `${scratch}/alpha`);
      assert.deepEqual(await treeChildren(page, `${scratch}/alpha`), ['inner']);
      const alphaToggle =
          treeNode(page, `${scratch}/alpha`).locator(':scope > .tree-row .tree-toggle');
      await alphaToggle.click();  // collapse
      assert.equal(
          await treeNode(page, `${scratch}/alpha`).locator(':scope > .tree-children').isVisible(),
          false);
      await alphaToggle.click();  // expand again, from what is loaded
      assert.deepEqual(await treeChildren(page, `${scratch}/alpha`), ['inner']);
      assert.equal(lists.count(), 1);

      // A folder without subfolders shows an empty toggle.
      await expandTreeNode(page, `${scratch}/beta`);
      assert.equal(
          await treeNode(page, `${scratch}/beta`)
              .locator(':scope > .tree-row .tree-toggle')
              .evaluate((toggle) => toggle.classList.contains('empty')),
          true,
      );

      // A click on a row shows its folder and marks the row; the toggle's click does not navigate.
      await treeNode(page, `${scratch}/alpha`).locator(':scope > .tree-row .tree-label').click();
      await waitForFolder(page, `${scratch}/alpha`);
      assert.deepEqual(
          await page.$$eval(
              '.tree-row.active', (rows) => rows.map((row) => row.parentElement.dataset.path)),
          [`${scratch}/alpha`],
      );
      await saveScreenshot(page, 'tree-expanded');

      // Refresh empties the cache: the next expansion asks again.
      const listsBefore = lists.count();
      const mark = await toastMark(page);
      await page.click('#btn-refresh-tree');
      await waitForToast(page, 'Directory tree refreshed', mark);
      await page.waitForSelector(
          `#directory-tree-container .tree-node[data-path=${
              JSON.stringify(home)}] > .tree-row .tree-toggle.expanded`,
          {state: 'attached'});
      await expandTreeTo(page, `${scratch}/alpha`);
      assert.equal(lists.count(), listsBefore + 1);
      lists.stop();
    });

test('a failed tree load shows "Error", which the next expansion retries', async () => {
  await page.click('#btn-refresh-tree');
  const target = `${scratch}/alpha/inner`;
  await page.route(`**/api/list?path=${encodeURIComponent(target)}`, (route) => route.abort());
  await expandTreeTo(page, `${scratch}/alpha`);
  const node = (await treeNode(page, target).count()) - 1;
  await expandTreeNode(page, target, node);
  const children = treeNode(page, target, node).locator(':scope > .tree-children');
  assert.equal(await children.textContent(), 'Error');
  await page.unroute(`**/api/list?path=${encodeURIComponent(target)}`);
  const toggle = treeNode(page, target, node).locator(':scope > .tree-row .tree-toggle');
  await toggle.click();  // collapse
  await expandTreeNode(page, target, node);
  assert.equal(await children.textContent(), '');
  assert.equal(await toggle.evaluate((element) => element.classList.contains('empty')), true);
});

test(
    'a folder the tree cannot read shows the error in its row and a toast, not as empty',
    async () => {
      await page.click('#btn-refresh-tree');
      const target = `${scratch}/alpha/inner`;
      const address = `**/api/list?path=${encodeURIComponent(target)}`;
      await page.route(address, (route) => route.fulfill({
        status: 500,
        contentType: 'application/json',
        body: '{"error":"Permission denied"}',
      }));
      await expandTreeTo(page, `${scratch}/alpha`);
      const node = (await treeNode(page, target).count()) - 1;
      await expandTreeNode(page, target, node);
      const row = treeNode(page, target, node).locator(':scope > .tree-row');
      const children = treeNode(page, target, node).locator(':scope > .tree-children');
      assert.equal(await children.textContent(), 'Error');
      assert.match(await row.locator('.tree-label').getAttribute('title'), /Permission denied/);
      assert.equal(await page.textContent('#toast'), 'Error: Permission denied');
      const toggle = row.locator('.tree-toggle');
      assert.equal(await toggle.evaluate((element) => element.classList.contains('empty')), false);
      await page.unroute(address);
      // Read again, it is as it is.
      await toggle.click();
      await expandTreeNode(page, target, node);
      assert.equal(await children.textContent(), '');
      assert.equal(await row.locator('.tree-label').getAttribute('title'), target);
    });

test('each context menu opens where it should, and clicks elsewhere close it', async () => {
  await goToPath(page, scratch);
  // A row: the item is selected and the item menu opens at the pointer.
  await rowOf(page, 'readme.md').click({button: 'right', position: {x: 20, y: 10}});
  assert.deepEqual(await visibleMenus(), ['context-menu']);
  assert.equal(await page.evaluate(() => window.state.selectedItem.name), 'readme.md');
  await saveScreenshot(page, 'context-menu-item');

  // The table's header row is a row: the global menu, not the background menu.
  await page.click('#file-table thead th.col-size', {button: 'right'});
  assert.deepEqual(await visibleMenus(), ['global-context-menu']);

  // The file view's empty background: the background menu.
  await page.mouse.click(700, 600, {button: 'right'});
  assert.deepEqual(await visibleMenus(), ['bg-context-menu']);
  // Too close to the bottom edge to open downwards: it opens upwards from the pointer.
  await assertMenuAt('bg-context-menu', {left: 700, bottom: 600});

  // The sidebar and the toolbar: the global menu. A text field keeps the browser's menu.
  await page.click('.sidebar-title >> nth=0', {button: 'right'});
  assert.deepEqual(await visibleMenus(), ['global-context-menu']);
  await page.evaluate(() => window.hideContextMenus());
  await page.click('#search-input', {button: 'right'});
  assert.deepEqual(await visibleMenus(), []);

  // A click that reaches the window hides the menu; a click on a row does not reach it.
  await page.mouse.click(700, 600, {button: 'right'});
  await rowOf(page, 'readme.md').click();
  assert.deepEqual(await visibleMenus(), ['bg-context-menu']);
  await page.click('.sidebar-title >> nth=0');
  assert.deepEqual(await visibleMenus(), []);

  // In grid view a card is an item too.
  await page.click('#btn-view-grid');
  await page.click('.grid-card:has-text("alpha")', {button: 'right'});
  assert.deepEqual(await visibleMenus(), ['context-menu']);
  await page.click('#btn-view-list');
});

test('menus open wholly inside the window, flipped at its right and bottom edges', async () => {
  await goToPath(page, scratch);
  await rowOf(page, 'readme.md').click({button: 'right', position: {x: 20, y: 10}});
  const row = await rowOf(page, 'readme.md').boundingBox();
  await assertMenuAt('context-menu', {left: row.x + 20, top: row.y + 10});
  await page.evaluate(() => window.hideContextMenus());
  // Near the bottom right corner each menu opens up and to the left of the pointer, so that
  // its last entry (Send feedback) is on screen.
  await page.evaluate(() => {
    const row = document.querySelector('#file-table-body tr');
    row.dispatchEvent(new MouseEvent(
        'contextmenu', {bubbles: true, cancelable: true, clientX: 995, clientY: 690}));
  });
  await assertMenuAt('context-menu', {right: 995, bottom: 690});
  const feedback = await page.locator('#ctx-feedback').boundingBox();
  assert.ok(feedback.y + feedback.height <= 700, `Send feedback: ${JSON.stringify(feedback)}`);
  await page.evaluate(() => window.hideContextMenus());
  await page.mouse.click(995, 640, {button: 'right'});
  assert.deepEqual(await visibleMenus(), ['bg-context-menu']);
  await assertMenuAt('bg-context-menu', {right: 995, bottom: 640});
  await page.evaluate(
      () => document.querySelector('.sidebar')
                .dispatchEvent(new MouseEvent(
                    'contextmenu', {bubbles: true, cancelable: true, clientX: 999, clientY: 699})),
  );
  assert.deepEqual(await visibleMenus(), ['global-context-menu']);
  await assertMenuAt('global-context-menu', {right: 999, bottom: 699});
  // Escape closes an open menu.
  await page.keyboard.press('Escape');
  assert.deepEqual(await visibleMenus(), []);
});

test('the item menu entries: open, edit, download, copy path, add, rename and delete', async () => {
  await goToPath(page, scratch);
  // Folders offer no download; files do.
  await rowOf(page, 'alpha').click({button: 'right'});
  assert.equal(await page.isVisible('#ctx-download'), false);
  await page.click('#ctx-open');
  await waitForFolder(page, `${scratch}/alpha`);
  await page.click('#btn-back');
  await waitForFolder(page, scratch);

  await rowOf(page, 'data.bin').click({button: 'right'});
  assert.equal(await page.isVisible('#ctx-download'), true);
  // The browser saves the file itself: the page never holds its bytes in a blob.
  await page.evaluate(() => {
    window.__blobAddresses = 0;
    const make = URL.createObjectURL;
    URL.createObjectURL = (object) => {
      window.__blobAddresses += 1;
      return make(object);
    };
  });
  const [download] =
      await Promise.all([page.waitForEvent('download'), page.click('#ctx-download')]);
  assert.equal(download.suggestedFilename(), 'data.bin');
  const {readFileSync} = await import('node:fs');
  assert.deepEqual(readFileSync(await download.path()), Buffer.from([0, 1, 2, 3, 254, 255]));
  assert.equal(await page.evaluate(() => window.__blobAddresses), 0);

  // A download whose reply is an error shows it in a toast and leaves the page in place.
  await rowOf(page, 'data.bin').click({button: 'right'});
  rmSync(`${scratch}/data.bin`);
  let mark = await toastMark(page);
  await page.click('#ctx-download');
  await page.waitForFunction(
      (from) => window.__toasts.slice(from).some((text) => text.startsWith('Download failed: ')),
      mark);
  assert.equal(await page.evaluate(() => window.state.currentPath), scratch);
  makeRemoteFiles(scratch, {'data.bin': Buffer.from([0, 1, 2, 3, 254, 255])});

  mark = await toastMark(page);
  await rowOf(page, 'readme.md').click({button: 'right'});
  await page.click('#ctx-copy-path');
  await waitForToast(page, 'Path copied to clipboard', mark);
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), `${scratch}/readme.md`);

  await rowOf(page, 'readme.md').click({button: 'right'});
  await page.click('#ctx-add-quick-access');
  await waitForToast(page, 'Added "readme.md" to Quick Access', mark);
  assert.ok((await storedGroups(page))
                .some(
                    (group) => group.bookmarks.some(
                        (bookmark) => bookmark.path === `${scratch}/readme.md` &&
                            bookmark.is_dir === false)));

  await rowOf(page, 'readme.md').click({button: 'right'});
  await page.click('#ctx-rename');
  assert.equal(await page.isVisible('#modal-rename'), true);
  assert.equal(await page.inputValue('#input-rename'), 'readme.md');
  await page.click('#btn-cancel-rename');

  await rowOf(page, 'readme.md').click({button: 'right'});
  await page.click('#ctx-delete');
  assert.equal(
      await page.textContent('#delete-message'),
      'Are you sure you want to permanently delete "readme.md"?');
  await page.click('#btn-close-delete');

  await rowOf(page, 'readme.md').click({button: 'right'});
  await page.click('#ctx-edit');
  await page.waitForSelector('#modal-md-viewer:not(.hidden)');
  await page.evaluate(() => document.getElementById('modal-md-viewer').classList.add('hidden'));
});

test('the background and global menu entries', async () => {
  await goToPath(page, scratch);
  await page.mouse.click(700, 600, {button: 'right'});
  await page.click('#bg-ctx-new-file');
  assert.equal(await page.isVisible('#modal-new-file'), true);
  await page.click('#btn-cancel-new-file');
  await page.mouse.click(700, 600, {button: 'right'});
  await page.click('#bg-ctx-new-folder');
  assert.equal(await page.isVisible('#modal-new-folder'), true);
  await page.click('#btn-close-new-folder');

  const [chooser] = await Promise.all([
    page.waitForEvent('filechooser'),
    (async () => {
      await page.mouse.click(700, 600, {button: 'right'});
      await page.click('#bg-ctx-upload');
    })(),
  ]);
  assert.equal(chooser.isMultiple(), true);

  const lists = countRequests(page, '/api/list', scratch);
  const historyLength = await page.evaluate(() => window.state.history.length);
  await page.mouse.click(700, 600, {button: 'right'});
  await page.click('#bg-ctx-refresh');
  await page.waitForFunction(
      () => document.getElementById('loading-bar').classList.contains('hidden'));
  await waitForFolder(page, scratch);
  assert.equal(lists.count(), 1);
  lists.stop();
  assert.equal(await page.evaluate(() => window.state.history.length), historyLength);

  for (const [open, entry] of [
           [() => page.mouse.click(700, 600, {button: 'right'}), '#bg-ctx-update'],
           [() => page.click('.sidebar-title >> nth=0', {button: 'right'}), '#global-ctx-update'],
  ]) {
    await open();
    const [request] = await Promise.all([
      page.waitForRequest((candidate) => candidate.url().endsWith('/api/check-for-updates')),
      page.click(entry),
    ]);
    assert.equal(request.method(), 'POST');
    assert.deepEqual(await visibleMenus(), []);
  }

  for (const [open, entry] of [
           [() => page.mouse.click(700, 600, {button: 'right'}), '#bg-ctx-feedback'],
           [() => page.click('.sidebar-title >> nth=0', {button: 'right'}), '#global-ctx-feedback'],
           [() => rowOf(page, 'readme.md').click({button: 'right'}), '#ctx-feedback'],
  ]) {
    await open();
    await page.click(entry);
    await page.waitForSelector('#screenshot-select-overlay:not(.hidden)');
    assert.deepEqual(await visibleMenus(), []);
    // While a screenshot area is chosen the page's menus stay away.
    await page.mouse.click(500, 300, {button: 'right'});
    assert.deepEqual(await visibleMenus(), []);
    await page.evaluate(() => window.FeedbackStudio.cancelCapture());
    await page.waitForSelector('#screenshot-select-overlay.hidden', {state: 'attached'});
  }
});

test('the keyboard shortcuts, in their order', async () => {
  await goToPath(page, scratch);
  await page.click('#file-table thead th.col-name');  // the focus on the page, off any field
  await page.click('#file-table thead th.col-name');
  await page.click('.sidebar-title >> nth=0');

  // Ctrl+Shift+F starts a feedback capture.
  await page.keyboard.press('Control+Shift+F');
  await page.waitForSelector('#screenshot-select-overlay:not(.hidden)');
  await page.evaluate(() => window.FeedbackStudio.cancelCapture());

  // Ctrl+L: the direct path input.
  await page.keyboard.press('Control+L');
  assert.equal(await page.getAttribute('#breadcrumb-container', 'data-state'), 'editing');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'path-direct-input');
  await page.keyboard.press('Escape');
  await page.click('.sidebar-title >> nth=0');

  // Ctrl+F and "/" focus the search box with its text selected; "/" in it types a slash.
  await page.fill('#search-input', 'abc');
  await page.click('.sidebar-title >> nth=0');
  await page.keyboard.press('Control+F');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'search-input');
  assert.deepEqual(
      await page.evaluate(
          () => [document.activeElement.selectionStart, document.activeElement.selectionEnd]),
      [0, 3]);
  await page.keyboard.press('Escape');
  assert.notEqual(await page.evaluate(() => document.activeElement.id), 'search-input');
  await page.keyboard.press('/');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'search-input');
  assert.equal(await page.inputValue('#search-input'), '');
  await page.keyboard.press('/');
  assert.equal(await page.inputValue('#search-input'), '/');
  await page.keyboard.press('Escape');

  // Ctrl+Shift+C copies the folder's path.
  await page.keyboard.press('Control+Shift+C');
  await page.waitForFunction(
      () => document.getElementById('btn-copy-path').classList.contains('copied'));
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), scratch);

  // Ctrl+R lists the folder again without reloading the page or adding history.
  await page.evaluate(() => {
    window.__notReloaded = true;
  });
  const lists = countRequests(page, '/api/list', scratch);
  const historyLength = await page.evaluate(() => window.state.history.length);
  await page.keyboard.press('Control+R');
  await page.waitForFunction(
      () => document.getElementById('loading-bar').classList.contains('hidden'));
  await pageCaughtUp(page, 100);
  assert.equal(lists.count(), 1);
  lists.stop();
  assert.equal(await page.evaluate(() => window.__notReloaded), true);
  assert.equal(await page.evaluate(() => window.state.history.length), historyLength);

  // Ctrl+Shift+. toggles hidden entries.
  await goToPath(page, `${scratch}/alpha`);
  await page.click('.sidebar-title >> nth=0');
  await page.keyboard.press('Control+Shift+Period');
  assert.deepEqual(await listedNames(page), ['.hidden-dir', 'inner', 'file.txt']);
  await page.keyboard.press('Control+Shift+Period');
  assert.deepEqual(await listedNames(page), ['inner', 'file.txt']);

  // Alt+Left and Alt+Right move in the history; Ctrl+Up goes to the enclosing folder.
  await page.keyboard.press('Alt+ArrowLeft');
  await waitForFolder(page, scratch);
  await page.keyboard.press('Alt+ArrowRight');
  await waitForFolder(page, `${scratch}/alpha`);
  await page.keyboard.press('Control+ArrowUp');
  await waitForFolder(page, scratch);

  // F2, Delete and Enter act on the selection only.
  await page.keyboard.press('F2');
  await page.keyboard.press('Delete');
  assert.equal(await page.locator('.modal-backdrop:not(.hidden)').count(), 0);
  await rowOf(page, 'readme.md').click();
  await page.keyboard.press('F2');
  assert.equal(await page.isVisible('#modal-rename'), true);
  // While a modal is open the keys do nothing.
  await page.keyboard.press('Control+L');
  assert.equal(await page.getAttribute('#breadcrumb-container', 'data-state'), 'display');
  await page.click('#btn-cancel-rename');
  await page.keyboard.press('Delete');
  assert.equal(await page.isVisible('#modal-delete'), true);
  await page.click('#btn-cancel-delete');
  await rowOf(page, 'alpha').click();
  await page.keyboard.press('Enter');
  await waitForFolder(page, `${scratch}/alpha`);

  // In a text field the keys are the field's: with a file selected, Home then Delete in the
  // search box deletes a character, F2 does nothing, and Enter opens nothing.
  await page.click('#btn-up');
  await waitForFolder(page, scratch);
  await rowOf(page, 'readme.md').click();
  await page.click('#search-input');
  await page.keyboard.type('rea');
  await page.keyboard.press('Home');
  await page.keyboard.press('Delete');
  await page.keyboard.press('F2');
  assert.equal(await page.inputValue('#search-input'), 'ea');
  assert.equal(await page.locator('.modal-backdrop:not(.hidden)').count(), 0);
  await page.keyboard.press('Enter');
  await pageCaughtUp(page, 300);
  assert.equal(await page.isVisible('#modal-md-viewer'), false);
  // The path input likewise.
  await page.keyboard.press('Escape');
  await page.keyboard.press('Control+L');
  await page.keyboard.press('Home');
  await page.keyboard.press('Delete');
  assert.equal(await page.inputValue('#path-direct-input'), scratch.slice(1));
  assert.equal(await page.locator('.modal-backdrop:not(.hidden)').count(), 0);
  await page.keyboard.press('Escape');
  // A selected entry that the filter hides is dropped: Delete then has nothing to act on.
  await page.fill('#search-input', 'alpha');
  await page.evaluate(() => document.activeElement.blur());
  await page.keyboard.press('Delete');
  assert.equal(await page.locator('.modal-backdrop:not(.hidden)').count(), 0);
  await page.fill('#search-input', '');
  // The hidden path input is out of the Tab order.
  await page.evaluate(() => document.activeElement.blur());
  const reached = [];
  for (let i = 0; i < 30; i += 1) {
    await page.keyboard.press('Tab');
    reached.push(await page.evaluate(() => document.activeElement.id));
  }
  assert.ok(reached.includes('search-input'), JSON.stringify(reached));
  assert.ok(!reached.includes('path-direct-input'), JSON.stringify(reached));
  await page.evaluate(() => document.activeElement.blur());
  await page.click('#btn-edit-path');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'path-direct-input');
  await page.keyboard.press('Escape');
  await rowOf(page, 'alpha').click();
  await page.keyboard.press('Enter');
  await waitForFolder(page, `${scratch}/alpha`);

  // Enter in the path input goes to the typed folder only; a selection is not opened as well.
  await rowOf(page, 'inner').click();
  await page.keyboard.press('Control+L');
  await page.fill('#path-direct-input', scratch);
  await page.keyboard.press('Enter');
  await waitForFolder(page, scratch);
  await pageCaughtUp(page, 200);
  assert.equal(await currentPath(), scratch);
});
