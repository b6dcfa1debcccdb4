// The page at home on Linux, in Chromium against the program and the local sshd: its wording
// names this platform's keys, the toolbar keeps one row at the default window size, the active
// states show in the light theme, file names keep their spaces, the drop overlay never stays
// behind a drag, and the page's menus stay out of the viewer and the modals.
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {expandTreeTo, recordToasts, toastMark, toastsSince} from './action_helpers.mjs';
import {makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness, waitFor} from './harness.mjs';
import {goToPath, openAndConnect, rowOf, waitForFolder, waitForStill} from './page_helpers.mjs';

const LONG_LABEL = 'root@build-server-eu-west-2';
const SPACED_NAMES = [' lead.txt', 'two  spaces.txt', 'trailing .txt'];
const SPACED_FOLDER = 'two  rooms';
const MAC_WORDS = /\bcmd\b|⌘|\bmac\b|\bmacos\b/i;

let harness;
let page;
let root;

// Makes the page see `platform` as navigator.platform and navigator.userAgentData.platform.
function pretendPlatform(target, platform) {
  return target.addInitScript((name) => {
    Object.defineProperty(Navigator.prototype, 'platform', {get: () => name});
    if ('userAgentData' in navigator) {
      const data = {platform: name, brands: [], mobile: false};
      Object.defineProperty(Navigator.prototype, 'userAgentData', {get: () => data});
    }
  }, platform);
}

before(async () => {
  harness = await startHarness();
  page = harness.page;
  await pretendPlatform(page, 'Linux x86_64');
  await recordToasts(page);
  root = makeScratchDirectory(harness.sshd, 'platform-');
  const files = Object.fromEntries(SPACED_NAMES.map((name) => [name, 'x']));
  makeRemoteFiles(
      root,
      {...files, [`${SPACED_FOLDER}/inner.txt`]: 'in', 'notes.md': '# Notes\n\nPlain text.\n'});
  await openAndConnect(page, harness.program, harness.sshd);
  await goToPath(page, root);
});

after(async () => {
  await harness?.close();
});

// Every text a person can read in the document, shown or not: text, titles, placeholders,
// labels and the values of buttons.
function readableTexts(target) {
  return target.evaluate(() => {
    const texts = [];
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      const parent = node.parentElement;
      if (parent && !['SCRIPT', 'STYLE'].includes(parent.tagName) && node.nodeValue.trim()) {
        texts.push(node.nodeValue.trim());
      }
    }
    for (const element of document.querySelectorAll(
             '[title], [placeholder], [aria-label], [alt], input[type=button]')) {
      for (const name of ['title', 'placeholder', 'aria-label', 'alt', 'value']) {
        if (element.getAttribute(name)) texts.push(element.getAttribute(name));
      }
    }
    texts.push(document.title);
    return texts;
  });
}

async function openViewer(name) {
  await page.evaluate((file) => window.openMarkdownViewer(file), {name, path: `${root}/${name}`});
  await waitFor(
      async () => !['Loading...', 'Ready'].includes(await page.textContent('#md-save-status')), {
        what: `the read of ${name}`,
      });
}

async function closeViewer() {
  await page.click('#btn-close-md-viewer');
  await page.waitForSelector('#modal-md-viewer.hidden', {state: 'attached'});
}

test('on Linux no text names a Mac or its keys, and the shortcuts name Ctrl', async () => {
  const found = new Set(await readableTexts(page));
  // The viewer with a file, and the feedback studio, as they are shown.
  await openViewer('notes.md');
  await page.click('#tab-md-edit');
  for (const text of await readableTexts(page)) found.add(text);
  await closeViewer();
  await page.evaluate(() => window.FeedbackStudio.startCapture());
  await page.click('#btn-confirm-crop');
  await page.waitForSelector('#modal-feedback:not(.hidden)');
  for (const text of await readableTexts(page)) found.add(text);
  await page.click('#btn-close-feedback');
  // The three theme toasts.
  const mark = await toastMark(page);
  for (let turn = 0; turn < 3; turn += 1) await page.click('#btn-toggle-theme');
  for (const text of await toastsSince(page, mark)) found.add(text);

  const offending = [...found].filter((text) => MAC_WORDS.test(text));
  assert.deepEqual(offending, []);
  assert.ok(found.has('Theme: Auto (System)'));
  const shown =
      await page.evaluate(() => ({
                            download: document.querySelector('#ctx-download span').textContent,
                            viewerDownload: document.getElementById('btn-md-download').title,
                            path: document.getElementById('breadcrumb-container').title,
                            save: document.getElementById('btn-md-save').textContent.trim(),
                            saveTitle: document.getElementById('btn-md-save').title,
                            badge: document.querySelector('.search-shortcut-badge').textContent,
                            up: document.getElementById('btn-up').title,
                          }));
  assert.deepEqual(shown, {
    download: 'Download',
    viewerDownload: 'Download file',
    path: 'Click to edit or paste path (Ctrl+L)',
    save: 'Save (Ctrl+S)',
    saveTitle: 'Save to Remote (Ctrl+S)',
    badge: 'Ctrl F',
    up: 'Enclosing Folder (Ctrl+Up)',
  });
});

test('on a Mac the same texts name Cmd', async () => {
  const context = await harness.browser.browser.newContext();
  try {
    const macPage = await context.newPage();
    await pretendPlatform(macPage, 'macOS');
    await macPage.goto(harness.program.url);
    await macPage.waitForFunction(
        () => document.querySelector('.search-shortcut-badge').textContent !== 'Ctrl F');
    const texts = await readableTexts(macPage);
    assert.ok(texts.includes('Cmd F'));
    assert.ok(texts.includes('Copy Remote Path (Cmd+Shift+C)'));
    assert.ok(texts.includes('Save (Cmd+S)'));
    assert.deepEqual(texts.filter((text) => /\bCtrl\b/.test(text)), []);
  } finally {
    await context.close();
  }
});

// The toolbar's height and whether its three sections share one row inside the window.
function toolbarLayout() {
  return page.evaluate(() => {
    const box = (selector) => document.querySelector(selector).getBoundingClientRect();
    const toolbar = box('.toolbar');
    const sections =
        ['.toolbar-section.left', '.toolbar-section.center', '.toolbar-section.right'].map(box);
    const label = document.getElementById('host-label');
    const track = document.getElementById('breadcrumbs');
    return {
      height: Math.round(toolbar.height),
      oneRow: sections.every((section) => Math.abs(section.top - sections[0].top) < 1),
      inside: sections.every((section) => section.right <= toolbar.right + 0.5),
      breadcrumbWidth: Math.round(sections[1].width),
      labelWidth: Math.round(label.getBoundingClientRect().width),
      labelWhole: label.scrollWidth <= label.clientWidth,
      deepestShown: track.scrollLeft + track.clientWidth >= track.scrollWidth - 1,
    };
  });
}

async function resize(width) {
  await page.setViewportSize({width, height: 750});
  // The search box eases to its width at the breakpoints.
  await waitForStill(page);
}

test(
    'connected with a long label the toolbar keeps one row down to the narrowest breakpoint',
    async () => {
      await page.evaluate((text) => {
        document.getElementById('host-label').textContent = text;
      }, LONG_LABEL);
      try {
        await resize(1150);
        const atDefault = await toolbarLayout();
        assert.equal(atDefault.height, 52);
        assert.ok(
            atDefault.oneRow && atDefault.inside && atDefault.deepestShown,
            JSON.stringify(atDefault));
        assert.ok(atDefault.labelWhole, 'the whole label shows at the default width');
        // Narrower, the breadcrumb bar shrinks to its minimum first, then the label is cut.
        for (const width of [1000, 951, 950, 800, 741]) {
          await resize(width);
          const layout = await toolbarLayout();
          assert.ok(
              layout.height === 52 && layout.oneRow && layout.inside && layout.deepestShown,
              `${width}: ${JSON.stringify(layout)}`);
          assert.ok(
              layout.breadcrumbWidth >= 100 && layout.labelWidth >= 40,
              `${width}: ${JSON.stringify(layout)}`);
        }
        // Even at its narrowest the bar leaves the direct path input room to type in.
        await page.click('#btn-edit-path');
        const inputWidth =
            await page.$eval('#path-direct-input', (input) => input.getBoundingClientRect().width);
        assert.ok(inputWidth >= 60, `the path input is ${inputWidth} px wide`);
        await page.press('#path-direct-input', 'Escape');
        await resize(740);
        assert.equal(
            (await toolbarLayout()).oneRow, false, 'the breadcrumb bar has its own row at 740 px');
      } finally {
        await resize(1150);
      }
    });

test('connected screenshots at the default size, light and dark', async () => {
  await page.evaluate((text) => {
    document.getElementById('host-label').textContent = text;
  }, LONG_LABEL);
  await page.mouse.move(700, 500);
  for (const scheme of ['light', 'dark']) {
    await page.evaluate(() => localStorage.setItem('wrenfield_theme', 'auto'));
    await page.emulateMedia({colorScheme: scheme});
    await page.evaluate(() => document.documentElement.className = 'theme-auto');
    await waitForStill(page);
    assert.equal((await toolbarLayout()).height, 52);
    await saveScreenshot(page, `platform-connected-1150x750-${scheme}`);
  }
  await page.emulateMedia({colorScheme: 'light'});
});

// How well the element's state stands out from what is around it: the larger of the contrast
// ratios of its fill and of its edge (border, or a one-pixel ring) against the surface below.
function stateContrast(selector) {
  return page.evaluate((query) => {
    const parse = (text) => {
      const match = /rgba?\(([^)]+)\)/.exec(text || '');
      if (!match) return null;
      const [r, g, b, a = 1] = match[1].split(',').map(Number);
      return {r, g, b, a};
    };
    const over = (top, bottom) => ({
      r: top.r * top.a + bottom.r * (1 - top.a),
      g: top.g * top.a + bottom.g * (1 - top.a),
      b: top.b * top.a + bottom.b * (1 - top.a),
      a: 1,
    });
    // The opaque colour of the surface under `element`, painted from the root down.
    const surface = (element) => {
      const chain = [];
      for (let node = element; node; node = node.parentElement) chain.unshift(node);
      return chain.reduce(
          (colour, node) => over(parse(getComputedStyle(node).backgroundColor), colour), {
            r: 255,
            g: 255,
            b: 255,
            a: 1,
          });
    };
    const luminance = ({r, g, b}) => {
      const channel = (value) => {
        const s = value / 255;
        return s <= 0.03928 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
      };
      return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
    };
    const ratio = (one, two) => {
      const [light, dark] = [luminance(one), luminance(two)].sort((x, y) => y - x);
      return (light + 0.05) / (dark + 0.05);
    };
    const element = document.querySelector(query);
    const style = getComputedStyle(element);
    const below = surface(element.parentElement);
    const fill = over(parse(style.backgroundColor), below);
    const ring = /rgba?\([^)]+\) 0px 0px 0px 1px/.exec(style.boxShadow);
    const edgeColour =
        parseFloat(style.borderTopWidth) > 0 ? parse(style.borderTopColor) : ring && parse(ring[0]);
    const edge = edgeColour ? over(edgeColour, fill) : fill;
    return Math.max(ratio(fill, below), ratio(edge, below));
  }, selector);
}

test(
    'the active view toggle, the active breadcrumb and the breadcrumb hover show in the light theme',
    async () => {
      const measure = async () => {
        await page.mouse.move(5, 400);
        await waitForStill(page);
        const toggle = await stateContrast('#btn-view-list.active');
        const crumb = await stateContrast('.breadcrumb-pill.active');
        const resting = await stateContrast('#breadcrumb-container');
        await page.hover('#breadcrumb-container .breadcrumb-separator');
        await waitForStill(page);
        const hovered = await stateContrast('#breadcrumb-container');
        return {toggle, crumb, hover: hovered / resting};
      };
      const results = {};
      for (const [name, scheme, theme] of [
               ['dark', 'dark', 'theme-dark'],
               ['light', 'light', 'theme-light'],
               ['auto-light', 'light', 'theme-auto'],
      ]) {
        await page.emulateMedia({colorScheme: scheme});
        await page.evaluate((className) => {
          document.documentElement.className = className;
        }, theme);
        results[name] = await measure();
      }
      for (const name of ['light', 'auto-light']) {
        const light = results[name];
        const message = JSON.stringify(results);
        assert.ok(light.toggle >= 1.3 && light.toggle >= results.dark.toggle * 0.9, message);
        assert.ok(light.crumb >= 1.3 && light.crumb >= results.dark.crumb * 0.9, message);
        assert.ok(light.hover >= 1.2, message);
      }
      await page.emulateMedia({colorScheme: 'light'});
      await page.evaluate(() => {
        document.documentElement.className = 'theme-auto';
      });
    });

test(
    'file names keep their spaces and their direction is isolated, in rows, cards, tree and bookmarks',
    async () => {
      // The two parts of a name cut in its middle are laid out side by side, apart, which
      // innerText marks with a line break.
      const shownNames = (selector) => page.$$eval(
          selector,
          (elements) => elements.map((element) => ({
                                       text: element.innerText.replaceAll('\n', ''),
                                       bidi: getComputedStyle(element).unicodeBidi
                                     })),
      );
      const check = async (selector, expected) => {
        const shown = await shownNames(selector);
        for (const name of expected) {
          assert.ok(
              shown.some((entry) => entry.text === name),
              `${selector}: ${JSON.stringify(name)} in ${JSON.stringify(shown)}`);
        }
        assert.ok(
            shown.every((entry) => entry.bidi === 'isolate'),
            `${selector}: ${JSON.stringify(shown)}`);
      };
      await check('#file-table-body .file-item-name', [...SPACED_NAMES, SPACED_FOLDER]);
      await page.click('#btn-view-grid');
      await check('#file-grid .grid-card-label', [...SPACED_NAMES, SPACED_FOLDER]);
      await page.click('#btn-view-list');
      await expandTreeTo(page, root);
      await check('#directory-tree-container .tree-label', [SPACED_FOLDER]);
      // A right-click on a tree row bookmarks the folder.
      await page.click(
          `#directory-tree-container .tree-node[data-path=${
              JSON.stringify(`${root}/${SPACED_FOLDER}`)}] > .tree-row`,
          {
            button: 'right',
          });
      await page.waitForSelector('#quick-access-container .qa-item-label');
      await check('#quick-access-container .qa-item-label', [SPACED_FOLDER]);
      await goToPath(page, root);
    });

test(
    'the drop overlay goes whenever a file drag leaves the window, is dropped or ends',
    async () => {
      const overlayShown = () => page.evaluate(
          () => !document.getElementById('drop-overlay').classList.contains('hidden'));
      // Dispatches a drag event carrying one local file at the element, as the browser would.
      const drag = (type, selector, relatedToBody = false) =>
          page.evaluate(([eventType, query, related]) => {
            const data = new DataTransfer();
            data.items.add(new File(['x'], 'dropped.txt', {type: 'text/plain'}));
            const event = new DragEvent(eventType, {
              bubbles: true,
              cancelable: true,
              dataTransfer: data,
              relatedTarget: related ? document.body : null,
            });
            document.querySelector(query).dispatchEvent(event);
          }, [type, selector, relatedToBody]);
      const enterOverSidebar = async () => {
        await drag('dragenter', '.sidebar');
        assert.equal(await overlayShown(), true);
      };

      // Leaving the window over the sidebar.
      await enterOverSidebar();
      await drag('dragleave', '.sidebar');
      assert.equal(await overlayShown(), false);
      // A leave reported without a related element, followed by the next element's dragover, is a
      // move inside the window: the overlay is back.
      await enterOverSidebar();
      await drag('dragleave', '.sidebar');
      await drag('dragover', '#drop-overlay');
      assert.equal(await overlayShown(), true);
      // A move between elements that names the next one never hides it.
      await drag('dragleave', '.sidebar', true);
      assert.equal(await overlayShown(), true);
      // Dropped on the sidebar; a drag that ends (cancelled).
      await drag('drop', '.sidebar');
      assert.equal(await overlayShown(), false);
      await enterOverSidebar();
      await drag('dragend', '.sidebar');
      assert.equal(await overlayShown(), false);
      // Nothing blocks the file view afterwards: a double click opens a folder.
      await rowOf(page, SPACED_FOLDER).dblclick();
      await waitForFolder(page, `${root}/${SPACED_FOLDER}`);
      await goToPath(page, root);
    });

test(
    'inside the viewer and the modals the page opens none of its menus; the browser menu shows',
    async () => {
      await page.evaluate(() => {
        window.__menuPrevented = [];
        // Added after the page's own listener on the window, so it runs after it.
        window.addEventListener(
            'contextmenu', (event) => window.__menuPrevented.push(event.defaultPrevented));
      });
      const openMenus = () =>
          page.$$eval('.context-menu:not(.hidden)', (menus) => menus.map((menu) => menu.id));
      const lastPrevented = () => page.evaluate(() => window.__menuPrevented.at(-1));

      // Outside any modal the global menu still replaces the browser's.
      await page.click('.status-bar', {button: 'right'});
      assert.deepEqual(await openMenus(), ['global-context-menu']);

      await page.click('.status-bar', {position: {x: 5, y: 5}});
      await openViewer('notes.md');
      await page.click('#md-rendered-content h1', {button: 'right'});
      assert.deepEqual(await openMenus(), []);
      assert.equal(await lastPrevented(), false);
      await page.click('.md-viewer-header', {button: 'right'});
      assert.deepEqual(await openMenus(), []);
      await closeViewer();

      await page.click('#btn-new-file');
      await page.waitForSelector('#modal-new-file:not(.hidden)');
      await page.click('#modal-new-file .modal-header', {button: 'right'});
      await page.click('#modal-new-file', {button: 'right', position: {x: 5, y: 5}});
      assert.deepEqual(await openMenus(), []);
      assert.equal(await lastPrevented(), false);
      await page.click('#btn-cancel-new-file');
    });
