// Helpers for the tests of Quick Access, the folder tree, the menus, the keyboard, uploads and
// the file forms: a record of every toast shown, request counting and a few page steps.
import {waitFor} from './harness.mjs';

// Installs, for every page load from now on, a recorder of each text the toast shows (also a
// text shown twice in a row). Read it with toastsSince/lastToast.
export async function recordToasts(page) {
  await page.addInitScript(() => {
    window.__toasts = [];
    new MutationObserver((records) => {
      for (const record of records) {
        const element = record.target.nodeType === 1 ? record.target : record.target.parentElement;
        if (element && element.id === 'toast' && element.textContent) {
          window.__toasts.push(element.textContent);
        }
      }
    }).observe(document, {subtree: true, childList: true, characterData: true});
  });
}

// The toasts shown since the mark (a number from toastMark).
export const toastMark = (page) => page.evaluate(() => window.__toasts.length);
export const toastsSince = (page, mark) =>
    page.evaluate((from) => window.__toasts.slice(from), mark);

// Resolves once the toast `text` has been shown since `mark`.
export async function waitForToast(page, text, mark = 0) {
  await page.waitForFunction(
      ([expected, from]) => window.__toasts.slice(from).includes(expected), [text, mark]);
}

// Counts the requests whose URL path is `pathname` (and, when given, whose "path" query
// parameter is `path`). Returns { count(), requests(), stop() }.
export function countRequests(page, pathname, path) {
  const seen = [];
  const listener = (request) => {
    const url = new URL(request.url());
    if (url.pathname !== pathname) return;
    if (path !== undefined && url.searchParams.get('path') !== path) return;
    seen.push(request);
  };
  page.on('request', listener);
  return {
    count: () => seen.length,
    requests: () => seen,
    stop: () => page.off('request', listener),
  };
}

// The bookmark groups as stored by the page.
export const storedGroups = (page) =>
    page.evaluate(() => JSON.parse(localStorage.getItem('wrenfield_quick_access_v2') || '[]'));

// The rendered Quick Access: [{ label, current, collapsed, bookmarks: [{ name, path, active }] }].
export function renderedGroups(page) {
  return page.$$eval(
      '#quick-access-container .qa-host-group',
      (groups) =>
          groups.map((group) => ({
                       label: group.querySelector('.qa-host-title span:last-child').textContent,
                       current: group.querySelector('.qa-host-active-indicator') !== null,
                       collapsed: group.classList.contains('collapsed'),
                       bookmarks: [...group.querySelectorAll('li.qa-item')].map(
                           (item) => ({
                             name: item.querySelector('.qa-item-label').textContent,
                             path: item.dataset.path,
                             active: item.classList.contains('active'),
                           })),
                     })),
  );
}

// The tree node for `path` (the `index`-th one when several show the same folder).
export const treeNode = (page, path, index = 0) =>
    page.locator(`#directory-tree-container .tree-node[data-path=${JSON.stringify(path)}]`)
        .nth(index);

// Expands the node (unless already expanded) and waits until its children are loaded.
export async function expandTreeNode(page, path, index = 0) {
  const node = treeNode(page, path, index);
  const toggle = node.locator(':scope > .tree-row .tree-toggle');
  if (!(await toggle.evaluate((element) => element.classList.contains('expanded')))) {
    await toggle.click();
  }
  const children = node.locator(':scope > .tree-children');
  await waitFor(
      () => children.evaluate(
          (element) =>
              !element.querySelector(':scope > .tree-loading') || element.textContent === 'Error'),
      {what: 'the folder\'s children to load'});
}

// The names of the node's child nodes, in order.
export const treeChildren = (page, path, index = 0) =>
    treeNode(page, path, index)
        .locator(':scope > .tree-children > .tree-node > .tree-row .tree-label')
        .allTextContents();

// Expands the tree from "Root (/)" down to `path` (an absolute folder path).
export async function expandTreeTo(page, path) {
  await expandTreeNode(page, '/', await rootNodeIndex(page));
  let current = '';
  for (const piece of path.split('/').filter(Boolean)) {
    current += '/' + piece;
    const count = await treeNode(page, current).count();
    await expandTreeNode(page, current, count - 1);
  }
}

// The index, among the nodes for "/", of the "Root (/)" root (the home root comes first when
// the home folder is "/").
async function rootNodeIndex(page) {
  const labels =
      await page
          .locator('#directory-tree-container > .tree-node[data-path="/"] > .tree-row .tree-label')
          .allTextContents();
  return labels.indexOf('Root (/)');
}
