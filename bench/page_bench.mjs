// The page at real sizes: opening, filtering, sorting and switching the view of folders of
// 5,000 to 200,000 entries, and opening and previewing Markdown files of 2 MB and 9 MB, in
// headless Chromium against the program and the tests' local sshd. Every figure is set beside
// a bare rendering of the same rows (or the same document) built in the same page, as a ratio.
//
//   node bench/page_bench.mjs            # three rounds per figure, medians
//   node bench/page_bench.mjs --quick    # one round
//   node bench/page_bench.mjs --folders  # only the folder figures (--markdown: only the documents)
//   node bench/page_bench.mjs --editor   # only the editor against a plain text area
//   node bench/page_bench.mjs --logs     # only the logs and the Markdown render size limit
//
// The program is WRENFIELD_BIN, else WRENFIELD_BUILD_DIR/wrenfield, else build/wrenfield.
// Figures are read by a person; nothing here is asserted.
import {execFileSync} from 'node:child_process';
import {appendFileSync, closeSync, ftruncateSync, mkdirSync, mkdtempSync, openSync, readFileSync, rmSync, utimesSync, writeFileSync} from 'node:fs';
import {join} from 'node:path';

import {makeScratchDirectory, startHarness} from '../tests/browser/harness.mjs';
import {openAndConnect} from '../tests/browser/page_helpers.mjs';
import {FILE_KINDS} from '../web/js/app/kinds.js';

const quick = process.argv.includes('--quick');
const ROUNDS = quick ? 1 : 3;
const onlyMarkdown = process.argv.includes('--markdown');
const onlyFolders = process.argv.includes('--folders');
const onlyEditor = process.argv.includes('--editor');
const onlyLogs = process.argv.includes('--logs');
const everything = !onlyMarkdown && !onlyFolders && !onlyEditor && !onlyLogs;
const FOLDER_SIZES = [5000, 5200, 20000, 100000, 200000];
// The sizes that filtering, sorting and the view switches are measured at.
const LARGE_SIZES = [20000, 100000, 200000];
const MARKDOWN_SIZES =
    [{name: 'doc-2mb.md', bytes: 2 * 1024 * 1024}, {name: 'doc-9mb.md', bytes: 9 * 1024 * 1024}];
// The editor against a plain text area, with the caret in the middle of the document.
const EDITOR_SIZES =
    [{name: 'doc-100kb.md', bytes: 100 * 1024}, {name: 'doc-1mb.md', bytes: 1024 * 1024}];
const EDITOR_KEYSTROKES = quick ? 5 : 9;
// Logs (one line after another, which Markdown makes one paragraph) and Markdown documents of
// growing size, to the viewer's first drawing, for the size past which a text is shown as
// plain text; and the log of 300,000 lines (16.6 MB) that used to fail.
const RENDER_SIZES_MB = [1, 2, 4, 6, 8];
const LOG_LINES = 300000;
// One keystroke from the empty filter, and a word typed at a fast typist's pace.
const FILTER_KEY = 'r';
const TYPED_WORD = 'report';
const TYPING_INTERVAL_MS = 100;
// Run as root, the bench logs in as an account of its own with /bin/sh, as ssh_bench does: root's
// start-up files on these machines (a Python version manager set up in .bashrc, and a shim
// script in place of python3) add about 0.23 s to every remote command, which would be counted
// as the page's. --as-me logs in as the current account instead.
const BENCH_ACCOUNT = 'wrenfield-bench';
const ownAccount = process.getuid() === 0 && !process.argv.includes('--as-me');

// ---------------------------------------------------------------------------------------------
// Data on the "remote" side (the sshd runs on this machine)
// ---------------------------------------------------------------------------------------------

const WORDS = [
  'report', 'notes', 'image', 'build', 'config', 'data', 'draft', 'backup', 'photo', 'script',
  'readme', 'archive'
];
const EXTENSIONS = [
  'md', 'txt', 'py', 'js', 'json', 'png', 'tar.gz', 'log', 'csv', 'sh', 'yaml', 'pdf', 'rs', 'bin'
];

// A tenth folders, one in fifty hidden, mixed-case names, sparse files of varied sizes and
// modification times spread over two years (some of them today).
function makeFolder(root, count) {
  const folder = join(root, `folder-${count}`);
  mkdirSync(folder);
  const now = Date.now() / 1000;
  for (let i = 0; i < count; i += 1) {
    const word = WORDS[(i * 7) % WORDS.length];
    const capitalised = i % 3 === 0 ? word[0].toUpperCase() + word.slice(1) : word;
    const hidden = i % 50 === 7 ? '.' : '';
    const base = `${hidden}${capitalised}-${String(i).padStart(count > 100000 ? 6 : 5, '0')}`;
    const target = i % 10 === 3 ?
        join(folder, base) :
        join(folder, `${base}.${EXTENSIONS[(i * 5) % EXTENSIONS.length]}`);
    if (i % 10 === 3) {
      mkdirSync(target);
    } else {
      const fd = openSync(target, 'w');
      ftruncateSync(fd, (i * 7919) % (i % 4 === 0 ? 5_000_000_000 : 90_000));
      closeSync(fd);
    }
    const age = i % 9 === 0 ? 60 * (i % 300) : 3600 * 24 * ((i * 13) % 730);
    utimesSync(target, now - age, now - age);
  }
  return folder;
}

const CODE_SAMPLES = [
  [
    'js',
    'function total(items) {\n  let sum = 0;\n  for (const item of items) {\n    if (item.size > 0) sum += item.size; // count only files\n  }\n  return { sum, count: items.length, label: `total ${sum}` };\n}\n'
  ],
  [
    'python',
    'def parse(lines):\n    """Reads key = value pairs."""\n    result = {}\n    for number, line in enumerate(lines, 1):\n        if not line.strip() or line.startswith("#"):\n            continue\n        key, _, value = line.partition("=")\n        result[key.strip()] = value.strip()\n    return result\n'
  ],
  [
    'bash',
    'set -euo pipefail\nfor file in "$@"; do\n  if [[ -f "$file" ]]; then\n    echo "checking $file" && wc -l < "$file"\n  fi\ndone\n'
  ],
  [
    'json',
    '{\n  "name": "wrenfield",\n  "version": 3,\n  "features": ["list", "view", "edit"],\n  "enabled": true\n}\n'
  ],
  [
    'cpp',
    '#include <vector>\nint main() {\n  std::vector<int> values{1, 2, 3};\n  int sum = 0;\n  for (int v : values) sum += v;\n  return sum == 6 ? 0 : 1;\n}\n'
  ],
  ['yaml', 'server:\n  host: 127.0.0.1\n  port: 8022\n  paths:\n    - /home\n    - /srv/data\n'],
  ['', 'plain block without a language\n  indented line <with> & markup characters\n'],
];

// Markdown of about `bytes` bytes, in sections of about 1.2 KB as a long manual has them: a
// heading, prose, a list, a quote and one fenced code block (one in seven without a language),
// with a table every tenth section.
function makeMarkdown(bytes) {
  const parts = [];
  let length = 0;
  for (let section = 0; length < bytes; section += 1) {
    const [language, code] = CODE_SAMPLES[section % CODE_SAMPLES.length];
    let text = `## Section ${section}: notes on the *build* and \`config\`\n\n` +
        `This paragraph explains step ${
                   section} with **bold** words, a [link](https://example.com/${section}) ` +
        'and some inline `code`, then continues on a second line\nthat a single newline breaks. ' +
        'Each step reads the settings, checks them against the machine it runs on and writes what it found ' +
        'into the log, so that a later run can start where this one stopped.\n\n' +
        `- first point of ${section}\n- second point with \`value_${
                   section}\`\n  - nested detail\n- third point\n\n` +
        `> A quoted remark about section ${
                   section}: keep the old file until the new one is complete.\n\n` +
        '```' + language + '\n' + code + '```\n\n' +
        'After the block, a closing paragraph sums up what changed, which files it touched and how to undo ' +
        'it by hand when the automatic way is not available.\n\n';
    if (section % 10 === 0) {
      text += '| key | value | note |\n|---|---:|---|\n' +
          `| a${section} | ${section} | first |\n| b | 2 | second |\n\n`;
    }
    parts.push(text);
    length += Buffer.byteLength(text);
  }
  return parts.join('');
}

// A log of `lines` lines of about 55 bytes (300,000 lines: about 16.6 MB).
function makeLog(lines) {
  const levels = ['INFO', 'DEBUG', 'WARN', 'ERROR'];
  const parts = [];
  for (let i = 0; i < lines; i += 1) {
    const second = String(i % 60).padStart(2, '0');
    parts.push(`2026-12-07 12:${second}:${second} ${levels[i % 4]} [w${i % 8}] req ${i} done in ${
        i % 97} ms\n`);
  }
  return parts.join('');
}

// A log of about `bytes` bytes.
const makeLogOfSize = (bytes) => makeLog(Math.round(bytes / 55));

// ---------------------------------------------------------------------------------------------
// Keystroke timing in a text area (installed into the page, and into a blank page for the plain
// text area)
// ---------------------------------------------------------------------------------------------

// Puts the caret in the middle of the text area `selector` and focuses it.
function placeCaretMidway(selector) {
  const textarea = document.querySelector(selector);
  textarea.focus();
  const middle = Math.floor(textarea.value.length / 2);
  textarea.setSelectionRange(middle, middle);
}

// Arms the timing of the next keystroke into the text area `selector`: from its keydown to the
// frame drawn with the character in the text, and the longest frame over the half second after
// the keydown. The result is left in window.__keystroke; the key comes from the driver.
function armKeystrokeTiming(selector) {
  const textarea = document.querySelector(selector);
  const nextFrame = () => new Promise((done) => requestAnimationFrame(done));
  const length = textarea.value.length;
  window.__keystroke = new Promise((resolve) => {
    window.addEventListener('keydown', async () => {
      const start = performance.now();
      let previous = start;
      let longest = 0;
      let drawn = null;
      while (drawn === null || performance.now() - start < 500) {
        await nextFrame();
        const now = performance.now();
        longest = Math.max(longest, now - previous);
        previous = now;
        if (drawn === null && textarea.value.length > length) {
          await new Promise((done) => setTimeout(done, 0));
          drawn = performance.now() - start;
        }
      }
      resolve({ours: drawn, longestFrame: Math.round(longest)});
    }, {capture: true, once: true});
  });
}

// A plain text area in a blank page of the same browser, of the size and type of the editor,
// holding `text`. The page is at `address` (an http address of the program's), not about:blank:
// Chromium's form filling follows the caret of a focused text area in any http page, extracting
// the field with its whole value on each caret move (about 9 ms a key at 1 MB), and skips
// about:blank, where a text area would be spared work that every web page pays.
async function plainTextAreaPage(context, address, box, font, text) {
  const bare = await context.newPage();
  await bare.route(address, (route) => route.fulfill({
    contentType: 'text/html',
    body: '<!DOCTYPE html><textarea id="plain" spellcheck="false"></textarea>',
  }));
  await bare.goto(address);
  await bare.evaluate(([size, style, value]) => {
    const textarea = document.getElementById('plain');
    Object.assign(textarea.style, style, {
      width: size.width + 'px',
      height: size.height + 'px',
      resize: 'none',
      boxSizing: 'border-box',
    });
    textarea.value = value;
  }, [box, font, text]);
  return bare;
}

// ---------------------------------------------------------------------------------------------
// In-page measuring helpers (installed once into the page as window.pageBench)
// ---------------------------------------------------------------------------------------------

// `fileKinds` is the page's table of kinds by extension.
function installPageHelpers(fileKinds) {
  const nextFrame = () => new Promise((done) => requestAnimationFrame(done));
  const afterFrame = () => new Promise((done) => setTimeout(done, 0));
  const HTML_ESCAPES = {'&': '&amp;', '<': '&lt;', '>': '&gt;', "'": '&#39;', '"': '&quot;'};
  const escape = (text) => String(text ?? '').replace(/[&<>'"]/g, (c) => HTML_ESCAPES[c]);
  const dateFormat = new Intl.DateTimeFormat([], {month: 'short', day: 'numeric', year: 'numeric'});

  // Waits frame by frame until `condition` holds, then for that frame to be drawn; returns
  // the time then. With `early`, also notes when that first held (drawn) in `times.early`.
  // `times.longestFrame` is the longest time between two frames, counted from `times.start`
  // when given (else from the first frame): how long the page could not answer while it drew.
  async function until(condition, timeout = 120000, early = null, times = {}) {
    const deadline = performance.now() + timeout;
    let previous = times.start ?? null;
    times.longestFrame = 0;
    for (;;) {
      await nextFrame();
      const now = performance.now();
      if (previous !== null) times.longestFrame = Math.max(times.longestFrame, now - previous);
      if (condition()) {
        await afterFrame();
        times.early ??= performance.now();
        return performance.now();
      }
      if (early && times.early === undefined && early()) {
        await afterFrame();
        times.early = performance.now();
      }
      if (performance.now() > deadline) throw new Error('time-out waiting for the page');
      // A frame is counted from the end of these checks: the bench's own work in them (working
      // out the expected rows of a whole folder, say) is not the page's.
      previous = performance.now();
    }
  }

  // Every entry of the folder shown, as objects: the page keeps them in columns (before, as
  // objects in state.items). Made once a listing, before any time measured.
  const entriesOf = new WeakMap();
  const shownEntries = () => {
    const listing = window.state.listing;
    if (!listing) return window.state.items;
    if (!entriesOf.has(listing)) {
      entriesOf.set(
          listing, Array.from({length: listing.count}, (_, index) => listing.entry(index)));
    }
    return entriesOf.get(listing);
  };

  // The page's own rule for what is shown, in its order, written apart from the page.
  function expectedRows(items, filter, column, ascending) {
    const lower = filter.toLowerCase();
    const kept = items.filter(
        (item) => !item.is_hidden && (lower === '' || item.name.toLowerCase().includes(lower)));
    const kind = (item) => {
      if (item.is_dir) return 'Folder';
      const extension = item.name.slice(item.name.lastIndexOf('.') + 1).toLowerCase();
      if (extension === '') return 'Document';
      return Object.hasOwn(fileKinds, extension) ? fileKinds[extension] :
                                                   extension.toUpperCase() + ' File';
    };
    const key = (item) => column === 'size' ? item.size :
        column === 'type'                   ? kind(item) :
        column === 'modified'               ? item.modified :
                                              item.name.toLowerCase();
    const direction = ascending ? 1 : -1;
    return kept.sort((a, b) => {
      if (a.is_dir !== b.is_dir) return a.is_dir ? -1 : 1;
      const left = key(a);
      const right = key(b);
      return left < right ? -direction : left > right ? direction : 0;
    });
  }

  // The bare rendering: one table (or grid of labels) of the same rows, built with one HTML
  // string in a layer over the page, drawn, and removed again.
  const layer = document.createElement('div');
  layer.style.cssText =
      'position:fixed;inset:0;overflow:auto;z-index:100000;background:#fff;color:#000;font:13px sans-serif';
  function bareMarkup(rows, grid) {
    if (grid) {
      return '<div style="display:grid;grid-template-columns:repeat(auto-fill,minmax(110px,1fr));gap:8px">' +
          rows.map(
                  (item) =>
                      '<div title="' + escape(item.name) + '">' + escape(item.name) + '</div>')
              .join('') +
          '</div>';
    }
    return '<table><tbody>' +
        rows.map(
                (item) => '<tr><td>' + escape(item.name) + '</td><td>' +
                    (item.is_dir ? '--' : item.size + ' B') + '</td><td>' +
                    (item.is_dir ? 'Folder' : 'File') + '</td><td>' +
                    dateFormat.format(item.modified * 1000) + '</td><td>' +
                    escape(item.permissions) + '</td></tr>')
            .join('') +
        '</tbody></table>';
  }
  // The bare rendering of `rows` drawn, in ms from `since`; none (NaN) above 25,000 rows, whose
  // plain table takes Chromium tens of seconds to lay out.
  async function bareRows(rows, grid, since) {
    if (rows.length > 25000) return NaN;
    return (await bareShow(bareMarkup(rows, grid))) - since;
  }
  async function bareShow(markup) {
    layer.innerHTML = markup;
    document.body.appendChild(layer);
    const end = await until(() => true);
    layer.remove();
    layer.innerHTML = '';
    return end;
  }

  const view = () =>
      (window.state.viewMode === 'grid' ? document.getElementById('file-grid') :
                                          document.getElementById('file-table-body'));
  const viewNames = () => {
    const container = view();
    const first = container.firstElementChild;
    const last = container.lastElementChild;
    const label = (element) =>
        element?.querySelector('.file-item-name, .grid-card-label')?.textContent;
    return {count: container.childElementCount, first: label(first), last: label(last)};
  };
  // True when the file view shows exactly `rows` (count, first and last name, status count).
  const shows = (rows) => {
    const shown = viewNames();
    const count = `${rows.length} ${rows.length === 1 ? 'item' : 'items'}`;
    return shown.count === rows.length && shown.first === rows[0]?.name &&
        shown.last === rows.at(-1)?.name &&
        document.getElementById('status-items-count').textContent === count;
  };
  // What a user sees: the entries the file view shows inside its visible area (below the list
  // header), top to bottom. The entries are found by their boxes, with a binary search over the
  // view's children in document order, so that it holds whether the page keeps every row in the
  // document or only those near the view, and costs little in a view of 20,000 rows (hit-testing
  // points in such a table costs about 20 ms a point). `filled` is true when the entries reach
  // the bottom edge of the area.
  const scroller = () => document.getElementById('drop-zone');
  function visibleEntries() {
    const grid = window.state.viewMode === 'grid';
    const area = scroller().getBoundingClientRect();
    const header = grid ? null : document.querySelector('.file-table thead');
    const top = Math.max(area.top, header ? header.getBoundingClientRect().bottom : area.top);
    const bottom = Math.min(area.top + scroller().clientHeight, window.innerHeight);
    const children = view().children;
    // The first entry whose bottom lies below the top of the area.
    let low = 0;
    let high = children.length;
    while (low < high) {
      const middle = (low + high) >> 1;
      if (children[middle].getBoundingClientRect().bottom <= top + 1) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    const names = [];
    let lowest = -Infinity;
    for (let i = low; i < children.length; i += 1) {
      const box = children[i].getBoundingClientRect();
      if (box.top >= bottom - 1) break;
      if (box.height === 0) continue;
      names.push(children[i].querySelector('.file-item-name, .grid-card-label')?.textContent);
      lowest = Math.max(lowest, box.bottom);
    }
    return {names, filled: lowest >= bottom - 1};
  }
  const statusShows = (rows) => document.getElementById('status-items-count').textContent ===
      `${rows.length} ${rows.length === 1 ? 'item' : 'items'}`;
  // True when the view, scrolled to its top, shows the first entries of `rows` in order, filling
  // the view (or all of them when fewer fit), and the status count is right.
  const screenShowsTop = (rows) => {
    if (!statusShows(rows) || scroller().scrollTop > 1) return false;
    const {names, filled} = visibleEntries();
    if (names.length === 0 || !(filled || names.length === rows.length)) return false;
    return names.every((name, i) => name === rows[i]?.name);
  };
  // True when the view shows the last entry of `rows` at the bottom of what is visible, the
  // entries above it in order.
  const screenShowsEnd = (rows) => {
    if (!statusShows(rows)) return false;
    const {names} = visibleEntries();
    if (names.length === 0 || names.at(-1) !== rows.at(-1)?.name) return false;
    const offset = rows.length - names.length;
    return names.every((name, i) => name === rows[offset + i]?.name);
  };
  // True when every entry of `rows` is in place: all of them in the document with the right
  // first and last ones, or, for a view that keeps only the entries near the view in the
  // document, the scrolled area tall enough for all of them with the top shown right.
  const allInPlace = (rows) => {
    if (shows(rows)) return true;
    const container = view();
    const first = container.firstElementChild;
    if (!first || container.childElementCount >= rows.length || !screenShowsTop(rows)) return false;
    const box = first.getBoundingClientRect();
    let perLine = 1;
    let pitch = box.height;
    if (window.state.viewMode === 'grid') {
      const cards =
          [...container.children].slice(0, 64).map((card) => card.getBoundingClientRect());
      perLine = cards.filter((card) => Math.abs(card.top - box.top) < 1).length;
      const next = cards.find((card) => card.top > box.top + 1);
      if (next) pitch = next.top - box.top;
    }
    return scroller().scrollHeight >= Math.ceil(rows.length / perLine) * pitch * 0.98;
  };
  // Waits for the whole of `rows`, noting when their top was first shown.
  // The longest frame is counted from `framesFrom`.
  const measureRows = async (start, rows, extra = () => true, framesFrom = start) => {
    const times = {start: framesFrom};
    const end = await until(
        () => extra() && allInPlace(rows), 120000, () => extra() && screenShowsTop(rows), times);
    return {
      ours: times.early - start,
      whole: end - start,
      longestFrame: Math.round(times.longestFrame),
    };
  };
  const settle = async (rows) => {
    await until(() => allInPlace(rows));
    await new Promise((done) => setTimeout(done, 300));
  };
  const searchInput = () => document.getElementById('search-input');
  const setFilter = (value) => {
    searchInput().value = value;
    searchInput().dispatchEvent(new Event('input', {bubbles: true}));
  };
  const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

  // Waits until every code block under `pane` holds colour tokens (every block of the bench's
  // documents has some), looking every 50 ms; returns the time since `start`.
  async function everyBlockColoured(pane, start) {
    for (;;) {
      const {blocks, highlighted} = codeBlockCounts(pane);
      if (highlighted === blocks) return performance.now() - start;
      await sleep(50);
    }
  }

  // The code blocks under `pane`, and how many of them hold colour tokens.
  function codeBlockCounts(pane) {
    const codes = [...pane.querySelectorAll('pre code')];
    return {
      blocks: codes.length,
      highlighted: codes.filter((code) => code.querySelector('[class^="hljs-"]')).length,
    };
  }

  window.pageBench = {
    // Opens `path` through the direct path input, from the keystroke Enter to the whole
    // listing drawn; the bare side fetches the same listing and draws it as one table.
    async open(path) {
      // The rows expected, from the same listing fetched beforehand: no work of the bench's
      // falls inside the time measured.
      const listed = await (await fetch('/api/list?path=' + encodeURIComponent(path))).json();
      const rows =
          expectedRows(listed, window.state.filterText, window.state.sortCol, window.state.sortAsc);
      await sleep(300);
      document.getElementById('btn-edit-path').click();
      const input = document.getElementById('path-direct-input');
      input.value = path;
      const start = performance.now();
      input.dispatchEvent(
          new KeyboardEvent('keydown', {key: 'Enter', bubbles: true, cancelable: true}));
      const current = () => window.state.currentPath === path;
      const times = {start};
      const end = await until(
          () => current() && allInPlace(rows), 120000, () => current() && screenShowsTop(rows),
          times);
      await sleep(300);
      const bareStart = performance.now();
      const reply = await fetch('/api/list?path=' + encodeURIComponent(path));
      const items = await reply.json();
      const requestEnd = performance.now();
      const bare = await bareRows(expectedRows(items, '', 'name', true), false, bareStart);
      return {
        ours: times.early - start,
        whole: end - start,
        longestFrame: Math.round(times.longestFrame),
        bare,
        request: requestEnd - bareStart,
        count: rows.length,
        scrollTop: document.getElementById('drop-zone').scrollTop
      };
    },
    // The first keystroke into the empty filter, to the filtered rows drawn.
    async filterKeystroke(key) {
      const items = shownEntries();
      const {sortCol, sortAsc} = window.state;
      const before = expectedRows(items, '', sortCol, sortAsc);
      const rows = expectedRows(items, key, sortCol, sortAsc);
      if (rows.length === before.length) throw new Error('the keystroke must change the rows');
      const start = performance.now();
      setFilter(key);
      const measured = await measureRows(start, rows);
      await sleep(300);
      const bareStart = performance.now();
      const bare = await bareRows(expectedRows(items, key, sortCol, sortAsc), false, bareStart);
      setFilter('');
      await settle(before);
      return {...measured, bare, count: rows.length};
    },
    // A word typed one character every `interval` ms, from the first keystroke to the rows of
    // the whole word drawn. The bare side rebuilds its table at each character.
    async typeWord(word, interval) {
      const items = shownEntries();
      const {sortCol, sortAsc} = window.state;
      const before = expectedRows(items, '', sortCol, sortAsc);
      const rows = expectedRows(items, word, sortCol, sortAsc);
      const start = performance.now();
      for (let i = 1; i <= word.length; i += 1) {
        setFilter(word.slice(0, i));
        if (i < word.length) await sleep(interval);
      }
      // The longest frame is counted from the last keystroke (the typing waits between keys).
      const measured = await measureRows(start, rows, () => true, performance.now());
      await sleep(300);
      const bareStart = performance.now();
      for (let i = 1; i <= word.length; i += 1) {
        layer.innerHTML =
            bareMarkup(expectedRows(items, word.slice(0, i), sortCol, sortAsc), false);
        document.body.appendChild(layer);
        if (i < word.length) await sleep(interval);
      }
      const bareEnd = await until(() => true);
      layer.remove();
      setFilter('');
      await settle(before);
      return {...measured, bare: bareEnd - bareStart, count: rows.length};
    },
    // A click on a column header, to the re-sorted rows drawn. Folders come first in every
    // order, and a tenth of the entries are folders, which tie on size and kind: the top screen
    // of many orders is the same. So the view is first scrolled to where the folders end and
    // the files begin, and the time is to the screen there showing the new order: a run of
    // consecutive entries of it, folders and files, filling the view.
    async sort(column) {
      const header = document.querySelector(`th[data-sort="${column}"]`);
      const items = shownEntries();
      const {filterText} = window.state;
      const ascending = window.state.sortCol === column ? !window.state.sortAsc : true;
      const rows = expectedRows(items, filterText, column, ascending);
      const folders = rows.filter((item) => item.is_dir).length;
      const area = scroller();
      const pitch = view().querySelector('tr:not(.virtual-spacer)')?.getBoundingClientRect().height;
      area.scrollTop = Math.max(0, folders * pitch - area.clientHeight / 2);
      await until(() => visibleEntries().filled);
      await sleep(300);
      const position = new Map(rows.map((item, i) => [item.name, i]));
      const showsNewOrder = () => {
        const {names, filled} = visibleEntries();
        const at = position.get(names[0]);
        return filled && at !== undefined && at < folders && at + names.length > folders &&
            names.every((name, i) => rows[at + i]?.name === name);
      };
      const start = performance.now();
      const times = {start};
      header.click();
      const end = await until(showsNewOrder, 120000, null, times);
      area.scrollTop = 0;
      await until(() => screenShowsTop(rows));
      await sleep(300);
      const bareStart = performance.now();
      const bare =
          await bareRows(expectedRows(items, filterText, column, ascending), false, bareStart);
      return {
        ours: end - start,
        longestFrame: Math.round(times.longestFrame),
        bare,
        count: rows.length
      };
    },
    // Back to the order by name, ascending, as at load.
    async resetSort() {
      const items = shownEntries();
      while (window.state.sortCol !== 'name' || !window.state.sortAsc) {
        document.querySelector('th[data-sort="name"]').click();
      }
      await settle(expectedRows(items, '', 'name', true));
    },
    // A click on the list or grid button, to the other view drawn whole.
    async switchView(mode) {
      const items = shownEntries();
      const {filterText, sortCol, sortAsc} = window.state;
      const rows = expectedRows(items, filterText, sortCol, sortAsc);
      const wrapper =
          document.getElementById(mode === 'grid' ? 'grid-view-wrapper' : 'list-view-wrapper');
      const start = performance.now();
      document.getElementById(mode === 'grid' ? 'btn-view-grid' : 'btn-view-list').click();
      const measured = await measureRows(start, rows, () => !wrapper.classList.contains('hidden'));
      await sleep(300);
      const bareStart = performance.now();
      const bare = await bareRows(
          expectedRows(items, filterText, sortCol, sortAsc), mode === 'grid', bareStart);
      return {...measured, bare, count: rows.length};
    },
    // Opens a file in the viewer, to "Loaded" with the rendering drawn, and on to every code
    // block coloured (a long document's blocks away from the view are coloured after "Loaded");
    // the bare side reads the same file and draws marked's rendering without highlighting or
    // sanitising.
    async openMarkdown(path, name) {
      const status = document.getElementById('md-save-status');
      const pane = document.getElementById('md-rendered-content');
      const start = performance.now();
      window.openMarkdownViewer({name, path});
      const end = await until(() => status.textContent.startsWith('Loaded'));
      const atLoaded = codeBlockCounts(pane);
      const whole = await everyBlockColoured(pane, start);
      await sleep(300);
      const bareStart = performance.now();
      const reply = await fetch('/api/read?path=' + encodeURIComponent(path));
      const {content} = await reply.json();
      const bareEnd =
          await bareShow(new window.marked.Marked({gfm: true, breaks: true}).parse(content));
      return {
        ours: end - start,
        whole,
        bare: bareEnd - bareStart,
        blocks: atLoaded.blocks,
        highlightedAtLoaded: atLoaded.highlighted,
        highlighted: codeBlockCounts(pane).highlighted,
      };
    },
    // Opens a text file in the viewer, to "Loaded" with the preview drawn; the bare side reads
    // the same file and draws it as one block of plain text. `shownAs` tells whether the viewer
    // rendered it as Markdown or showed it as plain text.
    async openText(path, name) {
      const status = document.getElementById('md-save-status');
      const pane = document.getElementById('md-rendered-content');
      const start = performance.now();
      window.openMarkdownViewer({name, path});
      const end = await until(() => status.textContent !== 'Loading...');
      let shownAs = pane.querySelector('.md-plain-text') ? 'plain text' : 'Markdown';
      if (!status.textContent.startsWith('Loaded')) shownAs = pane.textContent.slice(0, 120);
      await sleep(300);
      const bareStart = performance.now();
      const reply = await fetch('/api/read?path=' + encodeURIComponent(path));
      const {content} = await reply.json();
      const pre = document.createElement('pre');
      pre.textContent = content;
      layer.replaceChildren(pre);
      document.body.appendChild(layer);
      const bareEnd = await until(() => true);
      layer.remove();
      layer.replaceChildren();
      return {ours: end - start, bare: bareEnd - bareStart, shownAs};
    },
    // Edit, then a click on Preview, to the rendering drawn.
    async editToPreview() {
      document.getElementById('tab-md-edit').click();
      await until(() => true);
      await sleep(300);
      const container = document.querySelector('.md-viewer-container');
      const start = performance.now();
      document.getElementById('tab-md-view').click();
      const end = await until(() => container.dataset.viewMode === 'preview');
      const whole = await everyBlockColoured(document.getElementById('md-rendered-content'), start);
      await sleep(300);
      const text = document.getElementById('md-raw-textarea').value;
      const bareStart = performance.now();
      const bareEnd =
          await bareShow(new window.marked.Marked({gfm: true, breaks: true}).parse(text));
      return {ours: end - start, whole, bare: bareEnd - bareStart};
    },
    // From the view at its top, a jump to the end of the scrolled area, to the last entry shown
    // at the bottom of the view.
    async scrollToEnd() {
      const items = shownEntries();
      const {filterText, sortCol, sortAsc} = window.state;
      const rows = expectedRows(items, filterText, sortCol, sortAsc);
      scroller().scrollTop = 0;
      await until(() => screenShowsTop(rows));
      await sleep(300);
      const start = performance.now();
      const times = {start};
      scroller().scrollTop = scroller().scrollHeight;
      const end = await until(() => {
        // The end moves while entries are still being added: follow it.
        const area = scroller();
        if (area.scrollTop + area.clientHeight < area.scrollHeight - 1) {
          area.scrollTop = area.scrollHeight;
        }
        return screenShowsEnd(rows);
      }, 120000, null, times);
      scroller().scrollTop = 0;
      await until(() => screenShowsTop(rows));
      return {ours: end - start, longestFrame: Math.round(times.longestFrame), bare: NaN};
    },
    // Scrolls the whole view from top to end a screenful at a time and checks that it showed
    // every entry once, in order. Returns { count, expected, ok, problem }.
    async scrollThrough() {
      const items = shownEntries();
      const {filterText, sortCol, sortAsc} = window.state;
      const rows = expectedRows(items, filterText, sortCol, sortAsc);
      const area = scroller();
      area.scrollTop = 0;
      await until(() => screenShowsTop(rows));
      const seen = [];
      let problem = null;
      for (let steps = 0; steps < 100000; steps += 1) {
        await nextFrame();
        await nextFrame();
        const {names} = visibleEntries();
        // Consecutive screens overlap: continue after the last name already taken.
        const last = seen.at(-1);
        const from = last === undefined ? 0 : names.indexOf(last) + 1;
        if (last !== undefined && from === 0) {
          problem ??= `a gap after "${last}" (next screen starts "${names[0]}")`;
        }
        seen.push(...names.slice(from));
        const before = area.scrollTop;
        area.scrollTop = before + Math.max(40, area.clientHeight - 80);
        if (area.scrollTop === before) break;
      }
      area.scrollTop = 0;
      const counts = new Map();
      for (const name of seen) counts.set(name, (counts.get(name) ?? 0) + 1);
      const twice = [...counts].find(([, n]) => n > 1);
      if (twice) problem ??= `"${twice[0]}" shown ${twice[1]} times`;
      const mismatch = rows.findIndex((row, i) => seen[i] !== row.name);
      if (mismatch >= 0) {
        problem ??= `entry ${mismatch} is "${seen[mismatch]}", expected "${rows[mismatch].name}"`;
      }
      if (seen.length !== rows.length) problem ??= `${seen.length} shown of ${rows.length}`;
      await until(() => screenShowsTop(rows));
      return {count: seen.length, expected: rows.length, ok: problem === null, problem};
    },
    // Edit mode on the open document, the caret at its end; resolves once drawn.
    async startEditing() {
      document.getElementById('tab-md-edit').click();
      const textarea = document.getElementById('md-raw-textarea');
      textarea.focus();
      textarea.setSelectionRange(textarea.value.length, textarea.value.length);
      await until(() => true);
      await sleep(300);
    },
    // Arms the timing of the next keystroke into the editor: from its keydown to the frame
    // drawn with the character in the text, and the longest frame over the second after it.
    // The keystroke itself comes from outside (the driver's keyboard).
    // With `bare`, the keystroke goes to a plain text area of the same size holding the same
    // text, set in the layer over the page and focused with the caret at its end.
    async armKeystroke(bare = false) {
      const editor = document.getElementById('md-raw-textarea');
      let textarea = editor;
      if (bare) {
        const box = editor.getBoundingClientRect();
        textarea = document.createElement('textarea');
        textarea.style.cssText = `width:${box.width}px;height:${box.height}px`;
        textarea.value = editor.value;
        layer.replaceChildren(textarea);
        document.body.appendChild(layer);
        textarea.focus();
        textarea.setSelectionRange(textarea.value.length, textarea.value.length);
        await until(() => true);
        await sleep(300);
      }
      const length = textarea.value.length;
      window.__keystroke = new Promise((resolve) => {
        window.addEventListener('keydown', async function onKey() {
          window.removeEventListener('keydown', onKey, true);
          const start = performance.now();
          const times = {start};
          const end = await until(() => textarea.value.length > length, 120000, null, times);
          let longest = times.longestFrame;
          let previous = performance.now();
          while (performance.now() - start < 1000) {
            await nextFrame();
            const now = performance.now();
            longest = Math.max(longest, now - previous);
            previous = now;
          }
          resolve({ours: end - start, longestFrame: Math.round(longest), bare: NaN});
        }, true);
      });
    },
    async keystrokeMeasured() {
      const measured = await window.__keystroke;
      if (layer.isConnected) {
        layer.remove();
        layer.replaceChildren();
        document.getElementById('md-raw-textarea').focus();
      }
      return measured;
    },
    // Closes the viewer, discarding the keystrokes typed into it when it asks.
    closeViewer() {
      document.getElementById('btn-close-md-viewer').click();
      if (!document.getElementById('modal-discard-edits').classList.contains('hidden')) {
        document.getElementById('btn-discard-edits').click();
      }
    },
    // Scrolls the list down, so that the next opening shows whether it starts at the top.
    scrollDown() {
      const view = document.getElementById('drop-zone');
      view.scrollTop = view.scrollHeight;
      return view.scrollTop;
    },
  };
}

// ---------------------------------------------------------------------------------------------
// Running and reporting
// ---------------------------------------------------------------------------------------------

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

const results = [];

// Runs `measure` ROUNDS times (it returns { ours, bare, ... }) and keeps the medians.
async function figure(label, target, measure) {
  const rounds = [];
  for (let round = 0; round < ROUNDS; round += 1) rounds.push(await measure());
  const ours = median(rounds.map((r) => r.ours));
  const whole = median(rounds.map((r) => r.whole ?? r.ours));
  const bare = median(rounds.map((r) => r.bare ?? NaN));
  const request = rounds[0].request === undefined ? null : median(rounds.map((r) => r.request));
  const longest =
      rounds[0].longestFrame === undefined ? null : median(rounds.map((r) => r.longestFrame));
  const extra = {...rounds.at(-1)};
  delete extra.ours;
  delete extra.whole;
  delete extra.bare;
  delete extra.longestFrame;
  delete extra.request;
  const row = {label, ours, whole, bare, request, longest, target, extra};
  results.push(row);
  const note = Object.keys(extra).length ? ` ${JSON.stringify(extra)}` : '';
  const frame = longest === null ? '' : `, longest frame ${longest.toFixed(0)} ms`;
  const alone = request === null ? '' : `, list request alone ${request.toFixed(0)} ms`;
  console.error(`  ${label}: ${ours.toFixed(0)} ms, all drawn ${whole.toFixed(0)} ms (bare ${
      shown(bare)} ms)${alone}${frame}${note}`);
  return row;
}

// "page": to the first screenful drawn (for a document, to "Loaded" with the rendering drawn);
// "all drawn": to the last row drawn (for a document, to every code block coloured); the ratio
// is "all drawn" to the bare rendering; "longest frame": the longest wait between two frames
// while the rows were drawn.
const shown = (value, digits = 0) =>
    value === null || Number.isNaN(value) ? '' : value.toFixed(digits);

function printTable() {
  const lines = [
    '| measure | page (ms) | all drawn (ms) | list request alone (ms) | bare (ms) | ratio | longest frame (ms) | target |',
    '|---|---:|---:|---:|---:|---:|---:|---|'
  ];
  for (const row of results) {
    lines.push(
        `| ${row.label} | ${row.ours.toFixed(0)} | ${row.whole.toFixed(0)} | ${
            shown(row.request)} | ${shown(row.bare)} | ` +
        `${shown(row.whole / row.bare, 1)} | ${shown(row.longest)} | ${row.target} |`);
  }
  console.log(lines.join('\n'));
}

// Makes the bench account when it is missing; returns its home and whether it was made here.
function prepareAccount() {
  let created = false;
  try {
    execFileSync('id', [BENCH_ACCOUNT], {stdio: 'ignore'});
  } catch {
    execFileSync('useradd', ['--create-home', '--shell', '/bin/sh', BENCH_ACCOUNT]);
    created = true;
  }
  // A new account is locked, and sshd without PAM refuses a locked account even for a key.
  execFileSync('usermod', ['--password', '*', BENCH_ACCOUNT]);
  const home = execFileSync('getent', ['passwd', BENCH_ACCOUNT], {encoding: 'utf8'}).split(':')[5];
  return {home, created};
}

// Lets the test server's key log into the bench account; returns what takes it out again.
function authorizeKey(home, sshd) {
  const file = join(home, '.ssh', 'authorized_keys');
  const key = readFileSync(join(sshd.directory, 'user_ed25519.pub'), 'utf8');
  mkdirSync(join(home, '.ssh'), {recursive: true, mode: 0o700});
  appendFileSync(file, key);
  execFileSync('chown', ['-R', `${BENCH_ACCOUNT}:`, join(home, '.ssh')]);
  return () => writeFileSync(file, readFileSync(file, 'utf8').replace(key, ''));
}

async function main() {
  const account = ownAccount ? prepareAccount() : null;
  let dataRoot = null;
  const harness = await startHarness({
    sshdOptions: account ? {loginUser: BENCH_ACCOUNT} : {},
    browserOptions: {viewport: {width: 1280, height: 800}, timeout: 600000},
  });
  // Interrupted, it still stops the program, Chromium and the sshd.
  for (const signal of ['SIGINT', 'SIGTERM']) {
    process.on(signal, () => harness.close().finally(() => process.exit(130)));
  }
  try {
    const page = harness.page;
    let root;
    if (account) {
      account.unauthorize = authorizeKey(account.home, harness.sshd);
      root = mkdtempSync(join(account.home, 'page-bench-'));
      dataRoot = root;
    } else {
      root = makeScratchDirectory(harness.sshd, 'page-bench-');
    }
    console.error('making the folders and documents...');
    // Folders of up to 200,000 entries take a while to make: only for the folder figures.
    const folders = everything || onlyFolders ?
        Object.fromEntries(FOLDER_SIZES.map((count) => [count, makeFolder(root, count)])) :
        {};
    for (const {name, bytes} of [...MARKDOWN_SIZES, ...EDITOR_SIZES])
      writeFileSync(join(root, name), makeMarkdown(bytes));
    for (const megabytes of RENDER_SIZES_MB) {
      writeFileSync(join(root, `log-${megabytes}mb.log`), makeLogOfSize(megabytes * 1024 * 1024));
      writeFileSync(join(root, `doc-${megabytes}mb.md`), makeMarkdown(megabytes * 1024 * 1024));
    }
    writeFileSync(join(root, 'long.log'), makeLog(LOG_LINES));
    if (account) execFileSync('chown', ['-R', `${BENCH_ACCOUNT}:`, root]);

    await openAndConnect(page, harness.program, harness.sshd);
    await page.evaluate(installPageHelpers, FILE_KINDS);
    const bench = (name, ...args) =>
        page.evaluate(([n, a]) => window.pageBench[n](...a), [name, args]);
    if (everything || onlyFolders) await folderFigures(bench, root, folders);
    if (everything || onlyMarkdown) await markdownFigures(bench, root, page);
    if (everything || onlyEditor) await editorFigures(bench, root, page);
    if (everything || onlyLogs) await logFigures(bench, root);
  } finally {
    await harness.close();
    if (dataRoot) rmSync(dataRoot, {recursive: true, force: true});
    account?.unauthorize?.();
    if (account?.created) execFileSync('userdel', ['--remove', BENCH_ACCOUNT], {stdio: 'ignore'});
  }
  printTable();
}

async function folderFigures(bench, root, folders) {
  // Opening a folder starts from another folder's listing, scrolled down.
  const openFrom = async (count) => {
    await bench('open', root);
    return bench('open', folders[count]);
  };
  const sized = (count) => count.toLocaleString('en-US');

  for (const count of FOLDER_SIZES) {
    await figure(
        `open ${sized(count)} entries`, count >= 20000 ? '<= request + 100' : '',
        () => openFrom(count));
  }
  for (const count of [5000, 20000, 200000]) {
    await bench('open', folders[count]);
    await figure(
        `scroll to the end shows the last entry, ${sized(count)}`, count >= 20000 ? '<= 100' : '',
        () => bench('scrollToEnd'));
    // A screenful at a time, 200,000 entries would take minutes.
    if (count <= 20000) {
      const through = await bench('scrollThrough');
      console.error(`  scrolled through ${sized(count)}: ${through.count} of ${
          through.expected} entries, ${through.ok ? 'each once, in order' : through.problem}`);
    }
  }

  await bench('open', folders[20000]);
  const scrolled = await bench('scrollDown');
  const opened = await bench('open', folders[5000]);
  console.error(
      `  scrolled to ${scrolled} px in one folder, the next opens at ${opened.scrollTop} px`);

  for (const count of [5000, ...LARGE_SIZES]) {
    await bench('open', folders[count]);
    await figure(
        `filter keystroke on ${sized(count)} entries`, count >= 20000 ? '<= 50' : '',
        () => bench('filterKeystroke', FILTER_KEY));
  }
  await bench('open', folders[5200]);
  await figure(
      `typing ${TYPED_WORD.length} characters on 5,200 entries (${TYPING_INTERVAL_MS} ms apart)`,
      '', () => bench('typeWord', TYPED_WORD, TYPING_INTERVAL_MS));

  for (const count of [5000, ...LARGE_SIZES]) {
    await bench('open', folders[count]);
    for (const column of ['name', 'size', 'type', 'modified']) {
      const label = `sort ${sized(count)} by ${
          column === 'name'         ? 'name, descending' :
              column === 'modified' ? 'date' :
                                      column}`;
      await figure(label, count >= 20000 ? '<= 150' : '', async () => {
        const measured = await bench('sort', column);
        await bench('resetSort');
        return measured;
      });
    }
  }

  for (const count of LARGE_SIZES) {
    await bench('open', folders[count]);
    await figure(`switch view list to grid, ${sized(count)}`, '<= 100', async () => {
      const measured = await bench('switchView', 'grid');
      await bench('switchView', 'list');
      return measured;
    });
    await figure(`switch view grid to list, ${sized(count)}`, '<= 100', async () => {
      await bench('switchView', 'grid');
      return bench('switchView', 'list');
    });
  }
}

async function markdownFigures(bench, root, page) {
  for (const {name, bytes} of MARKDOWN_SIZES) {
    const size = `${bytes / 1024 / 1024} MB`;
    await figure(
        `${size} Markdown open to "Loaded"`, bytes <= 2 * 1024 * 1024 ? '<= 1000' : '',
        () => bench('openMarkdown', join(root, name), name));
    await figure(`${size} Markdown Edit -> Preview`, '', () => bench('editToPreview'));
    // A keystroke typed into the editor holding the whole document.
    await bench('startEditing');
    await figure(
        `${size} Markdown editor keystroke`, bytes <= 2 * 1024 * 1024 ? '<= 30' : '', async () => {
          await bench('armKeystroke');
          await page.keyboard.press('x');
          const measured = await bench('keystrokeMeasured');
          await page.keyboard.press('Backspace');
          // The same keystroke into a plain text area holding the same text.
          await bench('armKeystroke', true);
          await page.keyboard.press('x');
          const bare = await bench('keystrokeMeasured');
          return {...measured, bare: bare.ours};
        });
    await bench('editToPreview');
    await bench('closeViewer');
  }
}

// A key typed with the caret in the middle of a document held by the editor, beside the same key
// in a plain text area of the same size and type, in a blank page of the same browser at the
// program's address, holding the same text. Keystrokes alternate between the two; each figure
// is the median of its side.
async function editorFigures(bench, root, page) {
  const editor = '#md-raw-textarea';
  for (const {name, bytes} of EDITOR_SIZES) {
    await bench('openMarkdown', join(root, name), name);
    await bench('startEditing');
    const {box, font, text} = await page.evaluate((selector) => {
      const textarea = document.querySelector(selector);
      const style = getComputedStyle(textarea);
      const {width, height} = textarea.getBoundingClientRect();
      return {
        box: {width, height},
        font: {
          fontFamily: style.fontFamily,
          fontSize: style.fontSize,
          lineHeight: style.lineHeight,
          padding: style.padding,
        },
        text: textarea.value,
      };
    }, editor);
    const bare = await plainTextAreaPage(
        page.context(), new URL('/plain-text-area', page.url()).href, box, font, text);
    const size = bytes < 1024 * 1024 ? `${bytes / 1024} KB` : `${bytes / 1024 / 1024} MB`;
    // One key, then Backspace, timed in `target`, the pointer resting over the text area (the
    // browser hit-tests the text under it when the text moves). `modified`: a character typed
    // before and left in place, so that the timed key comes while typing goes on (the viewer
    // already says "Modified (unsaved)" and shows Save); otherwise the timed key is the first
    // after the text was as saved, and the viewer changes its status and shows Save with it.
    const keystroke = async (target, selector, modified) => {
      await target.bringToFront();
      const area = await target.locator(selector).boundingBox();
      await target.mouse.move(area.x + area.width / 2, area.y + area.height / 2);
      await target.evaluate(placeCaretMidway, selector);
      await target.keyboard.press('x');
      await target.keyboard.press('Backspace');
      if (modified) await target.keyboard.press('y');
      await target.waitForTimeout(400);
      await target.evaluate(armKeystrokeTiming, selector);
      await target.keyboard.press('x');
      const measured = await target.evaluate(() => window.__keystroke);
      await target.keyboard.press('Backspace');
      if (modified) await target.keyboard.press('Backspace');
      await target.waitForTimeout(400);
      return measured;
    };
    try {
      for (const [label, modified] of [['', false], [', typing on', true]]) {
        await figure(
            `${size} editor keystroke, caret mid-document${label}`, '<= 1.2 x plain', async () => {
              const ours = [];
              const plain = [];
              const frames = [];
              for (let key = 0; key < EDITOR_KEYSTROKES; key += 1) {
                const mine = await keystroke(page, editor, modified);
                ours.push(mine.ours);
                frames.push(mine.longestFrame);
                plain.push((await keystroke(bare, '#plain', modified)).ours);
              }
              return {ours: median(ours), bare: median(plain), longestFrame: median(frames)};
            });
      }
    } finally {
      await bare.close();
      await page.bringToFront();
    }
    await bench('closeViewer');
  }
}

// Logs and Markdown documents of growing size, opened in the viewer, to "Loaded" with the
// preview drawn, and the 300,000-line log.
async function logFigures(bench, root) {
  for (const megabytes of RENDER_SIZES_MB) {
    for (const name of [`log-${megabytes}mb.log`, `doc-${megabytes}mb.md`]) {
      await figure(`${name} open to "Loaded"`, '', () => bench('openText', join(root, name), name));
      await bench('closeViewer');
    }
  }
  await figure(
      `log of ${LOG_LINES.toLocaleString('en-US')} lines open to "Loaded"`, '',
      () => bench('openText', join(root, 'long.log'), 'long.log'));
  await bench('closeViewer');
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
