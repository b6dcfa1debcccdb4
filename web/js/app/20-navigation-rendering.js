// Page script (see 00-head.js): navigation, breadcrumbs and path input, filter, sort and
// views, rendering, selection and opening, file kinds, icons and formatting.

// ===========================================================================
// Navigation: listing, history, back, forward, up, refresh
// ===========================================================================

async function navigateTo(path, addToHistory = true) {
  if (!state.connected) {
    openConnectModal();
    return;
  }
  showLoading(true);
  try {
    const items = await apiRequest('/api/list?path=' + encodeURIComponent(path), {
      fallbackError: 'Failed to list directory',
    });
    if (!Array.isArray(items)) {
      throw new Error('Failed to list directory');
    }
    // A new folder opens at its top; a refresh of the same folder keeps its place.
    if (path !== state.currentPath) {
      elements.dropZone.scrollTop = 0;
    }
    state.items = items;
    state.currentPath = path;
    state.selectedItem = null;
    if (addToHistory) {
      state.history = state.history.slice(0, state.historyIndex + 1);
      state.history.push(path);
      state.historyIndex = state.history.length - 1;
    }
    updateHistoryButtons();
    renderBreadcrumbs(path);
    renderFiles();
    renderQuickAccess();
    updateTreeActive(path);
  } catch (error) {
    showToast('Error: ' + error.message);
  } finally {
    showLoading(false);
  }
}

function updateHistoryButtons() {
  elements.backButton.disabled = state.historyIndex <= 0;
  elements.forwardButton.disabled = state.historyIndex >= state.history.length - 1;
}

function goBack() {
  if (state.historyIndex > 0) {
    state.historyIndex -= 1;
    navigateTo(state.history[state.historyIndex], false);
  }
}

function goForward() {
  if (state.historyIndex < state.history.length - 1) {
    state.historyIndex += 1;
    navigateTo(state.history[state.historyIndex], false);
  }
}

// The enclosing folder: the path without its last "/" piece, or "/" when nothing is left.
function parentPath(path) {
  const parent = path.split('/').slice(0, -1).join('/');
  return parent === '' ? '/' : parent;
}

function goUp() {
  const path = state.currentPath;
  if (path && path !== '/') {
    navigateTo(parentPath(path));
  }
}

function refresh() {
  navigateTo(state.currentPath, false);
}

// ===========================================================================
// Breadcrumbs, direct path input and copy path
// ===========================================================================

const GLOBE_ICON =
    '<svg width="12" height="12" viewBox="0 0 24 24" fill="none" stroke="currentColor" ' +
    'stroke-width="2" stroke-linecap="round" stroke-linejoin="round" style="opacity: 0.7;">' +
    '<circle cx="12" cy="12" r="10"/><line x1="2" y1="12" x2="22" y2="12"/>' +
    '<path d="M12 2a15.3 15.3 0 0 1 4 10 15.3 15.3 0 0 1-4 10 15.3 15.3 0 0 1-4-10 ' +
    '15.3 15.3 0 0 1 4-10z"/></svg>';

function renderBreadcrumbs(path) {
  const track = elements.breadcrumbs;
  track.replaceChildren();
  const segments = path.split('/').filter((segment) => segment !== '');

  const root = document.createElement('span');
  root.className = 'breadcrumb-pill';
  root.classList.toggle('active', segments.length === 0);
  root.title = 'Root directory';
  root.innerHTML = GLOBE_ICON + '<span>/</span>';
  root.addEventListener('click', (event) => {
    event.stopPropagation();
    navigateTo('/');
  });
  track.appendChild(root);

  // A path that does not start at the root ("~/notes") keeps its segments relative, so
  // that each pill leads to the folder it names.
  let cumulative = path.startsWith('/') ? '' : null;
  segments.forEach((segment, index) => {
    cumulative = cumulative === null ? segment : cumulative + '/' + segment;
    const target = cumulative;

    const separator = document.createElement('span');
    separator.className = 'breadcrumb-separator';
    separator.textContent = '›';
    track.appendChild(separator);

    const pill = document.createElement('span');
    pill.className = 'breadcrumb-pill';
    pill.classList.toggle('active', index === segments.length - 1);
    pill.textContent = segment;
    pill.title = target;
    pill.addEventListener('click', (event) => {
      event.stopPropagation();
      navigateTo(target);
    });
    track.appendChild(pill);
  });

  track.scrollLeft = track.scrollWidth;
}

// The blur handler closes the input after a short delay; reopening it in the meantime must
// cancel that pending close, or the input shuts right after it opened.
let pathInputBlurTimer = null;

function activatePathInput() {
  clearTimeout(pathInputBlurTimer);
  elements.breadcrumbContainer.dataset.state = 'editing';
  elements.pathInput.value = state.currentPath;
  elements.pathInput.focus();
  elements.pathInput.select();
}

// The closed input is invisible, so it gives up the focus too: keys then reach the page
// again instead of editing a path nobody sees.
function deactivatePathInput() {
  elements.breadcrumbContainer.dataset.state = 'display';
  elements.pathInput.blur();
}

function handleBreadcrumbBarClick(event) {
  if (event.target.closest('.breadcrumb-pill, button, input')) {
    return;
  }
  activatePathInput();
}

function handlePathInputKeydown(event) {
  if (event.key === 'Enter') {
    event.preventDefault();
    const path = elements.pathInput.value.trim();
    if (path) {
      navigateTo(path);
    }
    deactivatePathInput();
  } else if (event.key === 'Escape') {
    event.preventDefault();
    deactivatePathInput();
  }
}

let copiedTimer = null;

async function copyCurrentPath(event) {
  event.stopPropagation();
  if (!state.currentPath) {
    return;
  }
  try {
    await navigator.clipboard.writeText(state.currentPath);
  } catch (error) {
    return;
  }
  const button = elements.copyPathButton;
  button.classList.add('copied');
  button.querySelector('.icon-copy').classList.add('hidden');
  button.querySelector('.icon-check').classList.remove('hidden');
  clearTimeout(copiedTimer);
  copiedTimer = setTimeout(() => {
    button.classList.remove('copied');
    button.querySelector('.icon-copy').classList.remove('hidden');
    button.querySelector('.icon-check').classList.add('hidden');
  }, COPIED_FEEDBACK_MS);
}

// ===========================================================================
// Search filter, sorting and view switches
// ===========================================================================

function setFilterText(value) {
  state.filterText = value.trim();
  elements.clearSearchButton.classList.toggle('hidden', state.filterText === '');
  renderFiles();
}

function clearSearch() {
  elements.searchInput.value = '';
  setFilterText('');
}

function handleSearchKeydown(event) {
  if (event.key === 'Escape') {
    clearSearch();
    elements.searchInput.blur();
  }
}

function handleSortHeaderClick(header) {
  const column = header.dataset.sort;
  if (state.sortCol === column) {
    state.sortAsc = !state.sortAsc;
  } else {
    state.sortCol = column;
    state.sortAsc = true;
  }
  document.querySelectorAll('.sort-indicator').forEach((indicator) => {
    indicator.textContent = '';
  });
  header.querySelector('.sort-indicator').textContent = state.sortAsc ? ' ↑' : ' ↓';
  renderFiles();
}

function setViewMode(mode) {
  state.viewMode = mode;
  elements.listViewButton.classList.toggle('active', mode === 'list');
  elements.gridViewButton.classList.toggle('active', mode === 'grid');
  renderFiles();
}

function toggleHiddenFiles() {
  state.showHidden = !state.showHidden;
  elements.toggleHiddenButton.classList.toggle('active', state.showHidden);
  renderFiles();
  treeState.treeCache.clear();
  initTree();
}

// ===========================================================================
// Rendering: list and grid views, empty state, status bar
// ===========================================================================

// Every entry with its sort value and lower-cased name, in the order the view shows them
// (folders first), kept until the entries or the order change: a filter keystroke then only
// walks this list instead of sorting again.
let sortedEntries = {items: null, column: null, ascending: null, entries: []};

function sortedItems() {
  const cached = sortedEntries;
  if (cached.items === state.items && cached.column === state.sortCol &&
      cached.ascending === state.sortAsc) {
    return cached.entries;
  }
  const direction = state.sortAsc ? 1 : -1;
  // Each entry's sort value is worked out once, not at every comparison. Array sort is
  // stable, so entries that compare equal keep the listing's order.
  const entries = state.items.map((item) => {
    const lowerName = String(item.name).toLowerCase();
    const value = sortValue(item, lowerName);
    return {item, isDir: item.is_dir, lowerName, value};
  });
  entries.sort((a, b) => {
    if (a.isDir !== b.isDir) {
      return a.isDir ? -1 : 1;
    }
    if (a.value < b.value) {
      return -direction;
    }
    if (a.value > b.value) {
      return direction;
    }
    return 0;
  });
  sortedEntries = {items: state.items, column: state.sortCol, ascending: state.sortAsc, entries};
  return entries;
}

// The entries to show: hidden ones only when asked for, the filter applied, folders first.
function visibleItems() {
  const filter = state.filterText.toLowerCase();
  const shown = [];
  for (const entry of sortedItems()) {
    if ((state.showHidden || !entry.item.is_hidden) &&
        (filter === '' || entry.lowerName.includes(filter))) {
      shown.push(entry.item);
    }
  }
  return shown;
}

function sortValue(item, lowerName) {
  switch (state.sortCol) {
    case 'size':
      return item.size;
    case 'type':
      return getFileKind(item);
    case 'modified':
      return item.modified;
    default:
      return lowerName;
  }
}

function showEmptyState(title, description, offerConnect) {
  elements.emptyState.classList.remove('hidden');
  elements.listViewWrapper.classList.add('hidden');
  elements.gridViewWrapper.classList.add('hidden');
  elements.emptyTitle.textContent = title;
  elements.emptyDesc.textContent = description;
  elements.openConnectButton.classList.toggle('hidden', !offerConnect);
}

// Rows and cards are drawn in pieces: the first at once, enough to fill the view, the rest a
// piece per frame, so that typing in the filter, sorting or leaving the folder never waits
// for the end of a long listing. Every piece makes the browser lay the whole table out again,
// so the pieces double in size (up to a bound that keeps each frame short enough).
// Each rendering starts a new generation, and the pieces of an older one stop.
const FIRST_PIECE_ENTRIES = 60;
const LARGEST_PIECE_ENTRIES = 2000;
let renderGeneration = 0;
// The entries of the view being shown, in order: its i-th row or card shows shownItems[i].
let shownItems = [];

function renderFiles() {
  renderGeneration += 1;
  shownItems = [];
  if (!state.connected) {
    clearEntries();
    showEmptyState('Not Connected', 'Connect to your remote VM over SSH to browse files.', true);
    elements.statusItemsCount.textContent = '0 items';
    elements.statusSelectionInfo.textContent = '';
    elements.statusSeparator.classList.add('hidden');
    return;
  }
  const items = visibleItems();
  if (items.length === 0) {
    const description =
        state.filterText !== '' ? 'No items matching filter.' : 'This folder contains no files.';
    clearEntries();
    showEmptyState('Empty Directory', description, false);
  } else {
    elements.emptyState.classList.add('hidden');
    const listMode = state.viewMode !== 'grid';
    elements.listViewWrapper.classList.toggle('hidden', !listMode);
    elements.gridViewWrapper.classList.toggle('hidden', listMode);
    // The hidden view keeps nothing, so that selecting never walks stale entries.
    if (listMode) {
      elements.fileGrid.replaceChildren();
      renderEntries(elements.fileTableBody, items, listRowMarkup);
    } else {
      elements.fileTableBody.replaceChildren();
      renderEntries(elements.fileGrid, items, gridCardMarkup);
    }
  }
  elements.statusItemsCount.textContent = items.length + (items.length === 1 ? ' item' : ' items');
  updateSelectionStatus();
}

function clearEntries() {
  elements.fileTableBody.replaceChildren();
  elements.fileGrid.replaceChildren();
}

function isSelected(item) {
  return state.selectedItem !== null && state.selectedItem.path === item.path;
}

function renderEntries(container, items, markupOf) {
  const generation = renderGeneration;
  shownItems = items;
  container.innerHTML = items.slice(0, FIRST_PIECE_ENTRIES).map(markupOf).join('');
  const appendFrom = (start) => {
    if (generation !== renderGeneration || start >= items.length) {
      return;
    }
    const end = Math.min(start + Math.min(start, LARGEST_PIECE_ENTRIES), items.length);
    container.insertAdjacentHTML('beforeend', items.slice(start, end).map(markupOf).join(''));
    requestAnimationFrame(() => appendFrom(end));
  };
  requestAnimationFrame(() => appendFrom(FIRST_PIECE_ENTRIES));
}

// Every text taken from the entry is escaped; sizes, dates and icons are our own text.
function listRowMarkup(item) {
  return '<tr draggable="true"' + (isSelected(item) ? ' class="selected"' : '') + '>' +
      '<td class="col-name"><div class="file-item-name-cell">' +
      '<span class="file-item-icon entry-icon icon-' + iconClass(item) + '"></span>' +
      '<span class="file-item-name">' + escapeHtml(item.name) + '</span></div></td>' +
      '<td class="col-size">' + (item.is_dir ? '--' : formatFileSize(item.size)) + '</td>' +
      '<td class="col-type">' + escapeHtml(getFileKind(item)) + '</td>' +
      '<td class="col-modified">' + escapeHtml(formatDate(item.modified)) + '</td>' +
      '<td class="col-perms">' + escapeHtml(item.permissions) + '</td></tr>';
}

function gridCardMarkup(item) {
  const name = escapeHtml(item.name);
  return '<div class="grid-card' + (isSelected(item) ? ' selected' : '') + '" draggable="true">' +
      '<div class="grid-card-icon"><span class="entry-icon icon-' + iconClass(item) +
      '"></span></div>' +
      '<div class="grid-card-label" title="' + name + '">' + name + '</div></div>';
}

// The row or card an event happened in, with the entry it shows; null outside every one.
function entryAt(container, event) {
  let element = event.target instanceof Element ? event.target : null;
  while (element && element.parentElement !== container) {
    element = element.parentElement;
  }
  if (!element) {
    return null;
  }
  const item = shownItems[Array.prototype.indexOf.call(container.children, element)];
  return item ? {element, item} : null;
}

// The handlers that rows and cards share (drag, select, open and the item menu), listened
// for once on the list body and the grid rather than on every entry.
function setupEntryEvents(container) {
  container.addEventListener('dragstart', (event) => {
    const entry = entryAt(container, event);
    if (!entry) {
      return;
    }
    const item = entry.item;
    state.isDraggingInternal = true;
    const record = {path: item.path, name: item.name, is_dir: item.is_dir === true};
    event.dataTransfer.setData('application/json', JSON.stringify(record));
    event.dataTransfer.setData('text/plain', item.path);
    event.dataTransfer.effectAllowed = 'copy';
  });
  container.addEventListener('dragend', (event) => {
    if (entryAt(container, event)) {
      state.isDraggingInternal = false;
    }
  });
  container.addEventListener('click', (event) => {
    const entry = entryAt(container, event);
    if (entry) {
      event.stopPropagation();
      selectItem(entry.item);
    }
  });
  container.addEventListener('dblclick', (event) => {
    const entry = entryAt(container, event);
    if (entry) {
      event.stopPropagation();
      entry.element.classList.add('opening');
      openItem(entry.item);
    }
  });
  container.addEventListener('animationend', (event) => {
    entryAt(container, event)?.element.classList.remove('opening');
  });
  container.addEventListener('contextmenu', (event) => {
    const entry = entryAt(container, event);
    if (entry) {
      event.preventDefault();
      event.stopPropagation();
      selectItem(entry.item);
      showContextMenu(event.clientX, event.clientY);
    }
  });
}

function updateSelectionStatus() {
  const item = state.selectedItem;
  if (item) {
    const size = item.is_dir ? 'folder' : formatFileSize(item.size);
    elements.statusSelectionInfo.textContent = 'Selected: ' + item.name + ' (' + size + ')';
    elements.statusSeparator.classList.remove('hidden');
  } else {
    elements.statusSelectionInfo.textContent = '';
    elements.statusSeparator.classList.add('hidden');
  }
}

// ===========================================================================
// Selection and opening
// ===========================================================================

function selectItem(item) {
  state.selectedItem = item;
  const container = state.viewMode === 'grid' ? elements.fileGrid : elements.fileTableBody;
  const shown = container.children;
  for (let index = 0; index < shown.length; index += 1) {
    shown[index].classList.toggle('selected', shownItems[index].path === item.path);
  }
  markActiveBookmarks();
  updateSelectionStatus();
}

// A folder is listed; every file, whatever its kind, goes to the viewer sheet.
function openItem(item) {
  if (item.is_dir) {
    navigateTo(item.path);
    return;
  }
  if (typeof window.openMarkdownViewer === 'function') {
    window.openMarkdownViewer(item);
  } else {
    console.warn('The file viewer is not available.');
  }
}

// ===========================================================================
// File kinds, icons and formatting
// ===========================================================================

const FILE_KINDS = {
  md: 'Markdown',
  markdown: 'Markdown',
  txt: 'Text Document',
  rs: 'Rust Source',
  py: 'Python Script',
  js: 'JavaScript',
  ts: 'TypeScript',
  html: 'HTML Document',
  css: 'CSS Stylesheet',
  json: 'JSON Document',
  yaml: 'YAML Document',
  yml: 'YAML Document',
  sh: 'Shell Script',
  bash: 'Shell Script',
  png: 'PNG Image',
  jpg: 'JPEG Image',
  jpeg: 'JPEG Image',
  gif: 'GIF Image',
  svg: 'SVG Vector Image',
  pdf: 'PDF Document',
  zip: 'ZIP Archive',
  tar: 'TAR Archive',
  gz: 'GZIP Archive',
};

// The lower-cased text after the last "." of the name, or the whole name without one.
function fileExtension(name) {
  const text = String(name || '');
  return text.slice(text.lastIndexOf('.') + 1).toLowerCase();
}

function getFileKind(item) {
  if (item.is_dir) {
    return 'Folder';
  }
  const extension = fileExtension(item.name);
  if (extension === '') {
    return 'Document';
  }
  if (Object.hasOwn(FILE_KINDS, extension)) {
    return FILE_KINDS[extension];
  }
  return extension.toUpperCase() + ' File';
}

const ICON_CLASSES = [
  {name: 'markdown', extensions: ['md', 'markdown', 'mdown']},
  {
    name: 'code',
    extensions: [
      'py',     'rs', 'js', 'ts',  'jsx', 'tsx',  'html', 'css',  'scss', 'vue',
      'svelte', 'go', 'c',  'cpp', 'h',   'java', 'sh',   'bash', 'zsh',
    ],
  },
  {
    name: 'data',
    extensions:
        ['json', 'yaml', 'yml', 'toml', 'xml', 'csv', 'env', 'sql', 'graphql', 'ini', 'conf'],
  },
  {
    name: 'media',
    extensions: [
      'png',
      'jpg',
      'jpeg',
      'gif',
      'svg',
      'webp',
      'ico',
      'bmp',
      'tiff',
      'mp4',
      'webm',
      'mov',
      'mp3',
      'wav',
    ],
  },
  {name: 'archive', extensions: ['zip', 'tar', 'gz', 'bz2', 'xz', '7z', 'rar']},
];

const PAGE_OUTLINE = 'M14 2H6a2 2 0 0 0-2 2v16a2 2 0 0 0 2 2h12a2 2 0 0 0 2-2V8z';
const PAGE_FOLD = 'M14 2v6h6';

// The drawings inside each icon class's 24-unit view box.
const ICON_DRAWINGS = {
  folder:
      '<path d="M3 7a2 2 0 0 1 2-2h4l2 2.5h8a2 2 0 0 1 2 2V18a2 2 0 0 1-2 2H5a2 2 0 0 1-2-2z" ' +
      'fill="#3b82f6" fill-opacity="0.22" stroke="#60a5fa" stroke-width="1.5" ' +
      'stroke-linejoin="round"/>' +
      '<path d="M3.8 11.5h16.4" stroke="#93c5fd" stroke-opacity="0.4" stroke-width="1" ' +
      'stroke-dasharray="2 2"/>',
  markdown: '<rect x="2.5" y="4.5" width="19" height="15" rx="3" fill="#818cf8" ' +
      'fill-opacity="0.15" stroke="#818cf8" stroke-width="1.5"/>' +
      '<path d="M6 15V9l2.5 3L11 9v6" stroke="#c7d2fe" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>' +
      '<path d="M16 9v5.5M13.8 12.5l2.2 2.2 2.2-2.2" stroke="#a5b4fc" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>',
  code: '<path d="' + PAGE_OUTLINE + '" fill="#f59e0b" fill-opacity="0.12" stroke="#fbbf24" ' +
      'stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="' + PAGE_FOLD + '" stroke="#fbbf24" stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="M10 12.5l-2 2 2 2M14 12.5l2 2-2 2" stroke="#fef3c7" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>',
  data: '<path d="' + PAGE_OUTLINE + '" fill="#10b981" fill-opacity="0.12" stroke="#34d399" ' +
      'stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="' + PAGE_FOLD + '" stroke="#34d399" stroke-width="1.5" stroke-linejoin="round"/>' +
      '<circle cx="8.5" cy="15" r="1" fill="#a7f3d0"/><circle cx="12" cy="15" r="1" ' +
      'fill="#a7f3d0"/><circle cx="15.5" cy="15" r="1" fill="#a7f3d0"/>',
  media: '<rect x="3" y="4" width="18" height="16" rx="3" fill="#a855f7" fill-opacity="0.15" ' +
      'stroke="#c084fc" stroke-width="1.5"/>' +
      '<circle cx="9" cy="9.5" r="1.6" stroke="#e9d5ff" stroke-width="1.3"/>' +
      '<path d="M4 17.5l5-5 3.5 3.5 2.5-2.5 5 4.5" stroke="#e9d5ff" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>',
  archive: '<rect x="4" y="3" width="16" height="18" rx="2" fill="#f43f5e" fill-opacity="0.12" ' +
      'stroke="#fb7185" stroke-width="1.5"/>' +
      '<path d="M12 3v9" stroke="#fda4af" stroke-width="1.5" stroke-dasharray="1.5 1.5"/>' +
      '<rect x="10" y="12" width="4" height="4" rx="1" stroke="#fb7185" stroke-width="1.5"/>',
  // The plain page is drawn in the text colour so that it shows on light and dark alike.
  document: '<path d="' + PAGE_OUTLINE + '" fill="currentColor" fill-opacity="0.04" ' +
      'stroke="currentColor" stroke-opacity="0.25" stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="' + PAGE_FOLD + '" stroke="currentColor" stroke-opacity="0.25" ' +
      'stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="M8 13h8M8 17h5" stroke="currentColor" stroke-opacity="0.18" ' +
      'stroke-width="1.5" stroke-linecap="round"/>',
};

function iconClass(item) {
  if (item.is_dir) {
    return 'folder';
  }
  const extension = fileExtension(item.name);
  const match = ICON_CLASSES.find((entry) => entry.extensions.includes(extension));
  return match ? match.name : 'document';
}

// The text colour (--text-primary) of the light and the dark palette. A picture cannot take
// the colour of the element that shows it, so the plain page is published in both, and the
// style sheet's palettes pick theirs.
const DOCUMENT_ICON_INKS = {
  light: '#090d16',
  dark: '#f8fafc'
};

// Rows and cards show their icon as a class of the style sheet (icon-folder, ...) whose
// picture is the drawing above, published once as a custom property on the root: an element
// without children costs far less to build, lay out and take down than an inline drawing in
// each of thousands of rows.
function publishIconImages() {
  const root = document.documentElement.style;
  const publish = (name, drawing) => {
    const image = '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24" fill="none">' +
        drawing + '</svg>';
    root.setProperty(
        '--icon-' + name, 'url("data:image/svg+xml,' + encodeURIComponent(image) + '")');
  };
  for (const [name, drawing] of Object.entries(ICON_DRAWINGS)) {
    if (name !== 'document') {
      publish(name, drawing);
    }
  }
  for (const [palette, ink] of Object.entries(DOCUMENT_ICON_INKS)) {
    publish('document-on-' + palette, ICON_DRAWINGS.document.replaceAll('currentColor', ink));
  }
}

function getFileIcon(item, size = 18) {
  return '<svg width="' + size + '" height="' + size + '" viewBox="0 0 24 24" fill="none">' +
      ICON_DRAWINGS[iconClass(item)] + '</svg>';
}

const SIZE_UNITS = ['B', 'KB', 'MB', 'GB', 'TB'];

// "1.5 KB": the unit is chosen first (sizes of 1024 TB and more stay in TB), then the value
// is taken to the nearer tenth.
function formatFileSize(bytes) {
  const value = Number(bytes);
  if (!(value > 0)) {
    return '0 B';
  }
  let unit = 0;
  while (unit < SIZE_UNITS.length - 1 && value >= Math.pow(1024, unit + 1)) {
    unit += 1;
  }
  const rounded = Math.round((value / Math.pow(1024, unit)) * 10) / 10;
  return rounded + ' ' + SIZE_UNITS[unit];
}

// Made once: a formatter made with options for every row costs more than the rest of the
// row together.
const TIME_FORMAT = new Intl.DateTimeFormat([], {hour: '2-digit', minute: '2-digit'});
const DAY_FORMAT = new Intl.DateTimeFormat([], {month: 'short', day: 'numeric', year: 'numeric'});

// Today's times as hours and minutes, other days as the date, in the browser's locale.
function formatDate(timestamp) {
  if (!timestamp) {
    return '--';
  }
  const date = new Date(Number(timestamp) * 1000);
  if (Number.isNaN(date.getTime())) {
    return '--';
  }
  const today = new Date();
  if (date.getDate() === today.getDate() && date.getMonth() === today.getMonth() &&
      date.getFullYear() === today.getFullYear()) {
    return TIME_FORMAT.format(date);
  }
  return DAY_FORMAT.format(date);
}

const HTML_ESCAPES = {
  '&': '&amp;',
  '<': '&lt;',
  '>': '&gt;',
  "'": '&#39;',
  '"': '&quot;'
};

function escapeHtml(text) {
  if (text === undefined || text === null || text === '') {
    return '';
  }
  return String(text).replace(/[&<>'"]/g, (character) => HTML_ESCAPES[character]);
}
