// The page's shared state: one record that every module reads (the viewer and the feedback script
// read it too, as window.state), changed only through the functions below. The record is made of
// pieces, each with one owner: the one module that calls the piece's functions, named as "owner
// <module>.js" in the comment above them (scripts/check-imports.mjs holds the modules to it).
// Everyone else reads, and asks the owner for a change.

import {DEFAULT_SSH_PORT} from './hosts.js';
import {createListing} from './listing-columns.js';

export const state = {
  connected: false,
  host: '',
  user: '',
  port: DEFAULT_SSH_PORT,
  identityFile: '',
  homeDir: '/',
  currentPath: '~',
  history: [],
  historyIndex: -1,
  // The entries of the folder shown, a listing of listing-columns.js: entry(i), path(i),
  // hasName(name), indexOfPath(path) and the rest.
  listing: createListing(),
  selectedItem: null,
  viewMode: 'list',
  showHidden: false,
  sortCol: 'name',
  sortAsc: true,
  filterText: '',
  theme: 'auto',
  isDraggingInternal: false,
};

// The connection (connected, host, user, port, identityFile, homeDir); owner connection.js.
export function setConnection({host, user, port, identityFile, homeDir}) {
  Object.assign(state, {connected: true, host, user, port, identityFile, homeDir});
}

// The folder shown, its entries and the history (currentPath, listing, history, historyIndex);
// owner navigation.js.
export function setCurrentPath(path) {
  state.currentPath = path;
}

export function setListing(path, listing) {
  state.listing = listing;
  state.currentPath = path;
}

// Drops the forward part of the history and adds `path` as its newest place.
export function pushHistory(path) {
  state.history = state.history.slice(0, state.historyIndex + 1);
  state.history.push(path);
  state.historyIndex = state.history.length - 1;
}

// Moves `step` places back (-1) or forward (+1) in the history; returns the place moved to.
export function stepHistory(step) {
  state.historyIndex += step;
  return state.history[state.historyIndex];
}

// The selected entry (selectedItem); owner files-view.js.
export function setSelectedItem(item) {
  state.selectedItem = item;
}

// How the file view shows the listing (filterText, sortCol, sortAsc, viewMode, showHidden);
// owner files-view.js.
export function setFilterText(text) {
  state.filterText = text;
}

export function setSort(column, ascending) {
  state.sortCol = column;
  state.sortAsc = ascending;
}

export function setViewMode(mode) {
  state.viewMode = mode;
}

export function setShowHidden(show) {
  state.showHidden = show;
}

// The colour theme chosen (theme); owner theme.js.
export function setTheme(theme) {
  state.theme = theme;
}

// Whether an entry is being dragged inside the page (isDraggingInternal); owner drag.js.
export function setDraggingInternal(dragging) {
  state.isDraggingInternal = dragging;
}
