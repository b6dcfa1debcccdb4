// The page document as served, start-up, the configured hosts and connecting through the
// form, in headless Chromium against the program and the local sshd.
import assert from 'node:assert/strict';
import {after, before, test} from 'node:test';

import {startHarness} from './harness.mjs';
import {isHidden, submitConnectForm, textOf, waitForFolder} from './page_helpers.mjs';

let harness;
let page;

before(async () => {
  harness = await startHarness();
  page = harness.page;
});

after(async () => {
  await harness?.close();
});

test('the document shows its load state before the page script runs', async () => {
  await page.route('**/js/app.js', (route) => route.abort());
  try {
    await page.goto(harness.program.url, {waitUntil: 'load'});
    assert.equal(await page.title(), 'Wrenfield');
    assert.equal(await page.getAttribute('html', 'class'), 'theme-auto');
    assert.equal(await textOf(page, '#host-label'), 'Not Connected');
    assert.equal(await page.getAttribute('#status-dot', 'class'), 'status-dot disconnected');
    assert.equal((await textOf(page, '#breadcrumbs')).trim(), '~');
    assert.equal(await page.getAttribute('#breadcrumb-container', 'data-state'), 'display');
    assert.equal(await textOf(page, '#empty-title'), 'Not Connected');
    assert.equal(await page.$$eval('#file-table thead th', (cells) => cells.length), 5);
    assert.equal(await page.$$eval('#file-table-body tr', (rows) => rows.length), 0);
    assert.equal((await textOf(page, '#sidebar-hosts-list')).trim(), 'Loading hosts...');
    assert.equal(
        (await textOf(page, '#directory-tree-container')).trim(), 'Connect to browse folder tree');
    assert.equal(await textOf(page, '#status-items-count'), '0 items');
    assert.equal(await textOf(page, '#status-remote-info'), 'Ready');
    assert.equal(await page.isDisabled('#btn-back'), true);
    assert.equal(await page.isDisabled('#btn-forward'), true);
    assert.equal(await page.isDisabled('#btn-up'), false);

    const hiddenAtLoad = [
      '#context-menu',        '#bg-context-menu',
      '#global-context-menu', '#modal-connect',
      '#modal-new-file',      '#modal-new-folder',
      '#modal-rename',        '#modal-delete',
      '#modal-md-viewer',     '#screenshot-select-overlay',
      '#modal-feedback',      '#toast',
      '#drop-overlay',        '#loading-bar',
      '#grid-view-wrapper',   '#btn-clear-search',
      '#status-separator',    '#connect-error',
      '#connect-spinner',
    ];
    for (const selector of hiddenAtLoad) {
      assert.equal(await isHidden(page, selector), true, `${selector} is hidden at load`);
      assert.equal(await page.isVisible(selector), false, `${selector} is not shown at load`);
    }

    assert.equal(await page.$eval('#hl-dark-theme', (link) => link.disabled), true);
  } finally {
    await page.unroute('**/js/app.js');
  }
});

test('every script runs without an error and finds what it uses of the others', async () => {
  const errors = [];
  const onError = (error) => errors.push(error.message);
  const scripts = [];
  const onResponse = (response) => {
    if (response.request().resourceType() === 'script') {
      scripts.push([new URL(response.url()).pathname, response.status()]);
    }
  };
  page.on('pageerror', onError);
  page.on('response', onResponse);
  try {
    await page.goto(harness.program.url, {waitUntil: 'load'});
    await page.waitForSelector('#modal-connect:not(.hidden)');
    // The viewer and the feedback script call the page script's functions only when used:
    // open the viewer and the capture overlay once, then close them.
    await page.evaluate(() => window.openMarkdownViewer({name: 'none.md', path: '/none.md'}));
    // Unconnected, its read through the page script's request function fails with the
    // server's text.
    await page.waitForFunction(
        () => document.getElementById('md-save-status').textContent === 'Error');
    assert.equal(
        await page.textContent('#md-rendered-content'),
        'Error loading file: Not connected to SSH host');
    await page.keyboard.press('Escape');
    await page.evaluate(() => window.FeedbackStudio.startCapture());
    await page.waitForSelector('#screenshot-select-overlay:not(.hidden)');
    await page.keyboard.press('Escape');
  } finally {
    page.off('pageerror', onError);
    page.off('response', onResponse);
  }
  assert.deepEqual(errors, []);
  assert.ok(scripts.length > 0 && scripts.every(([, status]) => status === 200), `${scripts}`);

  const kinds = await page.evaluate(() => {
    const kindOf = (value) => typeof value;
    return {
      // The vendor libraries, for the viewer and the feedback script.
      marked: kindOf(window.marked?.parse),
      hljs: kindOf(window.hljs?.highlight),
      DOMPurify: kindOf(window.DOMPurify?.sanitize),
      html2canvas: kindOf(window.html2canvas),
      // Published by the viewer and the feedback script, for the page script.
      openMarkdownViewer: kindOf(window.openMarkdownViewer),
      startCapture: kindOf(window.FeedbackStudio?.startCapture),
      // Published by the page script, for the other two.
      state: kindOf(window.state),
      showToast: kindOf(window.showToast),
      showLoading: kindOf(window.showLoading),
      hideContextMenus: kindOf(window.hideContextMenus),
      downloadRemoteFile: kindOf(window.downloadRemoteFile),
      apiRequest: kindOf(window.apiRequest),
    };
  });
  for (const [name, kind] of Object.entries(kinds)) {
    assert.equal(kind, name === 'state' ? 'object' : 'function', name);
  }
  // The viewer sets the Markdown library up as it starts, so the library ran before it.
  assert.equal(await page.evaluate(() => window.marked.defaults.breaks), true);
});

test('nothing waits for the web font, which cannot be fetched here', async () => {
  const fontRequests = [];
  const onRequest = (request) => {
    if (request.url().includes('/css2?family=Inter')) fontRequests.push(request.url());
  };
  page.on('request', onRequest);
  const started = Date.now();
  await page.goto(harness.program.url, {waitUntil: 'domcontentloaded'});
  await page.waitForFunction(() => window.state !== undefined);
  assert.ok(Date.now() - started < 10000, 'the page script ran without waiting for the font');
  assert.equal(await page.$eval('link[href*="family=Inter"]', (link) => link.media), 'all');
  page.off('request', onRequest);
  assert.match(fontRequests[0] ?? '', /family=Inter:wght@400;500;600;700&display=swap/);
  // The font stack falls back to the system fonts.
  const family = await page.$eval('body', (body) => getComputedStyle(body).fontFamily);
  assert.match(family, /^Inter, -apple-system/);
});

test(
    'start-up finds no connection, opens the connect form and lists the configured hosts',
    async () => {
      const requests = [];
      const onRequest = (request) => {
        if (request.url().includes('/api/')) requests.push(new URL(request.url()).pathname);
      };
      page.on('request', onRequest);
      await page.goto(harness.program.url);
      await page.waitForSelector('#modal-connect:not(.hidden)');
      await page.waitForSelector('#sidebar-hosts-list .sidebar-item:not(.empty)');
      page.off('request', onRequest);
      // One after the other, in this order.
      assert.deepEqual(requests.slice(0, 3), ['/api/ssh-keys', '/api/config-hosts', '/api/status']);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'input-host');

      const {sshd} = harness;
      const sidebarNames = await page.$$eval(
          '#sidebar-hosts-list .sidebar-item',
          (items) => items.map((item) => item.textContent.trim()));
      assert.deepEqual(sidebarNames, [sshd.host, sshd.host2]);
      const options = await page.$$eval(
          '#input-host-select option', (elements) => elements.map((option) => option.textContent));
      assert.deepEqual(options, [
        '-- Choose a configured host (optional) --',
        `${sshd.user}@${sshd.host} (127.0.0.1) [key: id_ed25519]`,
        `${sshd.user}@${sshd.host2} (127.0.0.1) [key: id_ed25519]`,
      ]);
      const keys = await page.$$eval(
          '#keys-datalist option', (elements) => elements.map((option) => option.value));
      assert.ok(keys.some((key) => key.endsWith('id_ed25519')), `key suggestions: ${keys}`);

      // Choosing a configured host fills the form from its record.
      await page.selectOption('#input-host-select', {index: 2});
      assert.equal(await page.inputValue('#input-host'), sshd.host2);
      assert.equal(await page.inputValue('#input-user'), sshd.user);
      assert.equal(await page.inputValue('#input-port'), String(sshd.port));
      assert.match(await page.inputValue('#input-key'), /id_ed25519$/);

      // So does a click on a sidebar entry, which opens the form again after a cancel.
      await page.click('#btn-cancel-connect');
      assert.equal(await isHidden(page, '#modal-connect'), true);
      await page.click(`#sidebar-hosts-list .sidebar-item:has-text("${sshd.host}") >> nth=0`);
      await page.waitForSelector('#modal-connect:not(.hidden)');
      assert.equal(await page.inputValue('#input-host'), sshd.host);
    });

test('a failing host shows its error in the form, which stays open as typed', async () => {
  await page.goto(harness.program.url);
  await page.waitForSelector('#modal-connect:not(.hidden)');
  await submitConnectForm(page, {host: 'no-such-host.invalid', user: 'nobody'});
  await page.waitForSelector('#connect-error:not(.hidden)');
  const message = await textOf(page, '#connect-error');
  assert.ok(message.length > 0 && message !== 'Connection failed', `error: ${message}`);
  assert.match(message, /no-such-host\.invalid|resolve/i);
  assert.equal(await isHidden(page, '#modal-connect'), false);
  assert.equal(await isHidden(page, '#connect-spinner'), true);
  assert.equal(await page.inputValue('#input-host'), 'no-such-host.invalid');
  assert.equal(await page.inputValue('#input-user'), 'nobody');
  assert.equal(await textOf(page, '#host-label'), 'Not Connected');
  assert.equal(await page.evaluate(() => window.state.connected), false);

  // Opening the form again hides the old error.
  await page.click('#btn-close-connect');
  await page.click('#connection-pill');
  assert.equal(await isHidden(page, '#connect-error'), true);
});

test('connecting through the form shows the connection and lists the home folder', async () => {
  const {sshd} = harness;
  await page.goto(harness.program.url);
  await page.waitForSelector('#modal-connect:not(.hidden)');
  const connectRequest = page.waitForRequest((request) => request.url().endsWith('/api/connect'));
  await submitConnectForm(page, {host: sshd.host, port: sshd.port});
  const payload = JSON.parse((await connectRequest).postData());
  // Empty fields are left out; the port goes as a number.
  assert.deepEqual(payload, {host: sshd.host, port: sshd.port});

  await page.waitForSelector('#modal-connect.hidden', {state: 'attached'});
  const home = await page.evaluate(() => window.state.homeDir);
  await waitForFolder(page, home);
  assert.ok(home.startsWith('/'), `home: ${home}`);

  // The server's host already carries "user@" from the configuration: shown once.
  assert.equal(await textOf(page, '#host-label'), `${sshd.user}@${sshd.host}`);
  assert.equal(await page.getAttribute('#status-dot', 'class'), 'status-dot connected');
  assert.match(
      await textOf(page, '#status-remote-info'),
      new RegExp(` \\| ${home.replace(/[/.]/g, '\\$&')}$`));
  assert.equal(await textOf(page, '#toast'), `Connected to ${sshd.user}@${sshd.host}`);
  assert.equal(await page.evaluate(() => window.state.port), sshd.port);
  assert.match(await page.evaluate(() => window.state.identityFile), /id_ed25519$/);
  const rows = await page.$$eval('#file-table-body tr', (elements) => elements.length);
  assert.equal(await isHidden(page, '#empty-state'), rows > 0);
  const pills = await page.$$eval(
      '#breadcrumbs .breadcrumb-pill', (elements) => elements.map((pill) => pill.textContent));
  assert.deepEqual(pills, ['/', ...home.split('/').filter(Boolean)]);

  // A page loaded while the server holds the connection starts in the home folder.
  await page.reload();
  await page.waitForFunction(() => window.state.connected === true);
  await waitForFolder(page, home);
  assert.equal(await isHidden(page, '#modal-connect'), true);
  assert.equal(await textOf(page, '#host-label'), `${sshd.user}@${sshd.host}`);
  assert.equal(await page.isDisabled('#btn-back'), true);
});
