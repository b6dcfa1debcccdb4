// The file view: search filter, sorting and view switches; the list and grid views, the empty
// state and the status bar; selecting and opening entries.

import {elements} from './dom.js';
import {escapeHtml, formatDate, formatFileSize} from './format.js';
import {getFileKind, iconClass} from './kinds.js';
import {showContextMenu} from './menus.js';
import {navigateTo} from './navigation.js';
import {markActiveBookmarks} from './quick-access.js';
import {state} from './state.js';
import {initTree, treeCache} from './tree.js';

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
  treeCache.clear();
  initTree();
}

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

export function renderFiles() {
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

export function selectItem(item) {
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
export function openItem(item) {
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

export function setupFileViewEvents() {
  elements.searchInput.addEventListener('input', () => setFilterText(elements.searchInput.value));
  elements.searchInput.addEventListener('keydown', handleSearchKeydown);
  elements.clearSearchButton.addEventListener('click', clearSearch);

  document.querySelectorAll('.file-table th.sortable').forEach((header) => {
    header.addEventListener('click', () => handleSortHeaderClick(header));
  });
  elements.listViewButton.addEventListener('click', () => setViewMode('list'));
  elements.gridViewButton.addEventListener('click', () => setViewMode('grid'));
  elements.toggleHiddenButton.addEventListener('click', toggleHiddenFiles);
  setupEntryEvents(elements.fileTableBody);
  setupEntryEvents(elements.fileGrid);
}
