// The file view: search filter, sorting and view switches; the list and grid views, the empty
// state and the status bar; selecting entries. What opening an entry and its menu do, and what
// follows a new selection or hidden entries shown or hidden, is given by setupFileViewEvents.

import {endEntryDrag, startEntryDrag} from './drag.js';
import {elements} from './elements.js';
import {escapeHtml, formatDate, formatFileSize, nameParts, readableText} from './format.js';
import {getFileKind, iconClass, leadsToFolder} from './kinds.js';
import {listWindow} from './layout.js';
import {requestOrder} from './listing.js';
import {setFilterText, setSelectedItem, setShowHidden, setSort, setViewMode, state} from './state.js';

// {openItem(item), showContextMenu(x, y), selectionChanged(), hiddenToggled()}.
let actions = null;

function applyFilter(value) {
  setFilterText(value.trim());
  elements.clearSearchButton.classList.toggle('hidden', state.filterText === '');
  renderFiles();
}

function clearSearch() {
  elements.searchInput.value = '';
  applyFilter('');
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
    setSort(column, !state.sortAsc);
  } else {
    setSort(column, true);
  }
  document.querySelectorAll('.sort-indicator').forEach((indicator) => {
    indicator.textContent = '';
  });
  header.querySelector('.sort-indicator').textContent = state.sortAsc ? ' ↑' : ' ↓';
  showSortedOrder();
}

// The other view shows the same entries at another pitch; the place is carried over (see
// placeInView).
function chooseViewMode(mode) {
  const place = placeInView();
  setViewMode(mode);
  elements.listViewButton.classList.toggle('active', mode === 'list');
  elements.gridViewButton.classList.toggle('active', mode === 'grid');
  renderFiles();
  restorePlace(place);
}

// Shows or hides the hidden entries of the file view; the toolbar's switch (toggleHiddenFiles)
// lists the folder tree again as well.
export function setHiddenEntriesShown(show) {
  setShowHidden(show);
  elements.toggleHiddenButton.classList.toggle('active', show);
  renderFiles();
}

function toggleHiddenFiles() {
  setHiddenEntriesShown(!state.showHidden);
  actions.hiddenToggled();
}

// The listing shown, as the listing worker read it: its number, its entries (a listing of
// listing-columns.js), and the orders of its entries received so far, by sort ("column
// ascending"). `shown` is the order last drawn: while the order of a new sort is being worked
// out, filtering and the rest keep to it.
let listing = {number: 0, entries: null, orders: new Map(), asked: new Set(), shown: null};

const sortKey = (column, ascending) => column + (ascending ? ' ascending' : ' descending');

// Takes a listing read by readListing (listing.js) as the one to show, before it is set as the
// state's entries and drawn.
export function useListing({listing: number, entries, order, column, ascending}) {
  const key = sortKey(column, ascending);
  listing = {number, entries, orders: new Map([[key, order]]), asked: new Set([key]), shown: order};
}

// Draws the entries in the order of the sort chosen: at once when that order is known, else
// when the listing worker has worked it out (in the meantime the view keeps its order).
function showSortedOrder() {
  if (listing.entries !== state.listing || !askForOrder()) {
    renderFiles();
  }
}

// Asks the listing worker for the order of the sort chosen, unless it is known or asked for
// already; the answer draws the view. Returns whether the order is still to come.
function askForOrder() {
  const {sortCol: column, sortAsc: ascending} = state;
  const key = sortKey(column, ascending);
  if (listing.orders.has(key)) {
    return false;
  }
  if (listing.asked.has(key)) {
    return true;
  }
  const asked = listing;
  asked.asked.add(key);
  requestOrder(asked.number, column, ascending).then((order) => {
    if (order === null) {
      // The worker no longer holds the listing: a later draw may ask again.
      asked.asked.delete(key);
      return;
    }
    if (listing !== asked) {
      return;
    }
    asked.orders.set(key, order);
    if (sortKey(state.sortCol, state.sortAsc) === key) {
      renderFiles();
    }
  });
  return true;
}

// The entries to show, as their numbers in state.listing: hidden ones only when asked for, the
// filter applied, folders first.
function visibleEntries() {
  const entries = state.listing;
  let order;
  if (listing.entries === entries) {
    askForOrder();
    order = listing.orders.get(sortKey(state.sortCol, state.sortAsc)) ?? listing.shown;
    listing.shown = order;
  } else {
    // Entries not read as a listing (none before the first one): shown in their own order.
    order = Uint32Array.from({length: entries.count}, (_, index) => index);
  }
  const filter = state.filterText.toLowerCase();
  const holding = filter === '' ? null : entries.namesHolding(filter);
  const showHidden = state.showHidden;
  const shown = new Uint32Array(order.length);
  let count = 0;
  for (let i = 0; i < order.length; i += 1) {
    const index = order[i];
    if ((showHidden || !entries.isHidden(index)) && (holding === null || holding[index] === 1)) {
      shown[count] = index;
      count += 1;
    }
  }
  return shown.subarray(0, count);
}

function showEmptyState(title, description, offerConnect) {
  elements.emptyState.classList.remove('hidden');
  elements.listViewWrapper.classList.add('hidden');
  elements.gridViewWrapper.classList.add('hidden');
  elements.emptyTitle.textContent = title;
  elements.emptyDesc.textContent = description;
  elements.openConnectButton.classList.toggle('hidden', !offerConnect);
}

// Only the rows and cards near the view are built: those on screen and a screenful more on
// either side. Space stands in for the rest (spacer rows in the table, padding in the grid), so
// the scroll height is the whole list's from the first frame, and opening, filtering, sorting
// or switching the view costs the same for any size of folder. Scrolling past the built part
// builds the part in view again, in the scroll event, before the frame is drawn. A list that
// fits in that window is built whole, exactly as it would be without this.
//
// Rows of the table and rows of the grid are all of one height (in a grid too big to build
// whole, every label keeps room for two lines), measured from the entries built; the figures
// below only serve until the first measurement.
const ESTIMATED_PITCH = {
  list: 33,
  grid: 150
};
const measuredPitch = {
  list: 0,
  grid: 0
};
// The grid's padding above its first row (styles.css), beside the space of the rows not built.
const GRID_PADDING = 20;

// The entries of the view being shown, in order, as their numbers in `shownFrom` (the listing
// they were shown from), the container that shows them, and the part of them built: its
// entries shown[built.start] to shown[built.end - 1].
let shown = new Uint32Array(0);
let shownFrom = state.listing;
const built = {
  container: null,
  markupOf: null,
  start: 0,
  end: 0,
  columns: 1
};

export function renderFiles() {
  shown = new Uint32Array(0);
  shownFrom = state.listing;
  built.container = null;
  if (!state.connected) {
    clearEntries();
    showEmptyState('Not Connected', 'Connect to your remote VM over SSH to browse files.', true);
    elements.statusItemsCount.textContent = '0 items';
    elements.statusSelectionInfo.textContent = '';
    elements.statusSeparator.classList.add('hidden');
    return;
  }
  const visible = visibleEntries();
  dropHiddenSelection(visible);
  if (visible.length === 0) {
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
      clearGrid();
      renderEntries(elements.fileTableBody, visible, listRowMarkup);
    } else {
      elements.fileTableBody.replaceChildren();
      renderEntries(elements.fileGrid, visible, gridCardMarkup);
    }
  }
  elements.statusItemsCount.textContent =
      visible.length + (visible.length === 1 ? ' item' : ' items');
  updateSelectionStatus();
}

// A selected entry that the filter (or hiding hidden files) takes out of view is no longer
// selected: keys and menus must not act on an entry the user cannot see.
function dropHiddenSelection(visible) {
  const selected = state.selectedItem;
  if (selected && !visible.includes(shownFrom.indexOfPath(selected.path))) {
    setSelectedItem(null);
    actions.selectionChanged();
  }
}

function clearGrid() {
  const grid = elements.fileGrid;
  grid.replaceChildren();
  grid.classList.remove('uniform');
  grid.style.removeProperty('--space-above');
  grid.style.removeProperty('--space-below');
}

function clearEntries() {
  elements.fileTableBody.replaceChildren();
  clearGrid();
}

function isSelectedPath(path) {
  return state.selectedItem !== null && state.selectedItem.path === path;
}

function isSelected(item) {
  return isSelectedPath(item.path);
}

// Draws the entries numbered `visible` in state.listing.
function renderEntries(container, visible, markupOf) {
  shown = visible;
  Object.assign(built, {container, markupOf, start: 0, end: 0});
  buildWindow(true);
}

function isGrid(container) {
  return container === elements.fileGrid;
}

// The number of cards in a grid row, as the browser laid the columns out.
function gridColumns() {
  const tracks = getComputedStyle(elements.fileGrid).gridTemplateColumns.split(' ');
  return Math.max(1, tracks.filter((track) => track !== '' && track !== 'none').length);
}

// Builds the part of the list around the view. Without `force`, nothing is done while the
// part in view is built already.
function buildWindow(force, measuredNow = false) {
  const container = built.container;
  if (!container || shown.length === 0) {
    return;
  }
  const grid = isGrid(container);
  const kind = grid ? 'grid' : 'list';
  const columns = grid ? gridColumns() : 1;
  const pitch = measuredPitch[kind] || ESTIMATED_PITCH[kind];
  const zone = elements.dropZone;
  // Where the first entry sits in the scrolled content: below the table's header, or below
  // the grid's own padding.
  const origin = zone.scrollTop + container.getBoundingClientRect().top -
      zone.getBoundingClientRect().top + (grid ? GRID_PADDING : 0);
  const part = listWindow({
    count: shown.length,
    columns,
    pitch,
    top: Math.max(0, zone.scrollTop - origin),
    viewHeight: Math.max(zone.clientHeight, pitch),
  });
  if (!force && columns === built.columns && part.inView.start >= built.start &&
      part.inView.end <= built.end) {
    return;
  }
  const {start, end, above, below} = part;
  Object.assign(built, {start, end, columns});
  const markup =
      Array.from(shown.subarray(start, end), (index) => built.markupOf(shownFrom.entry(index)))
          .join('');
  if (grid) {
    // A grid that is built whole looks as it always did; a longer one gives every card the
    // same height, so that its rows can be counted.
    container.classList.toggle('uniform', start > 0 || end < shown.length);
    container.style.setProperty('--space-above', above + 'px');
    container.style.setProperty('--space-below', below + 'px');
    container.innerHTML = markup;
  } else {
    container.innerHTML = (above > 0 ? spacerRowMarkup(above) : '') + markup +
        (below > 0 ? spacerRowMarkup(below) : '');
  }
  // The rows built are measured; when they differ from the figure used (the first build in a
  // view), the part is built again with the right one. A grid built whole may have rows of
  // different heights, and has no spacing to get right.
  const measured =
      grid && !container.classList.contains('uniform') ? 0 : measurePitch(container, columns);
  if (measured > 0 && Math.abs(measured - pitch) > 0.5) {
    measuredPitch[kind] = measured;
    if (!measuredNow) {
      buildWindow(true, true);
    }
  }
}

function spacerRowMarkup(height) {
  return '<tr class="virtual-spacer" aria-hidden="true"><td colspan="5" style="height: ' + height +
      'px"></td></tr>';
}

// The distance from one row of entries to the next, from the entries built.
function measurePitch(container, columns) {
  const entries = container.querySelectorAll(
      isGrid(container) ? ':scope > .grid-card' : ':scope > tr:not(.virtual-spacer)');
  if (entries.length > columns) {
    return entries[columns].offsetTop - entries[0].offsetTop;
  }
  return 0;
}

// The rows or cards of the built part, without the spacer rows: the i-th shows entry
// shown[built.start + i].
function entryElements(container) {
  const children = Array.from(container.children);
  return isGrid(container) ?
      children :
      children.filter((element) => !element.classList.contains('virtual-spacer'));
}

// The top edge of the part of the view where entries show: below the list's sticky header.
function viewTop(container) {
  const top = elements.dropZone.getBoundingClientRect().top;
  return isGrid(container) ? top : top + container.parentElement.tHead.offsetHeight;
}

// Where the view stands, to be kept when it changes to the other view: the selected entry's
// distance from the top of the view while it is in view, and the first entry at the top of the
// view, the first one with more than half of it below the top (whether the view is scrolled at
// all). Null with nothing shown.
function placeInView() {
  const container = built.container;
  if (!container || shown.length === 0) {
    return null;
  }
  const top = viewTop(container);
  const bottom = elements.dropZone.getBoundingClientRect().bottom;
  const place = {atTop: elements.dropZone.scrollTop === 0, first: null, selectedOffset: null};
  entryElements(container).forEach((element, index) => {
    const box = element.getBoundingClientRect();
    const entry = shown[built.start + index];
    if (place.first === null && box.bottom - top > box.height / 2) {
      place.first = entry;
    }
    if (isSelectedPath(shownFrom.path(entry)) && box.bottom > top && box.top < bottom) {
      place.selectedOffset = box.top - top;
    }
  });
  return place;
}

// After a change of view: the selected entry is in view, where it was when it was in view
// (as far as its new size allows), else at the top; without a selection the entry that was at
// the top is at the top again.
function restorePlace(place) {
  if (!place || !built.container) {
    return;
  }
  const selected = state.selectedItem;
  const selectedIndex = selected ? shown.indexOf(shownFrom.indexOfPath(selected.path)) : -1;
  if (selectedIndex >= 0) {
    scrollEntryTo(selectedIndex, Math.max(0, place.selectedOffset ?? 0));
  } else if (place.atTop) {
    elements.dropZone.scrollTop = 0;
    buildWindow(false);
  } else if (place.first !== null) {
    scrollEntryTo(shown.indexOf(place.first), 0);
  }
}

// Scrolls so that entry `index` of the shown ones is `offset` pixels below the top of the
// view, and wholly in view: first from its row's reckoned place, which gets it built, then
// exactly from the element built for it.
function scrollEntryTo(index, offset) {
  const container = built.container;
  const zone = elements.dropZone;
  if (index < 0 || !container) {
    return;
  }
  const grid = isGrid(container);
  const columns = grid ? gridColumns() : 1;
  const pitch = measuredPitch[grid ? 'grid' : 'list'] || ESTIMATED_PITCH[grid ? 'grid' : 'list'];
  const top = viewTop(container);
  const zoneTop = zone.getBoundingClientRect().top;
  const origin =
      zone.scrollTop + container.getBoundingClientRect().top - zoneTop + (grid ? GRID_PADDING : 0);
  zone.scrollTop = origin + Math.floor(index / columns) * pitch - (top - zoneTop) - offset;
  buildWindow(false);
  const element = entryElements(container)[index - built.start];
  if (!element) {
    return;
  }
  const box = element.getBoundingClientRect();
  const bottom = zone.getBoundingClientRect().bottom;
  const wanted = Math.max(top, Math.min(top + offset, bottom - box.height));
  zone.scrollTop += box.top - wanted;
  buildWindow(false);
}

// The number in `shownFrom` of the entry shown by a row or card of the built part, or -1.
function entryOfElement(container, element) {
  if (element.classList.contains('virtual-spacer')) {
    return -1;
  }
  const offset = !isGrid(container) && built.start > 0 ? 1 : 0;
  const place = built.start + Array.prototype.indexOf.call(container.children, element) - offset;
  return place >= 0 && place < shown.length ? shown[place] : -1;
}

// Every text taken from the entry is escaped; sizes, dates and icons are our own text.
function listRowMarkup(item) {
  return '<tr draggable="true"' + (isSelected(item) ? ' class="selected"' : '') + '>' +
      '<td class="col-name"><div class="file-item-name-cell">' +
      '<span class="file-item-icon entry-icon icon-' + iconClass(item) + '"></span>' +
      nameMarkup(item.name) + '</div></td>' +
      '<td class="col-size">' + (item.is_dir ? '--' : formatFileSize(item.size)) + '</td>' +
      '<td class="col-type">' + escapeHtml(getFileKind(item)) + '</td>' +
      '<td class="col-modified">' + escapeHtml(formatDate(item.modified)) + '</td>' +
      '<td class="col-perms">' + escapeHtml(item.permissions) + '</td></tr>';
}

// A name that may be cut keeps its end in view: the head takes the ellipsis (see nameParts).
// The whole name is the title.
function nameMarkup(name) {
  const [head, tail] = nameParts(name);
  const title = escapeHtml(name);
  if (tail === '') {
    return '<span class="file-item-name" title="' + title + '">' + title + '</span>';
  }
  return '<span class="file-item-name split" title="' + title + '"><span class="name-head">' +
      escapeHtml(head) + '</span><span class="name-tail">' + escapeHtml(tail) + '</span></span>';
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
  const entry = entryOfElement(container, element);
  return entry >= 0 ? {element, item: shownFrom.entry(entry)} : null;
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
    startEntryDrag(event, {path: item.path, name: item.name, is_dir: leadsToFolder(item)});
  });
  container.addEventListener('dragend', (event) => {
    if (entryAt(container, event)) {
      endEntryDrag();
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
      actions.openItem(entry.item);
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
      actions.showContextMenu(event.clientX, event.clientY);
    }
  });
}

function updateSelectionStatus() {
  const item = state.selectedItem;
  if (item) {
    const size = item.is_dir ? 'folder' : formatFileSize(item.size);
    elements.statusSelectionInfo.textContent =
        'Selected: ' + readableText(item.name) + ' (' + size + ')';
    elements.statusSeparator.classList.remove('hidden');
  } else {
    elements.statusSelectionInfo.textContent = '';
    elements.statusSeparator.classList.add('hidden');
  }
}

export function selectItem(item) {
  setSelectedItem(item);
  const container = state.viewMode === 'grid' ? elements.fileGrid : elements.fileTableBody;
  for (const element of container.children) {
    const entry = entryOfElement(container, element);
    if (entry >= 0) {
      element.classList.toggle('selected', shownFrom.path(entry) === item.path);
    }
  }
  actions.selectionChanged();
  updateSelectionStatus();
}

// Forgets the selection without drawing anything: the listing it was made in is replaced or
// about to be.
export function clearSelection() {
  setSelectedItem(null);
}

export function setupFileViewEvents(fileViewActions) {
  actions = fileViewActions;
  elements.searchInput.addEventListener('input', () => applyFilter(elements.searchInput.value));
  elements.searchInput.addEventListener('keydown', handleSearchKeydown);
  elements.clearSearchButton.addEventListener('click', clearSearch);

  document.querySelectorAll('.file-table th.sortable').forEach((header) => {
    header.addEventListener('click', () => handleSortHeaderClick(header));
  });
  elements.listViewButton.addEventListener('click', () => chooseViewMode('list'));
  elements.gridViewButton.addEventListener('click', () => chooseViewMode('grid'));
  elements.toggleHiddenButton.addEventListener('click', toggleHiddenFiles);
  setupEntryEvents(elements.fileTableBody);
  setupEntryEvents(elements.fileGrid);
  elements.dropZone.addEventListener('scroll', () => buildWindow(false), {passive: true});
  // A new width can change the grid's columns, a new height the part in view.
  new ResizeObserver(() => buildWindow(true)).observe(elements.dropZone);
}
