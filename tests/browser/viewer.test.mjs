// The file viewer and editor sheet in Chromium, against the program and the local sshd: Markdown
// rendering and highlighting, editing and saving back to the remote file, the keyboard, empty,
// non-UTF-8 and hostile files, and read replies that come back late.
import assert from 'node:assert/strict';
import {readFileSync, rmSync, writeFileSync} from 'node:fs';
import {basename, join} from 'node:path';
import {after, before, test} from 'node:test';

import {makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness, waitFor} from './harness.mjs';
import {apiProbes} from './hostile_documents.mjs';
import {openAndConnect, pageCaughtUp} from './page_helpers.mjs';

const SAMPLE = [
  '# Project Notes',
  '',
  '## Tasks',
  '',
  '| Name | State |',
  '|------|-------|',
  '| build | done |',
  '| test | open |',
  '',
  '- [x] write the parser',
  '- [ ] write the docs',
  '',
  '```js',
  'const answer = 42;',
  '```',
  '',
].join('\n');

// Each line tries to run script in the page; any success sets window.__hostile.
const HOSTILE = [
  '# Hostile',
  '<script>window.__hostile = "script"</script>',
  '<img src="missing.png" onerror="window.__hostile = \'onerror\'">',
  '<a id="evil-link" href="javascript:window.__hostile=\'link\'">click me</a>',
  '<iframe srcdoc="<script>parent.__hostile = \'iframe\'</script>"></iframe>',
  '<object data="javascript:parent.__hostile=\'object\'"></object>',
  '<form action="javascript:window.__hostile=\'form\'"><button id="evil-submit">go</button></form>',
  '<svg><script>window.__hostile = "svg"</script></svg>',
  '<details open ontoggle="window.__hostile = \'toggle\'"><summary>More</summary>kept</details>',
  '<p id="host-label">fake host</p>',
  '',
  '[elsewhere](http://127.0.0.1:9/elsewhere)',
  '',
  '| kept | table |',
  '|---|---|',
  '| a | b |',
  '',
].join('\n');

// Code written as HTML in the document is shown as written; only fenced blocks are coloured.
const RAW_CODE = [
  '<pre><code class="language-js">const raw = 1;</code></pre>',
  '',
  '```js',
  'const fenced = 2;',
  '```',
  '',
].join('\n');

// Over a quarter of a megabyte of sections, each with a fenced block, and words found only at
// the end.
const LONG_DOCUMENT = [
  ...Array.from(
      {length: 1500},
      (_, index) => [`## Section ${index}`,
                     '',
                     'Some prose for the section, long enough to wrap. '.repeat(3),
                     '',
                     '```js',
                     `const value${index} = ${index};`,
                     '```',
                     '',
].join('\n')),
  '# The end',
  '',
  'closing-words-of-the-document',
  '',
].join('\n');

// A log of 300,000 lines (about 16.6 MB), which the Markdown library cannot render: Markdown
// makes it one paragraph, and the library runs out of stack on it.
const LOG_LINES = 300000;
function makeLog() {
  const levels = ['INFO', 'DEBUG', 'WARN', 'ERROR'];
  const lines = [];
  for (let i = 0; i < LOG_LINES; i += 1) {
    const second = String(i % 60).padStart(2, '0');
    lines.push(`2026-12-07 12:${second}:${second} ${levels[i % 4]} [w${i % 8}] req ${
        String(i).padStart(6, '0')} done in ${i % 97} ms`);
  }
  // Blank lines and indentation are kept as they are.
  lines[10] = '';
  lines[11] = '    indented   spaced';
  return lines.join('\n') + '\n';
}

let harness;
let page;
let root;
let log;

const text = (selector) => page.textContent(selector);
const status = () => text('#md-save-status');
const isHidden = (selector) =>
    page.$eval(selector, (element) => element.classList.contains('hidden'));

// Opens a file as the page does and waits until its read has been answered.
async function openFile(path) {
  await page.evaluate((file) => window.openMarkdownViewer(file), {name: basename(path), path});
  await waitFor(
      async () => !['Loading...', 'Ready'].includes(await status()), {what: `the read of ${path}`});
}

// Saves with Ctrl+S and waits until the save has succeeded.
async function saveByShortcut() {
  await page.keyboard.press('Control+s');
  await waitFor(async () => (await status()) === 'Saved successfully!', {what: 'the save'});
}

async function typeInEditor(addition) {
  await page.click('#tab-md-edit');
  await page.focus('#md-raw-textarea');
  await page.keyboard.press('Control+End');
  await page.keyboard.type(addition);
}

// Closes the sheet with Escape, discarding unsaved edits when it asks about them.
async function closeViewer() {
  await page.keyboard.press('Escape');
  if (!(await isHidden('#modal-discard-edits'))) await page.click('#btn-discard-edits');
  assert.equal(await isHidden('#modal-md-viewer'), true);
}

// Opens `path`, types `addition` at its end, saves with Ctrl+S and closes the sheet.
async function appendAndSave(path, addition) {
  await openFile(path);
  await typeInEditor(addition);
  await saveByShortcut();
  await page.keyboard.press('Escape');
}

before(async () => {
  harness = await startHarness();
  page = harness.page;
  await harness.browser.context.grantPermissions(['clipboard-read', 'clipboard-write'], {
    origin: harness.program.url,
  });
  root = makeScratchDirectory(harness.sshd, 'viewer-');
  makeRemoteFiles(root, {
    'notes.md': SAMPLE,
    'empty.md': '',
    'image.bin': Buffer.from([0x89, 0x50, 0x4e, 0x47, 0xff, 0xfe, 0x00, 0x01]),
    'hostile.md': HOSTILE,
    'slow.md': '# Slow file\n',
    'fast.md': '# Fast file\n',
    'big.txt': 'a'.repeat(1048575),
    'archive.tar.gz': 'not really compressed',
    'racing.md': 'start',
    'gone/doomed.md': 'doomed',
    'crlf.txt': 'line1\r\nline2\r\n',
    'cr.txt': 'a\rb\rc',
    'mixed.txt': 'a\r\nb\r\nc\nd',
    'bom-nul.txt': '\uFEFFx\u0000y\n',
    'undo.md': 'first line\nsecond line\n',
    'raw-code.md': RAW_CODE,
    'long.md': LONG_DOCUMENT,
    'service.log': (log = makeLog()),
    'refused.md': SAMPLE,
  });
  await openAndConnect(page, harness.program, harness.sshd);
});

after(async () => {
  await harness?.close();
});

test('opening a file while no host is connected shows the server\'s 401 text', async () => {
  await page.evaluate(() => fetch('/api/disconnect', {method: 'POST'}));
  await openFile(join(root, 'notes.md'));
  assert.equal(await text('#md-rendered-content'), 'Error loading file: Not connected to SSH host');
  assert.equal(await status(), 'Error');
  assert.equal(await page.$eval('#tab-md-edit', (button) => button.disabled), true);
  await page.keyboard.press('Escape');
  assert.equal(await isHidden('#modal-md-viewer'), true);
  await openAndConnect(page, harness.program, harness.sshd);
});

test(
    'Markdown renders headings, a table, a task list and a highlighted code block with a copy button',
    async () => {
      await openFile(join(root, 'notes.md'));
      assert.equal(await text('#md-filename'), 'notes.md');
      assert.equal(await text('#md-filepath'), join(root, 'notes.md'));
      assert.equal(await text('#md-file-badge'), 'MD');
      assert.equal(await status(), `Loaded ${Buffer.byteLength(SAMPLE)} B`);
      assert.equal(
          await text('#md-char-count'),
          `${SAMPLE.length} characters, ${SAMPLE.split('\n').length} lines`);
      assert.equal(await isHidden('#btn-md-save'), true);

      const pane = '#md-rendered-content';
      assert.equal(await text(`${pane} h1`), 'Project Notes');
      assert.equal(await text(`${pane} h2`), 'Tasks');
      assert.deepEqual(
          await page.$$eval(`${pane} table td`, (cells) => cells.map((cell) => cell.textContent)), [
            'build',
            'done',
            'test',
            'open',
          ]);
      assert.deepEqual(
          await page.$$eval(
              `${pane} li input[type=checkbox]`,
              (boxes) => boxes.map((box) => [box.checked, box.disabled])),
          [[true, true], [false, true]],
      );
      // The code element keeps marked's class only; highlight.js fills it with token spans.
      assert.equal(await page.$eval(`${pane} pre code`, (code) => code.className), 'language-js');
      assert.equal(await text(`${pane} pre code .hljs-keyword`), 'const');
      assert.equal(await text(`${pane} pre code .hljs-number`), '42');

      await saveScreenshot(page, 'viewer-open');
      await page.hover(`${pane} pre`);
      await page.click(`${pane} pre .code-copy-btn`);
      await waitFor(
          async () => (await text(`${pane} pre .code-copy-btn`)) === 'Copied!', {what: 'Copied!'});
      assert.equal(
          (await page.evaluate(() => navigator.clipboard.readText())).trim(), 'const answer = 42;');
      await waitFor(
          async () => (await text(`${pane} pre .code-copy-btn`)) === 'Copy',
          {timeout: 4000, what: 'Copy again'});

      await page.click('#btn-md-copy');
      assert.equal(await page.evaluate(() => navigator.clipboard.readText()), SAMPLE);
      await page.click('#btn-close-md-viewer');
      assert.equal(await isHidden('#modal-md-viewer'), true);
    });

test('editing counts, marks the text modified, and Save writes the remote file', async () => {
  const path = join(root, 'notes.md');
  await openFile(path);
  await typeInEditor('\nNew line');
  const edited = SAMPLE + '\nNew line';
  // The count follows once typing pauses.
  const counted = `${edited.length} characters, ${edited.split('\n').length} lines`;
  await waitFor(async () => (await text('#md-char-count')) === counted, {what: counted});
  assert.equal(await status(), 'Modified (unsaved)');
  assert.equal(await isHidden('#btn-md-save'), false);

  // Tab puts two spaces in place of the selection.
  await page.keyboard.press('Shift+Home');
  await page.keyboard.press('Tab');
  assert.equal(await page.inputValue('#md-raw-textarea'), SAMPLE + '\n  ');
  await page.keyboard.type('Indented');
  const saved = SAMPLE + '\n  Indented';

  await page.click('#btn-md-save');
  await waitFor(async () => (await status()) === 'Saved successfully!', {what: 'the save'});
  assert.equal(readFileSync(path, 'utf8'), saved);
  assert.equal(await text('#toast'), 'File saved to remote VM');
  await waitFor(
      async () => (await status()) === 'Ready', {timeout: 5000, what: 'Ready after the save'});

  // Typing the saved text back counts as unmodified again.
  await page.focus('#md-raw-textarea');
  await page.keyboard.type('x');
  // The status line follows the frame that draws the typed character.
  await waitFor(async () => (await status()) === 'Modified (unsaved)', {what: 'the modified mark'});
  await page.keyboard.press('Backspace');
  await waitFor(async () => (await status()) === 'Ready', {what: 'Ready once the text is back'});

  // Selecting text and letting go beyond the sheet's edge keeps the sheet and the edit.
  await page.keyboard.type('kept');
  const editor = await page.locator('#md-raw-textarea').boundingBox();
  await page.mouse.move(editor.x + 40, editor.y + 30);
  await page.mouse.down();
  await page.mouse.move(page.viewportSize().width - 3, editor.y + 30, {steps: 4});
  await page.mouse.up();
  assert.equal(await isHidden('#modal-md-viewer'), false);
  assert.equal(await page.inputValue('#md-raw-textarea'), saved + 'kept');
  await closeViewer();
});

test('Ctrl+S in Preview saves the edited text; closing with unsaved edits asks first', async () => {
  const path = join(root, 'notes.md');
  const before = readFileSync(path, 'utf8');
  await openFile(path);
  await typeInEditor('\n\nAdded in edit mode');
  await page.click('#tab-md-view');
  assert.match(await text('#md-rendered-content'), /Added in edit mode/);
  assert.equal(await isHidden('#btn-md-save'), false);
  // Copy in Preview copies the saved text, not the edited one.
  await page.click('#btn-md-copy');
  assert.equal(await page.evaluate(() => navigator.clipboard.readText()), before);

  await page.keyboard.press('Control+s');
  await waitFor(
      async () => (await status()) === 'Saved successfully!', {what: 'the shortcut save'});
  assert.equal(readFileSync(path, 'utf8'), before + '\n\nAdded in edit mode');
  assert.equal(await isHidden('#btn-md-save'), true);

  // Escape, the close button and a click beside the sheet each ask; Keep Editing keeps the text.
  await typeInEditor(' and dropped');
  for (const close
           of [() => page.keyboard.press('Escape'),
              () => page.click('#btn-close-md-viewer'),
              () => page.mouse.click(4, 4),
  ]) {
    await close();
    assert.equal(await isHidden('#modal-discard-edits'), false);
    assert.match(await text('#discard-edits-message'), /unsaved changes to "notes\.md"/);
    await page.click('#btn-keep-editing');
    assert.equal(await isHidden('#modal-md-viewer'), false);
    assert.equal(
        await page.inputValue('#md-raw-textarea'), before + '\n\nAdded in edit mode and dropped');
  }
  // Escape in the question keeps editing too.
  await page.keyboard.press('Escape');
  await page.keyboard.press('Escape');
  assert.equal(await isHidden('#modal-discard-edits'), true);
  assert.equal(await isHidden('#modal-md-viewer'), false);
  // Discard closes and drops them.
  await page.keyboard.press('Escape');
  await page.click('#btn-discard-edits');
  assert.equal(await isHidden('#modal-md-viewer'), true);
  assert.equal(readFileSync(path, 'utf8'), before + '\n\nAdded in edit mode');
  await openFile(path);
  assert.equal(await page.inputValue('#md-raw-textarea'), before + '\n\nAdded in edit mode');
  await page.keyboard.press('Escape');
});

test(
    'leaving the page with unsaved edits asks first: the window\'s question and the tab\'s',
    async () => {
      const path = join(root, 'undo.md');
      const before = readFileSync(path, 'utf8');
      // What the native window asks before it closes.
      const confirm = () => page.evaluate(() => window.confirmDiscardEdits());
      assert.equal(await page.evaluate(() => window.hasUnsavedEdits()), false);
      assert.equal(await confirm(), true);
      await openFile(path);
      assert.equal(await confirm(), true);
      assert.equal(await isHidden('#modal-md-viewer'), false);
      await typeInEditor(' typed');
      assert.equal(await page.evaluate(() => window.hasUnsavedEdits()), true);
      // Keep Editing answers false and keeps the text; asked twice, both wait for one answer.
      const kept = Promise.all([confirm(), confirm()]);
      await waitFor(async () => !(await isHidden('#modal-discard-edits')), {what: 'the question'});
      await page.click('#btn-keep-editing');
      assert.deepEqual(await kept, [false, false]);
      assert.equal(await page.inputValue('#md-raw-textarea'), before + ' typed');
      // Discard answers true and closes the sheet.
      const discarded = confirm();
      await waitFor(async () => !(await isHidden('#modal-discard-edits')), {what: 'the question'});
      await page.click('#btn-discard-edits');
      assert.equal(await discarded, true);
      assert.equal(await isHidden('#modal-md-viewer'), true);
      assert.equal(await page.evaluate(() => window.hasUnsavedEdits()), false);
      assert.equal(readFileSync(path, 'utf8'), before);

      // A tab of its own, closed with unsaved edits, asks through the browser; without, it closes.
      const tab = await harness.browser.context.newPage();
      await tab.goto(harness.program.url);
      await tab.waitForFunction(() => window.state?.connected === true);
      await tab.evaluate((file) => window.openMarkdownViewer(file), {name: 'undo.md', path});
      await tab.waitForFunction(
          () => document.getElementById('md-save-status').textContent !== 'Loading...');
      await tab.click('#tab-md-edit');
      await tab.focus('#md-raw-textarea');
      await tab.keyboard.type('x');
      const dialog = tab.waitForEvent('dialog');
      await tab.close({runBeforeUnload: true});
      const question = await dialog;
      assert.equal(question.type(), 'beforeunload');
      await question.dismiss();
      assert.equal(tab.isClosed(), false);
      await tab.keyboard.press('Backspace');
      await tab.waitForFunction(() => !window.hasUnsavedEdits());
      const closed = tab.waitForEvent('close');
      await tab.close({runBeforeUnload: true});
      await closed;
    });

test('one save at a time; text typed while it runs stays modified', async () => {
  const path = join(root, 'racing.md');
  await openFile(path);
  const writes = [];
  let release;
  const released = new Promise((done) => {
    release = done;
  });
  await page.route('**/api/write', async (route) => {
    writes.push(JSON.parse(route.request().postData()));
    await released;
    await route.continue();
  });
  try {
    await typeInEditor(' one');
    await page.keyboard.press('Control+s');
    await waitFor(() => writes.length === 1, {what: 'the first save'});
    assert.equal(await status(), 'Saving to remote VM...');
    await page.keyboard.type(' two');
    await page.keyboard.press('Control+s');
    await pageCaughtUp(page, 200);
    release();
    await waitFor(
        async () => (await page.$eval('#btn-md-save', (button) => !button.disabled)),
        {what: 'the save to end'});
    assert.deepEqual(writes, [{path, content: 'start one'}]);
    assert.equal(readFileSync(path, 'utf8'), 'start one');
    assert.equal(await status(), 'Modified (unsaved)');
    await page.keyboard.press('Control+s');
    await waitFor(
        async () => (await status()) === 'Saved successfully!', {what: 'the second save'});
    assert.equal(readFileSync(path, 'utf8'), 'start one two');
    // A newer status outlives the return to "Ready" that the save scheduled.
    await page.keyboard.type('!');
    // The page's clock passes the time the save set for its return to "Ready".
    await pageCaughtUp(page, 3000);
    assert.equal(await status(), 'Modified (unsaved)');
  } finally {
    await page.unroute('**/api/write');
  }
  await closeViewer();
});

test('a failed save shows the remote error and keeps the text modified', async () => {
  const path = join(root, 'gone', 'doomed.md');
  await openFile(path);
  rmSync(join(root, 'gone'), {recursive: true});
  await typeInEditor(' edited');
  await page.keyboard.press('Control+s');
  await waitFor(async () => (await status()).startsWith('Save error: '), {what: 'the save error'});
  assert.match(await status(), /No such file or directory/);
  assert.match(await text('#toast'), /^Error: .*No such file or directory/);
  assert.equal(await isHidden('#btn-md-save'), false);
  assert.equal(await page.inputValue('#md-raw-textarea'), 'doomed edited');

  // Downloading the vanished file tells so in a toast; the sheet and the unsaved text stay.
  await page.click('#btn-md-download');
  await waitFor(
      async () => (await text('#toast')).startsWith('Download failed: '),
      {what: 'the download error'});
  assert.match(await text('#toast'), /No such file or directory/);
  assert.equal(await isHidden('#modal-md-viewer'), false);
  assert.equal(await page.inputValue('#md-raw-textarea'), 'doomed edited');
  await closeViewer();
});

test('an empty file opens without an error and offers no Save', async () => {
  await openFile(join(root, 'empty.md'));
  assert.equal(await status(), 'Loaded 0 B');
  assert.equal(await text('#md-char-count'), '0 characters, 1 lines');
  assert.equal(await page.inputValue('#md-raw-textarea'), '');
  assert.equal(await isHidden('#btn-md-save'), true);
  await page.keyboard.press('Escape');
});

test(
    'a file that is not UTF-8 shows a notice with its size and Download, and is never saved',
    async () => {
      const path = join(root, 'image.bin');
      const bytes = readFileSync(path);
      const writes = [];
      const recordWrites = (request) => {
        if (request.url().includes('/api/write')) writes.push(request.url());
      };
      page.on('request', recordWrites);
      try {
        await openFile(path);
        assert.equal(await text('#md-file-badge'), 'BIN');
        assert.equal(await status(), 'Loaded 8 B');
        const notice = await text('#md-rendered-content');
        assert.match(notice, /not UTF-8 text \(8 B\)/);
        assert.doesNotMatch(notice, /iVBOR/);  // no Base64 shown
        assert.equal(await page.$eval('#tab-md-edit', (button) => button.disabled), true);
        assert.equal(await isHidden('#btn-md-save'), true);
        await page.keyboard.press('Control+s');
        await pageCaughtUp(page, 300);
        assert.deepEqual(writes, []);
        assert.deepEqual(readFileSync(path), bytes);

        const [download] = await Promise.all([
          page.waitForEvent('download'),
          page.click('#md-rendered-content button'),
        ]);
        assert.equal(download.suggestedFilename(), 'image.bin');
        assert.deepEqual(readFileSync(await download.path()), bytes);
        assert.equal(await isHidden('#modal-md-viewer'), false);
      } finally {
        page.off('request', recordWrites);
      }
      await page.keyboard.press('Escape');
    });

test('a hostile Markdown file runs nothing, while harmless HTML stays', async () => {
  await openFile(join(root, 'hostile.md'));
  const pane = '#md-rendered-content';
  await page.click('#evil-link, [id$="evil-link"]').catch(() => {});
  await page.click(`${pane} button`).catch(() => {});
  await pageCaughtUp(page, 500);
  assert.equal(await page.evaluate(() => window.__hostile), undefined);
  assert.equal(
      await page.$$eval(
          `${pane} script, ${pane} iframe, ${pane} object, ${pane} form`, (found) => found.length),
      0);
  const attributes = await page.$$eval(
      `${pane} *`,
      (elements) => elements.flatMap(
          (element) => [...element.attributes].map(
              (attribute) => `${attribute.name}=${attribute.value}`)),
  );
  assert.deepEqual(attributes.filter((attribute) => /^on|javascript:/i.test(attribute)), []);
  // Ids from the document are prefixed, so they cannot shadow the page's own elements.
  assert.equal(await page.$$eval(`${pane} #host-label`, (found) => found.length), 0);
  assert.equal(await page.$$eval(`${pane} img[src="missing.png"]`, (found) => found.length), 1);
  assert.equal(await text(`${pane} details`), 'Morekept');
  assert.equal(await page.$$eval(`${pane} table td`, (cells) => cells.length), 2);
  // An outside link opens apart from the interface and never navigates it away.
  const address = page.url();
  const popup = page.context().waitForEvent('page', {timeout: 5000}).catch(() => null);
  await page.click(`${pane} a[href="http://127.0.0.1:9/elsewhere"]`);
  await (await popup)?.close();
  assert.equal(page.url(), address);
  assert.equal(await isHidden('#modal-md-viewer'), false);
  await page.keyboard.press('Escape');
});

test(
    'rendered Markdown neither reaches the program\'s API nor covers the sheet\'s controls',
    async () => {
      const path = join(root, 'probes.md');
      writeFileSync(path, apiProbes(harness.program.url));
      const probes = [];
      await page.route(/probe-/, (route) => {
        probes.push(route.request().url());
        route.fulfill({status: 404, body: ''});
      });
      try {
        await openFile(path);
        await pageCaughtUp(page, 500);
        assert.deepEqual(probes, []);
      } finally {
        await page.unroute(/probe-/);
      }
      const pane = '#md-rendered-content';
      const attributes = await page.$$eval(
          `${pane} *`,
          (elements) => elements.flatMap(
              (element) => [...element.attributes].map(
                  (attribute) => `${attribute.name}=${attribute.value}`)),
      );
      assert.deepEqual(attributes.filter((attribute) => attribute.includes('probe-')), []);
      // What points elsewhere stays; the link to the API stays as text.
      assert.equal(
          await page.$$eval(
              `${pane} a[href="https://example.com/docs"], ${pane} img[src="picture.png"]`,
              (found) => found.length),
          2);
      assert.equal(await text(`${pane} a:text-is("api link")`), 'api link');
      // The fixed, full-window element stays inside the preview pane.
      const covered = await page.evaluate(
          () => ['btn-close-md-viewer', 'btn-md-copy', 'btn-md-download', 'tab-md-edit',
                 'md-save-status']
                    .filter((id) => {
                      const box = document.getElementById(id).getBoundingClientRect();
                      return !document
                                  .elementFromPoint(box.x + box.width / 2, box.y + box.height / 2)
                                  ?.closest('#' + id);
                    }),
      );
      assert.deepEqual(covered, []);
      await page.keyboard.press('Escape');
    });

test(
    'line endings: a CRLF or CR file stays unmodified and keeps its style when saved', async () => {
      const crlf = join(root, 'crlf.txt');
      await openFile(crlf);
      assert.equal(await text('#md-char-count'), '14 characters, 3 lines');
      await page.click('#tab-md-edit');
      await page.click('#tab-md-view');
      assert.equal(await isHidden('#btn-md-save'), true);
      await saveByShortcut();
      assert.equal(readFileSync(crlf, 'utf8'), 'line1\r\nline2\r\n');
      await typeInEditor('line3\nline4');
      await waitFor(
          async () => (await status()) === 'Modified (unsaved)', {what: 'the modified mark'});
      await waitFor(
          async () => (await text('#md-char-count')) === '26 characters, 4 lines',
          {what: 'the count with the file\'s line breaks'});
      await saveByShortcut();
      assert.equal(readFileSync(crlf, 'utf8'), 'line1\r\nline2\r\nline3\r\nline4');
      await page.keyboard.press('Escape');

      const cr = join(root, 'cr.txt');
      await appendAndSave(cr, '\nd');
      assert.equal(readFileSync(cr, 'utf8'), 'a\rb\rc\rd');

      // A mixed file is written back as it is until edited, then with its most common ending.
      const mixed = join(root, 'mixed.txt');
      await openFile(mixed);
      await saveByShortcut();
      assert.equal(readFileSync(mixed, 'utf8'), 'a\r\nb\r\nc\nd');
      await typeInEditor('!');
      await saveByShortcut();
      assert.equal(readFileSync(mixed, 'utf8'), 'a\r\nb\r\nc\r\nd!');
      await page.keyboard.press('Escape');

      // A byte-order mark and NUL bytes come back as they were.
      const marked = join(root, 'bom-nul.txt');
      await appendAndSave(marked, 'z');
      assert.deepEqual(readFileSync(marked), Buffer.from('\uFEFFx\u0000y\nz'));
    });

test('Edit starts with the caret at the top; Tab keeps the undo history', async () => {
  const original = 'first line\nsecond line\n';
  await openFile(join(root, 'undo.md'));
  await page.click('#tab-md-edit');
  await page.waitForFunction(() => document.activeElement.id === 'md-raw-textarea');
  assert.deepEqual(
      await page.$eval('#md-raw-textarea', (area) => [area.selectionStart, area.selectionEnd]),
      [0, 0]);
  await page.keyboard.press('Control+End');
  await page.keyboard.type('abc');
  await page.keyboard.press('Tab');
  assert.equal(await page.inputValue('#md-raw-textarea'), original + 'abc  ');
  // Undo takes the spaces back (with the typing before them, when the browser recorded the
  // two as one step), then the typing, in as many steps as the browser recorded it.
  await page.keyboard.press('Control+z');
  const undone = await page.inputValue('#md-raw-textarea');
  assert.ok(
      undone.startsWith(original) && ('abc'.startsWith(undone.slice(original.length))),
      JSON.stringify(undone));
  for (let step = 0; step < 3 && (await page.inputValue('#md-raw-textarea')) !== original;
       step += 1) {
    await page.keyboard.press('Control+z');
  }
  assert.equal(await page.inputValue('#md-raw-textarea'), original);
  await waitFor(async () => (await status()) === 'Ready', {what: 'Ready once undone'});
  await page.keyboard.press('Escape');
});

test('a read reply that comes back after another file was opened is dropped', async () => {
  const slow = join(root, 'slow.md');
  const fast = join(root, 'fast.md');
  let release;
  const released = new Promise((done) => {
    release = done;
  });
  await page.route(/\/api\/read\?path=.*slow\.md/, async (route) => {
    await released;
    await route.continue();
  });
  try {
    await page.evaluate((file) => {
      window.openMarkdownViewer(file);
    }, {name: 'slow.md', path: slow});
    await openFile(fast);
    // The late reply for the slow file comes, and the page is given its turn to (wrongly) show it.
    const slowAnswered =
        page.waitForResponse((response) => /\/api\/read\?path=.*slow\.md/.test(response.url()));
    release();
    await slowAnswered;
    await pageCaughtUp(page, 300);
    assert.equal(await text('#md-filename'), 'fast.md');
    assert.equal(await text('#md-rendered-content h1'), 'Fast file');
    assert.equal(await page.inputValue('#md-raw-textarea'), '# Fast file\n');

    await typeInEditor('More');
    await page.keyboard.press('Control+s');
    await waitFor(async () => (await status()) === 'Saved successfully!', {what: 'the save'});
    assert.equal(readFileSync(fast, 'utf8'), '# Fast file\nMore');
    assert.equal(readFileSync(slow, 'utf8'), '# Slow file\n');
  } finally {
    await page.unroute(/\/api\/read\?path=.*slow\.md/);
  }
  await page.keyboard.press('Escape');
});

test('badges, sizes and counts of larger files', async () => {
  await openFile(join(root, 'archive.tar.gz'));
  assert.equal(await text('#md-file-badge'), 'GZ');
  await openFile(join(root, 'big.txt'));
  assert.equal(await status(), 'Loaded 1024 KB');
  assert.equal(await text('#md-char-count'), '1,048,575 characters, 1 lines');
  await page.click('#btn-md-fullscreen');
  assert.equal(
      await page.$eval(
          '.md-viewer-container', (element) => element.classList.contains('fullscreen')),
      true);
  // A click on the backdrop outside the sheet closes it; reopening leaves fullscreen.
  await page.click('#btn-md-fullscreen');
  await page.mouse.click(5, 5);
  assert.equal(await isHidden('#modal-md-viewer'), true);
});

test('code written as HTML stays as written while fenced code is coloured', async () => {
  await openFile(join(root, 'raw-code.md'));
  const pane = '#md-rendered-content';
  const blocks = await page.$$eval(
      `${pane} pre code`,
      (codes) =>
          codes.map((code) => [code.textContent.trim(), code.querySelector('span') !== null]));
  assert.deepEqual(blocks, [['const raw = 1;', false], ['const fenced = 2;', true]]);
  await page.keyboard.press('Escape');
});

test(
    'a long document is laid out in chunks and stays whole: coloured, linked and found',
    async () => {
      await openFile(join(root, 'long.md'));
      const pane = '#md-rendered-content';
      const counts = await page.$eval(
          pane, (element) => ({
                  chunks: element.querySelectorAll(':scope > .markdown-chunk').length,
                  blocks: element.querySelectorAll('pre code').length,
                  firstColoured: element.querySelector('pre code .hljs-keyword') !== null,
                }));
      assert.ok(counts.chunks > 1, `${counts.chunks} chunks`);
      assert.equal(counts.blocks, 1500);
      // The blocks in view are coloured when the document shows, the others soon after.
      assert.equal(counts.firstColoured, true);
      await waitFor(
          () => page.$eval(
              pane,
              (element) => element.querySelectorAll('pre code .hljs-keyword').length === 1500),
          {what: 'every code block coloured'});
      // Skipped chunks still hold their text, so the browser's find reaches the end.
      assert.equal(await page.evaluate(() => window.find('closing-words-of-the-document')), true);
      await page.evaluate(() => window.getSelection().removeAllRanges());
      // Scrolling to the last heading brings it into view, though the chunks before it were sized
      // by estimate until then.
      const inView = (selector) => page.$eval(pane, (element, selector) => {
        const heading = element.querySelector(selector);
        const top = heading.getBoundingClientRect().top - element.getBoundingClientRect().top;
        return element.scrollTop > 0 && top >= -1 && top < element.clientHeight;
      }, selector);
      await page.$eval(`${pane} h1`, (heading) => heading.scrollIntoView());
      await waitFor(() => inView('h1'), {what: 'the last heading in view'});
      // A jump back into the middle, among chunks never laid out, lands there too.
      const middle = ':scope > .markdown-chunk:nth-child(30) > h2:nth-child(3)';
      await page.$eval(
          pane, (element, middle) => element.querySelector(middle).scrollIntoView(), middle);
      await waitFor(() => inView(middle), {what: 'a heading in the middle in view'});
      await pageCaughtUp(page, 300);
      assert.equal(await inView(middle), true);
      await page.keyboard.press('Escape');
    });

test(
    'a 16 MB log shows as plain text in chunks, under a line that says so; Edit and Save work',
    async () => {
      const path = join(root, 'service.log');
      await openFile(path);
      assert.equal(await status(), 'Loaded 15.8 MB');
      const pane = '#md-rendered-content';
      assert.equal(
          await text(`${pane} > .md-plain-notice`),
          'Shown as plain text: a file over 4 MB is not rendered as Markdown.');
      const shown = await page.$eval(pane, (element) => {
        const body = element.querySelector(':scope > .md-plain-text');
        const chunks = [...body.children];
        const style = getComputedStyle(body);
        return {
          chunks: chunks.length,
          allChunks: chunks.every(
              (chunk) => chunk.className === 'md-plain-chunk' &&
                  getComputedStyle(chunk).contentVisibility === 'auto'),
          whiteSpace: style.whiteSpace,
          monospace: style.fontFamily.includes('monospace'),
          text: body.textContent,
          markup: element.querySelectorAll('p, br, h1, h2, code').length,
        };
      });
      assert.ok(shown.chunks > 100, `${shown.chunks} chunks`);
      assert.equal(shown.allChunks, true);
      assert.equal(shown.whiteSpace, 'pre-wrap');
      assert.equal(shown.monospace, true);
      assert.equal(shown.markup, 0);
      // Exactly the file's text, blank and indented lines included.
      assert.equal(shown.text.length, log.length);
      assert.equal(shown.text === log, true);

      // The last line comes into view when scrolled to, though the chunks before it were sized
      // by estimate until then.
      await page.$eval(pane, (element) => {
        element.scrollTop = element.scrollHeight;
      });
      const lastLine = log.slice(log.lastIndexOf('\n', log.length - 2) + 1);
      await waitFor(() => page.$eval(pane, (element, line) => {
        const last = element.querySelector('.md-plain-chunk:last-child');
        const box = last.getBoundingClientRect();
        const view = element.getBoundingClientRect();
        return element.scrollTop > 0 && box.bottom > view.top && box.top < view.bottom &&
            last.textContent.endsWith(line);
      }, lastLine), {what: 'the last line in view'});

      // Edit and Save as for any file.
      await page.click('#tab-md-edit');
      await page.focus('#md-raw-textarea');
      await page.keyboard.press('Control+End');
      await page.keyboard.type('END');
      await page.keyboard.press('Control+s');
      await waitFor(
          async () => (await status()) === 'Saved successfully!',
          {timeout: 30000, what: 'the save'});
      assert.equal(readFileSync(path, 'utf8') === log + 'END', true);
      await page.click('#tab-md-view');
      assert.equal(
          await page.$eval(
              `${pane} > .md-plain-text`, (body) => body.textContent.endsWith('ms\nEND')),
          true);
      writeFileSync(path, log);

      const [download] = await Promise.all([
        page.waitForEvent('download'),
        page.click('#btn-md-download'),
      ]);
      assert.equal(download.suggestedFilename(), 'service.log');
      assert.equal(readFileSync(await download.path(), 'utf8') === log, true);
      await closeViewer();
    });

test('a text the Markdown library refuses shows as plain text', async () => {
  // The library's own hook makes it fail as it does on such a text.
  await page.evaluate(() => {
    window.marked.use({
      hooks: {
        preprocess(markdown) {
          if (window.__refuseMarkdown) throw new RangeError('Maximum call stack size exceeded');
          return markdown;
        },
      },
    });
    window.__refuseMarkdown = true;
  });
  try {
    await openFile(join(root, 'refused.md'));
    assert.equal(await status(), `Loaded ${Buffer.byteLength(SAMPLE)} B`);
    const pane = '#md-rendered-content';
    assert.equal(
        await text(`${pane} > .md-plain-notice`),
        'Shown as plain text: this file could not be rendered as Markdown.');
    assert.equal(await text(`${pane} > .md-plain-text`), SAMPLE);
    assert.equal(await page.$eval('#tab-md-edit', (button) => button.disabled), false);
  } finally {
    await page.evaluate(() => {
      window.__refuseMarkdown = false;
    });
  }
  // Rendering works again for the next file.
  await openFile(join(root, 'refused.md'));
  assert.equal(await text('#md-rendered-content h1'), 'Project Notes');
  await page.keyboard.press('Escape');
});
