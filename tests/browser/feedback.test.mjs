// Feedback capture in Chromium, against the program: the selection overlay, the screenshot and
// its crop, drawing in the annotation studio, and the report copied to the clipboard (picture
// and text as one item; no service collects reports).
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {saveScreenshot, startHarness, waitFor} from './harness.mjs';
import {openAndConnect} from './page_helpers.mjs';

const COPIED_NOTE =
    'Copied the picture and the text (title, description, system details): paste them where you report the problem.';
const TEXT_ONLY_NOTE =
    'Copied the text only: the clipboard refused the picture with it. Copy Image copies the picture on its own.';

let harness;
let page;
let viewport;
const dialogs = [];

const text = (selector) => page.textContent(selector);
const isHidden = (selector) =>
    page.$eval(selector, (element) => element.classList.contains('hidden'));
const canvasSize = () => page.$eval('#feedback-canvas', (canvas) => [canvas.width, canvas.height]);
// A fingerprint of the annotated picture, to tell drawings apart.
const canvasPicture = () =>
    page.$eval('#feedback-canvas', (canvas) => canvas.toDataURL('image/png'));
const undoDisabled = () => page.$eval('#btn-draw-undo', (button) => button.disabled);

async function drag(from, to) {
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move(to.x, to.y, {steps: 6});
  await page.mouse.up();
}

// Captures a region of the page and waits for the studio to show the picture.
async function captureSelection(from, to) {
  await page.evaluate(() => window.FeedbackStudio.startCapture());
  if (from) await drag(from, to);
  await page.click('#btn-confirm-crop');
  await page.waitForSelector('#modal-feedback:not(.hidden)');
}

async function canvasPoint(fractionX, fractionY) {
  const box = await page.locator('#feedback-canvas').boundingBox();
  return {x: box.x + box.width * fractionX, y: box.y + box.height * fractionY};
}

async function clipboardTypes() {
  return page.evaluate(async () => {
    const items = await navigator.clipboard.read();
    return items.flatMap((item) => item.types);
  });
}

// What the clipboard holds: its items' types, the text, and the picture's size.
async function clipboardReport() {
  return page.evaluate(async () => {
    const items = await navigator.clipboard.read();
    const item = items[0];
    const picture = item.types.includes('image/png') ?
        await createImageBitmap(await item.getType('image/png')) :
        null;
    return {
      items: items.length,
      types: [...item.types].sort(),
      text: item.types.includes('text/plain') ? await (await item.getType('text/plain')).text() :
                                                null,
      picture: picture && [picture.width, picture.height],
    };
  });
}

// The text a report of `title` and `description` carries, its time left as a pattern.
async function expectedReport(title, description) {
  const platform =
      await page.evaluate(() => navigator.userAgentData?.platform || navigator.platform);
  const path = await page.evaluate(() => window.state.currentPath);
  return [
    title, '', ...(description ? [description, ''] : []), 'App: Wrenfield 1.0.0', `OS: ${platform}`,
    `Host: ${await text('#host-label')}`, `Path: ${path}`, 'Time: '
  ].join('\n');
}

// Checks a report's text against `expected`, the time last, as ISO 8601 in UTC.
function assertReportText(actual, expected, copiedAfter) {
  assert.ok(actual.startsWith(expected), actual);
  const time = actual.slice(expected.length);
  assert.match(time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\n$/);
  assert.ok(time.trim() >= copiedAfter);
}

before(async () => {
  harness = await startHarness();
  page = harness.page;
  viewport = page.viewportSize();
  await harness.browser.context.grantPermissions(['clipboard-read', 'clipboard-write'], {
    origin: harness.program.url,
  });
  page.on('dialog', (dialog) => {
    dialogs.push(dialog.message());
    dialog.dismiss().catch(() => {});
  });
  await openAndConnect(page, harness.program, harness.sshd);
});

after(async () => {
  await harness?.close();
});

test('the overlay follows a drag with its size badge and Escape closes it', async () => {
  await page.evaluate(() => window.FeedbackStudio.startCapture());
  assert.equal(await isHidden('#screenshot-select-overlay'), false);
  assert.equal(
      await page.$eval('body', (body) => body.classList.contains('crosshair-active')), true);
  assert.equal(await text('#screenshot-dimensions'), 'Drag to select area');

  // Dragged up and to the left: the marquee spans the two corners either way.
  await drag({x: 400, y: 300}, {x: 150, y: 120});
  assert.equal(await text('#screenshot-dimensions'), '250 × 180 px');
  const marquee = await page.$eval(
      '#screenshot-box',
      (box) => [box.style.left, box.style.top, box.classList.contains('hidden')]);
  assert.deepEqual(marquee, ['150px', '120px', false]);

  await page.keyboard.press('Escape');
  assert.equal(await isHidden('#screenshot-select-overlay'), true);
  assert.equal(
      await page.$eval('body', (body) => body.classList.contains('crosshair-active')), false);
  assert.equal(await isHidden('#modal-feedback'), true);

  // Escape in the middle of a drag captures nothing.
  await page.evaluate(() => window.FeedbackStudio.startCapture());
  await page.mouse.move(100, 100);
  await page.mouse.down();
  await page.mouse.move(200, 200);
  await page.keyboard.press('Escape');
  await page.mouse.up();
  assert.equal(await isHidden('#screenshot-select-overlay'), true);
  assert.equal(await isHidden('#modal-feedback'), true);
});

test(
    'Capture Selection crops at twice the scale; small selections and Full Window take the whole window',
    async () => {
      await captureSelection({x: 100, y: 80}, {x: 300, y: 230});
      assert.deepEqual(await canvasSize(), [400, 300]);
      assert.equal(
          await text('#feedback-telemetry-badge'),
          `App: Wrenfield v1.0.0 • Host: ${await text('#host-label')} • Path: ${
              await page.evaluate(() => window.state.currentPath)}`,
      );
      assert.equal(await page.evaluate(() => document.activeElement.id), 'feedback-title');
      assert.equal(await undoDisabled(), true);
      await page.click('#btn-close-feedback');
      assert.equal(await isHidden('#modal-feedback'), true);

      const whole = [viewport.width * 2, viewport.height * 2];
      await captureSelection(null);
      assert.deepEqual(await canvasSize(), whole);
      await page.click('#btn-close-feedback');
      // A side of 20 px or less is not cropped.
      await captureSelection({x: 100, y: 100}, {x: 115, y: 400});
      assert.deepEqual(await canvasSize(), whole);
      await page.click('#btn-close-feedback');

      await page.evaluate(() => window.FeedbackStudio.startCapture());
      await page.click('#btn-full-screenshot');
      await page.waitForSelector('#modal-feedback:not(.hidden)');
      assert.deepEqual(await canvasSize(), whole);
      // html2canvas drew the page: the picture is not a single flat colour.
      const colours = await page.$eval('#feedback-canvas', (canvas) => {
        const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
        const seen = new Set();
        for (let index = 0; index < data.length && seen.size < 20; index += 4 * 997)
          seen.add(data.slice(index, index + 3).join());
        return seen.size;
      });
      assert.ok(colours > 3, `only ${colours} colours in the screenshot`);
      await page.click('#btn-close-feedback');
    });

test(
    'pen, box and text notes draw on the canvas; undo steps back and clear restores the capture',
    async () => {
      await captureSelection({x: 200, y: 100}, {x: 600, y: 400});
      const raw = await canvasPicture();

      await drag(await canvasPoint(0.1, 0.1), await canvasPoint(0.4, 0.3));
      const afterPen = await canvasPicture();
      assert.notEqual(afterPen, raw);
      assert.equal(await undoDisabled(), false);

      await page.click('#tool-draw-rect');
      await page.click('.draw-color-swatch[data-color="#3b82f6"]');
      assert.deepEqual(
          await page.$$eval(
              '.annot-btn.active, .draw-color-swatch.active',
              (buttons) => buttons.map((button) => button.id || button.title)),
          ['tool-draw-rect', 'Blue'],
      );
      await drag(await canvasPoint(0.8, 0.8), await canvasPoint(0.5, 0.5));
      const afterBox = await canvasPicture();
      assert.notEqual(afterBox, afterPen);

      await page.click('#tool-draw-text');
      await page.mouse.click(...Object.values(await canvasPoint(0.2, 0.7)));
      const note = page.locator('#feedback-canvas-container .canvas-text-input');
      assert.equal(await note.getAttribute('placeholder'), 'Type note & press Enter');
      assert.equal(await note.evaluate((input) => input.style.borderColor), 'rgb(59, 130, 246)');
      await page.keyboard.type('Broken here');
      await page.keyboard.press('Enter');
      assert.equal(await note.count(), 0);
      const afterNote = await canvasPicture();
      assert.notEqual(afterNote, afterBox);

      // A note of spaces, and a note left by Escape, draw nothing.
      await page.mouse.click(...Object.values(await canvasPoint(0.6, 0.2)));
      await page.keyboard.type('   ');
      await page.keyboard.press('Enter');
      await page.mouse.click(...Object.values(await canvasPoint(0.6, 0.4)));
      await page.keyboard.type('never mind');
      await page.keyboard.press('Escape');
      assert.equal(await note.count(), 0);
      assert.equal(await canvasPicture(), afterNote);
      assert.equal(await isHidden('#modal-feedback'), false);

      await saveScreenshot(page, 'feedback-studio');
      await page.click('#btn-draw-undo');
      assert.equal(await canvasPicture(), afterBox);
      await page.click('#btn-draw-undo');
      assert.equal(await canvasPicture(), afterPen);
      await page.click('#btn-draw-undo');
      assert.equal(await canvasPicture(), raw);
      assert.equal(await undoDisabled(), true);

      await page.click('#tool-draw-pen');
      await drag(await canvasPoint(0.3, 0.3), await canvasPoint(0.7, 0.6));
      assert.notEqual(await canvasPicture(), raw);
      await page.click('#btn-draw-reset');
      assert.equal(await canvasPicture(), raw);
      assert.equal(await undoDisabled(), true);

      await page.click('#btn-copy-screenshot-image');
      await waitFor(
          async () => (await text('#toast')) === 'Screenshot copied to clipboard!',
          {what: 'the copy toast'});
      assert.deepEqual(await clipboardTypes(), ['image/png']);
      await page.click('#btn-close-feedback');
    });

test(
    'Copy Report puts the picture and the typed text on the clipboard as one item; the form keeps them',
    async () => {
      await captureSelection({x: 100, y: 100}, {x: 300, y: 250});
      assert.equal((await text('#btn-submit-feedback')).trim(), 'Copy Report');
      assert.equal(await isHidden('#feedback-copy-note'), true);
      await drag(await canvasPoint(0.2, 0.2), await canvasPoint(0.8, 0.8));

      dialogs.length = 0;
      await page.evaluate(() => navigator.clipboard.writeText('nothing yet'));
      await page.click('#btn-submit-feedback');
      assert.deepEqual(dialogs, ['Please enter a short title for the bug report.']);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'feedback-title');
      assert.equal(await page.evaluate(() => navigator.clipboard.readText()), 'nothing yet');

      await page.fill('#feedback-title', '  Tree does not expand  ');
      await page.fill('#feedback-desc', ' Click the arrow.\nNothing happens. ');
      const copiedAfter = new Date().toISOString();
      await page.click('#btn-submit-feedback');
      await waitFor(
          async () => (await text('#toast')) === 'Report copied to clipboard',
          {what: 'the copy toast'});
      const copied = await clipboardReport();
      assert.equal(copied.items, 1);
      assert.deepEqual(copied.types, ['image/png', 'text/plain']);
      assert.deepEqual(copied.picture, await canvasSize());
      assertReportText(
          copied.text,
          await expectedReport('Tree does not expand', 'Click the arrow.\nNothing happens.'),
          copiedAfter);
      assert.equal(await text('#feedback-copy-note'), COPIED_NOTE);
      assert.equal(await isHidden('#feedback-copy-note'), false);
      // The studio stays, with what was typed.
      assert.equal(await isHidden('#modal-feedback'), false);
      assert.equal(await page.inputValue('#feedback-title'), '  Tree does not expand  ');
      assert.equal(await page.inputValue('#feedback-desc'), ' Click the arrow.\nNothing happens. ');

      // Without a description the text has no empty paragraph for it.
      await page.fill('#feedback-desc', '   ');
      await page.click('#btn-submit-feedback');
      // Reading while the new item is written fails ("Clipboard data has changed"): read again.
      const second = await waitFor(async () => {
        try {
          const report = await clipboardReport();
          return report.text && !report.text.includes('Click the arrow') && report;
        } catch {
          return false;
        }
      }, {what: 'the second report'});
      assertReportText(second.text, await expectedReport('Tree does not expand', ''), copiedAfter);
      await page.click('#btn-close-feedback');
      assert.equal(await isHidden('#modal-feedback'), true);
    });

test(
    'where the clipboard refuses the picture with the text, the text goes alone with a note',
    async () => {
      await captureSelection({x: 100, y: 100}, {x: 300, y: 250});
      // A new capture starts with an empty form and no note.
      assert.equal(await page.inputValue('#feedback-title'), '');
      assert.equal(await isHidden('#feedback-copy-note'), true);
      await page.fill('#feedback-title', 'Refused');
      await page.evaluate(() => {
        navigator.clipboard.writeText('nothing yet');
        navigator.clipboard.write = () =>
            Promise.reject(new DOMException('Refused', 'NotAllowedError'));
      });
      try {
        const copiedAfter = new Date().toISOString();
        await page.click('#btn-submit-feedback');
        await waitFor(
            async () => (await text('#feedback-copy-note')) === TEXT_ONLY_NOTE,
            {what: 'the text-only note'});
        assert.equal(await text('#toast'), 'Report text copied to clipboard');
        assertReportText(
            await page.evaluate(() => navigator.clipboard.readText()),
            await expectedReport('Refused', ''), copiedAfter);
        assert.equal(await page.inputValue('#feedback-title'), 'Refused');

        // Nothing copied at all: the note says so, in the failure colour.
        await page.evaluate(() => {
          navigator.clipboard.writeText = () => Promise.reject(new Error('No clipboard here'));
        });
        await page.click('#btn-submit-feedback');
        await waitFor(
            async () => (await text('#feedback-copy-note')) ===
                'The report could not be copied: No clipboard here',
            {what: 'the failure note'});
        assert.equal(
            await page.$eval('#feedback-copy-note', (note) => note.classList.contains('failed')),
            true);
      } finally {
        await page.evaluate(() => {
          delete navigator.clipboard.write;
          delete navigator.clipboard.writeText;
        });
      }
      await page.click('#btn-close-feedback');
    });

test('copying a report sends nothing anywhere and waits on nothing', async () => {
  await captureSelection(null);
  const seen = [];
  const record = (request) => seen.push(request.url());
  page.on('request', record);
  try {
    await page.fill('#feedback-title', 'Nobody listens');
    dialogs.length = 0;
    await page.click('#btn-submit-feedback');
    // The button is never held busy.
    assert.equal(await page.$eval('#btn-submit-feedback', (button) => button.disabled), false);
    await waitFor(
        async () => (await clipboardTypes()).includes('text/plain'), {what: 'the report copied'});
    assert.deepEqual(dialogs, []);
    assert.deepEqual(seen.filter((url) => !url.startsWith(harness.program.url)), []);
  } finally {
    page.off('request', record);
  }
  // The page's policy lets it request nothing outside the program.
  const policy = (await page.request.get(harness.program.url)).headers()['content-security-policy'];
  const connect =
      policy.split(';').map((part) => part.trim()).find((part) => part.startsWith('connect-src'));
  assert.ok(connect.split(/\s+/).slice(1).every((source) => source.endsWith('/api/')), connect);
  await page.click('#btn-close-feedback');
});
