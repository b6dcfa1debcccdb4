// Steps that the page tests share: connecting through the form, waiting for a listing, going
// to a folder by the direct path input, and reading what the file view shows.

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
export async function goToPath(page, path) {
  await page.click('#btn-edit-path');
  await page.fill('#path-direct-input', path);
  await page.press('#path-direct-input', 'Enter');
  await waitForFolder(page, path);
}

// The names in the list view's rows, in the order shown.
export function listedNames(page) {
  return page.$$eval(
      '#file-table-body tr .file-item-name', (cells) => cells.map((cell) => cell.textContent));
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

// The list row of `name`, as a locator.
export function rowOf(page, name) {
  return page.locator('#file-table-body tr').filter({
    has: page.locator(`.file-item-name:text-is(${JSON.stringify(name)})`)
  });
}

export const textOf = (page, selector) => page.textContent(selector);

export const isHidden = (page, selector) =>
    page.$eval(selector, (element) => element.classList.contains('hidden'));
