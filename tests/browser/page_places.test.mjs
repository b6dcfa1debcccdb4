// Where the user goes and what stays in view, in Chromium against the program and the local
// sshd: a link to a folder opens that folder under the link's own path; a switch between list and
// grid keeps the selected entry, or the entries at the top, in view; the root crumb shows whole,
// a cut name keeps its extension, and the viewer's footer shows no stale count.
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {recordToasts, storedGroups} from './action_helpers.mjs';
import {makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness} from './harness.mjs';
import {goToPath, isHidden, listedNames, openAndConnect, rowCells, rowOf, waitForFolder} from './page_helpers.mjs';

const MANY = 5000;
const LONG_NAME = 'quarterly-report-of-the-northern-region-with-all-appendices-00004.xlsx';

let harness;
let page;
let scratch;

before(async () => {
  harness = await startHarness();
  page = harness.page;
  await recordToasts(page);
  scratch = makeScratchDirectory(harness.sshd, 'places-');
  const files = {
    'target/inside.txt': 'inside\n',
    'links/to-folder': {symlink: '../target'},
    'links/to-file': {symlink: '../target/inside.txt'},
    'links/dangling': {symlink: '../missing'},
    'links/plain.md': '# Plain\n\nSome words.\n',
    [`long/${LONG_NAME}`]: 'x',
    'long/short.txt': 'x',
  };
  for (let i = 0; i < MANY; i += 1) files[`many/file-${String(i).padStart(5, '0')}.txt`] = 'x';
  makeRemoteFiles(scratch, files);
  await page.goto(harness.program.url);
  await page.evaluate(() => localStorage.clear());
  await openAndConnect(page, harness.program, harness.sshd);
});

after(async () => {
  await harness?.close();
});

// The text of the last breadcrumb and its title.
const lastCrumb = () => page.$eval(
    '#breadcrumbs .breadcrumb-pill:last-child', (pill) => [pill.textContent, pill.title]);

test('a link to a folder opens that folder under its own path, however it is opened', async () => {
  const links = `${scratch}/links`;
  const inside = `${links}/to-folder`;
  const expectInside = async (how) => {
    await waitForFolder(page, inside);
    assert.deepEqual(await listedNames(page), ['inside.txt'], how);
    assert.deepEqual(await lastCrumb(), ['to-folder', inside], how);
    assert.equal(await isHidden(page, '#modal-md-viewer'), true, how);
  };
  await goToPath(page, links);
  // The listing keeps the link a link, among the files, and its row says where it leads.
  assert.deepEqual(await listedNames(page), ['dangling', 'plain.md', 'to-file', 'to-folder']);
  const icon = (name) => rowOf(page, name).locator('.file-item-icon').getAttribute('class');
  assert.match(await icon('to-folder'), /\bicon-folder-link\b/);
  assert.equal((await rowCells(page, 'to-folder')).kind, 'Folder');
  assert.doesNotMatch(await icon('to-file'), /folder/);
  assert.doesNotMatch(await icon('dangling'), /folder/);

  await rowOf(page, 'to-folder').dblclick();
  await expectInside('double-click');
  await page.click('#btn-back');
  await waitForFolder(page, links);

  await rowOf(page, 'to-folder').click();
  await page.keyboard.press('Enter');
  await expectInside('Enter');
  await page.click('#btn-back');
  await waitForFolder(page, links);

  await rowOf(page, 'to-folder').click({button: 'right'});
  await page.click('#ctx-open');
  await expectInside('the item menu');
  await page.click('#btn-back');
  await waitForFolder(page, links);

  // Bookmarked, it is a folder bookmark that opens the folder.
  await rowOf(page, 'to-folder').click();
  await page.click('#btn-add-quick-access');
  const bookmark = (await storedGroups(page))[0].bookmarks.find((b) => b.path === inside);
  assert.equal(bookmark.is_dir, true);
  await goToPath(page, scratch);
  await page.click(`#quick-access-container li.qa-item[data-path="${inside}"] .qa-item-main`);
  await expectInside('a bookmark');

  // A bookmark kept as a file's before still leads into the folder.
  await page.evaluate((path) => {
    const groups = JSON.parse(localStorage.getItem('wrenfield_quick_access_v2'));
    groups[0].bookmarks.find((b) => b.path === path).is_dir = false;
    localStorage.setItem('wrenfield_quick_access_v2', JSON.stringify(groups));
  }, inside);
  await goToPath(page, scratch);
  await page.evaluate(() => document.getElementById('btn-refresh').click());
  await waitForFolder(page, scratch);
  await page.click(`#quick-access-container li.qa-item[data-path="${inside}"] .qa-item-main`);
  await expectInside('a bookmark kept as a file');

  // A link to a file opens in the viewer, as any file does; so does a dangling link, which
  // fails there.
  await goToPath(page, links);
  await rowOf(page, 'to-file').dblclick();
  await page.waitForFunction(
      () => document.getElementById('md-rendered-content').textContent.includes('inside'));
  await page.click('#btn-close-md-viewer');
  await rowOf(page, 'dangling').dblclick();
  await page.waitForFunction(
      () => document.getElementById('md-rendered-content')
                .textContent.startsWith('Error loading file: '));
  await page.click('#btn-close-md-viewer');
  assert.equal(await page.evaluate(() => window.state.currentPath), links);
});

test('a failed load leaves no count of the file before in the viewer footer', async () => {
  await goToPath(page, `${scratch}/links`);
  await rowOf(page, 'plain.md').dblclick();
  await page.waitForFunction(
      () => document.getElementById('md-save-status').textContent.startsWith('Loaded'));
  assert.equal(await page.textContent('#md-char-count'), '21 characters, 4 lines');
  await page.click('#btn-close-md-viewer');
  await rowOf(page, 'dangling').dblclick();
  await page.waitForFunction(
      () => document.getElementById('md-save-status').textContent === 'Error');
  assert.equal(await page.textContent('#md-char-count'), '');
  await page.click('#btn-close-md-viewer');
});

// The place of the file view: the names of the first row of entries with more than half of it
// below the top edge of the part where entries show (below the list's header); and the selected
// entry's box against that part.
function viewPlace() {
  return page.evaluate(() => {
    const zone = document.getElementById('drop-zone').getBoundingClientRect();
    const grid = !document.getElementById('grid-view-wrapper').classList.contains('hidden');
    const top = grid ?
        zone.top :
        document.querySelector('#file-table thead th').getBoundingClientRect().bottom;
    const entries = grid ?
        [...document.querySelectorAll('#file-grid .grid-card')] :
        [...document.querySelectorAll('#file-table-body tr:not(.virtual-spacer)')];
    const label = (entry) => entry.querySelector('.file-item-name, .grid-card-label').textContent;
    const first = entries.find((entry) => {
      const box = entry.getBoundingClientRect();
      return box.bottom - top > box.height / 2;
    });
    const firstTop = first?.getBoundingClientRect().top;
    const selected = entries.find((entry) => entry.classList.contains('selected'));
    const box = selected?.getBoundingClientRect();
    return {
      grid,
      scrollTop: document.getElementById('drop-zone').scrollTop,
      topRow: entries.filter((entry) => entry.getBoundingClientRect().top === firstTop).map(label),
      selected: selected ? label(selected) : null,
      selectedInView: box ? box.top >= top - 1 && box.bottom <= zone.bottom + 1 : false,
    };
  });
}

const nameAt = (index) => `file-${String(index).padStart(5, '0')}.txt`;

// Scrolls the file view so that entry `index` is about at the top, and waits until it is built.
async function scrollNear(index) {
  await page.evaluate((at) => {
    const zone = document.getElementById('drop-zone');
    const grid = !document.getElementById('grid-view-wrapper').classList.contains('hidden');
    const entry = document.querySelector(
        grid ? '#file-grid .grid-card' : '#file-table-body tr:not(.virtual-spacer)');
    const columns = grid ? getComputedStyle(document.getElementById('file-grid'))
                               .gridTemplateColumns.split(' ')
                               .length :
                           1;
    const pitch = entry.getBoundingClientRect().height + (grid ? 16 : 0);
    zone.scrollTop = Math.floor(at / columns) * pitch;
  }, index);
  await page.waitForFunction(
      (name) => [...document.querySelectorAll('.file-item-name, .grid-card-label')].some(
          (label) => label.textContent === name),
      nameAt(index));
}

test(
    'a switch between list and grid keeps the selected entry, or the top entries, in view',
    async () => {
      await goToPath(page, `${scratch}/many`);
      assert.equal(await page.textContent('#status-items-count'), `${MANY} items`);

      // Selected deep in the list, the entry stays in view in the grid and back in the list.
      await scrollNear(3210);
      await rowOf(page, nameAt(3212)).click();
      for (const view of ['grid', 'list', 'grid', 'list']) {
        await page.click(`#btn-view-${view}`);
        const place = await viewPlace();
        assert.deepEqual(
            [place.grid, place.selected, place.selectedInView],
            [view === 'grid', nameAt(3212), true], `${view}: ${JSON.stringify(place)}`);
      }
      await saveScreenshot(page, 'places-view-switch-selected');

      // Selected out of view (scrolled away), it is brought into view.
      await scrollNear(100);
      await page.click('#btn-view-grid');
      let place = await viewPlace();
      assert.deepEqual([place.selected, place.selectedInView], [nameAt(3212), true]);

      // Without a selection (a refresh clears it), the entries at the top stay at the top:
      // the grid's top row holds the list's top entry, and the list then starts with the
      // grid's first.
      await page.click('#btn-view-list');
      await page.click('#btn-refresh');
      await page.waitForFunction(() => window.state.selectedItem === null);
      await waitForFolder(page, `${scratch}/many`);
      await scrollNear(2345);
      const listTop = (await viewPlace()).topRow;
      assert.equal(listTop.length, 1);
      await page.click('#btn-view-grid');
      place = await viewPlace();
      assert.ok(place.topRow.includes(listTop[0]), `${listTop[0]}: ${JSON.stringify(place)}`);
      const gridFirst = place.topRow[0];
      await page.click('#btn-view-list');
      assert.deepEqual((await viewPlace()).topRow, [gridFirst]);

      // At the very top, the view stays at the very top.
      await page.evaluate(() => {
        document.getElementById('drop-zone').scrollTop = 0;
      });
      for (const view of ['grid', 'list']) {
        await page.click(`#btn-view-${view}`);
        place = await viewPlace();
        assert.deepEqual([place.scrollTop, place.topRow[0]], [0, nameAt(0)], view);
      }
    });

test('the root crumb shows whole at "/" after a deep path; only a cut trail fades', async () => {
  const crumbs = () => page.evaluate(() => {
    const track = document.getElementById('breadcrumbs');
    const box = track.getBoundingClientRect();
    const root = track.querySelector('.breadcrumb-pill').getBoundingClientRect();
    const style = getComputedStyle(track);
    return {
      scrolled: track.scrollLeft > 0,
      faded: /gradient/.test(style.maskImage || style.webkitMaskImage),
      rootInside: root.left >= box.left + track.clientLeft && root.right <= box.right,
    };
  });
  await page.setViewportSize({width: 860, height: 560});
  try {
    const deep = `${scratch}/a-rather-long-folder-name/another-long-folder-name/and-one-more`;
    makeRemoteFiles(
        scratch, {'a-rather-long-folder-name/another-long-folder-name/and-one-more/': null});
    await goToPath(page, deep);
    assert.deepEqual(await crumbs(), {scrolled: true, faded: true, rootInside: false});
    await page.click('#breadcrumbs .breadcrumb-pill >> nth=0');
    await waitForFolder(page, '/');
    assert.deepEqual(await crumbs(), {scrolled: false, faded: false, rootInside: true});
    await saveScreenshot(page, 'places-root-crumb');
  } finally {
    await page.setViewportSize({width: 1150, height: 750});
  }
});

test('at 850 px a cut name keeps its extension in view; the whole name is its title', async () => {
  await page.setViewportSize({width: 850, height: 600});
  try {
    await goToPath(page, `${scratch}/long`);
    const shown = await rowOf(page, LONG_NAME).evaluate((row) => {
      const cell = row.querySelector('td.col-name');
      const name = row.querySelector('.file-item-name');
      const head = name.querySelector('.name-head');
      const tail = name.querySelector('.name-tail');
      const room =
          cell.getBoundingClientRect().right - parseFloat(getComputedStyle(cell).paddingRight);
      return {
        title: name.title,
        text: name.textContent,
        headCut: head.scrollWidth > head.clientWidth,
        headEllipsis: getComputedStyle(head).textOverflow,
        tail: tail.textContent,
        tailWhole: tail.scrollWidth <= tail.clientWidth &&
            tail.getBoundingClientRect().right <= room + 0.5,
        tailWidth: tail.getBoundingClientRect().width,
      };
    });
    assert.deepEqual(shown, {
      title: LONG_NAME,
      text: LONG_NAME,
      headCut: true,
      headEllipsis: 'ellipsis',
      tail: '004.xlsx',
      tailWhole: true,
      tailWidth: shown.tailWidth,
    });
    assert.ok(shown.tailWidth > 20, JSON.stringify(shown));
    // A name that fits shows whole, as one text.
    const short = await rowOf(page, 'short.txt').evaluate((row) => {
      const name = row.querySelector('.file-item-name');
      return {cut: name.scrollWidth > name.clientWidth, title: name.title};
    });
    assert.deepEqual(short, {cut: false, title: 'short.txt'});
    // Actions take the whole name.
    await rowOf(page, LONG_NAME).click();
    await page.keyboard.press('F2');
    assert.equal(await page.inputValue('#input-rename'), LONG_NAME);
    await page.click('#btn-cancel-rename');
    await saveScreenshot(page, 'places-long-name-850');
  } finally {
    await page.setViewportSize({width: 1150, height: 750});
  }
});
