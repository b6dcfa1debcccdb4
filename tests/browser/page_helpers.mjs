// Steps that the page tests share: connecting through the form, waiting for a listing, going
// to a folder by the direct path input, waiting for the page to come to rest, and reading what
// the file view shows.

// Resolves once the page (or the element that `within` selects, with what it holds) has no
// transition or finite animation running (a theme's colours, a hover, a modal opening, the path
// bar closing) and has drawn two frames since, so that what is measured or photographed next
// is the resting state. Looping animations (a spinner) are left aside.
export async function waitForStill(page, within = null) {
  await page.waitForFunction((selector) => {
    const animations = selector ? document.querySelector(selector).getAnimations({subtree: true}) :
                                  document.getAnimations();
    return animations.every(
        (animation) => animation.playState !== 'running' ||
            animation.effect?.getComputedTiming().iterations === Infinity);
  }, within);
  await page.evaluate(
      () => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
}

// Resolves once the page's own clock has passed `milliseconds` from now and it has drawn a
// frame after that: every timer it had set to fire by then has run, and the events already
// dispatched have been handled, however slowly the machine runs the page. Checks that something
// did NOT happen follow this.
export async function pageCaughtUp(page, milliseconds = 0) {
  await page.evaluate(
      (delay) =>
          new Promise((done) => setTimeout(() => requestAnimationFrame(() => done()), delay)),
      milliseconds);
}

// Resolves once the page shows `path` and no listing is under way.
export async function waitForFolder(page, path) {
  await page.waitForFunction(
      (expected) => window.state.currentPath === expected &&
          document.getElementById('loading-bar').classList.contains('hidden'),
      path,
  );
}

// Fills the connect form with `fields` (host, user, port, key) and submits it. The form must
// be open. Resolves once the connect request has been answered.
export async function submitConnectForm(page, fields) {
  await page.fill('#input-host', fields.host ?? '');
  await page.fill('#input-user', fields.user ?? '');
  await page.fill('#input-port', fields.port === undefined ? '' : String(fields.port));
  await page.fill('#input-key', fields.key ?? '');
  const reply =
      page.waitForResponse((response) => response.url().endsWith('/api/connect'), {timeout: 30000});
  await page.click('#btn-submit-connect');
  await reply;
}

// Loads the page, connects to the test server's alias through the form and waits for the home
// folder's listing.
export async function openAndConnect(page, program, sshd) {
  await page.goto(program.url);
  await page.waitForSelector('#modal-connect:not(.hidden)');
  await submitConnectForm(page, {host: sshd.host});
  await page.waitForSelector('#modal-connect.hidden', {state: 'attached'});
  await page.waitForFunction(() => window.state.historyIndex >= 0);
  await waitForFolder(page, await page.evaluate(() => window.state.homeDir));
}

// Goes to `path` through the direct path input (a click on the edit button, typing, Enter).
// Resolves once the folder is shown and the path bar has closed: its breadcrumbs ease back into
// place, and until then they are neither where nor as large as they rest.
export async function goToPath(page, path) {
  await page.click('#btn-edit-path');
  await page.fill('#path-direct-input', path);
  await page.press('#path-direct-input', 'Enter');
  await waitForFolder(page, path);
  await page.waitForFunction(
      () => document.getElementById('breadcrumb-container').dataset.state === 'display');
  await waitForStill(page, '#breadcrumb-container');
}

// The names in the list view's rows, in the order shown.
export function listedNames(page) {
  return page.$$eval(
      '#file-table-body tr .file-item-name', (cells) => cells.map((cell) => cell.textContent));
}

// The names in the list view's rows once they are `expected` (a new sort's order comes from the
// listing worker a moment after the click), or as they are at the deadline.
export async function namesOnceShown(page, expected, timeout = 10000) {
  try {
    await page.waitForFunction((names) => {
      const cells = document.querySelectorAll('#file-table-body tr .file-item-name');
      return cells.length === names.length &&
          [...cells].every((cell, i) => cell.textContent === names[i]);
    }, expected, {timeout});
  } catch {
    // The caller's comparison says what differs.
  }
  return listedNames(page);
}

// The names on the grid view's cards, in the order shown.
export function gridNames(page) {
  return page.$$eval(
      '#file-grid .grid-card-label', (labels) => labels.map((label) => label.textContent));
}

// The cells of the list row whose name is `name`: { name, size, kind, modified, permissions }.
export function rowCells(page, name) {
  return page.$$eval(
      '#file-table-body tr',
      (rows, wanted) => {
        const row = rows.find(
            (candidate) => candidate.querySelector('.file-item-name').textContent === wanted);
        if (!row) return null;
        const text = (selector) => row.querySelector(selector).textContent;
        return {
          name: text('.file-item-name'),
          size: text('.col-size'),
          kind: text('.col-type'),
          modified: text('.col-modified'),
          permissions: text('.col-perms'),
        };
      },
      name,
  );
}

// The list row of `name`, as a locator. The name's whole text is matched exactly: a name cut in
// its middle shows in two parts, which `:text-is` (it looks at one text node) would not find.
export function rowOf(page, name) {
  const exactly = new RegExp('^' + name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&') + '$');
  return page.locator('#file-table-body tr').filter({
    has: page.locator('.file-item-name', {hasText: exactly}),
  });
}

export const textOf = (page, selector) => page.textContent(selector);

export const isHidden = (page, selector) =>
    page.$eval(selector, (element) => element.classList.contains('hidden'));
