// What a viewed document can do to the page, tried as an attacker would and watched through the
// requests Chromium really makes: loads from the program's API, clicks on the page's own
// buttons, overlays over the sheet, forms. Each guard is tried alone as well as with the other:
// the page's Content-Security-Policy (raw markup put straight into the page), and the viewer's
// sanitiser and URL filter (a second browser context that ignores the policy).
import assert from 'node:assert/strict';
import {existsSync, writeFileSync} from 'node:fs';
import {basename, join} from 'node:path';
import {after, before, test} from 'node:test';

import {countRequests} from './action_helpers.mjs';
import {makeRemoteFiles, makeScratchDirectory, startHarness, waitFor} from './harness.mjs';
import {apiProbes, bypassMarkers, FILTER_BYPASSES} from './hostile_documents.mjs';
import {goToPath, openAndConnect, pageCaughtUp, rowOf} from './page_helpers.mjs';

// A 1 by 1 PNG.
const PIXEL = Buffer.from(
    'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII=',
    'base64');

// Buttons of the sheet that no document may cover.
const SHEET_CONTROLS =
    ['btn-close-md-viewer', 'btn-md-copy', 'btn-md-download', 'btn-md-fullscreen', 'tab-md-edit'];

let harness;
let page;
let unguardedContext;
let unguarded;  // a page of the same program whose context ignores the policy
let root;

const pane = '#md-rendered-content';

// Opens a file in the viewer of `on` and waits until its read has been answered.
async function openFile(on, path) {
  await on.evaluate((file) => window.openMarkdownViewer(file), {name: basename(path), path});
  await waitFor(
      async () => !['Loading...', 'Ready'].includes(await on.textContent('#md-save-status')),
      {what: `the read of ${path}`});
}

// Runs `action` and returns the URLs of the requests that carried "probe-" meanwhile, given a
// moment for the loads it started. Chromium reports a load that the policy refused as a request
// that failed with "csp": it never left the browser, so it is not counted.
async function probeRequests(on, action) {
  const requests = [];
  const listener = (request) => {
    if (request.url().includes('probe-')) requests.push(request);
  };
  on.on('request', listener);
  try {
    await action();
    await pageCaughtUp(on, 800);
  } finally {
    on.off('request', listener);
  }
  return requests.filter((request) => request.failure()?.errorText !== 'csp')
      .map((request) => request.url());
}

// Puts markup straight into the page, past the sanitiser, in a layer over everything.
function insertRaw(on, html) {
  return on.evaluate((markup) => {
    const layer = document.createElement('div');
    layer.id = 'raw-layer';
    layer.style.cssText = 'position:fixed;top:0;left:0;width:400px;z-index:99999;background:#fff';
    layer.innerHTML = markup;
    document.body.appendChild(layer);
  }, html);
}

const removeRaw = (on) => on.evaluate(() => document.getElementById('raw-layer')?.remove());

// Which of the sheet's controls are not the element at their own centre.
function coveredControls(on) {
  return on.evaluate(
      (ids) => ids.filter((id) => {
        const box = document.getElementById(id).getBoundingClientRect();
        return !document.elementFromPoint(box.x + box.width / 2, box.y + box.height / 2)
                    ?.closest('#' + id);
      }),
      SHEET_CONTROLS);
}

before(async () => {
  harness = await startHarness();
  page = harness.page;
  unguardedContext = await harness.browser.browser.newContext(
      {viewport: {width: 1150, height: 750}, bypassCSP: true});
  unguarded = await unguardedContext.newPage();
  root = makeScratchDirectory(harness.sshd, 'guard-');
  makeRemoteFiles(root, {
    'bypasses.md': FILTER_BYPASSES.join('\n\n') + '\n',
    'keep-me.txt': 'keep',
    'keep-too.txt': 'keep',
  });
  writeFileSync(
      join(root, 'earlier.md'),
      FILTER_BYPASSES.join('\n\n') + '\n\n' + apiProbes(harness.program.url));
  await openAndConnect(page, harness.program, harness.sshd);
  // The program is connected already: the second page finds it so.
  await unguarded.goto(harness.program.url);
  await unguarded.waitForFunction(() => window.state?.connected === true);
});

after(async () => {
  await unguardedContext?.close().catch(() => {});
  await harness?.close();
});

test('every bypass form requests the API when nothing guards the page', async () => {
  const urls = await probeRequests(unguarded, () => insertRaw(unguarded, FILTER_BYPASSES.join('')));
  await removeRaw(unguarded);
  assert.deepEqual(bypassMarkers(urls), FILTER_BYPASSES.map((_, index) => index + 1));
});

test('the URL filter alone stops them, and the earlier forms', async () => {
  const urls = await probeRequests(unguarded, () => openFile(unguarded, join(root, 'earlier.md')));
  await unguarded.keyboard.press('Escape');
  assert.deepEqual(urls, []);
});

test('the policy alone stops them: markup put past the sanitiser loads nothing', async () => {
  await page.evaluate(() => {
    window.__violations = [];
    document.addEventListener(
        'securitypolicyviolation', (event) => window.__violations.push(event.blockedURI));
  });
  const markup = await page.evaluate(
      (text) => window.marked.parse(text),
      FILTER_BYPASSES.join('\n\n') + '\n\n' + apiProbes(harness.program.url));
  const urls = await probeRequests(page, () => insertRaw(page, markup));
  await removeRaw(page);
  assert.deepEqual(urls, []);
  // They were tried, and refused by the policy.
  const refused = bypassMarkers(await page.evaluate(() => window.__violations));
  assert.deepEqual(refused, FILTER_BYPASSES.map((_, index) => index + 1));
});

test('with both guards, a viewed document reaches nothing', async () => {
  const urls = await probeRequests(page, () => openFile(page, join(root, 'earlier.md')));
  assert.deepEqual(urls, []);
  await page.keyboard.press('Escape');
});

test('a label in a document cannot click the page\'s Delete button', async () => {
  await goToPath(page, root);
  await rowOf(page, 'keep-me.txt').click();
  await page.keyboard.press('Delete');
  await page.click('#btn-cancel-delete');
  const deletes = countRequests(page, '/api/delete');
  try {
    // Cancel forgot the item: the hidden button acts on nothing.
    await page.evaluate(() => document.getElementById('btn-confirm-delete').click());
    const path = join(root, 'label.md');
    writeFileSync(
        path,
        '# Click anywhere\n\n<label for="btn-confirm-delete" id="trap" ' +
            'style="display:block;position:fixed;inset:0;z-index:2147483647"></label>\n');
    await openFile(page, path);
    assert.equal(await page.$eval(`${pane} label`, (label) => label.hasAttribute('for')), false);
    await page.mouse.click(575, 400);
    await pageCaughtUp(page, 500);
    assert.equal(deletes.count(), 0);
    assert.equal(existsSync(join(root, 'keep-me.txt')), true);
  } finally {
    deletes.stop();
    await page.keyboard.press('Escape');
  }
});

test('closing the Rename and Delete modals forgets their item', async () => {
  await goToPath(page, root);
  await rowOf(page, 'keep-too.txt').click();
  const renames = countRequests(page, '/api/rename');
  const deletes = countRequests(page, '/api/delete');
  try {
    await page.keyboard.press('F2');
    await page.click('#btn-close-rename');
    await page.evaluate(() => document.getElementById('form-rename').requestSubmit());
    await page.keyboard.press('Delete');
    await page.click('#btn-close-delete');
    await page.evaluate(() => document.getElementById('btn-confirm-delete').click());
    await pageCaughtUp(page, 300);
    assert.equal(renames.count(), 0);
    assert.equal(deletes.count(), 0);
    assert.equal(existsSync(join(root, 'keep-too.txt')), true);
  } finally {
    renames.stop();
    deletes.stop();
  }
});

test('a document cannot raise an overlay over the sheet\'s controls', async () => {
  const path = join(root, 'popover.md');
  writeFileSync(path, [
    '# Overlay',
    '<button id="opener" popovertarget="cover">open</button>',
    '<button id="commander" commandfor="cover" command="show-popover">command</button>',
    '<div popover id="cover" style="position:fixed;inset:0;width:100vw;height:100vh;' +
        'background:red">cover</div>',
    '<dialog id="modal" style="inset:0;width:100vw;height:100vh">dialog</dialog>',
    '<button commandfor="modal" command="show-modal">modal</button>',
    '',
  ].join('\n\n'));
  await openFile(page, path);
  assert.equal(
      await page.$$eval(
          `${pane} [popover], ${pane} [popovertarget], ${pane} [commandfor]`,
          (found) => found.length),
      0);
  // Clicked in the page: without its popover attribute the cover is a plain element in the
  // pane, over the buttons.
  await page.$$eval(`${pane} button`, (buttons) => buttons.forEach((button) => button.click()));
  assert.equal(
      await page.evaluate(() => document.querySelectorAll(':popover-open, :modal').length), 0);
  assert.deepEqual(await coveredControls(page), []);
  await page.keyboard.press('Escape');
});

test('a form in a document submits nothing, and the policy refuses a form put in', async () => {
  const path = join(root, 'form.md');
  const target = join(root, 'keep-me.txt');
  writeFileSync(
      path,
      `<form action="/api/delete" method="post"><input name="path" value="${target}">` +
          '<button id="send">Send</button></form>\n');
  const deletes = countRequests(page, '/api/delete');
  try {
    await openFile(page, path);
    assert.equal(await page.$$eval(`${pane} form`, (found) => found.length), 0);
    await page.click(`${pane} button:text-is("Send")`).catch(() => {});
    await page.keyboard.press('Escape');
    const address = page.url();
    await insertRaw(
        page,
        `<form id="raw-form" action="/api/delete?probe-form" method="post">` +
            `<input name="path" value="${target}"></form>`);
    await page.evaluate(() => document.getElementById('raw-form').requestSubmit());
    await pageCaughtUp(page, 500);
    await removeRaw(page);
    assert.equal(deletes.count(), 0);
    assert.equal(page.url(), address);
    assert.equal(existsSync(target), true);
  } finally {
    deletes.stop();
  }
});

test('outside and data: images and a document\'s own anchors still work', async () => {
  await page.route(
      'https://images.example/**',
      (route) => route.fulfill({status: 200, contentType: 'image/png', body: PIXEL}));
  try {
    const path = join(root, 'pictures.md');
    writeFileSync(path, [
      '# Pictures',
      '[To the end](#the-end) and [footnote](#note-1)',
      '![outside](https://images.example/pixel.png)',
      `<img id="inline" alt="inline" src="data:image/png;base64,${PIXEL.toString('base64')}">`,
      ...Array.from({length: 200}, (_, index) => `Filler paragraph ${index}.`),
      '<h2 id="the-end">The end</h2>',
      '<p id="note-1">The note.</p>',
      '',
    ].join('\n\n'));
    await openFile(page, path);
    await waitFor(
        () => page.$$eval(
            `${pane} img`,
            (images) => images.length === 2 && images.every((image) => image.naturalWidth === 1)),
        {what: 'both images loaded'});
    await page.$eval(`${pane} a[href$="the-end"]`, (link) => link.click());
    await waitFor(() => page.$eval(pane, (scroller) => {
      const heading = scroller.querySelector('h2').getBoundingClientRect();
      const box = scroller.getBoundingClientRect();
      return heading.top >= box.top && heading.bottom <= box.bottom;
    }), {what: 'the heading scrolled into view'});
    assert.equal(await page.$eval(`${pane} h2`, (heading) => heading.textContent), 'The end');
    // The interface is still there.
    assert.equal(await page.evaluate(() => typeof window.openMarkdownViewer), 'function');
  } finally {
    await page.unroute('https://images.example/**');
    await page.keyboard.press('Escape');
  }
});

test(
    'no kind of link in a document moves the page away; each opens in a tab of its own',
    async () => {
      // A page of its own: the form test before leaves Playwright waiting on a navigation that
      // the policy refused.
      const context = harness.browser.context;
      const page = await context.newPage();
      await page.goto(harness.program.url);
      await page.waitForFunction(() => window.state?.connected === true);
      await context.route(
          'https://links.example/**',
          (route) => route.fulfill({status: 200, contentType: 'text/html', body: 'elsewhere'}));
      const opened = [];
      const onPopup = (popup) => opened.push(popup);
      context.on('page', onPopup);
      const documentRequests = [];
      const onRequest = (request) => {
        if (request.isNavigationRequest() && request.frame() === page.mainFrame())
          documentRequests.push(request.url());
      };
      page.on('request', onRequest);
      const address = page.url();
      try {
        const path = join(root, 'links.md');
        writeFileSync(path, [
          '# Links',
          '<svg width="300" height="60"><a href="https://links.example/svg">' +
              '<rect width="300" height="60" fill="#c03"/></a></svg>',
          '<svg width="300" height="60" xmlns:xlink="http://www.w3.org/1999/xlink">' +
              '<a xlink:href="https://links.example/xlink"><rect id="xlink-rect" width="300" ' +
              'height="60" fill="#3c0"/></a></svg>',
          `<img alt="map" width="300" height="60" usemap="#user-content-places" ` +
              `src="data:image/png;base64,${PIXEL.toString('base64')}">`,
          '<map name="places"><area shape="rect" coords="0,0,300,60" ' +
              'href="https://links.example/area" alt="area"></map>',
          '[plain link](https://links.example/plain) and [the API](/api/status)',
          '',
        ].join('\n\n'));
        // Clicks each link and returns the addresses opened in new tabs meanwhile.
        const clickAll = async () => {
          const before = opened.length;
          await page.click(`${pane} svg a rect:not([id])`);
          await page.click(`${pane} svg a rect[id]`);
          await page.click(`${pane} img[alt="map"]`);
          await page.click(`${pane} a:text-is("plain link")`);
          await page.click(`${pane} a:text-is("plain link")`, {button: 'middle'});
          await page.press(`${pane} a:text-is("plain link")`, 'Enter');
          await page.click(`${pane} a:text-is("the API")`);
          await waitFor(() => opened.length >= before + 6, {what: 'six tabs opened'});
          // The API link must open nothing: give a seventh tab the page's own time to show up.
          await pageCaughtUp(page, 300);
          const tabs = opened.slice(before);
          for (const tab of tabs) await tab.waitForURL(/links\.example/);
          // Tabs may announce themselves out of order on a busy machine: the set is what counts.
          const urls = tabs.map((tab) => tab.url()).sort();
          // Each tab is on its own: it cannot reach back into the page.
          for (const tab of tabs) assert.equal(await tab.evaluate(() => window.opener), null);
          await Promise.all(tabs.map((tab) => tab.close()));
          return urls;
        };
        const expected = [
          'https://links.example/area',
          'https://links.example/plain',
          'https://links.example/plain',
          'https://links.example/plain',
          'https://links.example/svg',
          'https://links.example/xlink',
        ];

        await openFile(page, path);
        // The document renders, links and all.
        assert.equal(await page.$$eval(`${pane} svg a, ${pane} area`, (found) => found.length), 3);
        assert.doesNotMatch(await page.textContent(pane), /Error loading file/);
        assert.deepEqual(await clickAll(), expected);
        // Again after Edit and back to Preview, which renders the document anew.
        await page.click('#tab-md-edit');
        await page.click('#tab-md-view');
        assert.deepEqual(await clickAll(), expected);

        assert.equal(page.url(), address);
        assert.deepEqual(documentRequests, []);
        assert.equal(
            await page.$eval('#modal-md-viewer', (sheet) => sheet.classList.contains('hidden')),
            false);
        assert.equal(await page.evaluate(() => typeof window.openMarkdownViewer), 'function');
      } finally {
        context.off('page', onPopup);
        page.off('request', onRequest);
        await context.unroute('https://links.example/**');
        await page.close();
      }
    });
