// The file viewer and editor sheet: renders a remote file as Markdown (Preview) or shows it in a
// text area (Edit), counts, saves, copies, downloads and can fill the window. Publishes
// window.openMarkdownViewer, and window.hasUnsavedEdits and window.confirmDiscardEdits, which the
// native window asks before it closes; keeps everything else private.
import {apiRequest} from './app/api.js';
import {copyText} from './app/clipboard.js';
import {byId, closeModal} from './app/dom.js';
import {formatFileSize, readableText} from './app/format.js';
import {fileExtension} from './app/kinds.js';
import {lineBreakOf} from './app/line-breaks.js';
import {encodePathParameter} from './app/paths.js';
import {cssUrlCandidates, isWebAddress, srcsetUrls, targetsProgramApi} from './app/url-guard.js';

(function() {
'use strict';

const SAVING_BAR_MS = 450;
const READY_AFTER_SAVE_MS = 3000;
const COPIED_LABEL_MS = 2000;
const EDITOR_FOCUS_DELAY_MS = 30;
// The count and the comparison with the saved text walk the whole text, so they wait until
// typing pauses this long.
const RECOUNT_DELAY_MS = 250;

// Raw HTML inside a viewed file is kept for the harmless parts (tables, details, images), but
// nothing may run as the page's script or post anywhere: DOMPurify already drops scripts,
// event-handler attributes and javascript: URLs; these add the embedding and form elements, and
// style elements, which would restyle the whole page rather than the document.
const SANITIZE_OPTIONS = {
  FORBID_TAGS:
      ['form', 'iframe', 'frame', 'frameset', 'object', 'embed', 'style', 'base', 'meta', 'link'],
  // The document shares the page's elements, so nothing in it may name one of them to act on it
  // (a label's for clicks the page's button; popovertarget, commandfor and interestfor act on
  // their target; form joins the page's form), nor raise itself into the top layer over the
  // whole interface (popover). A ping is a request made on a click.
  FORBID_ATTR: [
    'action',
    'formaction',
    'srcdoc',
    'for',
    'form',
    'popover',
    'popovertarget',
    'popovertargetaction',
    'commandfor',
    'command',
    'interestfor',
    'ping',
  ],
  // Ids and names from the document get a prefix (NAMED_PROPS_PREFIX), so they cannot shadow
  // the page's own elements.
  SANITIZE_NAMED_PROPS: true,
  RETURN_DOM_FRAGMENT: true,
};

// The prefix the sanitiser gives the document's ids and names.
const NAMED_PROPS_PREFIX = 'user-content-';

// The attributes whose value is a URL (or, for the srcset ones, a list of them) that the
// browser may request or follow.
const URL_ATTRIBUTES = new Set([
  'href',
  'xlink:href',
  'src',
  'srcset',
  'imagesrcset',
  'poster',
  'background',
  'action',
  'formaction',
  'data',
  'cite',
  'longdesc',
  'ping',
  'lowsrc',
  'dynsrc',
  'codebase',
  'manifest',
  'icon',
]);

const backdrop = byId('modal-md-viewer');
if (!backdrop) return;
const container = backdrop.querySelector('.md-viewer-container');
const badge = byId('md-file-badge');
const fileNameLabel = byId('md-filename');
const filePathLabel = byId('md-filepath');
const indicator = byId('segment-indicator');
const previewTab = byId('tab-md-view');
const editTab = byId('tab-md-edit');
const copyButton = byId('btn-md-copy');
const downloadButton = byId('btn-md-download');
const saveButton = byId('btn-md-save');
const fullscreenButton = byId('btn-md-fullscreen');
const closeButton = byId('btn-close-md-viewer');
const previewPane = byId('md-rendered-content');
const textArea = byId('md-raw-textarea');
const charCount = byId('md-char-count');
const saveStatus = byId('md-save-status');
const discardDialog = byId('modal-discard-edits');
const discardMessage = byId('discard-edits-message');

// The file the sheet was opened for (only name and path are read), or null while closed.
let openFile = null;
// The file's text as it is on the remote side, and the line break it is saved with. The text
// area holds it with "\n" line breaks only (it turns "\r\n" and a lone "\r" into "\n"), so the
// editor works on that form and a save puts the file's own line break back.
let savedContent = '';
let lineBreak = '\n';
// The file whose content the text area holds: { path, editable }. It is set only by a finished
// load of the open file, so a save can never send one file's text to another path.
let loadedDocument = null;
let mode = 'preview';
let isFullscreen = false;
let savedText = '';
let saveInFlight = false;
// Every opening and closing starts a new generation; a read reply of an older one is dropped.
let openGeneration = 0;
// Every status change counts up, so the delayed "Ready" only replaces the status it followed.
let statusSerial = 0;

function showToast(message) {
  if (typeof window.showToast === 'function') window.showToast(message);
}

function setStatus(text) {
  statusSerial += 1;
  // Each key typed sets the same status again; only a change is laid out.
  if (saveStatus.textContent !== text) saveStatus.textContent = text;
  return statusSerial;
}

function badgeText(name) {
  return fileExtension(name).toUpperCase() || 'MD';
}

// The text to write for the text area's text: the file as it was while unmodified (a mixed
// file keeps every line break), otherwise every line ending in the file's line break.
function fileText() {
  if (!isModified()) return savedContent;
  return lineBreak === '\n' ? textArea.value : textArea.value.replace(/\n/g, lineBreak);
}

function isModified() {
  return textArea.value !== savedText;
}

function isEditable() {
  return loadedDocument !== null && loadedDocument.editable;
}

function setSaveButtonVisible(visible) {
  saveButton.classList.toggle('hidden', !(visible && isEditable()));
}

// Edit, Copy and typing make sense only for a text document that finished loading.
function applyDocumentState() {
  const editable = isEditable();
  editTab.disabled = !editable;
  copyButton.disabled = !editable;
  textArea.readOnly = !editable;
}

// Counts the text as it will be written, with the file's line breaks.
function updateCharCount() {
  const text = textArea.value;
  const lines = text.split('\n').length;
  let characters = isModified() ? text.length : savedContent.length;
  if (isModified() && lineBreak === '\r\n') characters += lines - 1;
  charCount.textContent =
      characters.toLocaleString() + ' characters, ' + lines.toLocaleString() + ' lines';
}

// Fenced code is coloured by highlight.js once the document is sanitised: the
// sanitiser then walks plain code blocks rather than their thousands of token spans, and
// highlight.js escapes the text it is given, so its markup is safe to insert as it is. The code
// renderer marks the blocks it makes with an attribute named with a key this page chose, so
// code written as raw HTML in the document (whose own markup would be lost) is left alone; the
// code element keeps the class marked gives it ("language-..."), so the theme colours the tokens
// while the block's look stays our own. (Highlighting in a walkTokens hook would also work, but
// merely having one makes marked's parsing grow quadratically with the document.)
const FENCE_ATTRIBUTE = 'data-fence-' +
    Array.from(window.crypto.getRandomValues(new Uint32Array(2)), (n) => n.toString(36)).join('');

function highlightCode(code, language) {
  if (language && window.hljs.getLanguage(language)) {
    try {
      return window.hljs.highlight(code, {language: language}).value;
    } catch (error) {
      // Falls through to the automatic detection.
    }
  }
  try {
    return window.hljs.highlightAuto(code).value;
  } catch (error) {
    return null;
  }
}

// The colouring of this rendering and of the last one, by language and text: going back from
// Edit to Preview colours again only the blocks that changed. The last one's is dropped once
// every block of this one is coloured.
let highlights = new Map();
let previousHighlights = new Map();

// Colours one code block the renderer made, from its text; the attribute marks it as not yet
// coloured.
function colourBlock(code) {
  if (!code.hasAttribute(FENCE_ATTRIBUTE)) return;
  code.removeAttribute(FENCE_ATTRIBUTE);
  const language = Array.from(code.classList)
                       .find((name) => name.startsWith('language-'))
                       ?.slice('language-'.length);
  // marked ends every block with one line break, which stays plain text after the tokens.
  const text = code.textContent.replace(/\n$/, '');
  const key = (language || '') + '\n' + text;
  let highlighted = highlights.has(key) ? highlights.get(key) : previousHighlights.get(key);
  if (highlighted === undefined) highlighted = highlightCode(text, language);
  highlights.set(key, highlighted);
  if (highlighted !== null) code.innerHTML = highlighted + '\n';
}

const UNCOLOURED_BLOCKS = 'pre > code[' + FENCE_ATTRIBUTE + ']';

// Colouring a long document's code can take a second or more, so only its first chunk is
// coloured before it is shown; the chunks that come near the view are coloured as they come, and
// the rest one slice at a time between frames, in document order.
const COLOURING_SLICE_MS = 8;
let backgroundColouring = null;

function stopColouring() {
  if (!backgroundColouring) return;
  backgroundColouring.observer?.disconnect();
  clearTimeout(backgroundColouring.timer);
  backgroundColouring = null;
}

function colourInBackground(chunks) {
  const blocks = [];
  for (const chunk of chunks) blocks.push(...chunk.querySelectorAll(UNCOLOURED_BLOCKS));
  const job = {observer: null, timer: 0, next: 0};
  if (window.IntersectionObserver) {
    job.observer = new IntersectionObserver((entries) => {
      for (const entry of entries) {
        if (!entry.isIntersecting) continue;
        entry.target.querySelectorAll(UNCOLOURED_BLOCKS).forEach(colourBlock);
        job.observer.unobserve(entry.target);
      }
    }, {root: previewPane, rootMargin: '100% 0px'});
    chunks.forEach((chunk) => job.observer.observe(chunk));
  }
  const slice = () => {
    const deadline = performance.now() + COLOURING_SLICE_MS;
    while (job.next < blocks.length && performance.now() < deadline)
      colourBlock(blocks[job.next++]);
    if (job.next < blocks.length) {
      job.timer = setTimeout(slice, 0);
    } else {
      stopColouring();
      previousHighlights = new Map();
    }
  };
  job.timer = setTimeout(slice, 0);
  backgroundColouring = job;
}

// Colours the code blocks under `root` (a rendering about to be shown): all of them at once, or
// for a document grouped into `chunks`, the first chunk now and the rest as described above.
function highlightBlocks(root, chunks) {
  previousHighlights = highlights;
  highlights = new Map();
  if (!window.hljs) return;
  if (!chunks) {
    root.querySelectorAll(UNCOLOURED_BLOCKS).forEach(colourBlock);
    previousHighlights = new Map();
    return;
  }
  chunks[0].querySelectorAll(UNCOLOURED_BLOCKS).forEach(colourBlock);
  colourInBackground(chunks.slice(1));
}

if (window.marked) {
  window.marked.setOptions({gfm: true, breaks: true});
  // marked's own code markup, marked for highlighting.
  const plainRenderer = new window.marked.Renderer();
  window.marked.use({
    renderer: {
      code(token) {
        return plainRenderer.code(token).replace(/^<pre><code/, '<pre><code ' + FENCE_ATTRIBUTE);
      },
    },
  });
}

function addCodeCopyButtons() {
  previewPane.querySelectorAll('pre').forEach((block) => {
    if (block.querySelector('.code-copy-btn')) return;
    const button = document.createElement('button');
    button.className = 'code-copy-btn';
    button.textContent = 'Copy';
    button.addEventListener('click', () => {
      const code = block.querySelector('code') || block;
      copyText(code.innerText).then(() => {
        button.textContent = 'Copied!';
        setTimeout(() => {
          button.textContent = 'Copy';
        }, COPIED_LABEL_MS);
      }, () => {});
    });
    block.appendChild(button);
  });
}

// A long document's top-level blocks go into chunks that the browser lays out and paints only
// near the visible part (content-visibility: auto; the text stays in the page, so finding,
// selecting and copying still reach all of it). Laying out all of a document of some megabytes
// at once takes about a second. The blocks are grouped rather than each skipped on its own: with
// one skipped subtree per block, the first frame after a very long document went in could take
// minutes.
const LONG_DOCUMENT_CHARACTERS = 200000;
const BLOCKS_PER_CHUNK = 100;
// Rough heights, in pixels, for the size a chunk takes before it was ever laid out: a line of
// prose (of about this many characters), a line of code, and the spacing around a block.
const PROSE_LINE_PX = 25;
const PROSE_LINE_CHARACTERS = 100;
const CODE_LINE_PX = 20;
const BLOCK_SPACING_PX = 24;

function estimatedHeight(block) {
  if (block.nodeType !== Node.ELEMENT_NODE) return 0;
  const text = block.textContent;
  if (block.tagName === 'PRE') {
    let lines = 1;
    for (let at = text.indexOf('\n'); at !== -1 && at < text.length - 1;
         at = text.indexOf('\n', at + 1)) {
      lines += 1;
    }
    return lines * CODE_LINE_PX + 2 * BLOCK_SPACING_PX + 30;
  }
  return Math.ceil(text.length / PROSE_LINE_CHARACTERS) * PROSE_LINE_PX + BLOCK_SPACING_PX;
}

// Returns the chunks, in order.
function groupIntoChunks(fragment) {
  const blocks = Array.from(fragment.childNodes);
  const chunks = [];
  for (let first = 0; first < blocks.length; first += BLOCKS_PER_CHUNK) {
    const chunk = document.createElement('div');
    chunk.className = 'markdown-chunk';
    const members = blocks.slice(first, first + BLOCKS_PER_CHUNK);
    let height = 0;
    for (const block of members) height += estimatedHeight(block);
    chunk.style.containIntrinsicSize = 'auto ' + Math.max(height, 1) + 'px';
    chunk.append(...members);
    fragment.appendChild(chunk);
    chunks.push(chunk);
  }
  return chunks;
}

// A text longer than this (in UTF-16 code units) is shown as plain text: rendering it as
// Markdown keeps the page from answering for seconds (about 1.5 s for 4 MB on a quiet machine,
// 4 to 5.5 s on a busy one, and longer for a log, which Markdown makes one long paragraph).
const MARKDOWN_RENDER_LIMIT = 4 * 1024 * 1024;
// Plain text goes into chunks of about this many characters, cut after a line break, laid out
// only near the view as a long rendering's chunks are. Rough heights for a chunk never laid out:
// a line, and the characters that fit on one before it wraps.
const PLAIN_CHUNK_CHARACTERS = 64 * 1024;
const PLAIN_LINE_PX = 20;
const PLAIN_LINE_CHARACTERS = 120;

function estimatedPlainHeight(piece) {
  let lines = 0;
  for (let start = 0; start < piece.length;) {
    let end = piece.indexOf('\n', start);
    if (end === -1) end = piece.length;
    lines += Math.max(1, Math.ceil((end - start) / PLAIN_LINE_CHARACTERS));
    start = end + 1;
  }
  return lines * PLAIN_LINE_PX;
}

// Where the chunk that starts at `start` ends: after the first line break past the chunk size,
// or, within a line that long, at the size (never between the two halves of a surrogate pair).
function plainChunkEnd(text, start) {
  const size = start + PLAIN_CHUNK_CHARACTERS;
  if (size >= text.length) return text.length;
  const lineEnd = text.indexOf('\n', size);
  if (lineEnd !== -1 && lineEnd < size + PLAIN_CHUNK_CHARACTERS) return lineEnd + 1;
  const code = text.charCodeAt(size - 1);
  return code >= 0xd800 && code <= 0xdbff ? size + 1 : size;
}

// Shows `text` as it is (monospace, white space kept), under one line saying why. Each chunk
// is an exact slice of the text that ends with its line break, which starts no empty line.
function showPlainText(text, reason) {
  stopColouring();
  stopKeepingPlace();
  const notice = document.createElement('div');
  notice.className = 'md-plain-notice';
  notice.textContent = reason;
  const body = document.createElement('div');
  body.className = 'md-plain-text';
  for (let start = 0; start < text.length;) {
    const end = plainChunkEnd(text, start);
    const piece = text.slice(start, end);
    const chunk = document.createElement('div');
    chunk.className = 'md-plain-chunk';
    chunk.style.containIntrinsicSize = 'auto ' + estimatedPlainHeight(piece) + 'px';
    chunk.textContent = piece;
    body.appendChild(chunk);
    start = end;
  }
  previewPane.replaceChildren(notice, body);
}

// Keeping the reader's place in a long document. A chunk laid out for the first time takes its
// real height in place of the estimate. When such a chunk straddles the top of the view, the
// browser's scroll anchoring takes the chunk itself as its anchor (it cannot look inside skipped
// content); the chunk's top stays put as it grows or shrinks, so whatever was jumped to below it
// (a heading reached by a link, a find or scrollIntoView) moves away. So the first block in view
// and its distance from the top of the pane are noted after every scroll, and that distance is
// put back whenever a chunk changes size.
let placeKeeping = null;

function stopKeepingPlace() {
  placeKeeping?.observer.disconnect();
  placeKeeping = null;
}

// The index of the first of `elements` (in document order) whose bottom is below `top`, or of
// the last one.
function firstReaching(elements, top) {
  let low = 0;
  let high = elements.length - 1;
  while (low < high) {
    const middle = (low + high) >> 1;
    if (elements[middle].getBoundingClientRect().bottom > top)
      high = middle;
    else
      low = middle + 1;
  }
  return low;
}

// Whether the browser skips the chunk's content (shows nothing of it) for now.
function isSkipped(chunk) {
  const block = chunk.firstElementChild;
  return typeof block?.checkVisibility === 'function' &&
      !block.checkVisibility({contentVisibilityAuto: true});
}

// Notes the first block in view. A chunk not yet laid out shows nothing, so the place is in the
// first chunk in view that is laid out; with none, it is the first block of the chunk at the
// top, placed by laying out that chunk's content (where it stays once the chunk is shown).
function notePlace() {
  if (!placeKeeping) return;
  placeKeeping.place = null;
  if (previewPane.clientHeight === 0) return;
  const chunks = placeKeeping.chunks;
  const top = previewPane.getBoundingClientRect().top;
  const bottom = top + previewPane.clientHeight;
  let chunk = chunks[firstReaching(chunks, top)];
  for (let next = chunk; next && next.getBoundingClientRect().top < bottom;
       next = next.nextElementSibling) {
    if (!isSkipped(next)) {
      chunk = next;
      break;
    }
  }
  const block = chunk.children.length ? chunk.children[firstReaching(chunk.children, top)] : chunk;
  placeKeeping.place = {block, offset: block.getBoundingClientRect().top - top};
}

function keepPlace(chunks) {
  const job = {chunks, place: null, observer: null};
  job.observer = new ResizeObserver(() => {
    const place = job.place;
    // Hidden (closed or editing): the place is noted afresh once the pane shows again.
    if (!place || previewPane.clientHeight === 0) {
      notePlace();
      return;
    }
    const shift = place.block.getBoundingClientRect().top -
        previewPane.getBoundingClientRect().top - place.offset;
    if (Math.abs(shift) >= 1) previewPane.scrollTop += shift;
  });
  placeKeeping = job;
  chunks.forEach((chunk) => job.observer.observe(chunk));
}

if (window.ResizeObserver) previewPane.addEventListener('scroll', notePlace, {passive: true});

function renderMarkdown(text) {
  stopColouring();
  stopKeepingPlace();
  // Without the Markdown library or the sanitizer the text is shown as it is, never as markup.
  if (!window.marked || !window.DOMPurify) {
    previewPane.textContent = text;
    return;
  }
  if (text.length > MARKDOWN_RENDER_LIMIT) {
    showPlainText(text, 'Shown as plain text: a file over 4 MB is not rendered as Markdown.');
    return;
  }
  // The sanitiser's own tree goes in as it is, saving a second parse of the whole markup; its
  // code is coloured before it goes in (a long document's first chunk only), so the page's
  // document changes once.
  let rendered;
  try {
    rendered = sanitizer().sanitize(window.marked.parse(text), SANITIZE_OPTIONS);
  } catch (error) {
    // The Markdown library gives up on some texts (a very long run of lines can exhaust the
    // stack); the text is still worth reading.
    console.warn('Markdown rendering failed:', error);
    showPlainText(text, 'Shown as plain text: this file could not be rendered as Markdown.');
    return;
  }
  const chunks = text.length > LONG_DOCUMENT_CHARACTERS ? groupIntoChunks(rendered) : null;
  highlightBlocks(rendered, chunks?.length ? chunks : null);
  previewPane.replaceChildren(rendered);
  if (chunks?.length && window.ResizeObserver) keepPlace(chunks);
  addCodeCopyButtons();
}

// Whether a URL of the viewed document would reach the program's API.
const reachesApi = (value) => targetsProgramApi(value, document.baseURI);

function keepsAwayFromApi(node, attributeName, value) {
  if (attributeName === 'srcset' || attributeName === 'imagesrcset') {
    return !srcsetUrls(value).some(reachesApi);
  }
  if (URL_ATTRIBUTES.has(attributeName)) return !reachesApi(value);
  if (node.namespaceURI === 'http://www.w3.org/1999/xhtml') return true;
  // SVG presentation attributes (fill, filter, mask, ...) are CSS: an escape there could spell
  // a url( function that is not seen here, and no document needs one.
  if (value.includes('(') && value.includes('\\')) return false;
  return !cssUrlCandidates(value).some(reachesApi);
}

// Inline styles are read as the browser parsed them. Custom properties and var() are
// dropped: a value substituted later could name a URL that is not visible here.
function removeApiStyles(node) {
  if (node.nodeType !== Node.ELEMENT_NODE || !node.style || !node.hasAttribute('style')) return;
  const style = node.style;
  for (const property of Array.from(style)) {
    const value = style.getPropertyValue(property);
    if (property.startsWith('--') || /var\(|env\(|attr\(/i.test(value) ||
        cssUrlCandidates(value).some(reachesApi)) {
      style.removeProperty(property);
    }
  }
  if (style.length === 0) node.removeAttribute('style');
}

// The viewer's own sanitizer instance, so its hooks apply to viewed documents only.
let purifier = null;
function sanitizer() {
  if (purifier) return purifier;
  purifier = window.DOMPurify(window);
  purifier.addHook('uponSanitizeAttribute', (node, data) => {
    if (data.attrName === 'style') return;
    if (!keepsAwayFromApi(node, data.attrName, data.attrValue)) data.keepAttr = false;
  });
  purifier.addHook('afterSanitizeAttributes', removeApiStyles);
  return purifier;
}

// A link in a viewed document must never replace the interface (and any unsaved edit with
// it). Every kind of link (an HTML or SVG a, an image map's area, whatever else carries an
// href) is caught here, on the pane, before the browser follows it: an address elsewhere opens
// in a new tab with no opener (in the native window, in the system's browser), and a place in
// the document scrolls the pane to the document's own element, whose id has the sanitiser's
// prefix, never to one of the page's.
const XLINK_NAMESPACE = 'http://www.w3.org/1999/xlink';

function linkAddressOf(element) {
  if (element.hasAttribute('href')) return element.getAttribute('href');
  if (element.hasAttributeNS(XLINK_NAMESPACE, 'href'))
    return element.getAttributeNS(XLINK_NAMESPACE, 'href');
  return null;
}

// The address of the innermost element with an href around `target`, within the pane.
function linkAddressAround(target) {
  for (let element = target instanceof Element ? target : target?.parentElement;
       element && element !== previewPane; element = element.parentElement) {
    const address = linkAddressOf(element);
    if (address !== null) return address;
  }
  return null;
}

function scrollToDocumentPlace(fragment) {
  let name = fragment;
  try {
    name = decodeURIComponent(fragment);
  } catch (error) {
    // A malformed escape stays as it is.
  }
  const id = CSS.escape(NAMED_PROPS_PREFIX + name);
  const place = previewPane.querySelector('#' + id + ', a[name="' + id + '"]');
  if (place) place.scrollIntoView({block: 'start'});
}

function openLinkAddress(address) {
  const trimmed = address.trim();
  if (trimmed.startsWith('#')) {
    if (trimmed.length > 1) scrollToDocumentPlace(trimmed.slice(1));
    return;
  }
  let url;
  try {
    url = new URL(trimmed, document.baseURI);
  } catch (error) {
    return;
  }
  const opensApart = isWebAddress(url.href) || url.protocol === 'mailto:';
  if (!opensApart || reachesApi(url.href)) return;
  window.open(url.href, '_blank', 'noopener,noreferrer');
}

function handleLinkActivation(event) {
  // Only the primary and the middle button follow a link.
  if (event.type === 'auxclick' && event.button !== 1) return;
  const address = linkAddressAround(event.target);
  if (address === null) return;
  event.preventDefault();
  openLinkAddress(address);
}

function showPaneMessage(text, color, padding, centred) {
  stopColouring();
  stopKeepingPlace();
  const message = document.createElement('div');
  message.style.padding = padding;
  message.style.color = color;
  if (centred) message.style.textAlign = 'center';
  message.textContent = text;
  previewPane.replaceChildren(message);
  return message;
}

// A file that is not UTF-8 text cannot be shown or edited here; it can still be downloaded.
function showBinaryNotice(size) {
  const notice = showPaneMessage(
      'This file is not UTF-8 text (' + formatFileSize(size) +
          '), so it cannot be shown or edited here.',
      'var(--text-secondary)', '40px', true);
  const download = document.createElement('button');
  download.className = 'action-btn compact md-binary-download';
  download.textContent = 'Download';
  download.style.margin = '16px auto 0';
  download.addEventListener('click', downloadFile);
  notice.appendChild(document.createElement('br'));
  notice.appendChild(download);
}

// Takes the focus and the caret out of the hidden editor. Chromium keeps a text area's caret as
// the document's selection after the focus has gone elsewhere, and while that is so, laying out
// a long rendering in chunks takes seconds more (a 9 MB document opened after editing: 9.4 s
// instead of 3.7 s).
function releaseEditor() {
  if (document.activeElement === textArea) textArea.blur();
  const selection = window.getSelection();
  if (selection && (selection.rangeCount === 0 || container.contains(selection.anchorNode)))
    selection.removeAllRanges();
}

function setViewMode(nextMode) {
  if (nextMode === 'edit' && !isEditable()) return;
  mode = nextMode;
  container.setAttribute('data-view-mode', mode);
  previewTab.classList.toggle('active', mode === 'preview');
  editTab.classList.toggle('active', mode === 'edit');
  indicator.style.transform = mode === 'edit' ? 'translateX(100%)' : 'translateX(0%)';
  if (mode === 'preview') {
    releaseEditor();
    if (isEditable()) renderMarkdown(textArea.value);
    setSaveButtonVisible(isModified());
  } else {
    setSaveButtonVisible(true);
    setTimeout(() => textArea.focus(), EDITOR_FOCUS_DELAY_MS);
  }
}

async function readFile(path) {
  const reply = await apiRequest('/api/read?path=' + encodePathParameter(path), {
    fallbackError: 'Failed to read file content',
  });
  if (!reply || typeof reply.content !== 'string') {
    throw new Error((reply && reply.error) || 'Failed to read file content');
  }
  return reply;
}

async function openMarkdownViewer(file) {
  openGeneration += 1;
  const generation = openGeneration;
  openFile = file;
  loadedDocument = null;
  applyDocumentState();
  isFullscreen = false;
  container.classList.remove('fullscreen');
  fileNameLabel.textContent = readableText(file.name);
  filePathLabel.textContent = readableText(file.path);
  badge.textContent = badgeText(String(file.name || ''));
  setViewMode('preview');
  showPaneMessage('Loading file from remote VM...', 'var(--text-secondary)', '40px', true);
  backdrop.classList.remove('hidden');
  setStatus('Loading...');
  // The count shown is the file before's until the load ends: the loaded file's then, none
  // after a failure.
  charCount.textContent = '';

  try {
    const reply = await readFile(file.path);
    if (generation !== openGeneration) return;
    loadedDocument = {path: file.path, editable: !reply.is_binary};
    savedContent = reply.is_binary ? '' : reply.content;
    lineBreak = lineBreakOf(savedContent);
    textArea.value = savedContent;
    savedText = textArea.value;
    // Editing starts at the top of the file.
    textArea.setSelectionRange(0, 0);
    textArea.scrollTop = 0;
    applyDocumentState();
    if (reply.is_binary)
      showBinaryNotice(reply.size);
    else
      renderMarkdown(savedText);
    updateCharCount();
    setStatus('Loaded ' + formatFileSize(reply.size));
    setSaveButtonVisible(false);
  } catch (error) {
    if (generation !== openGeneration) return;
    showPaneMessage('Error loading file: ' + error.message, 'var(--danger-color)', '20px', false);
    setStatus('Error');
  }
}

async function saveFile() {
  const target = loadedDocument;
  // One save at a time: the shortcut during a running save is ignored.
  if (!openFile || !target || !target.editable || saveInFlight) return;
  const text = textArea.value;
  const content = fileText();
  saveInFlight = true;
  setStatus('Saving to remote VM...');
  saveButton.disabled = true;
  container.classList.add('saving');
  setTimeout(() => container.classList.remove('saving'), SAVING_BAR_MS);
  try {
    await apiRequest('/api/write', {
      method: 'POST',
      json: {path: target.path, content: content},
      requireSuccess: true,
      fallbackError: 'Save failed',
    });
    showToast('File saved to remote VM');
    // A reply that comes back after another file was opened leaves that file's state alone.
    if (target !== loadedDocument) return;
    // What was sent is what is saved: text typed while the request ran stays modified.
    savedText = text;
    savedContent = content;
    const serial = setStatus(isModified() ? 'Modified (unsaved)' : 'Saved successfully!');
    if (mode === 'preview') setSaveButtonVisible(isModified());
    setTimeout(() => {
      if (serial === statusSerial) setStatus('Ready');
    }, READY_AFTER_SAVE_MS);
  } catch (error) {
    if (target === loadedDocument) setStatus('Save error: ' + error.message);
    showToast('Error: ' + error.message);
  } finally {
    saveInFlight = false;
    saveButton.disabled = false;
  }
}

function copyMarkdown() {
  if (!isEditable()) return;
  const text = mode === 'edit' ? textArea.value : savedText;
  copyText(text).then(() => showToast('Copied Markdown to clipboard'), () => {});
}

// The page script downloads it: an error shows in a toast, never in place of the page (and
// of the text being edited).
function downloadFile() {
  if (!openFile || typeof window.downloadRemoteFile !== 'function') return;
  window.downloadRemoteFile(openFile.path, openFile.name);
}

function toggleFullscreen() {
  isFullscreen = !isFullscreen;
  container.classList.toggle('fullscreen', isFullscreen);
}

// Whether the open sheet's text area holds edits that are not saved.
function hasUnsavedEdits() {
  return openFile !== null && isEditable() && isModified();
}

function askToDiscard() {
  discardMessage.textContent =
      'Discard your unsaved changes to "' + readableText(openFile ? openFile.name : '') + '"?';
  discardDialog.classList.remove('hidden');
  byId('btn-keep-editing').focus();
}

// Closing asks first while the text area holds unsaved edits: the text would be gone.
function requestClose() {
  if (hasUnsavedEdits()) {
    askToDiscard();
    return;
  }
  closeViewer();
}

// Those who wait for the answer to the discard question (the window being closed): each is
// given true on Discard, false on Keep Editing.
let discardWaiters = [];

function answerDiscardWaiters(discarded) {
  const waiters = discardWaiters;
  discardWaiters = [];
  waiters.forEach((answer) => answer(discarded));
}

// Resolves to true when nothing unsaved is left to lose (there was none, or the user chose
// Discard), to false when the user chose Keep Editing. The native window asks this before it
// closes.
function confirmDiscardEdits() {
  if (!hasUnsavedEdits()) return Promise.resolve(true);
  if (discardDialog.classList.contains('hidden')) askToDiscard();
  return new Promise((answer) => discardWaiters.push(answer));
}

function keepEditing() {
  closeModal(discardDialog);
  if (mode === 'edit') textArea.focus();
  answerDiscardWaiters(false);
}

function discardEdits() {
  closeModal(discardDialog);
  closeViewer();
  answerDiscardWaiters(true);
}

function closeViewer() {
  clearTimeout(recountTimer);
  openGeneration += 1;
  releaseEditor();
  stopColouring();
  stopKeepingPlace();
  highlights = new Map();
  previousHighlights = new Map();
  closeModal(backdrop);
  openFile = null;
}

// A key typed counts as a change at once (status, Save button); whether the text still differs
// from the saved one, and the count, are worked out once typing pauses: both walk the whole
// text, which on a long file would slow every key.
let recountTimer = null;

function handleEditorInput() {
  markModifiedAfterFrame();
  setSaveButtonVisible(true);
  clearTimeout(recountTimer);
  recountTimer = setTimeout(recount, RECOUNT_DELAY_MS);
}

// The first key after a save changes the status line, which lays the page out again: the frame
// with the typed character is drawn first and the status follows in the next, unless another
// status was set meanwhile (a save started by Ctrl+S right after the key, say). A text already
// back as saved by then (a key and its undo in one frame) reads "Ready", as the recount would
// have left it.
function markModifiedAfterFrame() {
  if (saveStatus.textContent === 'Modified (unsaved)') {
    setStatus('Modified (unsaved)');
    return;
  }
  const serial = statusSerial;
  const mark = () => {
    if (serial === statusSerial) setStatus(isModified() ? 'Modified (unsaved)' : 'Ready');
  };
  requestAnimationFrame(() => setTimeout(mark));
}

function recount() {
  updateCharCount();
  if (!isModified() && saveStatus.textContent === 'Modified (unsaved)') {
    setStatus('Ready');
    if (mode === 'preview') setSaveButtonVisible(false);
  }
}

function handleEditorKeydown(event) {
  if (event.key !== 'Tab') return;
  event.preventDefault();
  if (textArea.readOnly) return;
  // The browser's editing command keeps the undo history (and sends the input event);
  // setRangeText, where the command is not available, would wipe that history.
  if (document.execCommand('insertText', false, '  ')) return;
  textArea.setRangeText('  ', textArea.selectionStart, textArea.selectionEnd, 'end');
  textArea.dispatchEvent(new Event('input', {bubbles: true}));
}

function handleWindowKeydown(event) {
  if (backdrop.classList.contains('hidden')) return;
  if (!discardDialog.classList.contains('hidden')) {
    if (event.key === 'Escape') {
      event.preventDefault();
      keepEditing();
    }
    return;
  }
  if (event.key === 's' && (event.metaKey || event.ctrlKey)) {
    event.preventDefault();
    saveFile();
  } else if (event.key === 'Escape') {
    event.preventDefault();
    requestClose();
  }
}

previewTab.addEventListener('click', () => setViewMode('preview'));
editTab.addEventListener('click', () => setViewMode('edit'));
copyButton.addEventListener('click', copyMarkdown);
downloadButton.addEventListener('click', downloadFile);
saveButton.addEventListener('click', saveFile);
fullscreenButton.addEventListener('click', toggleFullscreen);
closeButton.addEventListener('click', requestClose);
byId('btn-keep-editing').addEventListener('click', keepEditing);
byId('btn-discard-edits').addEventListener('click', discardEdits);
// A click outside the sheet closes it. A press that began inside does not: selecting text in
// the editor and letting go beyond the sheet's edge ends in a click on the backdrop too, and
// closing then would drop the unsaved text.
let pressedOnBackdrop = false;
backdrop.addEventListener('mousedown', (event) => {
  pressedOnBackdrop = event.target === backdrop;
});
backdrop.addEventListener('click', (event) => {
  if (event.target === backdrop && pressedOnBackdrop) requestClose();
});
previewPane.addEventListener('click', handleLinkActivation);
previewPane.addEventListener('auxclick', handleLinkActivation);
textArea.addEventListener('input', handleEditorInput);
textArea.addEventListener('keydown', handleEditorKeydown);
window.addEventListener('keydown', handleWindowKeydown);
// Leaving the page (closing or reloading the tab) asks first, as closing the sheet does.
window.addEventListener('beforeunload', (event) => {
  if (hasUnsavedEdits()) event.preventDefault();
});

window.openMarkdownViewer = openMarkdownViewer;
window.hasUnsavedEdits = hasUnsavedEdits;
window.confirmDiscardEdits = confirmDiscardEdits;
})();
