// Uploads (picker and dropped files), the new-file, new-folder, rename and delete forms and the
// theme engine, in headless Chromium against the program and the local sshd.
import assert from 'node:assert/strict';
import {existsSync, readFileSync, rmSync, statSync} from 'node:fs';
import {after, before, test} from 'node:test';

import {countRequests, expandTreeNode, expandTreeTo, recordToasts, toastMark, toastsSince, treeChildren, treeNode, waitForToast,} from './action_helpers.mjs';
import {launchBrowser, makeRemoteFiles, makeScratchDirectory, saveScreenshot, startHarness} from './harness.mjs';
import {goToPath, listedNames, openAndConnect, pageCaughtUp, rowOf, waitForFolder, waitForStill} from './page_helpers.mjs';

let harness;
let page;
let sshd;
let scratch;

before(async () => {
  harness = await startHarness();
  ({page, sshd} = harness);
  await recordToasts(page);
  scratch = makeScratchDirectory(sshd, 'forms-');
  makeRemoteFiles(scratch, {
    'uploads/taken.txt/': null,
    'work/old-name.txt': 'keep me\n',
    'work/doomed/inside/file.txt': 'x\n',
    'work/sub/': null,
    'clash/keep.txt': 'precious\n',
    'clash/other.txt': 'other\n',
    'clash/sub/keep.txt': 'deeper\n',
    'clash/victim.txt': 'to delete\n',
  });
  await page.goto(harness.program.url);
  await page.evaluate(() => localStorage.clear());
  await openAndConnect(page, harness.program, sshd);
});

after(async () => {
  await harness?.close();
});

const loadingHidden = () =>
    page.waitForFunction(() => document.getElementById('loading-bar').classList.contains('hidden'));

// Waits for the question whether to replace `name` in the folder shown and answers it with the
// button `button`.
async function answerReplace(name, button) {
  await page.waitForSelector('#modal-upload-replace:not(.hidden)');
  assert.match(await page.textContent('#upload-replace-message'), new RegExp(`"${name}"`));
  await page.click(button);
  // The answer closes the question; the next file's question may already stand in its place.
  await page.waitForFunction(
      (shown) => document.getElementById('modal-upload-replace').classList.contains('hidden') ||
          !document.getElementById('upload-replace-message').textContent.includes(shown),
      `"${name}"`);
}

test('uploading a name the folder holds asks for each such file: Replace or Skip', async () => {
  makeRemoteFiles(scratch, {'replace/kept.txt': 'old kept\n', 'replace/swapped.txt': 'old\n'});
  await goToPath(page, `${scratch}/replace`);
  const uploads = countRequests(page, '/api/upload');
  const mark = await toastMark(page);
  const [chooser] =
      await Promise.all([page.waitForEvent('filechooser'), page.click('#btn-upload')]);
  await chooser.setFiles([
    {name: 'kept.txt', mimeType: 'text/plain', buffer: Buffer.from('new kept\n')},
    {name: 'fresh.txt', mimeType: 'text/plain', buffer: Buffer.from('fresh\n')},
    {name: 'swapped.txt', mimeType: 'text/plain', buffer: Buffer.from('new\n')},
  ]);
  await answerReplace('kept.txt', '#btn-upload-skip');
  await answerReplace('swapped.txt', '#btn-upload-replace');
  await waitForToast(page, 'Uploaded 2 files successfully', mark);
  assert.deepEqual(
      uploads.requests().map((request) => new URL(request.url()).searchParams.get('path')),
      [`${scratch}/replace/fresh.txt`, `${scratch}/replace/swapped.txt`]);
  uploads.stop();
  assert.equal(readFileSync(`${scratch}/replace/kept.txt`, 'utf8'), 'old kept\n');
  assert.equal(readFileSync(`${scratch}/replace/swapped.txt`, 'utf8'), 'new\n');
  assert.equal(readFileSync(`${scratch}/replace/fresh.txt`, 'utf8'), 'fresh\n');

  // Skipping every file sends nothing and says nothing.
  const before = await toastMark(page);
  const [again] = await Promise.all([page.waitForEvent('filechooser'), page.click('#btn-upload')]);
  await again.setFiles([{name: 'kept.txt', mimeType: 'text/plain', buffer: Buffer.from('no')}]);
  await answerReplace('kept.txt', '#btn-upload-skip');
  await pageCaughtUp(page, 300);
  assert.deepEqual(await toastsSince(page, before), []);
  assert.equal(readFileSync(`${scratch}/replace/kept.txt`, 'utf8'), 'old kept\n');
});

test(
    'uploading several files from the picker, one failing: its toast, the count and one refresh',
    async () => {
      await goToPath(page, `${scratch}/uploads`);
      const lists = countRequests(page, '/api/list', `${scratch}/uploads`);
      const uploads = countRequests(page, '/api/upload');
      const mark = await toastMark(page);
      const [chooser] =
          await Promise.all([page.waitForEvent('filechooser'), page.click('#btn-upload')]);
      await chooser.setFiles([
        {name: 'one.txt', mimeType: 'text/plain', buffer: Buffer.from('first\n')},
        // A folder of that name is in the way: the remote write fails.
        {name: 'taken.txt', mimeType: 'text/plain', buffer: Buffer.from('second\n')},
        {
          name: 'three.bin',
          mimeType: 'application/octet-stream',
          buffer: Buffer.from([0, 255, 10, 13, 0])
        },
      ]);
      // The folder already holds the name: asked, the user chose to replace it.
      await answerReplace('taken.txt', '#btn-upload-replace');
      await waitForToast(page, 'Uploaded 2 files successfully', mark);
      await waitForFolder(page, `${scratch}/uploads`);
      await loadingHidden();

      const toasts = await toastsSince(page, mark);
      assert.equal(toasts.length, 2, JSON.stringify(toasts));
      assert.match(toasts[0], /^Upload failed for taken\.txt: .+/);
      assert.equal(toasts[1], 'Uploaded 2 files successfully');
      assert.equal(lists.count(), 1, 'one listing after the uploads');
      lists.stop();
      // One request per file, in order, each to the folder shown plus the file's name.
      assert.deepEqual(
          uploads.requests().map((request) => new URL(request.url()).searchParams.get('path')),
          ['one.txt', 'taken.txt', 'three.bin'].map((name) => `${scratch}/uploads/${name}`),
      );
      uploads.stop();
      assert.equal(readFileSync(`${scratch}/uploads/one.txt`, 'utf8'), 'first\n');
      assert.deepEqual(
          readFileSync(`${scratch}/uploads/three.bin`), Buffer.from([0, 255, 10, 13, 0]));
      assert.deepEqual(await listedNames(page), ['taken.txt', 'one.txt', 'three.bin']);
      // The picker was cleared, so the same file can be chosen again.
      assert.equal(await page.$eval('#file-upload-input', (input) => input.files.length), 0);
    });

test('when every file fails there are only the error toasts and no refresh', async () => {
  await goToPath(page, `${scratch}/uploads`);
  const lists = countRequests(page, '/api/list', `${scratch}/uploads`);
  const mark = await toastMark(page);
  const [chooser] =
      await Promise.all([page.waitForEvent('filechooser'), page.click('#btn-upload')]);
  await chooser.setFiles([{name: 'taken.txt', mimeType: 'text/plain', buffer: Buffer.from('x')}]);
  await answerReplace('taken.txt', '#btn-upload-replace');
  await page.waitForFunction((from) => window.__toasts.length > from, mark);
  await loadingHidden();
  await pageCaughtUp(page, 200);
  const toasts = await toastsSince(page, mark);
  assert.equal(toasts.length, 1);
  assert.match(toasts[0], /^Upload failed for taken\.txt: /);
  assert.equal(lists.count(), 0);
  lists.stop();
});

test(
    'files dropped on the file view are uploaded; the overlay shows only for outside files',
    async () => {
      await goToPath(page, `${scratch}/uploads/`);
      const uploads = countRequests(page, '/api/upload');
      const mark = await toastMark(page);
      // An outside drag of files shows the overlay; a drop on it uploads every file, in order.
      await page.evaluate(() => {
        const data = new DataTransfer();
        data.items.add(new File(['dropped one\n'], 'drop-a.txt', {type: 'text/plain'}));
        data.items.add(new File(['dropped two\n'], 'drop-b.txt', {type: 'text/plain'}));
        window.__dropData = data;
        document.getElementById('drop-zone')
            .dispatchEvent(
                new DragEvent('dragenter', {dataTransfer: data, bubbles: true, cancelable: true}));
      });
      assert.equal(await page.isVisible('#drop-overlay'), true);
      await saveScreenshot(page, 'drop-overlay');
      await page.evaluate(() => {
        const overlay = document.getElementById('drop-overlay');
        const over = new DragEvent(
            'dragover', {dataTransfer: window.__dropData, bubbles: true, cancelable: true});
        overlay.dispatchEvent(over);
        window.__overAccepted = over.defaultPrevented;
        overlay.dispatchEvent(new DragEvent(
            'drop', {dataTransfer: window.__dropData, bubbles: true, cancelable: true}));
      });
      assert.equal(await page.evaluate(() => window.__overAccepted), true);
      assert.equal(await page.isVisible('#drop-overlay'), false);
      await waitForToast(page, 'Uploaded 2 files successfully', mark);
      // A folder given with a trailing "/" does not get the slash doubled.
      assert.deepEqual(
          uploads.requests().map((request) => new URL(request.url()).searchParams.get('path')),
          [`${scratch}/uploads/drop-a.txt`, `${scratch}/uploads/drop-b.txt`],
      );
      uploads.stop();
      assert.equal(readFileSync(`${scratch}/uploads/drop-b.txt`, 'utf8'), 'dropped two\n');

      // Leaving the overlay for nothing hides it; a drag that started in the page never shows it.
      await page.evaluate(() => {
        const data = new DataTransfer();
        data.items.add(new File(['x'], 'x.txt'));
        document.getElementById('drop-zone')
            .dispatchEvent(
                new DragEvent('dragenter', {dataTransfer: data, bubbles: true, cancelable: true}));
        document.getElementById('drop-overlay')
            .dispatchEvent(new DragEvent(
                'dragleave', {dataTransfer: data, bubbles: true, relatedTarget: null}));
      });
      assert.equal(await page.isVisible('#drop-overlay'), false);
      await page.evaluate(() => {
        window.state.isDraggingInternal = true;
        const data = new DataTransfer();
        data.items.add(new File(['x'], 'x.txt'));
        document.getElementById('drop-zone')
            .dispatchEvent(
                new DragEvent('dragenter', {dataTransfer: data, bubbles: true, cancelable: true}));
        window.state.isDraggingInternal = false;
      });
      assert.equal(await page.isVisible('#drop-overlay'), false);
    });

test('uploading into "/" sends "/" and the name', async () => {
  await goToPath(page, '/');
  const targets = [];
  await page.route('**/api/upload?**', (route) => {
    targets.push(new URL(route.request().url()).searchParams.get('path'));
    route.fulfill({
      status: 200,
      contentType: 'application/json',
      body: '{"success":true,"message":"File uploaded successfully"}'
    });
  });
  const mark = await toastMark(page);
  const [chooser] =
      await Promise.all([page.waitForEvent('filechooser'), page.click('#btn-upload')]);
  await chooser.setFiles(
      [{name: 'root-file.txt', mimeType: 'text/plain', buffer: Buffer.from('x')}]);
  await waitForToast(page, 'Uploaded 1 file successfully', mark);
  await page.unroute('**/api/upload?**');
  assert.deepEqual(targets, ['/root-file.txt']);
});

test(
    'new file and new folder: the modal, the request, the toast, the listing; failures in the box',
    async () => {
      await goToPath(page, `${scratch}/work`);
      await page.click('#btn-new-file');
      assert.equal(await page.isVisible('#modal-new-file'), true);
      assert.equal(await page.evaluate(() => document.activeElement.id), 'input-new-filename');
      await saveScreenshot(page, 'modal-new-file');
      // The browser's validation stops an empty name.
      await page.click('#modal-new-file button[type=submit]');
      assert.equal(await page.isVisible('#modal-new-file'), true);
      // A name of only spaces is refused in the form, and nothing is created.
      const listed = await listedNames(page);
      await page.fill('#input-new-filename', '   ');
      await page.press('#input-new-filename', 'Enter');
      assert.equal(await page.textContent('#new-file-error'), 'Enter a name.');
      assert.equal(await page.isVisible('#modal-new-file'), true);
      await page.click('#btn-cancel-new-file');
      await page.click('#btn-new-folder');
      await page.fill('#input-new-foldername', '  ');
      await page.click('#modal-new-folder button[type=submit]');
      assert.equal(await page.textContent('#new-folder-error'), 'Enter a name.');
      await page.click('#btn-cancel-new-folder');
      assert.deepEqual(await listedNames(page), listed);
      await page.click('#btn-new-file');

      let mark = await toastMark(page);
      await page.fill('#input-new-filename', '  created.md  ');
      await page.press('#input-new-filename', 'Enter');
      await waitForToast(page, 'Created created.md', mark);
      assert.equal(await page.isVisible('#modal-new-file'), false);
      await page.waitForFunction(
          () => [...document.querySelectorAll('.file-item-name')].some(
              (cell) => cell.textContent === 'created.md'));
      assert.equal(statSync(`${scratch}/work/created.md`).size, 0);

      // A failing request keeps the modal open with the server's message; reopening clears it.
      // (The server's refusal is answered here.)
      await page.route(
          '**/api/write',
          (route) => route.fulfill({
            status: 500,
            contentType: 'application/json',
            body: '{"success":false,"error":"[Errno 28] No space left on device"}'
          }),
      );
      await page.click('#btn-new-file');
      await page.fill('#input-new-filename', 'unwritable.md');
      await page.click('#modal-new-file button[type=submit]');
      await page.waitForSelector('#new-file-error:not(.hidden)');
      await page.unroute('**/api/write');
      assert.equal(await page.textContent('#new-file-error'), '[Errno 28] No space left on device');
      assert.equal(await page.isVisible('#modal-new-file'), true);
      await page.click('#btn-close-new-file');
      await page.click('#btn-new-file');
      assert.equal(await page.isVisible('#new-file-error'), false);
      assert.equal(await page.inputValue('#input-new-filename'), '');
      await page.click('#btn-cancel-new-file');

      // A new folder drops the tree's cache entry of the folder shown: a node of that folder that
      // is filled after the change lists the new folder, while the node already shown stays.
      await expandTreeTo(page, `${scratch}/work`);
      const workNodes = await treeNode(page, `${scratch}/work`).count();
      assert.deepEqual(
          await treeChildren(page, `${scratch}/work`, workNodes - 1), ['doomed', 'sub']);
      await page.click('#btn-new-folder');
      assert.equal(await page.evaluate(() => document.activeElement.id), 'input-new-foldername');
      mark = await toastMark(page);
      await page.fill('#input-new-foldername', 'made');
      await page.click('#modal-new-folder button[type=submit]');
      await waitForToast(page, 'Created folder made', mark);
      assert.ok(statSync(`${scratch}/work/made`).isDirectory());
      await page.waitForFunction(
          () => [...document.querySelectorAll('.file-item-name')].some(
              (cell) => cell.textContent === 'made'));
      assert.deepEqual(
          await treeChildren(page, `${scratch}/work`, workNodes - 1), ['doomed', 'sub']);
      const lists = countRequests(page, '/api/list', `${scratch}/work`);
      await page.evaluate((path) => {
        // Emptied, the node stands for a fresh one, as the tree makes for a folder not yet filled.
        const nodes = document.querySelectorAll(`.tree-node[data-path="${CSS.escape(path)}"]`);
        const node = nodes[nodes.length - 1];
        node.lastElementChild.replaceChildren();
      }, `${scratch}/work`);
      await treeNode(page, `${scratch}/work`, workNodes - 1)
          .locator(':scope > .tree-row .tree-toggle')
          .click();  // collapse
      await expandTreeNode(page, `${scratch}/work`, workNodes - 1);
      assert.deepEqual(
          await treeChildren(page, `${scratch}/work`, workNodes - 1), ['doomed', 'made', 'sub']);
      assert.equal(lists.count(), 1);
      lists.stop();

      // A file in the way of the new folder: the failure shows in the modal.
      await page.click('#btn-new-folder');
      await page.fill('#input-new-foldername', 'created.md');
      await page.click('#modal-new-folder button[type=submit]');
      await page.waitForSelector('#new-folder-error:not(.hidden)');
      assert.equal(await page.isVisible('#modal-new-folder'), true);
      await page.click('#btn-cancel-new-folder');
    });

test('rename: the modal holds the name, the request goes to the same folder', async () => {
  await goToPath(page, `${scratch}/work`);
  await rowOf(page, 'old-name.txt').click();
  await page.keyboard.press('F2');
  assert.equal(await page.inputValue('#input-rename'), 'old-name.txt');
  assert.deepEqual(
      await page.evaluate(
          () =>
              [document.activeElement.id, document.activeElement.selectionStart,
               document.activeElement.selectionEnd]),
      ['input-rename', 0, 12]);
  await waitForStill(page);  // the modal's opening animation
  await saveScreenshot(page, 'modal-rename');
  const mark = await toastMark(page);
  await page.fill('#input-rename', ' new-name.txt ');
  await page.press('#input-rename', 'Enter');
  await waitForToast(page, 'Renamed successfully', mark);
  assert.equal(readFileSync(`${scratch}/work/new-name.txt`, 'utf8'), 'keep me\n');
  assert.equal(existsSync(`${scratch}/work/old-name.txt`), false);
  await page.waitForFunction(
      () => [...document.querySelectorAll('.file-item-name')].some(
          (cell) => cell.textContent === 'new-name.txt'));

  // A failure stays in the modal.
  await rowOf(page, 'new-name.txt').click();
  await page.keyboard.press('F2');
  rmSync(`${scratch}/work/new-name.txt`);
  await page.fill('#input-rename', 'x.txt');
  await page.press('#input-rename', 'Enter');
  await page.waitForSelector('#rename-error:not(.hidden)');
  assert.match(await page.textContent('#rename-error'), /^\[Errno 2\] No such file/);
  assert.equal(await page.isVisible('#modal-rename'), true);
  await page.click('#btn-close-rename');

  // An entry of "/" is renamed to "/" + the new name (the request is answered here).
  await goToPath(page, '/');
  const bodies = [];
  await page.route('**/api/rename', (route) => {
    bodies.push(route.request().postDataJSON());
    route.fulfill({
      status: 200,
      contentType: 'application/json',
      body: '{"success":true,"message":"Renamed successfully"}'
    });
  });
  await rowOf(page, 'tmp').click();
  await page.keyboard.press('F2');
  await page.fill('#input-rename', 'renamed');
  await page.press('#input-rename', 'Enter');
  await page.waitForFunction(
      () => document.getElementById('modal-rename').classList.contains('hidden'));
  await page.unroute('**/api/rename');
  assert.deepEqual(bodies, [{from: '/tmp', to: '/renamed', no_replace: true}]);
});

test('deleting a folder sends is_dir true; a failure shows in the modal', async () => {
  await goToPath(page, `${scratch}/work`);
  await rowOf(page, 'doomed').click();
  await page.keyboard.press('Delete');
  assert.equal(
      await page.textContent('#delete-message'),
      'Are you sure you want to permanently delete "doomed"?');
  await waitForStill(page);
  await saveScreenshot(page, 'modal-delete');

  // First the server refuses (answered here): the message shows and the modal stays.
  await page.route(
      '**/api/delete',
      (route) => route.fulfill({
        status: 500,
        contentType: 'application/json',
        body: '{"success":false,"error":"Permission denied (os error 13)"}'
      }),
  );
  await page.click('#btn-confirm-delete');
  await page.waitForSelector('#delete-error:not(.hidden)');
  assert.equal(await page.textContent('#delete-error'), 'Permission denied (os error 13)');
  await page.unroute('**/api/delete');

  const mark = await toastMark(page);
  const [request] = await Promise.all([
    page.waitForRequest((candidate) => candidate.url().endsWith('/api/delete')),
    page.click('#btn-confirm-delete'),
  ]);
  assert.deepEqual(request.postDataJSON(), {path: `${scratch}/work/doomed`, is_dir: true});
  await waitForToast(page, 'Deleted successfully', mark);
  assert.equal(await page.isVisible('#modal-delete'), false);
  assert.equal(existsSync(`${scratch}/work/doomed`), false);
  await page.waitForFunction(
      () => ![...document.querySelectorAll('.file-item-name')].some(
          (cell) => cell.textContent === 'doomed'));
  assert.equal(await page.evaluate(() => window.state.selectedItem), null);
});

// The three forms that take a name: how each opens (rename: for other.txt of the folder shown),
// its input, error box and Cancel button.
const NAME_FORMS = {
  newFile: {
    open: () => page.click('#btn-new-file'),
    input: '#input-new-filename',
    error: '#new-file-error',
    cancel: '#btn-cancel-new-file',
  },
  newFolder: {
    open: () => page.click('#btn-new-folder'),
    input: '#input-new-foldername',
    error: '#new-folder-error',
    cancel: '#btn-cancel-new-folder',
  },
  rename: {
    open: async () => {
      await rowOf(page, 'other.txt').click();
      await page.keyboard.press('F2');
    },
    input: '#input-rename',
    error: '#rename-error',
    cancel: '#btn-cancel-rename',
  },
};

// Submits `name` in `form` and resolves to the reason shown once the form refused it; the form
// is then cancelled. No toast may have come meanwhile (a refusal is never a success).
async function refusedName(form, name) {
  const mark = await toastMark(page);
  // A listing under way would clear the selection the rename is opened for.
  await loadingHidden();
  await form.open();
  await page.waitForSelector(form.input, {state: 'visible'});
  await page.fill(form.input, name);
  await page.press(form.input, 'Enter');
  await page.waitForSelector(`${form.error}:not(.hidden)`);
  const reason = await page.textContent(form.error);
  assert.equal(await page.isVisible(form.input), true);
  await page.click(form.cancel);
  assert.deepEqual(await toastsSince(page, mark), [], name);
  return reason;
}

test(
    'new file, new folder and rename refuse a name taken or not of the folder; delete keeps its item',
    async () => {
      await goToPath(page, `${scratch}/clash`);
      const taken = 'A file or folder named "keep.txt" already exists.';
      await page.click('#btn-new-file');
      await page.fill('#input-new-filename', ' keep.txt ');
      await page.press('#input-new-filename', 'Enter');
      await page.waitForSelector('#new-file-error:not(.hidden)');
      assert.deepEqual(
          [await page.textContent('#new-file-error'), await page.isVisible('#modal-new-file')],
          [taken, true]);
      await page.click('#btn-cancel-new-file');
      await rowOf(page, 'other.txt').click();
      await page.keyboard.press('F2');
      await page.fill('#input-rename', 'keep.txt');
      await page.press('#input-rename', 'Enter');
      await page.waitForSelector('#rename-error:not(.hidden)');
      assert.deepEqual(
          [await page.textContent('#rename-error'), await page.isVisible('#modal-rename')],
          [taken, true]);
      await page.click('#btn-cancel-rename');

      // New Folder refuses a name the folder shows, a folder's as well as a file's.
      for (const name of ['sub', 'keep.txt']) {
        assert.equal(
            await refusedName(NAME_FORMS.newFolder, name),
            `A file or folder named "${name}" already exists.`);
      }

      // A name that would reach into another folder, or name the folder itself or its parent,
      // is refused by every form before asking, and nothing moves.
      const requests = countRequests(page, '/api/rename');
      for (const form of Object.values(NAME_FORMS)) {
        for (const name of ['sub/keep.txt', '../escaped.txt', 'sub/']) {
          assert.equal(await refusedName(form, name), 'A name cannot contain "/".', name);
        }
        for (const name of ['.', '..']) {
          assert.equal(await refusedName(form, name), 'A name cannot be "." or "..".', name);
        }
      }
      assert.equal(requests.count(), 0);
      requests.stop();

      // A name taken since the listing was shown is refused by the remote side, in the same
      // words, whether a folder or a file took it; a folder is not taken as made.
      makeRemoteFiles(scratch, {'clash/late-dir/keep.txt': 'late\n', 'clash/late.txt': 'late\n'});
      for (const form of Object.values(NAME_FORMS)) {
        for (const name of ['late-dir', 'late.txt']) {
          assert.equal(
              await refusedName(form, name), `A file or folder named "${name}" already exists.`,
              `${form.input} ${name}`);
        }
      }
      assert.deepEqual(
          [
            readFileSync(`${scratch}/clash/keep.txt`, 'utf8'),
            readFileSync(`${scratch}/clash/sub/keep.txt`, 'utf8'),
            readFileSync(`${scratch}/clash/late.txt`, 'utf8'),
            readFileSync(`${scratch}/clash/late-dir/keep.txt`, 'utf8'),
            existsSync(`${scratch}/clash/other.txt`),
            existsSync(`${scratch}/escaped.txt`),
          ],
          ['precious\n', 'deeper\n', 'late\n', 'late\n', true, false]);

      // A listing that arrives while the delete modal is open clears the selection, not the modal's
      // item.
      await rowOf(page, 'victim.txt').click();
      await page.keyboard.press('Delete');
      await page.evaluate(() => document.getElementById('btn-refresh').click());
      await page.waitForFunction(() => window.state.selectedItem === null);
      await loadingHidden();
      const mark = await toastMark(page);
      await page.click('#btn-confirm-delete');
      await waitForToast(page, 'Deleted successfully', mark);
      assert.equal(existsSync(`${scratch}/clash/victim.txt`), false);
    });

test(
    'a long toast shows a few lines cut with an ellipsis; a click unfolds the whole text',
    async () => {
      const long = 'Failed to list directory: ' +
          Array.from({length: 400}, (_, i) => `entry-${i} bad name`).join(' ');
      await page.evaluate((message) => window.showToast(message, 60000), long);
      const look = () => page.$eval('#toast', (toast) => ({
                                                whole: toast.textContent === toast.title,
                                                lines: toast.getBoundingClientRect().height /
                                                    parseFloat(getComputedStyle(toast).lineHeight),
                                              }));
      const cut = await look();
      assert.ok(cut.whole && cut.lines <= 6, JSON.stringify(cut));
      await saveScreenshot(page, 'toast-long');
      await page.click('#toast');
      assert.ok((await look()).lines > 6);
      await page.click('#toast');
      // A short toast has no tooltip and lets clicks through.
      await page.evaluate(() => window.showToast('Deleted successfully'));
      assert.deepEqual(
          await page.$eval(
              '#toast', (toast) => [toast.title, getComputedStyle(toast).pointerEvents]),
          ['', 'none']);
    });

test(
    'the theme: "auto" stored at first start, the toggle cycle, the highlight sheets', async () => {
      const own = await launchBrowser({colorScheme: 'light'});
      try {
        const themed = own.page;
        await themed.goto(harness.program.url);
        await themed.waitForFunction(() => window.state !== undefined);
        const look = () => themed.evaluate(
            () => ({
              root: document.documentElement.className,
              stored: localStorage.getItem('wrenfield_theme'),
              state: window.state.theme,
              light: document.getElementById('hl-light-theme').getAttribute('disabled'),
              dark: document.getElementById('hl-dark-theme').getAttribute('disabled'),
              toast: document.getElementById('toast').textContent,
            }));
        let seen = await look();
        assert.deepEqual(
            [seen.root, seen.stored, seen.state, seen.light, seen.dark !== null],
            ['theme-auto', 'auto', 'auto', null, true]);
        await themed.evaluate(
            () => document.getElementById('modal-connect').classList.add('hidden'));

        // From auto with a light system: dark, auto, dark again, then from light: dark, auto.
        await themed.click('#btn-toggle-theme');
        seen = await look();
        assert.deepEqual(
            [seen.root, seen.stored, seen.light, seen.dark, seen.toast],
            ['theme-dark', 'dark', 'true', null, 'Theme: Dark']);
        await themed.click('#btn-toggle-theme');
        seen = await look();
        assert.deepEqual(
            [seen.root, seen.stored, seen.light, seen.dark, seen.toast],
            ['theme-auto', 'auto', null, 'true', 'Theme: Auto (System)']);
        await themed.click('#btn-toggle-theme');
        assert.equal((await look()).root, 'theme-dark');

        await themed.evaluate(() => localStorage.setItem('wrenfield_theme', 'light'));
        await themed.reload();
        await themed.waitForFunction(() => window.state !== undefined);
        await themed.evaluate(
            () => document.getElementById('modal-connect').classList.add('hidden'));
        assert.equal((await look()).root, 'theme-light');
        await themed.click('#btn-toggle-theme');
        assert.equal((await look()).root, 'theme-dark');
        await themed.click('#btn-toggle-theme');
        assert.equal((await look()).root, 'theme-auto');

        // In auto the highlight sheet follows the system; with a dark system the toggle goes to
        // light.
        await themed.emulateMedia({colorScheme: 'dark'});
        await themed.waitForFunction(
            () => document.getElementById('hl-light-theme').getAttribute('disabled') === 'true');
        assert.equal((await look()).dark, null);
        await themed.click('#btn-toggle-theme');
        seen = await look();
        assert.deepEqual(
            [seen.root, seen.toast, seen.light, seen.dark],
            ['theme-light', 'Theme: Light', null, 'true']);
        // Outside auto a change of the system's scheme changes nothing.
        await themed.emulateMedia({colorScheme: 'light'});
        await pageCaughtUp(themed, 100);
        assert.equal((await look()).dark, 'true');

        // A stored name that is not a theme is applied as it is, with the light sheet.
        await themed.evaluate(() => localStorage.setItem('wrenfield_theme', 'sepia'));
        await themed.reload();
        await themed.waitForFunction(() => window.state !== undefined);
        seen = await look();
        assert.deepEqual([seen.root, seen.light, seen.dark], ['theme-sepia', null, 'true']);
      } finally {
        await own.close();
      }
    });
