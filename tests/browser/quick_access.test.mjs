// Quick Access in headless Chromium against the program and the local sshd: the host groups
// made at connect time, adding from every source, removing, collapsing, file bookmarks and
// switching hosts through a bookmark.
import assert from 'node:assert/strict';
import {after, before, beforeEach, test} from 'node:test';

import {recordToasts, renderedGroups, storedGroups, toastMark, treeNode, waitForToast} from './action_helpers.mjs';
import {makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness} from './harness.mjs';
import {goToPath, openAndConnect, rowOf, submitConnectForm, waitForFolder} from './page_helpers.mjs';

let harness;
let page;
let sshd;
let scratch;
let home;

before(async () => {
  harness = await startHarness();
  ({page, sshd} = harness);
  await recordToasts(page);
  scratch = makeScratchDirectory(sshd, 'qa-');
  makeRemoteFiles(scratch, {
    'docs/guide.md': '# Guide\n',
    'docs/.secret.md': '# Hidden\n',
    'notes.txt': 'notes\n',
    'photos/': null,
  });
});

after(async () => {
  await harness?.close();
});

// Every test starts from empty storage, connected to the first alias, in its home folder.
beforeEach(async () => {
  await page.goto(harness.program.url);
  await page.evaluate(async () => {
    localStorage.clear();
    await fetch('/api/disconnect', {method: 'POST'});
  });
  await openAndConnect(page, harness.program, sshd);
  home = await page.evaluate(() => window.state.homeDir);
});

const currentHost = () => page.evaluate(() => window.state.host);

test(
    'the first connection makes the host group with its two bookmarks; reconnecting adds none',
    async () => {
      const host = await currentHost();
      const groups = await storedGroups(page);
      assert.equal(groups.length, 1);
      const [group] = groups;
      assert.equal(group.host, host);
      assert.equal(group.label, host);
      assert.equal(group.collapsed, false);
      assert.equal(typeof group.port, 'number');
      assert.match(
          group.hostKey, new RegExp(`^${host.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}:\\d+`));
      assert.ok(!group.hostKey.includes('@' + sshd.user + '@'), 'the key does not repeat the user');
      // The alias names a key file in the SSH configuration: the connection's key is in the key.
      assert.ok(group.identity_file.endsWith('id_ed25519'), group.identity_file);
      assert.ok(group.hostKey.endsWith(` [${group.identity_file}]`), group.hostKey);
      assert.deepEqual(group.bookmarks, [
        {name: 'Home (~)', path: home},
        {name: 'Root (/)', path: '/'},
      ]);

      // The home bookmark is the folder shown; the group is the connected one.
      assert.deepEqual(await renderedGroups(page), [
        {
          label: host,
          current: true,
          collapsed: false,
          bookmarks: [
            {name: 'Home (~)', path: home, active: true},
            {name: 'Root (/)', path: '/', active: false},
          ],
        },
      ]);
      assert.equal(
          await page.getAttribute('#quick-access-container li.qa-item >> nth=1', 'title'),
          `/ on ${host}`,
      );

      // A reload (the server still connected) and a second connect through the form keep the one
      // group and its bookmarks.
      await page.reload();
      await waitForFolder(page, home);
      await page.click('#connection-pill');
      await submitConnectForm(page, {host: sshd.host});
      await page.waitForSelector('#modal-connect.hidden', {state: 'attached'});
      await waitForFolder(page, home);
      assert.deepEqual(await storedGroups(page), groups);
    });

test('stored entries that are not records are skipped, and the page still starts', async () => {
  const stored = [
    null,
    7,
    {
      host: 'elsewhere',
      label: 'elsewhere',
      hostKey: 'elsewhere:22',
      port: 22,
      collapsed: false,
      bookmarks: [null, 'text', {name: 'Tmp', path: '/tmp'}],
    },
  ];
  await page.evaluate(async (groups) => {
    localStorage.setItem('wrenfield_quick_access_v2', JSON.stringify(groups));
    await fetch('/api/disconnect', {method: 'POST'});
  }, stored);
  await page.reload();
  await openAndConnect(page, harness.program, sshd);
  const host = await currentHost();
  const groups = await renderedGroups(page);
  assert.deepEqual(groups.map((group) => group.label), ['elsewhere', host]);
  assert.deepEqual(groups[0].bookmarks.map((bookmark) => bookmark.path), ['/tmp']);
});

test(
    'adding from the button, the item menu, a tree row and drops; duplicates are refused',
    async () => {
      // Without a selection the button adds the folder shown, which is already there.
      let mark = await toastMark(page);
      await page.click('#btn-add-quick-access');
      await waitForToast(page, `"${home}" is already in Quick Access`, mark);
      assert.equal((await storedGroups(page))[0].bookmarks.length, 2);

      await goToPath(page, scratch);
      mark = await toastMark(page);
      await page.click('#btn-add-quick-access');
      const scratchName = scratch.split('/').pop();
      await waitForToast(page, `Added "${scratchName}" to Quick Access`, mark);

      // The item menu adds the selected file, as a file.
      await rowOf(page, 'notes.txt').click({button: 'right'});
      await page.click('#ctx-add-quick-access');
      await waitForToast(page, 'Added "notes.txt" to Quick Access', mark);

      // A tree row's right-click adds its folder under its shown name, and opens no menu. The
      // default "/" bookmark goes first, so that the root can be added again.
      await page.hover('li.qa-item:has-text("Root (/)")');
      await page.click('li.qa-item:has-text("Root (/)") .qa-delete-btn');
      await page.waitForSelector('#directory-tree-container .tree-node[data-path="/"]');
      const rootIndex =
          (await page.locator('#directory-tree-container > .tree-node[data-path="/"]').count()) - 1;
      await treeNode(page, '/', rootIndex).locator(':scope > .tree-row').click({button: 'right'});
      await waitForToast(page, 'Added "Root (/)" to Quick Access', mark);
      assert.equal(await page.locator('.context-menu:not(.hidden)').count(), 0);

      // A tree row can be dragged there too (its folder, the home folder, is there already).
      await treeNode(page, home)
          .locator(':scope > .tree-row')
          .dragTo(page.locator('#group-quick-access'));
      await waitForToast(page, `"${home}" is already in Quick Access`, mark);

      // Dragging a folder row onto Quick Access adds it as a folder.
      await rowOf(page, 'photos').dragTo(page.locator('#group-quick-access'));
      await waitForToast(page, 'Added "photos" to Quick Access', mark);
      assert.equal(
          await page.$eval('#group-quick-access', (group) => group.classList.contains('drag-over')),
          false);

      // A dropped plain path that starts with "/" is added as a folder; other text is ignored.
      const dropText = (text) => page.evaluate((value) => {
        const group = document.getElementById('group-quick-access');
        const data = new DataTransfer();
        data.setData('text/plain', value);
        group.dispatchEvent(
            new DragEvent('dragover', {dataTransfer: data, bubbles: true, cancelable: true}));
        group.dispatchEvent(
            new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));
      }, text);
      await dropText('not a path');
      await dropText(`${scratch}/docs`);
      await waitForToast(page, 'Added "docs" to Quick Access', mark);

      const bookmarks = (await storedGroups(page))[0].bookmarks;
      assert.deepEqual(bookmarks.slice(1), [
        {name: scratchName, path: scratch, is_dir: true},
        {name: 'notes.txt', path: `${scratch}/notes.txt`, is_dir: false},
        {name: 'Root (/)', path: '/', is_dir: true},
        {name: 'photos', path: `${scratch}/photos`, is_dir: true},
        {name: 'docs', path: `${scratch}/docs`, is_dir: true},
      ]);

      // The folder shown and the selected item are marked; marks follow the selection.
      await rowOf(page, 'notes.txt').click();
      const active = async () => (await renderedGroups(
          page))[0].bookmarks.filter((bookmark) => bookmark.active)
                                     .map((bookmark) => bookmark.name);
      assert.deepEqual(await active(), [scratchName, 'notes.txt']);
      await rowOf(page, 'photos').click();
      assert.deepEqual(await active(), [scratchName, 'photos']);
      await saveScreenshot(page, 'quick-access-bookmarks');
    });

test('removing bookmarks, the last one removing its group; collapsing is kept', async () => {
  const header = page.locator('.qa-host-header').first();
  await header.click();
  assert.equal((await storedGroups(page))[0].collapsed, true);
  assert.equal(await page.isVisible('li.qa-item'), false);
  await header.click();
  assert.equal((await storedGroups(page))[0].collapsed, false);

  const mark = await toastMark(page);
  await page.hover('li.qa-item >> nth=0');
  await page.click('li.qa-item >> nth=0 >> .qa-delete-btn');
  await waitForToast(page, 'Removed from Quick Access', mark);
  assert.deepEqual((await storedGroups(page))[0].bookmarks.map((bookmark) => bookmark.path), ['/']);
  // The remove button's click does not reach the item: nothing was navigated to.
  assert.equal(await page.evaluate(() => window.state.currentPath), home);

  await page.hover('li.qa-item >> nth=0');
  await page.click('li.qa-item >> nth=0 >> .qa-delete-btn');
  await page.waitForFunction(() => document.querySelectorAll('.qa-host-group').length === 0);
  assert.deepEqual(await storedGroups(page), []);
  assert.equal(
      (await page.textContent('#quick-access-container')).trim(),
      'No bookmarks yet. Connect and click "+" to add.',
  );

  // The next connection to the host brings the group back with its two defaults.
  await page.click('#connection-pill');
  await submitConnectForm(page, {host: sshd.host});
  await page.waitForFunction(() => document.querySelectorAll('.qa-host-group').length === 1);
  assert.deepEqual(
      (await storedGroups(page))[0].bookmarks.map((bookmark) => bookmark.name),
      ['Home (~)', 'Root (/)']);
});

test(
    'a folder bookmark opens its folder; a hidden file bookmark shows hidden entries and opens the file',
    async () => {
      await goToPath(page, `${scratch}/docs`);
      await page.click('#btn-toggle-hidden');
      await rowOf(page, '.secret.md').click();
      await page.click('#btn-add-quick-access');
      await page.click('#btn-toggle-hidden');
      await page.waitForFunction(() => window.state.showHidden === false);

      await page.click('li.qa-item:has-text("Root (/)") .qa-item-main');
      await waitForFolder(page, '/');

      await page.click('li.qa-item:has-text(".secret.md") .qa-item-main');
      await page.waitForSelector('#modal-md-viewer:not(.hidden)');
      assert.equal(await page.evaluate(() => window.state.currentPath), `${scratch}/docs`);
      assert.equal(await page.evaluate(() => window.state.showHidden), true);
      assert.equal(
          await page.$eval('#btn-toggle-hidden', (button) => button.classList.contains('active')),
          true);
      assert.equal(
          await page.evaluate(() => window.state.selectedItem.path), `${scratch}/docs/.secret.md`);
      assert.equal(
          await rowOf(page, '.secret.md').evaluate((row) => row.classList.contains('selected')),
          true);
    });

test('a bookmark of another host connects to it first, reaching the same destination', async () => {
  const firstHost = await currentHost();
  // Connect to the server's second alias through the form: a second group.
  await page.click('#connection-pill');
  await page.waitForSelector('#modal-connect:not(.hidden)');
  await submitConnectForm(page, {host: sshd.host2});
  await page.waitForSelector('#modal-connect.hidden', {state: 'attached'});
  await page.waitForFunction((first) => window.state.host !== first, firstHost);
  const secondHost = await currentHost();
  assert.equal((await storedGroups(page)).length, 2);
  let groups = await renderedGroups(page);
  assert.deepEqual(
      groups.map((group) => [group.label, group.current]),
      [[firstHost, false], [secondHost, true]]);
  await saveScreenshot(page, 'quick-access-two-hosts');

  const connects = [];
  const onRequest = (request) => {
    if (request.url().endsWith('/api/connect')) connects.push(request.postDataJSON());
  };
  page.on('request', onRequest);
  const mark = await toastMark(page);
  await page.click('.qa-host-group >> nth=0 >> li.qa-item:has-text("Root (/)") .qa-item-main');
  await waitForToast(page, `Connected to ${firstHost}`, mark);
  await waitForFolder(page, '/');
  page.off('request', onRequest);

  assert.equal((await toastMarkTexts(mark))[0], `Connecting to ${firstHost}...`);
  assert.equal(connects.length, 1);
  assert.equal(connects[0].host, sshd.host, 'the host is posted without the user in front');
  assert.ok(!('port' in connects[0]) || connects[0].port !== 22 || sshd.port === 22);
  assert.equal(await currentHost(), firstHost);
  assert.equal(await page.textContent('#host-label'), firstHost);
  assert.equal((await storedGroups(page)).length, 2, 'the switch made no third group');
  groups = await renderedGroups(page);
  assert.deepEqual(groups.map((group) => group.current), [true, false]);
  assert.equal(groups[0].bookmarks.find((bookmark) => bookmark.path === '/').active, true);

  // A switch that fails leaves the page on its connection.
  await page.evaluate(() => {
    const groups = JSON.parse(localStorage.getItem('wrenfield_quick_access_v2'));
    groups.push({
      hostKey: 'nobody@no-such-host.invalid:22',
      host: 'no-such-host.invalid',
      user: '',
      port: 22,
      identity_file: '',
      label: 'broken',
      collapsed: false,
      bookmarks: [{name: 'Root (/)', path: '/'}]
    });
    localStorage.setItem('wrenfield_quick_access_v2', JSON.stringify(groups));
  });
  await page.click('#btn-refresh');  // re-renders Quick Access from storage
  await waitForFolder(page, '/');
  const failMark = await toastMark(page);
  await page.click('.qa-host-group:has-text("broken") .qa-item-main');
  await page.waitForFunction(
      (from) => window.__toasts.slice(from).some((text) => text.startsWith('Connection failed: ')),
      failMark,
  );
  assert.equal(await currentHost(), firstHost);
  assert.equal(await page.$eval('#loading-bar', (bar) => bar.classList.contains('hidden')), true);

  // A switch to a group that uses no key file records none, although the connect form's key
  // field still holds the key of an earlier connection (the reply is a stand-in: the test
  // server's aliases all name a key file).
  await page.evaluate(() => {
    document.getElementById('input-key').value = '/elsewhere/id_other';
    const groups = JSON.parse(localStorage.getItem('wrenfield_quick_access_v2'));
    groups.push({
      hostKey: 'default@keyless.invalid:22',
      host: 'keyless.invalid',
      user: '',
      port: 22,
      identity_file: '',
      label: 'keyless',
      collapsed: false,
      bookmarks: [{name: 'Root (/)', path: '/'}]
    });
    localStorage.setItem('wrenfield_quick_access_v2', JSON.stringify(groups));
  });
  await page.route(
      '**/api/connect',
      (route) => route.fulfill({
        status: 200,
        contentType: 'application/json',
        body: JSON.stringify({
          success: true,
          host: 'keyless.invalid',
          user: '',
          home_dir: '/',
          remote_os: 'Linux',
          has_python: true,
          error: null,
          identity_file: null
        }),
      }),
  );
  try {
    await page.click('#btn-refresh');
    await waitForFolder(page, '/');
    const keylessMark = await toastMark(page);
    await page.click('.qa-host-group:has-text("keyless") .qa-item-main');
    await waitForToast(page, 'Connected to keyless.invalid', keylessMark);
  } finally {
    await page.unroute('**/api/connect');
  }
  assert.equal(await page.evaluate(() => window.state.identityFile), '');
  const keyless = (await storedGroups(page)).find((group) => group.host === 'keyless.invalid');
  assert.deepEqual([keyless.identity_file, keyless.hostKey], ['', 'default@keyless.invalid:22']);
});

const toastMarkTexts = (mark) => page.evaluate((from) => window.__toasts.slice(from), mark);
