// Page script (see 00-head.js): state and elements, API requests, toast and loading bar,
// connection, event wiring and start-up.

// ===========================================================================
// State and elements
// ===========================================================================

const QA_STORAGE_KEY = 'wrenfield_quick_access_v2';
const THEME_STORAGE_KEY = 'wrenfield_theme';
const DEFAULT_SSH_PORT = 22;
const TOAST_DURATION_MS = 2800;
const COPIED_FEEDBACK_MS = 1800;
const PATH_INPUT_BLUR_DELAY_MS = 150;

const state = {
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

// Subfolder lists of the folder tree by folder path, as last loaded.
const treeState = {
  treeCache: new Map(),
};

const byId = (id) => document.getElementById(id);

// The elements the script drives, looked up once: the script runs at the end of the body.
const elements = {
  backButton: byId('btn-back'),
  forwardButton: byId('btn-forward'),
  upButton: byId('btn-up'),
  refreshButton: byId('btn-refresh'),
  connectionPill: byId('connection-pill'),
  statusDot: byId('status-dot'),
  hostLabel: byId('host-label'),
  breadcrumbContainer: byId('breadcrumb-container'),
  breadcrumbs: byId('breadcrumbs'),
  copyPathButton: byId('btn-copy-path'),
  editPathButton: byId('btn-edit-path'),
  pathInput: byId('path-direct-input'),
  searchInput: byId('search-input'),
  clearSearchButton: byId('btn-clear-search'),
  newFileButton: byId('btn-new-file'),
  newFolderButton: byId('btn-new-folder'),
  uploadButton: byId('btn-upload'),
  fileUploadInput: byId('file-upload-input'),
  toggleHiddenButton: byId('btn-toggle-hidden'),
  listViewButton: byId('btn-view-list'),
  gridViewButton: byId('btn-view-grid'),
  toggleThemeButton: byId('btn-toggle-theme'),
  quickAccessGroup: byId('group-quick-access'),
  addQuickAccessButton: byId('btn-add-quick-access'),
  quickAccessContainer: byId('quick-access-container'),
  refreshTreeButton: byId('btn-refresh-tree'),
  directoryTreeContainer: byId('directory-tree-container'),
  sidebarHostsList: byId('sidebar-hosts-list'),
  dropZone: byId('drop-zone'),
  dropOverlay: byId('drop-overlay'),
  loadingBar: byId('loading-bar'),
  emptyState: byId('empty-state'),
  emptyTitle: byId('empty-title'),
  emptyDesc: byId('empty-desc'),
  openConnectButton: byId('btn-open-connect'),
  listViewWrapper: byId('list-view-wrapper'),
  fileTableBody: byId('file-table-body'),
  gridViewWrapper: byId('grid-view-wrapper'),
  fileGrid: byId('file-grid'),
  statusItemsCount: byId('status-items-count'),
  statusSeparator: byId('status-separator'),
  statusSelectionInfo: byId('status-selection-info'),
  statusRemoteInfo: byId('status-remote-info'),
  contextMenu: byId('context-menu'),
  bgContextMenu: byId('bg-context-menu'),
  globalContextMenu: byId('global-context-menu'),
  connectModal: byId('modal-connect'),
  connectForm: byId('form-connect'),
  closeConnectButton: byId('btn-close-connect'),
  cancelConnectButton: byId('btn-cancel-connect'),
  hostSelect: byId('input-host-select'),
  hostInput: byId('input-host'),
  userInput: byId('input-user'),
  portInput: byId('input-port'),
  keyInput: byId('input-key'),
  keysDatalist: byId('keys-datalist'),
  connectError: byId('connect-error'),
  connectSpinner: byId('connect-spinner'),
  newFileModal: byId('modal-new-file'),
  newFolderModal: byId('modal-new-folder'),
  renameModal: byId('modal-rename'),
  deleteModal: byId('modal-delete'),
  toast: byId('toast'),
};

window.state = state;

// ===========================================================================
// API requests
// ===========================================================================

// Makes one request to the local server and reads its JSON reply. Resolves to the reply
// when the HTTP status is a success status (and, with `requireSuccess`, when the reply's
// `success` is true). Otherwise rejects with an Error whose message is the reply's `error`,
// or `fallbackError` when the reply has none, and with the HTTP status as its `status`; a
// failed request or an unreadable reply rejects with the browser's own error (no `status`).
// With `onlyCheck` a success reply is not read (it may be a file's bytes) and resolves to
// null; `signal` can then abort the rest of it.
async function apiRequest(path, options = {}) {
  const {
    method = 'GET',
    json,
    body,
    requireSuccess = false,
    fallbackError = 'Request failed',
    onlyCheck = false,
    signal,
  } = options;
  const init = {method, signal};
  if (json !== undefined) {
    init.headers = {'Content-Type': 'application/json'};
    init.body = JSON.stringify(json);
  } else if (body !== undefined) {
    init.body = body;
  }
  const response = await fetch(path, init);
  if (onlyCheck && response.ok) {
    return null;
  }
  const reply = await response.json();
  const succeeded = response.ok && (!requireSuccess || (reply && reply.success === true));
  if (!succeeded) {
    const failure = new Error((reply && reply.error) || fallbackError);
    failure.status = response.status;
    throw failure;
  }
  return reply;
}

// ===========================================================================
// Toast and loading bar
// ===========================================================================

let toastTimer = null;

// Shows `message` in the single toast; a new toast replaces the text and restarts the time.
// The style sheet shows a few lines of it; a longer message is marked cut, carries its whole
// text as the title, and unfolds on a click (toggleToastUnfolded).
function showToast(message, duration = TOAST_DURATION_MS) {
  const toast = elements.toast;
  const text = document.createElement('span');
  text.className = 'toast-text';
  text.textContent = message;
  toast.replaceChildren(text);
  toast.classList.remove('hidden', 'unfolded');
  const cut = text.scrollHeight > text.clientHeight + 1;
  toast.classList.toggle('cut', cut);
  toast.title = cut ? message : '';
  hideToastLater(duration);
}

function hideToastLater(duration) {
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => elements.toast.classList.add('hidden'), duration);
}

// An unfolded toast stays until it is folded again (or replaced), so it can be read whole.
function toggleToastUnfolded() {
  const toast = elements.toast;
  if (!toast.classList.contains('cut')) {
    return;
  }
  if (toast.classList.toggle('unfolded')) {
    clearTimeout(toastTimer);
  } else {
    hideToastLater(TOAST_DURATION_MS);
  }
}

function showLoading(show) {
  elements.loadingBar.classList.toggle('hidden', !show);
}

window.showToast = showToast;
window.showLoading = showLoading;
window.downloadRemoteFile = downloadRemoteFile;
window.apiRequest = apiRequest;

// ===========================================================================
// Connection: status, connect form, configured hosts, key suggestions
// ===========================================================================

async function checkInitialStatus() {
  let status;
  try {
    status = await apiRequest('/api/status');
  } catch (error) {
    openConnectModal();
    return;
  }
  if (status && status.connected === true) {
    setConnectedState(status);
    await navigateTo(status.home_dir || '~');
  } else {
    openConnectModal();
  }
}

// Takes over a status or connect reply as the page's connection. Neither reply carries
// the SSH port, so the caller passes the one it connected with (22 when unknown). A reply
// without a key file takes `keyFile`, by default the connect form's key field.
function setConnectedState(reply, port, keyFile = elements.keyInput.value.trim()) {
  state.connected = true;
  state.host = reply.host || '';
  state.user = reply.user || '';
  state.port = port || DEFAULT_SSH_PORT;
  state.homeDir = reply.home_dir || '';
  state.currentPath = reply.home_dir || '';
  state.identityFile = reply.identity_file || keyFile;

  elements.statusDot.className = 'status-dot connected';
  elements.hostLabel.textContent = connectionLabel(state.host, state.user);
  elements.statusRemoteInfo.textContent =
      (reply.remote_os || 'Connected') + ' | ' + (reply.home_dir || '');
  closeModal(elements.connectModal);

  ensureCurrentHostInQuickAccess();
  initTree();
}

// The pill's text: user@host. The server's host already starts with "user@" when a login
// user was given or configured, so the user is put in front only when it is not there.
function connectionLabel(host, user) {
  if (!user || host.includes('@')) {
    return host;
  }
  return user + '@' + host;
}

function openConnectModal() {
  elements.connectError.classList.add('hidden');
  elements.connectModal.classList.remove('hidden');
  loadAvailableKeys();
  elements.hostInput.focus();
}

function closeModal(modal) {
  modal.classList.add('hidden');
}

async function loadAvailableKeys() {
  const datalist = elements.keysDatalist;
  if (!datalist) {
    return;
  }
  try {
    const keys = await apiRequest('/api/ssh-keys');
    datalist.replaceChildren();
    if (Array.isArray(keys)) {
      for (const keyPath of keys) {
        const option = document.createElement('option');
        option.value = String(keyPath);
        datalist.appendChild(option);
      }
    }
  } catch (error) {
    console.warn('Could not load available keys:', error);
  }
}

const SERVER_ICON =
    '<svg width="15" height="15" viewBox="0 0 24 24" fill="none" stroke="currentColor" ' +
    'stroke-width="2" stroke-linecap="round" stroke-linejoin="round">' +
    '<rect x="2" y="2" width="20" height="8" rx="2" ry="2"/>' +
    '<rect x="2" y="14" width="20" height="8" rx="2" ry="2"/>' +
    '<line x1="6" y1="6" x2="6.01" y2="6"/><line x1="6" y1="18" x2="6.01" y2="18"/></svg>';

async function loadSshConfigHosts() {
  const list = elements.sidebarHostsList;
  try {
    const hosts = await apiRequest('/api/config-hosts');
    if (!Array.isArray(hosts)) {
      throw new Error('Configured hosts are not a list');
    }
    list.replaceChildren();
    resetHostSelect();
    if (hosts.length === 0) {
      list.appendChild(placeholderHostItem('No hosts in ~/.ssh/config'));
      return;
    }
    for (const host of hosts) {
      const item = document.createElement('li');
      item.className = 'sidebar-item';
      item.innerHTML = SERVER_ICON + '<span>' + escapeHtml(host.name) + '</span>';
      item.addEventListener('click', () => {
        fillConnectForm(host);
        openConnectModal();
      });
      list.appendChild(item);

      const option = document.createElement('option');
      option.value = JSON.stringify(host);
      option.textContent = configuredHostText(host);
      elements.hostSelect.appendChild(option);
    }
  } catch (error) {
    list.replaceChildren(placeholderHostItem('Could not load hosts'));
  }
}

function placeholderHostItem(text) {
  const item = document.createElement('li');
  item.className = 'sidebar-item empty';
  item.textContent = text;
  return item;
}

function resetHostSelect() {
  const select = elements.hostSelect;
  select.replaceChildren();
  const option = document.createElement('option');
  option.value = '';
  option.textContent = '-- Choose a configured host (optional) --';
  select.appendChild(option);
}

// "alice@dev (10.0.0.5) [key: id_work]": the parts that the host record has.
function configuredHostText(host) {
  let text = '';
  if (host.user) {
    text += host.user + '@';
  }
  text += host.name;
  if (host.hostname && host.hostname !== host.name) {
    text += ' (' + host.hostname + ')';
  }
  if (host.identity_file) {
    const keyFile = String(host.identity_file);
    text += ' [key: ' + keyFile.slice(keyFile.lastIndexOf('/') + 1) + ']';
  }
  return text;
}

function fillConnectForm(host) {
  elements.hostInput.value = host.name || '';
  elements.userInput.value = host.user || '';
  elements.portInput.value = host.port || '';
  elements.keyInput.value = host.identity_file || '';
}

function handleHostSelectChange() {
  const value = elements.hostSelect.value;
  if (!value) {
    return;
  }
  try {
    fillConnectForm(JSON.parse(value));
  } catch (error) {
    console.warn('Could not read the configured host:', error);
  }
}

// The connect request built from the form; empty optional fields are left out entirely.
function connectPayloadFromForm() {
  const payload = {host: elements.hostInput.value.trim()};
  const user = elements.userInput.value.trim();
  if (user) {
    payload.user = user;
  }
  const portText = elements.portInput.value.trim();
  if (portText) {
    const port = parseInt(portText, 10);
    if (!Number.isNaN(port)) {
      payload.port = port;
    }
  }
  const identityFile = elements.keyInput.value.trim();
  if (identityFile) {
    payload.identity_file = identityFile;
  }
  return payload;
}

async function handleConnectSubmit(event) {
  event.preventDefault();
  elements.connectError.classList.add('hidden');
  elements.connectSpinner.classList.remove('hidden');
  const payload = connectPayloadFromForm();
  try {
    const reply = await apiRequest('/api/connect', {
      method: 'POST',
      json: payload,
      requireSuccess: true,
      fallbackError: 'Connection failed',
    });
    setConnectedState(reply, payload.port);
    showToast('Connected to ' + reply.host);
    await navigateTo(reply.home_dir || '~');
  } catch (error) {
    elements.connectError.textContent = error.message;
    elements.connectError.classList.remove('hidden');
  } finally {
    elements.connectSpinner.classList.add('hidden');
  }
}

// ===========================================================================
// Event wiring and start-up
// ===========================================================================

function setupConnectionEvents() {
  elements.connectionPill.addEventListener('click', openConnectModal);
  elements.openConnectButton.addEventListener('click', openConnectModal);
  elements.closeConnectButton.addEventListener('click', () => closeModal(elements.connectModal));
  elements.cancelConnectButton.addEventListener('click', () => closeModal(elements.connectModal));
  elements.hostSelect.addEventListener('change', handleHostSelectChange);
  elements.connectForm.addEventListener('submit', handleConnectSubmit);
}

function setupNavigationEvents() {
  elements.backButton.addEventListener('click', goBack);
  elements.forwardButton.addEventListener('click', goForward);
  elements.upButton.addEventListener('click', goUp);
  elements.refreshButton.addEventListener('click', refresh);

  elements.breadcrumbContainer.addEventListener('click', handleBreadcrumbBarClick);
  elements.editPathButton.addEventListener('click', (event) => {
    event.stopPropagation();
    activatePathInput();
  });
  elements.copyPathButton.addEventListener('click', copyCurrentPath);
  // The bar is the first to give up room in the toolbar; as it narrows, the deepest folder
  // stays in view.
  new ResizeObserver(() => {
    elements.breadcrumbs.scrollLeft = elements.breadcrumbs.scrollWidth;
  }).observe(elements.breadcrumbs);
  elements.pathInput.addEventListener('keydown', handlePathInputKeydown);
  elements.pathInput.addEventListener('blur', () => {
    clearTimeout(pathInputBlurTimer);
    pathInputBlurTimer = setTimeout(deactivatePathInput, PATH_INPUT_BLUR_DELAY_MS);
  });
}

function setupFileViewEvents() {
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

function setupEventListeners() {
  setupConnectionEvents();
  setupNavigationEvents();
  setupFileViewEvents();
  setupQuickAccessEvents();
  setupTreeEvents();
  setupContextMenus();
  setupUploadEvents();
  setupModalForms();
  setupThemeEvents();
  elements.toast.addEventListener('click', toggleToastUnfolded);
  window.addEventListener('keydown', handleKeyShortcuts);
}

// The web-font sheet is linked as a print sheet so that nothing waits for it; it applies
// to the screen from here on, whenever (and if ever) it arrives.
function enableWebFont() {
  const sheet = byId('web-font-sheet');
  if (sheet) {
    sheet.media = 'all';
  }
}

async function init() {
  enableWebFont();
  nameModifierKey();
  initTheme();
  publishIconImages();
  setupEventListeners();
  renderQuickAccess();
  await loadAvailableKeys();
  await loadSshConfigHosts();
  await checkInitialStatus();
}
