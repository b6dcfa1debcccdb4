// Feedback capture in Chromium, against the program: the selection overlay, the screenshot and
// its crop, drawing in the annotation studio, and the submission, with the collection service
// played by the test through request routing (and left unreachable, as it is for users).
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {saveScreenshot, startHarness, waitFor} from './harness.mjs';
import {openAndConnect} from './page_helpers.mjs';

const FEEDBACK_URL = 'https://feedback.wrenfield.invalid/feedback';
const FALLBACK_NOTE =
    'As a fallback, your annotated screenshot has been copied to your clipboard so you can paste it directly.';
const CORS = {
  'Access-Control-Allow-Origin': '*',
  'Access-Control-Allow-Headers': 'Content-Type',
  'Access-Control-Allow-Methods': 'POST, OPTIONS',
};

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
    'a report goes to the collection service with its fields and shows the filed issue',
    async () => {
      const requests = [];
      await page.route(FEEDBACK_URL, async (route) => {
        if (route.request().method() === 'OPTIONS')
          return route.fulfill({status: 204, headers: CORS});
        requests.push(route.request());
        return route.fulfill({
          status: 200,
          headers: CORS,
          contentType: 'application/json',
          body: JSON.stringify({
            success: true,
            issue_url: 'https://issues.example.invalid/wrenfield/app/issues/42',
            issue_number: 42,
            repo: 'wrenfield/app',
          }),
        });
      });
      try {
        await captureSelection({x: 100, y: 100}, {x: 300, y: 250});
        await drag(await canvasPoint(0.2, 0.2), await canvasPoint(0.8, 0.8));
        const picture = await canvasPicture();

        dialogs.length = 0;
        await page.click('#btn-submit-feedback');
        assert.deepEqual(dialogs, ['Please enter a short title for the bug report.']);
        assert.equal(requests.length, 0);
        assert.equal(await page.evaluate(() => document.activeElement.id), 'feedback-title');

        await page.fill('#feedback-title', '  Tree does not expand  ');
        await page.fill('#feedback-desc', ' Click the arrow.\nNothing happens. ');
        const sentAfter = new Date().toISOString();
        await page.click('#btn-submit-feedback');
        await page.waitForSelector('#feedback-success-view:not(.hidden)');
        assert.equal(requests.length, 1);
        const request = requests[0];
        assert.equal(request.method(), 'POST');
        assert.equal(request.headers()['content-type'], 'application/json');
        const body = JSON.parse(request.postData());
        assert.deepEqual(
            Object.keys(body), ['project', 'title', 'description', 'image', 'labels', 'context']);
        assert.equal(body.project, 'wrenfield');
        assert.equal(body.title, 'Tree does not expand');
        assert.equal(body.description, 'Click the arrow.\nNothing happens.');
        assert.equal(body.image, picture);
        assert.deepEqual(body.labels, ['bug', 'in-app-report']);
        assert.deepEqual(Object.keys(body.context), ['app', 'os', 'host', 'path', 'time']);
        assert.equal(body.context.app, 'Wrenfield 1.0.0');
        assert.equal(
            body.context.os,
            await page.evaluate(() => navigator.userAgentData?.platform || navigator.platform));
        assert.equal(body.context.host, await text('#host-label'));
        assert.equal(body.context.path, await page.evaluate(() => window.state.currentPath));
        assert.match(body.context.time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$/);
        assert.ok(body.context.time >= sentAfter);

        assert.equal(await isHidden('#feedback-form-view'), true);
        assert.equal(await text('#feedback-issue-link'), 'Issue #42 on GitHub (wrenfield/app)');
        assert.equal(
            await page.getAttribute('#feedback-issue-link', 'href'),
            'https://issues.example.invalid/wrenfield/app/issues/42',
        );
        await page.click('#btn-copy-issue-url');
        await waitFor(
            async () => (await text('#toast')) === 'GitHub Issue URL copied!',
            {what: 'the link toast'});
        assert.equal(
            await page.evaluate(() => navigator.clipboard.readText()),
            'https://issues.example.invalid/wrenfield/app/issues/42');
        await page.click('#feedback-success-view .btn-primary');
        assert.equal(await isHidden('#modal-feedback'), true);
        assert.equal(
            await page.$eval('#btn-submit-feedback', (button) => button.textContent.trim()),
            'Submit Bug to GitHub');
      } finally {
        await page.unroute(FEEDBACK_URL);
      }
    });

test(
    'a refused report alerts and puts the picture on the clipboard; the studio keeps the report',
    async () => {
      const replies = [
        {status: 503, body: {success: false, error: 'Service paused'}, message: 'Service paused'},
        {status: 200, body: {success: false}, message: 'HTTP 200'},
      ];
      let next = 0;
      await page.route(FEEDBACK_URL, async (route) => {
        if (route.request().method() === 'OPTIONS')
          return route.fulfill({status: 204, headers: CORS});
        const reply = replies[next++];
        return route.fulfill({
          status: reply.status,
          headers: CORS,
          contentType: 'application/json',
          body: JSON.stringify(reply.body)
        });
      });
      try {
        await captureSelection({x: 100, y: 100}, {x: 300, y: 250});
        await page.fill('#feedback-title', 'Refused');
        for (const reply of replies) {
          await page.evaluate(() => navigator.clipboard.writeText('nothing yet'));
          dialogs.length = 0;
          await page.click('#btn-submit-feedback');
          await waitFor(() => dialogs.length > 0, {what: 'the failure alert'});
          assert.deepEqual(
              dialogs, [`Failed to submit feedback: ${reply.message}\n\n${FALLBACK_NOTE}`]);
          await waitFor(
              async () => (await clipboardTypes()).includes('image/png'),
              {what: 'the picture on the clipboard'});
          await waitFor(
              () => page.$eval('#btn-submit-feedback', (button) => !button.disabled),
              {what: 'the button back'});
          assert.equal(
              await page.$eval('#btn-submit-feedback', (button) => button.textContent.trim()),
              'Submit Bug to GitHub');
          assert.equal(await isHidden('#feedback-form-view'), false);
          assert.equal(await page.inputValue('#feedback-title'), 'Refused');
        }
      } finally {
        await page.unroute(FEEDBACK_URL);
      }
    });

test(
    'without a stand-in the report goes to the unreachable .invalid address and falls back to the clipboard',
    async () => {
      const seen = [];
      const record = (request) => seen.push(request.url());
      page.on('request', record);
      try {
        await page.fill('#feedback-title', 'Nobody listens');
        await page.evaluate(() => navigator.clipboard.writeText('nothing yet'));
        dialogs.length = 0;
        await page.click('#btn-submit-feedback');
        await waitFor(() => dialogs.length > 0, {timeout: 15000, what: 'the failure alert'});
        assert.match(
            dialogs[0],
            /^Failed to submit feedback: .+\n\nAs a fallback, your annotated screenshot has been copied/);
        assert.ok(seen.includes(FEEDBACK_URL), seen.join(', '));
        await waitFor(
            async () => (await clipboardTypes()).includes('image/png'),
            {what: 'the picture on the clipboard'});
      } finally {
        page.off('request', record);
      }
      await page.click('#btn-close-feedback');
    });
