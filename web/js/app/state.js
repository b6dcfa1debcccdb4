// The page's shared, mutable state: one object, changed in place by the modules that import it
// (a module's own bindings are read-only to its importers).

import {DEFAULT_SSH_PORT} from './hosts.js';

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
  items: [],
  selectedItem: null,
  viewMode: 'list',
  showHidden: false,
  sortCol: 'name',
  sortAsc: true,
  filterText: '',
  theme: 'auto',
  isDraggingInternal: false,
};
