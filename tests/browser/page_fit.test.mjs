// The page at the default and at a small window size, in both themes, in Chromium against the
// program and the local sshd, judged as a person sees it: the active breadcrumb keeps its whole
// ring, crumbs cut at the left fade out, every list column and header shows its whole text and
// long names end in an ellipsis, the search placeholder is whole beside its badge, the viewer's
// mode switch stays put when Save appears and table headers follow the column's alignment; in
// the light theme the scroll bar thumb and the marks inside the coloured icons stand out from
// what lies beneath them (measured on screenshots).
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness, waitFor} from './harness.mjs';
import {goToPath, openAndConnect, waitForStill} from './page_helpers.mjs';

const SIZES = [{width: 1150, height: 750}, {width: 860, height: 560}];
// The palettes as the page chooses them: the two fixed themes, and the automatic one (the
// window's default) under a light system scheme.
const THEMES = [
  {name: 'light', scheme: 'light', className: 'theme-light'},
  {name: 'dark', scheme: 'dark', className: 'theme-dark'},
  {name: 'auto-light', scheme: 'light', className: 'theme-auto'},
];
const DEEP = 'projects/alpha-release-candidate/documentation/internal/collaborations/drafts';
const LONG_NAME =
    'a-very-long-file-name-that-goes-on-and-on-and-does-not-stop-anywhere-soon-at-all.txt';
const ALIGNED_TABLE = '# Table\n\n| left | right | centre | plain |\n|:---|---:|:---:|---|\n' +
    '| a | 1 | c | p |\n';

let harness;
let page;
let folder;

before(async () => {
  harness = await startHarness({browserOptions: {scrollBars: true}});
  page = harness.page;
  const root = makeScratchDirectory(harness.sshd, 'fit-');
  folder = `${root}/${DEEP}`;
  const files = {
    [`${DEEP}/${LONG_NAME}`]: 'x',
    [`${DEEP}/notes.md`]: ALIGNED_TABLE,
    [`${DEEP}/script.py`]: 'print(1)\n',
    [`${DEEP}/table.csv`]: 'a,b\n',
    [`${DEEP}/photo.png`]: 'x',
    [`${DEEP}/sub/`]: null,
  };
  // Enough rows for the list to scroll at both sizes.
  for (let i = 0; i < 60; i += 1) files[`${DEEP}/filler-${String(i).padStart(2, '0')}.txt`] = 'x';
  makeRemoteFiles(root, files);
  await openAndConnect(page, harness.program, harness.sshd);
  await goToPath(page, folder);
});

after(async () => {
  await harness?.close();
});

async function useTheme(theme) {
  await page.emulateMedia({colorScheme: theme.scheme});
  await page.evaluate((className) => {
    document.documentElement.className = className;
  }, theme.className);
  await page.mouse.move(2, 300);
  // The new colours ease in, and a new size is laid out (the list builds the rows now in view)
  // before the next frame: both are over once the page is still.
  await waitForStill(page);
}

// Runs `check(size, theme)` at every size in every theme, back at the default afterwards.
async function everywhere(check, themes = THEMES) {
  try {
    for (const size of SIZES) {
      await page.setViewportSize(size);
      for (const theme of themes) {
        await useTheme(theme);
        await check(size, theme);
      }
    }
  } finally {
    await page.setViewportSize(SIZES[0]);
    await useTheme(THEMES[2]);
  }
}

// The colours of the pixels of a screenshot of `clip`, as [r, g, b] rows (top to bottom).
async function pixelsOf(clip) {
  const png = await page.screenshot({clip});
  return page.evaluate(async (base64) => {
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    const image = await createImageBitmap(new Blob([bytes], {type: 'image/png'}));
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const data = context.getImageData(0, 0, image.width, image.height).data;
    const rows = [];
    for (let y = 0; y < image.height; y += 1) {
      const row = [];
      for (let x = 0; x < image.width; x += 1) {
        const at = (y * image.width + x) * 4;
        row.push([data[at], data[at + 1], data[at + 2]]);
      }
      rows.push(row);
    }
    return rows;
  }, png.toString('base64'));
}

function luminance([r, g, b]) {
  const channel = (value) => {
    const c = value / 255;
    return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
  };
  return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
}

function contrast(a, b) {
  const [light, dark] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (light + 0.05) / (dark + 0.05);
}

test('the active breadcrumb shows its whole ring and cut crumbs fade out', async () => {
  await everywhere(async (size, theme) => {
    const where = `${size.width}x${size.height} ${theme.name}`;
    const shown = await page.evaluate(() => {
      const track = document.getElementById('breadcrumbs');
      const pill = track.querySelector('.breadcrumb-pill.active');
      const box = track.getBoundingClientRect();
      // What the track shows: its padding box (it clips to it, as it scrolls sideways).
      const inner = {
        left: box.left + track.clientLeft,
        top: box.top + track.clientTop,
        right: box.left + track.clientLeft + track.clientWidth,
        bottom: box.top + track.clientTop + track.clientHeight,
      };
      const ring = pill.getBoundingClientRect();
      const style = getComputedStyle(track);
      return {
        inner,
        ring: {
          left: ring.left - 1,
          top: ring.top - 1,
          right: ring.right + 1,
          bottom: ring.bottom + 1
        },
        scrolled: track.scrollLeft > 0,
        fade: parseFloat(style.getPropertyValue('--crumb-fade')),
        mask: style.maskImage || style.webkitMaskImage,
        viewport: window.innerWidth,
      };
    });
    const message = `${where}: ${JSON.stringify(shown)}`;
    assert.ok(shown.ring.left >= shown.inner.left - 0.5, message);
    assert.ok(shown.ring.right <= shown.inner.right + 0.5, message);
    assert.ok(shown.ring.top >= shown.inner.top - 0.5, message);
    assert.ok(shown.ring.bottom <= shown.inner.bottom + 0.5, message);
    assert.ok(shown.ring.right <= shown.viewport, message);
    // The long path does not fit: the track is scrolled to its end and fades at its left edge.
    assert.ok(shown.scrolled, message);
    assert.ok(shown.fade >= 12 && /gradient/.test(shown.mask), message);
  });
  // A short path fits whole: its first crumb starts clear of the fade.
  await goToPath(page, '/');
  const start = await page.evaluate(() => {
    const track = document.getElementById('breadcrumbs');
    const fade = parseFloat(getComputedStyle(track).getPropertyValue('--crumb-fade'));
    const first = track.querySelector('.breadcrumb-pill').getBoundingClientRect().left - 1;
    return {scrolled: track.scrollLeft, clear: first - track.getBoundingClientRect().left - fade};
  });
  assert.deepEqual(
      {scrolled: start.scrolled, clear: start.clear >= -1}, {scrolled: 0, clear: true});
  await goToPath(page, folder);
  await saveScreenshot(page, 'page-fit-breadcrumbs');
});

test(
    'every column and header shows its whole text, long names end in an ellipsis, and the toolbar fits',
    async () => {
      await everywhere(async (size, theme) => {
        const where = `${size.width}x${size.height} ${theme.name}`;
        // The long name's row, near the top of the folder, is built and on screen.
        await page.evaluate(() => {
          document.getElementById('drop-zone').scrollTop = 0;
        });
        await page.waitForFunction((wanted) => {
          const view = document.getElementById('drop-zone').getBoundingClientRect();
          return [...document.querySelectorAll('#file-table-body .file-item-name')].some(
              (name) => name.textContent === wanted &&
                  name.getBoundingClientRect().bottom <= view.bottom);
        }, LONG_NAME);
        const found = await page.evaluate(() => {
          const problems = [];
          // The width of an element's text (as shown: transformed, spaced) in its own font,
          // against the room its box gives it.
          const context = new OffscreenCanvas(1, 1).getContext('2d');
          const textWidth = (element, text = element.innerText) => {
            const style = getComputedStyle(element);
            context.font = `${style.fontWeight} ${style.fontSize} ${style.fontFamily}`;
            context.letterSpacing = style.letterSpacing === 'normal' ? '0px' : style.letterSpacing;
            return context.measureText(text).width;
          };
          const room = (element) => {
            const style = getComputedStyle(element);
            return element.getBoundingClientRect().width - parseFloat(style.paddingLeft) -
                parseFloat(style.paddingRight) - parseFloat(style.borderLeftWidth) -
                parseFloat(style.borderRightWidth);
          };
          const cut = (element) => textWidth(element) > room(element) + 0.5;
          const view = document.getElementById('drop-zone').getBoundingClientRect();
          const onScreen = (element) => {
            const box = element.getBoundingClientRect();
            return box.bottom > view.top && box.top < view.bottom;
          };
          for (const header of document.querySelectorAll('.file-table th')) {
            if (cut(header)) {
              problems.push(
                  `header "${header.textContent.trim()}": ${textWidth(header)} > ${room(header)}`);
            }
          }
          const rows = [...document.querySelectorAll('#file-table-body tr')].filter(onScreen);
          for (const row of rows) {
            for (const cell of row.querySelectorAll('td:not(.col-name)')) {
              if (cut(cell)) {
                problems.push(
                    `${cell.className} "${cell.textContent}": ${textWidth(cell)} > ${room(cell)}`);
              }
            }
            const cell = row.querySelector('td.col-name');
            const name = row.querySelector('.file-item-name');
            const cellBox = cell.getBoundingClientRect();
            const padding = parseFloat(getComputedStyle(cell).paddingRight);
            const nameBox = name.getBoundingClientRect();
            if (nameBox.right > cellBox.right - padding + 0.5) {
              problems.push(`name "${name.textContent}" runs past its cell`);
            }
            if (cut(name) && getComputedStyle(name).textOverflow !== 'ellipsis') {
              problems.push(`name "${name.textContent}" cut without an ellipsis`);
            }
          }
          const long = rows.map((row) => row.querySelector('.file-item-name'))
                           .find((name) => name.textContent.startsWith('a-very-long'));
          if (!long || !cut(long)) {
            problems.push('the long name is not shortened');
          }
          // The toolbar's controls stay inside the window.
          for (const control of document.querySelectorAll('.toolbar button, .toolbar input')) {
            const box = control.getBoundingClientRect();
            if (box.width > 0 && (box.right > window.innerWidth || box.left < 0)) {
              problems.push(`${control.id || control.className} outside the window`);
            }
          }
          // The whole placeholder beside the shortcut badge, with room to spare for the wider
          // fallback fonts of the window.
          const input = document.getElementById('search-input');
          const needed = textWidth(input, input.placeholder) * 1.1;
          const field = room(input);
          if (needed > field) problems.push(`placeholder needs ${needed} px, has ${field} px`);
          const badge = document.querySelector('.search-shortcut-badge');
          const badgeBox = badge.getBoundingClientRect();
          if (badgeBox.width > 0 && badgeBox.left < input.getBoundingClientRect().right - 0.5) {
            problems.push('the shortcut badge covers the search field');
          }
          return problems;
        });
        assert.deepEqual(found, [], where);
      });
      await page.setViewportSize(SIZES[1]);
      await saveScreenshot(page, 'page-fit-list-860');
      await page.setViewportSize(SIZES[0]);
    });

test(
    'the viewer mode switch stays put when Save appears; table headers follow the alignment',
    async () => {
      await everywhere(async (size, theme) => {
        try {
          await alignmentAndSwitch(size, theme);
        } finally {
          await page.keyboard.press('Escape');
        }
      });
    });

async function alignmentAndSwitch(size, theme) {
  {
    const where = `${size.width}x${size.height} ${theme.name}`;
    await page.evaluate(
        (path) => window.openMarkdownViewer({name: 'notes.md', path}), `${folder}/notes.md`);
    await waitFor(
        () => page.evaluate(
            () => document.getElementById('md-save-status').textContent.startsWith('Loaded')),
        {what: 'the document to load'});
    // The alignment attribute computes to -webkit-left and so on; no alignment is "start".
    const alignment = await page.$$eval(
        '#md-rendered-content table tr',
        (rows) => rows.map(
            (row) => [...row.children].map(
                (cell) => getComputedStyle(cell)
                              .textAlign.replace('-webkit-', '')
                              .replace('start', 'left'))));
    assert.deepEqual(
        alignment[0], ['left', 'right', 'center', 'left'], `${where} ${JSON.stringify(alignment)}`);
    assert.deepEqual(alignment[0], alignment[1], where);

    const switchBox = () => page.$eval('#md-view-modes', (element) => {
      const box = element.getBoundingClientRect();
      return {left: box.left, right: box.right};
    });
    await page.click('#tab-md-edit');
    // The tabs ease into their Edit look: the switch is measured once that is over.
    await waitForStill(page, '#modal-md-viewer');
    const before = await switchBox();
    await page.focus('#md-raw-textarea');
    await page.keyboard.press('End');
    await page.keyboard.type('x');
    await page.waitForSelector('#btn-md-save:not(.hidden)');
    const withSave = await switchBox();
    const save = await page.$eval('#btn-md-save', (button) => {
      const box = button.getBoundingClientRect();
      return {right: box.right, width: box.width, viewport: window.innerWidth};
    });
    assert.deepEqual(withSave, before, where);
    assert.ok(save.width > 0 && save.right <= save.viewport, `${where} ${JSON.stringify(save)}`);
    if (size.width === SIZES[1].width && theme.name === 'light') {
      await saveScreenshot(page, 'page-fit-viewer-860');
    }
    // Typing the character away again leaves nothing to save: back in Preview, Save goes.
    await page.keyboard.press('Backspace');
    await page.click('#tab-md-view');
    await page.waitForSelector('#btn-md-save.hidden', {state: 'attached'});
    assert.deepEqual(await switchBox(), before, where);
    await page.click('#btn-close-md-viewer');
  }
}

test('in the light theme the scroll bar thumb and the icon marks stand out', async () => {
  const lightThemes = THEMES.filter((theme) => theme.scheme === 'light');
  await everywhere(async (size, theme) => {
    const where = `${size.width}x${size.height} ${theme.name}`;
    // The list's scroll bar, at the top of the list: thumb above, bare track below.
    const bar = await page.evaluate(() => {
      const view = document.getElementById('drop-zone');
      view.scrollTop = 0;
      const box = view.getBoundingClientRect();
      const width = view.offsetWidth - view.clientWidth - view.clientLeft;
      return {x: box.right - width, top: box.top, height: box.height, width};
    });
    assert.ok(bar.width > 0, `${where}: the list has a scroll bar`);
    const strip = await pixelsOf({
      x: Math.round(bar.x),
      y: Math.round(bar.top),
      width: Math.max(1, Math.floor(bar.width)),
      height: Math.round(bar.height)
    });
    const middle = Math.floor(strip[0].length / 2);
    const column = strip.map((row) => row[middle]);
    const thumb = column[Math.floor(column.length * 0.1)];
    const track = column.at(-4);
    const barContrast = contrast(thumb, track);
    assert.ok(barContrast >= 1.5, `${where}: thumb ${thumb} on ${track}: ${barContrast}`);

    // The inner marks of the coloured icons, drawn large in the grid view: the strongest
    // contrast inside the icon's middle against the icon's own tint there.
    await page.click('#btn-view-grid');
    await page.waitForSelector('#grid-view-wrapper:not(.hidden)');
    for (const name of ['notes.md', 'script.py', 'table.csv', 'photo.png']) {
      // The long folder builds only the cards near the view: the filter brings the card there.
      // Without the scroll bar the view is wider, and the cards are built again for the new
      // width in the next frame: the card is taken once that is over.
      await page.fill('#search-input', name);
      await waitForStill(page);
      const card = page.locator('#file-grid .grid-card').filter({
        has: page.locator(`.grid-card-label:text-is(${JSON.stringify(name)})`),
      });
      await card.scrollIntoViewIfNeeded();
      await waitForStill(page);
      const box = await card.locator('.entry-icon').first().evaluate((icon) => {
        const rect = icon.getBoundingClientRect();
        return {x: rect.left, y: rect.top, width: rect.width, height: rect.height};
      });
      const pixels = await pixelsOf({
        x: Math.round(box.x + box.width * 0.3),
        y: Math.round(box.y + box.height * 0.3),
        width: Math.round(box.width * 0.4),
        height: Math.round(box.height * 0.4),
      });
      const all = pixels.flat();
      const sorted = [...all].sort((a, b) => luminance(a) - luminance(b));
      const tint = sorted[Math.floor(sorted.length / 2)];
      const strongest = Math.max(...all.map((pixel) => contrast(pixel, tint)));
      assert.ok(strongest >= 1.5, `${where} ${name}: marks reach ${strongest} against ${tint}`);
    }
    await page.fill('#search-input', '');
    await page.click('#btn-view-list');
    await page.waitForSelector('#list-view-wrapper:not(.hidden)');
  }, lightThemes);
});
