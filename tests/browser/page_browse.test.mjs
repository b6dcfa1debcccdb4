// Browsing remote folders in the page: navigation and history, breadcrumbs, the direct path
// input, filter, sort, list and grid views, hidden entries, selection, the status bar and the
// two colour themes, in headless Chromium against the program and the local sshd.
import assert from 'node:assert/strict';
import {utimesSync} from 'node:fs';
import {join} from 'node:path';
import {after, before, test} from 'node:test';

import {FILE_KINDS} from '../../web/js/app/kinds.js';

import {makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness} from './harness.mjs';
import {goToPath, gridNames, isHidden, listedNames, namesOnceShown, openAndConnect, pageCaughtUp, rowCells, rowOf, textOf, waitForFolder, waitForStill,} from './page_helpers.mjs';

const MARKUP_FILE = '<img src=x onerror="window.injected=1">.txt';
const MARKUP_FOLDER = '<i>tilted<i>';

let harness;
let page;
let root;

before(async () => {
  harness = await startHarness(
      {browserOptions: {viewport: {width: 1280, height: 760}, colorScheme: 'dark'}});
  page = harness.page;
  root = makeScratchDirectory(harness.sshd, 'browse-');
  // Every file has its own size, so that the size order is unambiguous.
  makeRemoteFiles(root, {
    'alpha/inner/deep.txt': 'deep',
    'alpha/note.txt': 'n',
    'beta/': null,
    'empty/': null,
    'only-hidden/.secret': 's',
    [`${MARKUP_FOLDER}/`]: null,
    [MARKUP_FILE]: 'markup',
    'almost.dat': Buffer.alloc(1048575),
    'archive.tar.gz': 'gzip!',
    'big.log': Buffer.alloc(1536),
    'empty.txt': '',
    'Makefile': 'all:',
    'mega.bin': Buffer.alloc(1048576),
    'notes.MD': '# n',
    'small.txt': 'a',
    'trailing.': 'tt',
    'zeta.md': '0123456789',
    '.bashrc': 'export A=1\n',
    '.hidden-dir/': null,
  });
  // An old date, shown as a date rather than a time of day.
  const march5 = new Date(2025, 2, 5, 12, 0, 0).getTime() / 1000;
  utimesSync(join(root, 'zeta.md'), march5, march5);
  await openAndConnect(page, harness.program, harness.sshd);
});

after(async () => {
  await harness?.close();
});

const FOLDERS = [MARKUP_FOLDER, 'alpha', 'beta', 'empty', 'only-hidden'];
const FILES_BY_NAME = [
  MARKUP_FILE,
  'almost.dat',
  'archive.tar.gz',
  'big.log',
  'empty.txt',
  'Makefile',
  'mega.bin',
  'notes.MD',
  'small.txt',
  'trailing.',
  'zeta.md',
];
const FILES_BY_SIZE = [
  'empty.txt',
  'small.txt',
  'trailing.',
  'notes.MD',
  'Makefile',
  'archive.tar.gz',
  MARKUP_FILE,
  'zeta.md',
  'big.log',
  'almost.dat',
  'mega.bin',
];

const selectedNames = (selector) =>
    page.$$eval(selector, (elements) => elements.map((element) => element.textContent));

test('a folder lists folders first, then files, with their size, kind, date and icon', async () => {
  await goToPath(page, root);
  assert.deepEqual(await listedNames(page), [...FOLDERS, ...FILES_BY_NAME]);
  assert.equal(await textOf(page, '#status-items-count'), '16 items');
  assert.equal(await isHidden(page, '#empty-state'), true);

  // The rows show the page's size and kind texts; their rules, edge cases included, are
  // tested without a browser in tests/web.
  const expected = {
    alpha: {size: '--', kind: 'Folder'},
    'archive.tar.gz': {size: '5 B', kind: 'GZIP Archive'},
    'big.log': {size: '1.5 KB', kind: 'LOG File'},
    'empty.txt': {size: '0 B', kind: 'Text Document'},
    'mega.bin': {size: '1 MB', kind: 'BIN File'},
  };
  for (const [name, {size, kind}] of Object.entries(expected)) {
    const cells = await rowCells(page, name);
    assert.equal(cells.size, size, `size of ${name}`);
    assert.equal(cells.kind, kind, `kind of ${name}`);
    assert.match(cells.permissions, /^[-dl][-rwxsStT]{9}$/, `permissions of ${name}`);
    assert.match(cells.modified, /^\d{1,2}:\d{2}( [AP]M)?$/, `a time of today for ${name}`);
  }
  assert.equal((await rowCells(page, 'zeta.md')).modified, 'Mar 5, 2025');

  // Icons: the folder, Markdown and archive drawings by their stroke colours, the plain page
  // in the palette's text colour; each drawn 18 pixels wide.
  const iconOf = (name) => rowOf(page, name).locator('.file-item-icon').evaluate((icon) => {
    const style = getComputedStyle(icon);
    return {image: decodeURIComponent(style.backgroundImage), width: style.width};
  });
  const ink = await page.evaluate(
      () => getComputedStyle(document.documentElement).getPropertyValue('--text-primary').trim());
  assert.match((await iconOf('alpha')).image, /#60a5fa/);
  assert.match((await iconOf('notes.MD')).image, /#818cf8/);
  assert.match((await iconOf('archive.tar.gz')).image, /#fb7185/);
  assert.ok((await iconOf('Makefile')).image.includes(`stroke="${ink}"`), 'the text colour');
  assert.equal((await iconOf('alpha')).width, '18px');
});

test('names holding markup are shown as text everywhere', async () => {
  await goToPath(page, root);
  const cells = await rowCells(page, MARKUP_FILE);
  assert.equal(cells.name, MARKUP_FILE);
  assert.equal(await page.locator('#drop-zone img, #drop-zone i').count(), 0);
  assert.equal(await rowOf(page, MARKUP_FOLDER).count(), 1);

  await rowOf(page, MARKUP_FILE).click();
  assert.equal(await textOf(page, '#status-selection-info'), `Selected: ${MARKUP_FILE} (6 B)`);
  await page.click('#btn-view-grid');
  const card = page.locator('#file-grid .grid-card-label', {hasText: 'tilted'});
  assert.equal(await card.textContent(), MARKUP_FOLDER);
  assert.equal(await card.getAttribute('title'), MARKUP_FOLDER);
  assert.equal(await page.locator('#drop-zone img, #drop-zone i').count(), 0);
  await page.click('#btn-view-list');

  await goToPath(page, join(root, MARKUP_FOLDER));
  const pills = await selectedNames('#breadcrumbs .breadcrumb-pill');
  assert.equal(pills.at(-1), MARKUP_FOLDER);
  assert.equal(await page.locator('#breadcrumbs i').count(), 0);
  assert.equal(await page.evaluate(() => window.injected), undefined);
});

test('sorting keeps folders first in both directions; the header shows the direction', async () => {
  await goToPath(page, root);
  const sizeHeader = '#file-table th[data-sort="size"]';
  const indicators = () => selectedNames('#file-table .sort-indicator');
  assert.deepEqual(await indicators(), ['', '', '', '']);

  await page.click(sizeHeader);
  assert.deepEqual(await indicators(), ['', ' ↑', '', '']);
  assert.deepEqual(
      await namesOnceShown(page, [...FOLDERS, ...FILES_BY_SIZE]), [...FOLDERS, ...FILES_BY_SIZE]);

  await page.click(sizeHeader);
  assert.deepEqual(await indicators(), ['', ' ↓', '', '']);
  // Folders of equal size keep their order by name.
  const bySizeDown = [...FOLDERS, ...[...FILES_BY_SIZE].reverse()];
  assert.deepEqual(await namesOnceShown(page, bySizeDown), bySizeDown);

  await page.click('#file-table th[data-sort="type"]');
  await page.waitForFunction(
      (folders) =>
          document.querySelectorAll('#file-table-body tr .file-item-name')[folders]?.textContent ===
          'mega.bin',
      FOLDERS.length);
  const byKind = await listedNames(page);
  assert.deepEqual(byKind.slice(FOLDERS.length, FOLDERS.length + 2), ['mega.bin', 'almost.dat']);

  await page.click('#file-table th[data-sort="name"]');
  assert.deepEqual(await indicators(), [' ↑', '', '', '']);
  assert.deepEqual(
      await namesOnceShown(page, [...FOLDERS, ...FILES_BY_NAME]), [...FOLDERS, ...FILES_BY_NAME]);
});

// The order of `items` (a listing as /api/list gives it) as the page showed it before sorting
// moved to the listing worker, written out on its own.
function orderShownBefore(items, column, ascending) {
  const kind = (item) => {
    if (item.is_dir) return 'Folder';
    const extension = item.name.slice(item.name.lastIndexOf('.') + 1).toLowerCase();
    if (extension === '') return 'Document';
    return Object.hasOwn(FILE_KINDS, extension) ? FILE_KINDS[extension] :
                                                  extension.toUpperCase() + ' File';
  };
  const value = (item) => column === 'size' ? item.size :
      column === 'type'                     ? kind(item) :
      column === 'modified'                 ? item.modified :
                                              item.name.toLowerCase();
  const direction = ascending ? 1 : -1;
  return items.filter((item) => !item.is_hidden)
      .sort((a, b) => {
        if (a.is_dir !== b.is_dir) return a.is_dir ? -1 : 1;
        const left = value(a);
        const right = value(b);
        return left < right ? -direction : left > right ? direction : 0;
      })
      .map((item) => item.name);
}

test(
    'every sort shows the order the page showed before, on a folder of ties and odd names',
    async () => {
      // Names that differ only in case, outside ASCII, beyond the BMP and holding "},{" and quotes;
      // sizes and dates that tie.
      const folder = makeScratchDirectory(harness.sshd, 'sorting-');
      const names = [
        'b.txt',     'B.txt',         'a.md',        'A.MD',       'Zeta',     'zeta.json',
        'élan.txt',  'Élan.TXT',      'straße.py',   'STRASSE.py', '😀.png',    '\ufffd.png',
        'x},{y.txt', '"},{"name".md', 'back\\slash', '10.log',     '9.log',    'archive.tar.gz',
        'Makefile',  'trailing.',     'dir-b/',      'Dir-A/',     'dir},{c/',
      ];
      const files = {};
      names.forEach((name, i) => {
        files[name] = name.endsWith('/') ? null : 'x'.repeat(i % 4);
      });
      makeRemoteFiles(folder, files);
      names.forEach((name, i) => {
        const seconds = 1700000000 + (i % 3) * 86400;
        utimesSync(join(folder, name), seconds, seconds);
      });
      await goToPath(page, folder);
      const items = await page.evaluate(
          (path) =>
              fetch('/api/list?path=' + encodeURIComponent(path)).then((reply) => reply.json()),
          folder);
      for (const column of ['size', 'type', 'modified', 'name']) {
        for (const ascending of [true, false]) {
          await sortBy(column, ascending);
          const expected = orderShownBefore(items, column, ascending);
          assert.deepEqual(
              await namesOnceShown(page, expected), expected,
              `${column}, ${ascending ? 'ascending' : 'descending'}`);
        }
      }
      await sortBy('name', true);
    });

// Clicks the column's header until the view is sorted by it in the direction asked for.
async function sortBy(column, ascending) {
  for (let clicks = 0; clicks < 2; clicks += 1) {
    const sorted = await page.evaluate(
        ([c, a]) => window.state.sortCol === c && window.state.sortAsc === a, [column, ascending]);
    if (sorted) return;
    await page.click(`#file-table th[data-sort="${column}"]`);
  }
}

test('the filter matches names without regard to case and counts what it shows', async () => {
  await goToPath(page, root);
  await page.fill('#search-input', '  ZETA ');
  assert.deepEqual(await listedNames(page), ['zeta.md']);
  assert.equal(await textOf(page, '#status-items-count'), '1 item');
  assert.equal(await isHidden(page, '#btn-clear-search'), false);

  await page.fill('#search-input', 'eta');
  assert.deepEqual(await listedNames(page), ['beta', 'zeta.md']);
  assert.equal(await textOf(page, '#status-items-count'), '2 items');
  // Selecting under a filter marks exactly the row clicked.
  await rowOf(page, 'zeta.md').click();
  assert.deepEqual(
      await selectedNames('#file-table-body tr.selected .file-item-name'), ['zeta.md']);

  await page.fill('#search-input', 'nothing-like-this');
  assert.equal(await isHidden(page, '#empty-state'), false);
  assert.equal(await isHidden(page, '#list-view-wrapper'), true);
  assert.equal(await textOf(page, '#empty-title'), 'Empty Directory');
  assert.equal(await textOf(page, '#empty-desc'), 'No items matching filter.');
  assert.equal(await isHidden(page, '#btn-open-connect'), true);
  assert.equal(await textOf(page, '#status-items-count'), '0 items');

  // The filter hid the selected entry, so it is no longer selected: nothing acts on it unseen.
  assert.equal(await page.evaluate(() => window.state.selectedItem), null);
  assert.equal(await textOf(page, '#status-selection-info'), '');

  // Escape empties the filter and leaves the input.
  await page.press('#search-input', 'Escape');
  assert.equal(await page.inputValue('#search-input'), '');
  assert.equal(await isHidden(page, '#btn-clear-search'), true);
  assert.notEqual(await page.evaluate(() => document.activeElement.id), 'search-input');
  assert.equal((await listedNames(page)).length, 16);
  assert.deepEqual(await selectedNames('#file-table-body tr.selected .file-item-name'), []);

  // A filter that keeps the selected entry in view keeps it selected.
  await rowOf(page, 'zeta.md').click();
  await page.fill('#search-input', 'eta');
  assert.deepEqual(
      await selectedNames('#file-table-body tr.selected .file-item-name'), ['zeta.md']);
  await page.press('#search-input', 'Escape');

  await page.fill('#search-input', 'beta');
  await page.click('#btn-clear-search');
  assert.equal(await page.inputValue('#search-input'), '');
  assert.equal((await listedNames(page)).length, 16);
});

test(
    'hidden entries show only when asked for; a folder of hidden entries looks empty', async () => {
      await goToPath(page, root);
      assert.ok(!(await listedNames(page)).includes('.bashrc'));
      await page.click('#btn-toggle-hidden');
      assert.equal(
          await page.$eval('#btn-toggle-hidden', (button) => button.classList.contains('active')),
          true);
      const names = await listedNames(page);
      assert.ok(names.includes('.bashrc') && names.includes('.hidden-dir'), names.join(','));
      assert.equal(await textOf(page, '#status-items-count'), '18 items');
      await page.click('#btn-toggle-hidden');
      assert.equal(
          await page.$eval('#btn-toggle-hidden', (button) => button.classList.contains('active')),
          false);

      await goToPath(page, join(root, 'only-hidden'));
      assert.equal(await textOf(page, '#empty-title'), 'Empty Directory');
      assert.equal(await textOf(page, '#empty-desc'), 'This folder contains no files.');
      assert.equal(await textOf(page, '#status-items-count'), '0 items');
      await page.click('#btn-toggle-hidden');
      assert.deepEqual(await listedNames(page), ['.secret']);
      await page.click('#btn-toggle-hidden');
    });

test(
    'selection marks one entry in both views and shows in the status bar until navigation',
    async () => {
      await goToPath(page, root);
      await rowOf(page, 'big.log').click();
      assert.deepEqual(
          await selectedNames('#file-table-body tr.selected .file-item-name'), ['big.log']);
      assert.equal(await textOf(page, '#status-selection-info'), 'Selected: big.log (1.5 KB)');
      assert.equal(await isHidden(page, '#status-separator'), false);

      await rowOf(page, 'alpha').click();
      assert.deepEqual(
          await selectedNames('#file-table-body tr.selected .file-item-name'), ['alpha']);
      assert.equal(await textOf(page, '#status-selection-info'), 'Selected: alpha (folder)');

      await page.click('#btn-view-grid');
      assert.deepEqual(
          await selectedNames('#file-grid .grid-card.selected .grid-card-label'), ['alpha']);
      await page.click('#file-grid .grid-card:has(.grid-card-label:text-is("zeta.md"))');
      assert.deepEqual(
          await selectedNames('#file-grid .grid-card.selected .grid-card-label'), ['zeta.md']);
      assert.equal(await textOf(page, '#status-selection-info'), 'Selected: zeta.md (10 B)');
      await page.click('#btn-view-list');
      assert.deepEqual(
          await selectedNames('#file-table-body tr.selected .file-item-name'), ['zeta.md']);

      await page.click('#btn-refresh');
      await page.waitForFunction(() => window.state.selectedItem === null);
      assert.equal(await textOf(page, '#status-selection-info'), '');
      assert.equal(await isHidden(page, '#status-separator'), true);
      assert.equal(await page.locator('#file-table-body tr.selected').count(), 0);
    });

test('opening folders, back, forward and the breadcrumbs move through the history', async () => {
  await goToPath(page, root);
  const rootSegments = root.split('/').filter(Boolean);
  const history = () => page.evaluate(
      () => ({index: window.state.historyIndex, length: window.state.history.length}));

  await rowOf(page, 'alpha').dblclick();
  await waitForFolder(page, `${root}/alpha`);
  assert.deepEqual(await listedNames(page), ['inner', 'note.txt']);
  await rowOf(page, 'inner').dblclick();
  await waitForFolder(page, `${root}/alpha/inner`);

  // The breadcrumbs: the root pill, then one pill per segment with its cumulative path.
  const pills = await page.$$eval(
      '#breadcrumbs .breadcrumb-pill',
      (elements) => elements.map((pill) => ({
                                   text: pill.textContent,
                                   title: pill.title,
                                   active: pill.classList.contains('active')
                                 })),
  );
  const segments = [...rootSegments, 'alpha', 'inner'];
  assert.deepEqual(pills[0], {text: '/', title: 'Root directory', active: false});
  assert.deepEqual(
      pills.slice(1),
      segments.map((segment, index) => ({
                     text: segment,
                     title: '/' + segments.slice(0, index + 1).join('/'),
                     active: index === segments.length - 1,
                   })),
  );
  assert.equal(await page.locator('#breadcrumbs .breadcrumb-separator').count(), segments.length);
  assert.equal(await page.isDisabled('#btn-forward'), true);
  assert.equal(await page.isDisabled('#btn-back'), false);

  const start = await history();
  await page.click('#btn-back');
  await waitForFolder(page, `${root}/alpha`);
  await page.click('#btn-back');
  await waitForFolder(page, root);
  assert.equal(await page.isDisabled('#btn-forward'), false);
  await page.click('#btn-forward');
  await waitForFolder(page, `${root}/alpha`);
  assert.deepEqual(await history(), {index: start.index - 1, length: start.length});

  // A new navigation drops the entries ahead; the pill of the folder shown adds an equal entry.
  await page.click('#breadcrumbs .breadcrumb-pill:text-is("alpha")');
  await waitForFolder(page, `${root}/alpha`);
  assert.deepEqual(await history(), {index: start.index, length: start.index + 1});
  assert.equal(await page.isDisabled('#btn-forward'), true);
  await page.click('#btn-refresh');
  await waitForFolder(page, `${root}/alpha`);
  assert.deepEqual(await history(), {index: start.index, length: start.index + 1});

  await page.click('#btn-up');
  await waitForFolder(page, root);
  await page.click('#breadcrumbs .breadcrumb-pill >> nth=0');
  await waitForFolder(page, '/');
  assert.deepEqual(await selectedNames('#breadcrumbs .breadcrumb-pill'), ['/']);
  assert.equal(
      await page.$eval(
          '#breadcrumbs .breadcrumb-pill', (pill) => pill.classList.contains('active')),
      true);
  // Up at the root stays.
  const atRoot = await history();
  await page.click('#btn-up');
  await pageCaughtUp(page, 200);
  assert.deepEqual(await history(), atRoot);
});

test('a folder opens at its top, however far down the previous one was scrolled', async () => {
  // Two folders long enough to scroll, in a place of their own so that the other listings
  // stay as they are.
  const place = makeScratchDirectory(harness.sshd, 'browse-long-');
  const description = {};
  for (let i = 0; i < 150; i += 1) {
    description[`first/entry-${String(i).padStart(3, '0')}.txt`] = 'f';
    description[`second/entry-${String(i).padStart(3, '0')}.txt`] = 's';
  }
  makeRemoteFiles(place, description);
  // What the user sees: the entry at the top of the view, and how far the view is scrolled.
  const view = () => page.evaluate(() => {
    const zone = document.getElementById('drop-zone');
    const header = document.querySelector('#file-table thead').getBoundingClientRect();
    const name = document.elementFromPoint(header.left + 60, header.bottom + 10)
                     ?.closest('tr')
                     ?.querySelector('.file-item-name');
    return {first: name?.textContent, top: zone.scrollTop};
  });
  const scrollToEnd = () => page.evaluate(() => {
    const zone = document.getElementById('drop-zone');
    zone.scrollTop = zone.scrollHeight;
    return zone.scrollTop;
  });
  const allDrawn = () => page.waitForFunction(
      () => document.getElementById('status-items-count').textContent === '150 items');

  await goToPath(page, join(place, 'first'));
  await allDrawn();
  assert.ok(await scrollToEnd() > 0, 'the listing scrolls');

  await goToPath(page, join(place, 'second'));
  await allDrawn();
  assert.deepEqual(await view(), {first: 'entry-000.txt', top: 0});

  // Back is a new folder too.
  assert.ok(await scrollToEnd() > 0);
  await page.click('#btn-back');
  await waitForFolder(page, join(place, 'first'));
  await allDrawn();
  assert.deepEqual(await view(), {first: 'entry-000.txt', top: 0});
});

test('up from "~" goes to the root, and a relative path keeps relative breadcrumbs', async () => {
  await goToPath(page, '~');
  const pills = await page.$$eval(
      '#breadcrumbs .breadcrumb-pill',
      (elements) => elements.map((pill) => [pill.textContent, pill.title]));
  assert.deepEqual(pills, [['/', 'Root directory'], ['~', '~']]);
  await page.click('#btn-up');
  await waitForFolder(page, '/');
});

test(
    'the direct path input opens on a click on the bar, and Escape or Enter close it', async () => {
      await goToPath(page, root);
      const bar = '#breadcrumb-container';
      await page.click('#breadcrumbs .breadcrumb-separator >> nth=0');
      assert.equal(await page.getAttribute(bar, 'data-state'), 'editing');
      assert.equal(await page.inputValue('#path-direct-input'), root);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'path-direct-input');
      assert.equal(
          await page.evaluate(() => {
            const input = document.getElementById('path-direct-input');
            return input.selectionStart === 0 && input.selectionEnd === input.value.length;
          }),
          true);

      // Closing gives the focus back to the page, so that keys no longer edit the hidden input.
      const pathInputFocused = () =>
          page.evaluate(() => document.activeElement.id === 'path-direct-input');
      await page.press('#path-direct-input', 'Escape');
      assert.equal(await page.getAttribute(bar, 'data-state'), 'display');
      assert.equal(await page.evaluate(() => window.state.currentPath), root);
      assert.equal(await pathInputFocused(), false);

      // Whitespace around the typed path is dropped.
      await page.click('#btn-edit-path');
      await page.fill('#path-direct-input', `  ${root}/beta  `);
      await page.press('#path-direct-input', 'Enter');
      await waitForFolder(page, `${root}/beta`);
      assert.equal(await page.getAttribute(bar, 'data-state'), 'display');
      assert.equal(await pathInputFocused(), false);
      assert.equal(await textOf(page, '#empty-desc'), 'This folder contains no files.');

      // Leaving the input closes it shortly after.
      await page.click('#btn-edit-path');
      await page.click('#status-items-count');
      await page.waitForFunction(
          () => document.getElementById('breadcrumb-container').dataset.state === 'display');
    });

test(
    'files dragged over a scrolled listing find the drop overlay over the visible view',
    async () => {
      await goToPath(page, root);
      const viewport = page.viewportSize();
      // Short and narrow: the listing scrolls down and sideways.
      await page.setViewportSize({width: 800, height: 400});
      try {
        const cover = await page.evaluate(() => {
          const zone = document.getElementById('drop-zone');
          zone.scrollTop = zone.scrollHeight;
          zone.scrollLeft = zone.scrollWidth;
          const data = new DataTransfer();
          data.items.add(new File(['x'], 'x.txt'));
          zone.dispatchEvent(
              new DragEvent('dragenter', {dataTransfer: data, bubbles: true, cancelable: true}));
          const overlay = document.getElementById('drop-overlay');
          const shown = zone.getBoundingClientRect();
          const covered = overlay.getBoundingClientRect();
          const centre =
              document.elementFromPoint(shown.left + shown.width / 2, shown.top + shown.height / 2);
          const result = {
            scrolled: zone.scrollTop > 0 && zone.scrollLeft > 0,
            top: covered.top - shown.top,
            left: covered.left - shown.left,
            centreOnOverlay: overlay.contains(centre),
          };
          overlay.dispatchEvent(
              new DragEvent('dragleave', {dataTransfer: data, bubbles: true, relatedTarget: null}));
          return result;
        });
        assert.deepEqual(cover, {scrolled: true, top: 0, left: 0, centreOnOverlay: true});
        assert.equal(await isHidden(page, '#drop-overlay'), true);
      } finally {
        await page.setViewportSize(viewport);
      }
    });

test('a folder that cannot be listed shows an error and leaves the page where it was', async () => {
  await goToPath(page, root);
  const before = await page.evaluate(
      () => ({path: window.state.currentPath, length: window.state.history.length}));
  await page.click('#btn-edit-path');
  await page.fill('#path-direct-input', `${root}/does-not-exist`);
  await page.press('#path-direct-input', 'Enter');
  await page.waitForFunction(
      () => window.document.getElementById('toast').textContent.startsWith('Error: '));
  await page.waitForFunction(
      () => document.getElementById('loading-bar').classList.contains('hidden'));
  const after = await page.evaluate(
      () => ({path: window.state.currentPath, length: window.state.history.length}));
  assert.deepEqual(after, before);
  assert.equal((await listedNames(page)).length, 16);

  // A successful reply that is no list, or one cut short, fails the same way: never a short or
  // empty folder.
  const alpha = `${root}/alpha`;
  const isAlphaListing = (address) => new URL(address).searchParams.get('path') === alpha;
  const entry = JSON.stringify({name: 'a', path: `${alpha}/a`, is_dir: false});
  for (const [body, message] of [
           ['{"entries":[]}', 'Error: Failed to list directory'],
           [`[${entry},${entry.slice(0, 20)}`, null],
           [`[${entry},]`, null],
  ]) {
    const answer = (route) => route.fulfill({status: 200, contentType: 'application/json', body});
    await page.route(isAlphaListing, answer);
    await page.evaluate(() => {
      document.getElementById('toast').textContent = '';
    });
    await page.click('#btn-edit-path');
    await page.fill('#path-direct-input', alpha);
    await page.press('#path-direct-input', 'Enter');
    await page.waitForFunction(
        () => window.document.getElementById('toast').textContent.startsWith('Error: '));
    await page.waitForFunction(
        () => document.getElementById('loading-bar').classList.contains('hidden'));
    await page.unroute(isAlphaListing, answer);
    if (message) {
      assert.equal(await textOf(page, '#toast'), message);
    }
    assert.deepEqual(
        await page.evaluate(
            () => ({path: window.state.currentPath, length: window.state.history.length})),
        before, body);
    assert.equal((await listedNames(page)).length, 16);
  }
});

test('a late reply for a folder left behind does not take the view back', async () => {
  await goToPath(page, root);
  // The listing of "alpha" is held until "beta" has been opened and shown.
  const isAlphaListing = (address) => {
    const url = new URL(address);
    return url.pathname === '/api/list' && url.searchParams.get('path') === `${root}/alpha`;
  };
  let releaseAlpha;
  const alphaHeld = new Promise((resolve) => releaseAlpha = resolve);
  const holdAlpha = async (route) => {
    await alphaHeld;
    // The page may have dropped the request meanwhile.
    await route.continue().catch(() => {});
  };
  await page.route(isAlphaListing, holdAlpha);
  const alphaAsked = page.waitForRequest((request) => isAlphaListing(request.url()));
  await page.click('#btn-edit-path');
  await page.fill('#path-direct-input', `${root}/alpha`);
  await page.press('#path-direct-input', 'Enter');
  await alphaAsked;
  // Answered late, or dropped by the page once it asked for "beta".
  const alphaEnded = Promise.race([
    page.waitForResponse((response) => isAlphaListing(response.url())),
    page.waitForEvent('requestfailed', (request) => isAlphaListing(request.url())),
  ]);
  await goToPath(page, `${root}/beta`);
  releaseAlpha();
  await alphaEnded;
  await pageCaughtUp(page, 300);
  await page.unroute(isAlphaListing, holdAlpha);
  assert.equal(await page.evaluate(() => window.state.currentPath), `${root}/beta`);
  assert.deepEqual(await listedNames(page), []);
  assert.equal(await page.evaluate(() => window.state.history.at(-1)), `${root}/beta`);
  assert.equal(await isHidden(page, '#loading-bar'), true);
});

test('list and grid views in the dark and light themes', async () => {
  await goToPath(page, root);
  const background = () => page.$eval('body', (body) => getComputedStyle(body).backgroundColor);
  // Screenshots wait for the colour transitions to end and for no toast to cover the view.
  const screenshot = async (name) => {
    await page.mouse.move(700, 650);
    await page.waitForSelector('#toast.hidden', {state: 'attached', timeout: 5000});
    await waitForStill(page);
    await saveScreenshot(page, name);
  };

  await page.emulateMedia({colorScheme: 'dark'});
  assert.equal(await background(), 'rgb(3, 7, 18)');
  await rowOf(page, 'notes.MD').click();
  await screenshot('page-list-dark');

  await page.emulateMedia({colorScheme: 'light'});
  assert.equal(await background(), 'rgb(241, 245, 249)');
  assert.equal(
      await page.$eval('.file-view-container', (view) => getComputedStyle(view).backgroundColor),
      'rgb(255, 255, 255)');
  await screenshot('page-list-light');

  await page.click('#btn-view-grid');
  assert.equal(await isHidden(page, '#list-view-wrapper'), true);
  assert.equal(await isHidden(page, '#grid-view-wrapper'), false);
  assert.equal(
      await page.$eval('#btn-view-grid', (button) => button.classList.contains('active')), true);
  assert.equal(
      await page.$eval('#btn-view-list', (button) => button.classList.contains('active')), false);
  assert.deepEqual(await gridNames(page), [...FOLDERS, ...FILES_BY_NAME]);
  assert.deepEqual(
      await page.$$eval(
          '#file-grid .grid-card-icon .entry-icon',
          (icons) => [...new Set(icons.map((icon) => getComputedStyle(icon).width))]),
      ['36px']);
  assert.equal(await page.locator('#file-grid .grid-card-icon .entry-icon').count(), 16);
  await screenshot('page-grid-light');

  await page.emulateMedia({colorScheme: 'dark'});
  await screenshot('page-grid-dark');

  // An explicit theme class wins over the system's scheme.
  await page.evaluate(() => {
    document.documentElement.className = 'theme-light';
  });
  assert.equal(await background(), 'rgb(241, 245, 249)');
  await page.evaluate(() => {
    document.documentElement.className = 'theme-dark';
  });
  await page.emulateMedia({colorScheme: 'light'});
  assert.equal(await background(), 'rgb(3, 7, 18)');
  assert.equal(
      await page.$eval(
          'html', (html) => getComputedStyle(html).getPropertyValue('--accent-color').trim()),
      '#3b82f6',
  );
  await page.evaluate(() => {
    document.documentElement.className = 'theme-auto';
  });
  await page.emulateMedia({colorScheme: 'dark'});
  await page.click('#btn-view-list');
  assert.equal(await isHidden(page, '#list-view-wrapper'), false);
});

// The names a user sees on screen in the file view (list or grid), top to bottom, each once.
function namesOnScreen(page) {
  return page.evaluate(() => {
    const zone = document.getElementById('drop-zone').getBoundingClientRect();
    const header = document.querySelector('#file-table thead').getBoundingClientRect();
    const top = document.getElementById('list-view-wrapper').classList.contains('hidden') ?
        zone.top :
        header.bottom;
    return Array.from(document.querySelectorAll('#drop-zone .file-item-name, .grid-card-label'))
        .filter((label) => {
          const box = label.getBoundingClientRect();
          return box.height > 0 && box.top >= top - 1 && box.bottom <= zone.bottom + 1;
        })
        .map((label) => label.textContent);
  });
}

// Scrolls the file view a screenful at a time from the top to the end, gathering the names
// seen, in order without repeats.
async function scrollThrough(page) {
  // The view may stand anywhere (a switch of view keeps the selected entry in view): back at
  // the top, the entries there are built by the scroll event, before the next frame.
  await page.evaluate(() => {
    document.getElementById('drop-zone').scrollTop = 0;
  });
  await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
  const seen = [];
  for (;;) {
    for (const name of await namesOnScreen(page)) {
      if (!seen.includes(name)) seen.push(name);
    }
    const moved = await page.evaluate(() => {
      const zone = document.getElementById('drop-zone');
      const before = zone.scrollTop;
      zone.scrollTop += zone.clientHeight * 0.8;
      return zone.scrollTop !== before;
    });
    if (!moved) return seen;
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
  }
}

test(
    'a long folder shows every entry once, in order, and keys act on the entry picked far down',
    async () => {
      const place = makeScratchDirectory(harness.sshd, 'browse-virtual-');
      const names = [];
      const description = {};
      for (let i = 0; i < 700; i += 1) {
        const name = `item-${String(i).padStart(4, '0')}-${'x'.repeat(i % 7 === 0 ? 90 : 3)}.txt`;
        names.push(name);
        description[name] = 'v';
      }
      makeRemoteFiles(place, description);
      await goToPath(page, place);
      assert.equal(await textOf(page, '#status-items-count'), '700 items');
      // Only a part is built, yet the view scrolls over the whole folder.
      const built = await page.$$eval('#file-table-body tr:not(.virtual-spacer)', (r) => r.length);
      assert.ok(built < 300, `rows built: ${built}`);
      assert.deepEqual(await scrollThrough(page), names);

      // Scrolled to the end at once, the last entry is on screen.
      await page.evaluate(() => {
        const zone = document.getElementById('drop-zone');
        zone.scrollTop = zone.scrollHeight;
      });
      await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
      assert.equal((await namesOnScreen(page)).at(-1), names.at(-1));

      // Picked near the end, the entry is the one the status line, F2 and the menu act on.
      await rowOf(page, names[690]).click();
      assert.equal(await textOf(page, '#status-selection-info'), `Selected: ${names[690]} (1 B)`);
      await page.keyboard.press('F2');
      assert.equal(await page.inputValue('#input-rename'), names[690]);
      await page.click('#btn-cancel-rename');
      await rowOf(page, names[685]).click({button: 'right'});
      assert.equal(await page.evaluate(() => window.state.selectedItem.name), names[685]);
      await page.keyboard.press('Escape');
      assert.equal(await isHidden(page, '#context-menu'), true);

      // The selection is still marked after scrolling away and back.
      await page.evaluate(() => {
        document.getElementById('drop-zone').scrollTop = 0;
      });
      await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
      await page.evaluate(() => {
        const zone = document.getElementById('drop-zone');
        zone.scrollTop = zone.scrollHeight;
      });
      await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
      assert.deepEqual(
          await page.$$eval(
              '#file-table-body tr.selected .file-item-name', (c) => c.map((n) => n.textContent)),
          [names[685]]);

      // The grid too.
      await page.click('#btn-view-grid');
      assert.deepEqual(await scrollThrough(page), names);
      await page.click('#btn-view-list');
    });
