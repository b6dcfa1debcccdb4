// Wrenfield page script: runs the file browser of index.html.
//
// One self-contained function. It keeps its working variables private and publishes on
// `window` only what the viewer and feedback scripts need: showToast, showLoading and the
// state record. Sections, in order: state and elements; API requests; toast and loading bar;
// connection; navigation; breadcrumbs and path input; rendering; selection and opening;
// file kinds, icons and formatting; Quick Access; folder tree; context menus; keyboard;
// upload; file forms; theme; event wiring and start-up.
(function () {
  'use strict';

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
  function showToast(message, duration = TOAST_DURATION_MS) {
    elements.toast.textContent = message;
    elements.toast.classList.remove('hidden');
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => elements.toast.classList.add('hidden'), duration);
  }

  function showLoading(show) {
    elements.loadingBar.classList.toggle('hidden', !show);
  }

  window.showToast = showToast;
  window.showLoading = showLoading;
  window.downloadRemoteFile = downloadRemoteFile;

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

  // The entries to show: hidden ones only when asked for, the filter applied, folders first.
  function visibleItems() {
    const filter = state.filterText.toLowerCase();
    const kept = state.items.filter((item) => {
      if (item.is_hidden && !state.showHidden) {
        return false;
      }
      return filter === '' || String(item.name).toLowerCase().includes(filter);
    });
    const direction = state.sortAsc ? 1 : -1;
    // Array sort is stable, so entries that compare equal keep the listing's order.
    return kept.sort((a, b) => {
      if (a.is_dir !== b.is_dir) {
        return a.is_dir ? -1 : 1;
      }
      const left = sortValue(a);
      const right = sortValue(b);
      if (left < right) {
        return -direction;
      }
      if (left > right) {
        return direction;
      }
      return 0;
    });
  }

  function sortValue(item) {
    switch (state.sortCol) {
      case 'size':
        return item.size;
      case 'type':
        return getFileKind(item);
      case 'modified':
        return item.modified;
      default:
        return String(item.name).toLowerCase();
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

  function renderFiles() {
    if (!state.connected) {
      showEmptyState(
          'Not Connected', 'Connect to your remote VM over SSH to browse files.', true);
      elements.statusItemsCount.textContent = '0 items';
      elements.statusSelectionInfo.textContent = '';
      elements.statusSeparator.classList.add('hidden');
      return;
    }
    const items = visibleItems();
    if (items.length === 0) {
      const description = state.filterText !== '' ? 'No items matching filter.' :
                                                    'This folder contains no files.';
      showEmptyState('Empty Directory', description, false);
    } else {
      elements.emptyState.classList.add('hidden');
      const listMode = state.viewMode !== 'grid';
      elements.listViewWrapper.classList.toggle('hidden', !listMode);
      elements.gridViewWrapper.classList.toggle('hidden', listMode);
      if (listMode) {
        renderListView(items);
      } else {
        renderGridView(items);
      }
    }
    elements.statusItemsCount.textContent =
        items.length + (items.length === 1 ? ' item' : ' items');
    updateSelectionStatus();
  }

  function isSelected(item) {
    return state.selectedItem !== null && state.selectedItem.path === item.path;
  }

  function renderListView(items) {
    const body = elements.fileTableBody;
    body.replaceChildren();
    for (const item of items) {
      const row = document.createElement('tr');
      row.classList.toggle('selected', isSelected(item));
      row.innerHTML =
          '<td class="col-name"><div class="file-item-name-cell">' +
          '<span class="file-item-icon">' + getFileIcon(item) + '</span>' +
          '<span class="file-item-name">' + escapeHtml(item.name) + '</span></div></td>' +
          '<td class="col-size">' + (item.is_dir ? '--' : formatFileSize(item.size)) + '</td>' +
          '<td class="col-type">' + escapeHtml(getFileKind(item)) + '</td>' +
          '<td class="col-modified">' + escapeHtml(formatDate(item.modified)) + '</td>' +
          '<td class="col-perms">' + escapeHtml(item.permissions) + '</td>';
      attachItemHandlers(row, item);
      body.appendChild(row);
    }
  }

  function renderGridView(items) {
    const grid = elements.fileGrid;
    grid.replaceChildren();
    for (const item of items) {
      const card = document.createElement('div');
      card.className = 'grid-card';
      card.classList.toggle('selected', isSelected(item));
      card.innerHTML = '<div class="grid-card-icon">' + getFileIcon(item, 36) + '</div>' +
          '<div class="grid-card-label" title="' + escapeHtml(item.name) + '">' +
          escapeHtml(item.name) + '</div>';
      attachItemHandlers(card, item);
      grid.appendChild(card);
    }
  }

  // The handlers that rows and cards share: drag, select, open and the item menu.
  function attachItemHandlers(element, item) {
    element.itemPath = item.path;
    element.draggable = true;
    element.addEventListener('dragstart', (event) => {
      state.isDraggingInternal = true;
      const record = {path: item.path, name: item.name, is_dir: item.is_dir === true};
      event.dataTransfer.setData('application/json', JSON.stringify(record));
      event.dataTransfer.setData('text/plain', item.path);
      event.dataTransfer.effectAllowed = 'copy';
    });
    element.addEventListener('dragend', () => {
      state.isDraggingInternal = false;
    });
    element.addEventListener('click', (event) => {
      event.stopPropagation();
      selectItem(item);
    });
    element.addEventListener('dblclick', (event) => {
      event.stopPropagation();
      element.classList.add('opening');
      openItem(item);
    });
    element.addEventListener('animationend', () => element.classList.remove('opening'));
    element.addEventListener('contextmenu', (event) => {
      event.preventDefault();
      event.stopPropagation();
      selectItem(item);
      showContextMenu(event.clientX, event.clientY);
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
    const shown = [...elements.fileTableBody.children, ...elements.fileGrid.children];
    for (const element of shown) {
      element.classList.toggle('selected', element.itemPath === item.path);
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
        'py', 'rs', 'js', 'ts', 'jsx', 'tsx', 'html', 'css', 'scss', 'vue', 'svelte', 'go', 'c',
        'cpp', 'h', 'java', 'sh', 'bash', 'zsh',
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
        'png', 'jpg', 'jpeg', 'gif', 'svg', 'webp', 'ico', 'bmp', 'tiff', 'mp4', 'webm', 'mov',
        'mp3', 'wav',
      ],
    },
    {name: 'archive', extensions: ['zip', 'tar', 'gz', 'bz2', 'xz', '7z', 'rar']},
  ];

  const PAGE_OUTLINE = 'M14 2H6a2 2 0 0 0-2 2v16a2 2 0 0 0 2 2h12a2 2 0 0 0 2-2V8z';
  const PAGE_FOLD = 'M14 2v6h6';

  // The drawings inside each icon class's 24-unit view box.
  const ICON_DRAWINGS = {
    folder: '<path d="M3 7a2 2 0 0 1 2-2h4l2 2.5h8a2 2 0 0 1 2 2V18a2 2 0 0 1-2 2H5a2 2 0 0 1-2-2z" ' +
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
    if (date.toDateString() === today.toDateString()) {
      return date.toLocaleTimeString([], {hour: '2-digit', minute: '2-digit'});
    }
    return date.toLocaleDateString([], {month: 'short', day: 'numeric', year: 'numeric'});
  }

  const HTML_ESCAPES = {'&': '&amp;', '<': '&lt;', '>': '&gt;', "'": '&#39;', '"': '&quot;'};

  function escapeHtml(text) {
    if (text === undefined || text === null || text === '') {
      return '';
    }
    return String(text).replace(/[&<>'"]/g, (character) => HTML_ESCAPES[character]);
  }

  // ===========================================================================
  // Quick Access
  // ===========================================================================

  // Bookmarks live in local storage as a list of host groups, in display order:
  //   QuickAccessGroup    {hostKey, host, user, port, identity_file, label, collapsed, bookmarks}
  //   QuickAccessBookmark {name, path, is_dir}; an absent is_dir means a folder.
  // Every render and every change reads the list afresh, so two pages on the same server
  // address share their bookmarks.

  const QA_FOLDER_ICON = '<svg width="16" height="16" viewBox="0 0 24 24" fill="none">' +
      '<path d="M3 7a2 2 0 0 1 2-2h4l2 2.5h8a2 2 0 0 1 2 2V18a2 2 0 0 1-2 2H5a2 2 0 0 1-2-2z" ' +
      'fill="#3b82f6" fill-opacity="0.22" stroke="#60a5fa" stroke-width="1.5" ' +
      'stroke-linejoin="round"/></svg>';

  const QA_CHEVRON_ICON = '<svg width="10" height="10" viewBox="0 0 24 24" fill="none" ' +
      'stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round">' +
      '<polyline points="6 9 12 15 18 9"/></svg>';

  const QA_INACTIVE_DOT_STYLE = 'display: inline-block; width: 6px; height: 6px; ' +
      'border-radius: 50%; flex-shrink: 0; background: var(--text-muted);';

  // The stored groups; storage that cannot be read or parsed counts as no groups.
  function loadQuickAccess() {
    let groups;
    try {
      groups = JSON.parse(localStorage.getItem(QA_STORAGE_KEY) || '[]');
    } catch (error) {
      return [];
    }
    if (!Array.isArray(groups)) {
      return [];
    }
    // Entries that are not objects (storage edited by hand, or left by another version) are
    // skipped, so that drawing the list can never stop the page from starting.
    const isRecord = (entry) => entry !== null && typeof entry === 'object';
    return groups.filter(isRecord).map((group) => {
      group.bookmarks = Array.isArray(group.bookmarks) ? group.bookmarks.filter(isRecord) : [];
      return group;
    });
  }

  // A write that fails (storage full or disabled) is dropped: the page works without it.
  function saveQuickAccess(groups) {
    try {
      localStorage.setItem(QA_STORAGE_KEY, JSON.stringify(groups));
    } catch (error) {
      // Nothing to do: the bookmarks simply are not kept.
    }
  }

  function portOrDefault(port) {
    return Number(port) || DEFAULT_SSH_PORT;
  }

  // "user@host:port", with " [key file]" when the connection uses one. The host is the
  // connection's destination, which already starts with "user@" when a login user was given
  // or configured; the user is then not repeated (as in the connection pill).
  function getHostKey(host, user, port, identityFile) {
    const destination = String(host || '').includes('@') ? host : (user || 'default') + '@' + host;
    let key = destination + ':' + portOrDefault(port);
    if (identityFile) {
      key += ' [' + identityFile + ']';
    }
    return key;
  }

  function currentHostKey() {
    return getHostKey(state.host, state.user, state.port, state.identityFile);
  }

  function newCurrentHostGroup(bookmarks) {
    return {
      hostKey: currentHostKey(),
      host: state.host,
      user: state.user,
      port: state.port,
      identity_file: state.identityFile || '',
      label: state.host,
      collapsed: false,
      bookmarks: bookmarks,
    };
  }

  // The group of the current connection: by host key, else by host, user and port.
  function findCurrentHostGroup(groups) {
    const key = currentHostKey();
    return groups.find((group) => group.hostKey === key) ||
        groups.find((group) => group.host === state.host && (group.user || '') === state.user &&
                        portOrDefault(group.port) === portOrDefault(state.port));
  }

  function ensureCurrentHostInQuickAccess() {
    if (!state.connected || !state.host) {
      return;
    }
    const groups = loadQuickAccess();
    const group = findCurrentHostGroup(groups);
    if (!group) {
      groups.push(newCurrentHostGroup([
        {name: 'Home (~)', path: state.homeDir || '~'},
        {name: 'Root (/)', path: '/'},
      ]));
    } else {
      if (state.identityFile && !group.identity_file) {
        group.identity_file = state.identityFile;
      }
      group.hostKey = currentHostKey();
    }
    saveQuickAccess(groups);
    renderQuickAccess();
  }

  function isCurrentHostGroup(group) {
    return state.connected && (group.hostKey === currentHostKey() || group.host === state.host);
  }

  function renderQuickAccess() {
    const container = elements.quickAccessContainer;
    container.replaceChildren();
    const groups = loadQuickAccess();
    if (groups.length === 0) {
      const placeholder = document.createElement('div');
      placeholder.className = 'tree-placeholder';
      placeholder.style.cssText = 'padding: 10px 4px; text-align: left;';
      placeholder.textContent = 'No bookmarks yet. Connect and click "+" to add.';
      container.appendChild(placeholder);
      return;
    }
    for (const group of groups) {
      container.appendChild(renderHostGroup(group, isCurrentHostGroup(group)));
    }
    markActiveBookmarks();
  }

  function renderHostGroup(group, isCurrent) {
    const groupElement = document.createElement('div');
    groupElement.className = 'qa-host-group';
    groupElement.classList.toggle('collapsed', group.collapsed === true);

    const header = document.createElement('div');
    header.className = 'qa-host-header';
    const indicator = isCurrent ?
        '<span class="qa-host-active-indicator" title="Connected"></span>' :
        '<span style="' + QA_INACTIVE_DOT_STYLE + '"></span>';
    header.innerHTML = '<div class="qa-host-title">' + indicator + '<span title="' +
        escapeHtml(group.hostKey) + '">' + escapeHtml(group.label) + '</span></div>' +
        '<div class="qa-host-chevron">' + QA_CHEVRON_ICON + '</div>';
    header.addEventListener('click', () => toggleQuickAccessGroup(group.hostKey));
    groupElement.appendChild(header);

    const list = document.createElement('ul');
    list.className = 'qa-list';
    for (const bookmark of group.bookmarks) {
      list.appendChild(renderBookmark(group, bookmark, isCurrent));
    }
    groupElement.appendChild(list);
    return groupElement;
  }

  function renderBookmark(group, bookmark, isCurrent) {
    const isFile = bookmark.is_dir === false;
    const item = document.createElement('li');
    item.className = 'qa-item';
    item.dataset.path = bookmark.path;
    item.title = bookmark.path + ' on ' + group.host;
    item.bookmarkInCurrentGroup = isCurrent;
    const icon = isFile ? getFileIcon({name: bookmark.name, is_dir: false}, 16) : QA_FOLDER_ICON;
    item.innerHTML = '<div class="qa-item-main"><span class="qa-item-icon">' + icon + '</span>' +
        '<span class="qa-item-label">' + escapeHtml(bookmark.name) + '</span></div>' +
        '<button class="qa-delete-btn" title="Remove bookmark">×</button>';
    item.querySelector('.qa-item-main').addEventListener('click', () => {
      handleQuickAccessClick(group, bookmark);
    });
    item.querySelector('.qa-delete-btn').addEventListener('click', (event) => {
      event.stopPropagation();
      removeQuickAccessBookmark(group.hostKey, bookmark.path);
    });
    return item;
  }

  function toggleQuickAccessGroup(hostKey) {
    const groups = loadQuickAccess();
    const group = groups.find((candidate) => candidate.hostKey === hostKey);
    if (!group) {
      return;
    }
    group.collapsed = !group.collapsed;
    saveQuickAccess(groups);
    renderQuickAccess();
  }

  // A bookmark of the current host's group is active when it names the folder shown (or "~"
  // while the home folder is shown) or the selected item.
  function markActiveBookmarks() {
    const selectedPath = state.selectedItem ? state.selectedItem.path : null;
    elements.quickAccessContainer.querySelectorAll('.qa-item').forEach((item) => {
      const path = item.dataset.path;
      const matches = path === state.currentPath ||
          (path === '~' && state.currentPath === state.homeDir) || path === selectedPath;
      item.classList.toggle('active', item.bookmarkInCurrentGroup === true && matches);
    });
  }

  // The connect request that reaches a group's host again. The group's host is the earlier
  // connection's destination, which holds "user@" when a login user was known: that user is
  // posted on its own and the host without it, so the destination comes out the same (never
  // "user@user@host"); with no user in it none is posted. Port 22 is also what the page records
  // when the port was not typed, so it is left to ssh and the SSH configuration, which may name
  // another port for an alias.
  function hostSwitchPayload(group) {
    const destination = String(group.host || '');
    const at = destination.lastIndexOf('@');
    const payload = {host: at >= 0 ? destination.slice(at + 1) : destination};
    if (at > 0) {
      payload.user = destination.slice(0, at);
    }
    const port = Number(group.port);
    if (port && port !== DEFAULT_SSH_PORT) {
      payload.port = port;
    }
    if (group.identity_file) {
      payload.identity_file = group.identity_file;
    }
    return payload;
  }

  // Connects to the group's host; resolves to whether that worked.
  async function switchToGroupHost(group) {
    showToast('Connecting to ' + group.host + '...');
    showLoading(true);
    try {
      const payload = hostSwitchPayload(group);
      const reply = await apiRequest('/api/connect', {
        method: 'POST',
        json: payload,
        requireSuccess: true,
        fallbackError: 'Connection failed',
      });
      // The key file is the reply's, else the one the group used; never the connect form's
      // field, which belongs to whatever connection was made through the form.
      setConnectedState(reply, payload.port, payload.identity_file || '');
      renderQuickAccess();
      showToast('Connected to ' + group.host);
      return true;
    } catch (error) {
      showToast('Connection failed: ' + error.message);
      return false;
    } finally {
      showLoading(false);
    }
  }

  async function handleQuickAccessClick(group, bookmark) {
    const isCurrentConnection = state.connected && group.host === state.host &&
        (!group.user || group.user === state.user);
    if (!isCurrentConnection && !(await switchToGroupHost(group))) {
      return;
    }
    if (bookmark.is_dir !== false) {
      await navigateTo(bookmark.path);
      return;
    }
    await openFileBookmark(bookmark);
  }

  // The folder that holds a file bookmark's path.
  function bookmarkParent(path) {
    const slash = path.lastIndexOf('/');
    if (slash > 0) {
      return path.slice(0, slash);
    }
    if (slash === 0) {
      return '/';
    }
    return state.homeDir || '/';
  }

  // Shows the file's folder, then selects the file and opens it in the viewer. A hidden file
  // turns hidden entries on so that its row can show as selected.
  async function openFileBookmark(bookmark) {
    const parent = bookmarkParent(bookmark.path);
    if (parent !== state.currentPath) {
      await navigateTo(parent);
    }
    const found = state.items.find((entry) => entry.path === bookmark.path);
    if (found && found.is_hidden && !state.showHidden) {
      state.showHidden = true;
      elements.toggleHiddenButton.classList.add('active');
      renderFiles();
    }
    const item = found || {
      name: bookmark.name,
      path: bookmark.path,
      is_dir: false,
      size: 0,
      modified: '',
      permissions: '',
    };
    selectItem(item);
    openItem(item);
  }

  // The last non-empty "/" piece of the path, or the path itself ("/" stays "/").
  function pathDisplayName(path) {
    const pieces = String(path).split('/').filter((piece) => piece !== '');
    return pieces.length > 0 ? pieces[pieces.length - 1] : String(path);
  }

  function addPathToQuickAccess(targetPath, customName, isFolder = true) {
    if (!state.connected) {
      showToast('Please connect to a host first');
      return;
    }
    const groups = loadQuickAccess();
    const key = currentHostKey();
    let group = groups.find((candidate) => candidate.hostKey === key);
    if (!group) {
      group = newCurrentHostGroup([]);
      groups.push(group);
    }
    if (group.bookmarks.some((bookmark) => bookmark.path === targetPath)) {
      showToast('"' + targetPath + '" is already in Quick Access');
      return;
    }
    const name = customName || pathDisplayName(targetPath);
    group.bookmarks.push({name: name, path: targetPath, is_dir: isFolder === true});
    saveQuickAccess(groups);
    renderQuickAccess();
    showToast('Added "' + name + '" to Quick Access');
  }

  // The add button and the item menu: the selected item, or else the folder shown.
  function addSelectionToQuickAccess() {
    const item = state.selectedItem;
    if (item) {
      addPathToQuickAccess(item.path, item.name, item.is_dir === true);
    } else {
      addPathToQuickAccess(state.currentPath, null, true);
    }
  }

  function removeQuickAccessBookmark(hostKey, path) {
    const groups = loadQuickAccess();
    const index = groups.findIndex((group) => group.hostKey === hostKey);
    if (index < 0) {
      return;
    }
    const group = groups[index];
    group.bookmarks = group.bookmarks.filter((bookmark) => bookmark.path !== path);
    if (group.bookmarks.length === 0) {
      groups.splice(index, 1);
    }
    saveQuickAccess(groups);
    renderQuickAccess();
    showToast('Removed from Quick Access');
  }

  function acceptsQuickAccessDrag(event) {
    const types = Array.from((event.dataTransfer && event.dataTransfer.types) || []);
    return state.isDraggingInternal || types.includes('application/json') ||
        types.includes('text/plain');
  }

  function handleQuickAccessDragOver(event) {
    if (!acceptsQuickAccessDrag(event)) {
      return;
    }
    event.preventDefault();
    event.stopPropagation();
    event.dataTransfer.dropEffect = 'copy';
    elements.quickAccessGroup.classList.add('drag-over');
  }

  // A drop brings the drag record of a row, card or tree row, or a plain absolute path.
  function handleQuickAccessDrop(event) {
    event.preventDefault();
    event.stopPropagation();
    elements.quickAccessGroup.classList.remove('drag-over');
    state.isDraggingInternal = false;
    const json = event.dataTransfer.getData('application/json');
    if (json) {
      try {
        const record = JSON.parse(json);
        if (record && record.path) {
          addPathToQuickAccess(record.path, record.name, record.is_dir === true);
        }
      } catch (error) {
        console.error('Failed to parse dropped item:', error);
      }
      return;
    }
    const text = event.dataTransfer.getData('text/plain');
    if (text && text.startsWith('/')) {
      addPathToQuickAccess(text, null, true);
    }
  }

  function setupQuickAccessEvents() {
    const group = elements.quickAccessGroup;
    elements.addQuickAccessButton.addEventListener('click', addSelectionToQuickAccess);
    group.addEventListener('dragenter', handleQuickAccessDragOver);
    group.addEventListener('dragover', handleQuickAccessDragOver);
    group.addEventListener('dragleave', (event) => {
      if (!group.contains(event.relatedTarget)) {
        group.classList.remove('drag-over');
      }
    });
    group.addEventListener('drop', handleQuickAccessDrop);
  }

  // ===========================================================================
  // Folder tree
  // ===========================================================================

  // Each node is div.tree-node[data-path][data-level] holding div.tree-row and
  // div.tree-children; a folder's subfolders are listed when its node is first expanded and
  // kept in treeState.treeCache until that entry is dropped.

  const TREE_CHEVRON_ICON = '<svg width="9" height="9" viewBox="0 0 24 24" fill="none" ' +
      'stroke="currentColor" stroke-width="2.5" stroke-linecap="round" stroke-linejoin="round">' +
      '<polyline points="9 18 15 12 9 6"/></svg>';

  const TREE_FOLDER_ICON = '<svg width="14" height="14" viewBox="0 0 24 24" ' +
      'fill="currentColor" fill-opacity="0.2" stroke="currentColor" stroke-width="1.6" ' +
      'stroke-linecap="round" stroke-linejoin="round">' +
      '<path d="M22 19a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2V5a2 2 0 0 1 2-2h5l2 3h9a2 2 0 0 1 2 2z"/>' +
      '</svg>';

  function treeLine(className, text) {
    const line = document.createElement('div');
    line.className = className;
    line.textContent = text;
    return line;
  }

  async function initTree() {
    const container = elements.directoryTreeContainer;
    if (!state.connected) {
      container.replaceChildren(treeLine('tree-placeholder', 'Connect to browse folder tree'));
      return;
    }
    const homePiece = state.homeDir.split('/').pop() || '~';
    const roots = [
      createTreeNode('Home (' + homePiece + ')', state.homeDir, 0),
      createTreeNode('Root (/)', '/', 0),
    ];
    container.replaceChildren(...roots);
    const home = roots.find((node) => node.dataset.path === state.homeDir);
    if (home) {
      await expandTreeNode(home, state.homeDir, 0);
    }
    updateTreeActive(state.currentPath);
  }

  function createTreeNode(name, path, level) {
    const node = document.createElement('div');
    node.className = 'tree-node';
    node.dataset.path = path;
    node.dataset.level = String(level);

    const row = document.createElement('div');
    row.className = 'tree-row';
    row.style.paddingLeft = level * 14 + 6 + 'px';
    row.draggable = true;
    row.innerHTML = '<span class="tree-toggle">' + TREE_CHEVRON_ICON + '</span>' +
        '<span class="tree-icon">' + TREE_FOLDER_ICON + '</span>' +
        '<span class="tree-label" title="' + escapeHtml(path) + '">' + escapeHtml(name) +
        '</span>';
    const children = document.createElement('div');
    children.className = 'tree-children hidden';
    children.style.setProperty('--tree-level', String(level));
    node.append(row, children);

    const toggle = row.querySelector('.tree-toggle');
    toggle.addEventListener('click', (event) => {
      event.stopPropagation();
      if (toggle.classList.contains('expanded')) {
        collapseTreeNode(node, path);
      } else {
        expandTreeNode(node, path, level);
      }
    });
    row.addEventListener('click', () => navigateTo(path));
    row.addEventListener('contextmenu', (event) => {
      event.preventDefault();
      event.stopPropagation();
      addPathToQuickAccess(path, name, true);
    });
    row.addEventListener('dragstart', (event) => {
      state.isDraggingInternal = true;
      event.dataTransfer.setData('application/json', JSON.stringify({path, name, is_dir: true}));
      event.dataTransfer.setData('text/plain', path);
      event.dataTransfer.effectAllowed = 'copy';
    });
    row.addEventListener('dragend', () => {
      state.isDraggingInternal = false;
    });
    return node;
  }

  function treeNodeParts(node) {
    return {
      toggle: node.firstElementChild.querySelector('.tree-toggle'),
      children: node.lastElementChild,
    };
  }

  // The subfolders of `path`, from the cache or listed and cached. A reply with a failure
  // status (or one that is not a list) counts as no subfolders and is not cached; a failed
  // request or an unreadable reply rejects.
  async function loadTreeSubfolders(path) {
    const cached = treeState.treeCache.get(path);
    if (cached) {
      return cached;
    }
    let entries;
    try {
      entries = await apiRequest('/api/list?path=' + encodeURIComponent(path));
    } catch (error) {
      if (error.status !== undefined) {
        return [];
      }
      throw error;
    }
    if (!Array.isArray(entries)) {
      return [];
    }
    const folders =
        entries.filter((entry) => entry.is_dir === true && (state.showHidden || !entry.is_hidden));
    treeState.treeCache.set(path, folders);
    return folders;
  }

  async function expandTreeNode(node, path, level) {
    const {toggle, children} = treeNodeParts(node);
    toggle.classList.add('expanded');
    children.classList.remove('hidden');
    // Children loaded once stay; a "Loading..." or "Error" line means try again.
    if (children.children.length > 0 && !children.querySelector(':scope > .tree-loading')) {
      return;
    }
    children.replaceChildren(treeLine('tree-loading', 'Loading...'));
    let folders;
    try {
      folders = await loadTreeSubfolders(path);
    } catch (error) {
      const line = treeLine('tree-loading', 'Error');
      line.style.color = 'var(--danger-color)';
      children.replaceChildren(line);
      return;
    }
    children.replaceChildren();
    toggle.classList.toggle('empty', folders.length === 0);
    for (const folder of folders) {
      children.appendChild(createTreeNode(folder.name, folder.path, level + 1));
    }
  }

  function collapseTreeNode(node, path) {
    const {toggle, children} = treeNodeParts(node);
    toggle.classList.remove('expanded');
    children.classList.add('hidden');
  }

  function updateTreeActive(path) {
    const container = elements.directoryTreeContainer;
    container.querySelectorAll('.tree-row.active').forEach((row) => row.classList.remove('active'));
    const node = document.querySelector('.tree-node[data-path="' + CSS.escape(path) + '"]');
    if (node) {
      node.firstElementChild.classList.add('active');
    }
  }

  function setupTreeEvents() {
    elements.refreshTreeButton.addEventListener('click', () => {
      treeState.treeCache.clear();
      initTree();
      showToast('Directory tree refreshed');
    });
  }

  // ===========================================================================
  // Context menus
  // ===========================================================================

  // Menus open at the pointer, kept inside the window by a fixed width and a height allowance
  // per menu.
  const MENU_WIDTH_ALLOWANCE = 190;
  const ITEM_MENU_HEIGHT_ALLOWANCE = 270;
  const BACKGROUND_MENU_HEIGHT_ALLOWANCE = 200;
  const GLOBAL_MENU_HEIGHT_ALLOWANCE = 80;

  const menuElements = {
    downloadEntry: byId('ctx-download'),
    screenshotOverlay: byId('screenshot-select-overlay'),
  };

  function hideContextMenus() {
    for (const menu of [elements.contextMenu, elements.bgContextMenu, elements.globalContextMenu]) {
      menu.classList.add('hidden');
    }
  }

  window.hideContextMenus = hideContextMenus;

  function placeContextMenu(menu, x, y, heightAllowance) {
    hideContextMenus();
    menu.style.left = Math.min(x, window.innerWidth - MENU_WIDTH_ALLOWANCE) + 'px';
    menu.style.top = Math.min(y, window.innerHeight - heightAllowance) + 'px';
    menu.classList.remove('hidden');
  }

  // Folders cannot be downloaded, so their menu has no Download entry.
  function showContextMenu(x, y) {
    const item = state.selectedItem;
    menuElements.downloadEntry.classList.toggle('hidden', !item || item.is_dir === true);
    placeContextMenu(elements.contextMenu, x, y, ITEM_MENU_HEIGHT_ALLOWANCE);
  }

  function showBgContextMenu(x, y) {
    placeContextMenu(elements.bgContextMenu, x, y, BACKGROUND_MENU_HEIGHT_ALLOWANCE);
  }

  function showGlobalContextMenu(x, y) {
    placeContextMenu(elements.globalContextMenu, x, y, GLOBAL_MENU_HEIGHT_ALLOWANCE);
  }

  // Hands a remote file to the browser as a download. The reply is looked at first, so that an
  // error (a missing or unreadable file) shows in a toast instead of replacing the page; once
  // it is the file itself, that request is dropped and the browser fetches the file anew as a
  // download of its own, which goes to disk without passing through the page's memory.
  async function downloadRemoteFile(path, name) {
    const address = '/api/download?path=' + encodeURIComponent(path);
    const check = new AbortController();
    try {
      await apiRequest(address, {onlyCheck: true, signal: check.signal, fallbackError: 'Download failed'});
    } catch (error) {
      showToast('Download failed: ' + error.message);
      return;
    } finally {
      check.abort();
    }
    const anchor = document.createElement('a');
    anchor.href = address;
    anchor.download = name;
    anchor.style.display = 'none';
    document.body.appendChild(anchor);
    anchor.click();
    anchor.remove();
  }

  async function copySelectedPath() {
    const item = state.selectedItem;
    if (!item) {
      return;
    }
    try {
      await navigator.clipboard.writeText(item.path);
    } catch (error) {
      return;
    }
    showToast('Path copied to clipboard');
  }

  function startFeedbackCapture() {
    hideContextMenus();
    if (window.FeedbackStudio && typeof window.FeedbackStudio.startCapture === 'function') {
      window.FeedbackStudio.startCapture();
    }
  }

  // The check itself runs in the native shell; its reply and failures are of no interest here.
  function requestUpdateCheck() {
    hideContextMenus();
    apiRequest('/api/check-for-updates', {method: 'POST'}).catch(() => {});
  }

  // Runs `action` with the selected item when there is one.
  function withSelection(action) {
    return () => {
      if (state.selectedItem) {
        action(state.selectedItem);
      }
    };
  }

  function openViewerFor(item) {
    if (typeof window.openMarkdownViewer === 'function') {
      window.openMarkdownViewer(item);
    }
  }

  function setupContextMenus() {
    const entries = {
      'ctx-open': withSelection(openItem),
      'ctx-edit': withSelection(openViewerFor),
      'ctx-download': withSelection((item) => {
        if (!item.is_dir) {
          downloadRemoteFile(item.path, item.name);
        }
      }),
      'ctx-rename': openRenameModal,
      'ctx-add-quick-access': addSelectionToQuickAccess,
      'ctx-copy-path': copySelectedPath,
      'ctx-delete': openDeleteModal,
      'ctx-feedback': startFeedbackCapture,
      'bg-ctx-new-file': openNewFileModal,
      'bg-ctx-new-folder': openNewFolderModal,
      'bg-ctx-upload': openUploadPicker,
      'bg-ctx-refresh': refresh,
      'bg-ctx-update': requestUpdateCheck,
      'bg-ctx-feedback': startFeedbackCapture,
      'global-ctx-update': requestUpdateCheck,
      'global-ctx-feedback': startFeedbackCapture,
    };
    for (const [id, action] of Object.entries(entries)) {
      byId(id).addEventListener('click', () => action());
    }

    // The file view's own background; rows (the header row too) and cards are left to the
    // handlers of the rows and cards and to the window.
    elements.dropZone.addEventListener('contextmenu', (event) => {
      if (event.target.closest('tr, .grid-card')) {
        return;
      }
      event.preventDefault();
      event.stopPropagation();
      showBgContextMenu(event.clientX, event.clientY);
    });

    // Everywhere else the page's global menu replaces the browser's, except in text fields
    // and while a screenshot area is being chosen.
    window.addEventListener('contextmenu', (event) => {
      if (!menuElements.screenshotOverlay.classList.contains('hidden')) {
        return;
      }
      const tag = event.target && event.target.tagName;
      if (tag === 'INPUT' || tag === 'TEXTAREA') {
        return;
      }
      event.preventDefault();
      showGlobalContextMenu(event.clientX, event.clientY);
    });

    window.addEventListener('click', hideContextMenus);
  }

  // ===========================================================================
  // Keyboard
  // ===========================================================================

  function focusSearch() {
    elements.searchInput.focus();
    elements.searchInput.select();
  }

  function isTextEntry(element) {
    return element !== null && ['INPUT', 'TEXTAREA', 'SELECT'].includes(element.tagName);
  }

  // The first matching binding acts. Bindings with Cmd or Ctrl replace the browser's own action;
  // the others leave it. Nothing runs while a modal is open, nor for a key that a field has
  // already handled (Enter and Escape in the search and path inputs).
  function handleKeyShortcuts(event) {
    if (event.defaultPrevented || document.querySelector('.modal-backdrop:not(.hidden)')) {
      return;
    }
    const command = event.metaKey || event.ctrlKey;
    const key = String(event.key || '').toLowerCase();
    const suppress = (action) => {
      event.preventDefault();
      action();
    };
    if (command && event.shiftKey && key === 'f') {
      suppress(() => {
        if (window.FeedbackStudio && typeof window.FeedbackStudio.startCapture === 'function') {
          window.FeedbackStudio.startCapture();
        }
      });
    } else if (command && key === 'l') {
      suppress(activatePathInput);
    } else if (command && key === 'f') {
      suppress(focusSearch);
    } else if (key === '/' && !isTextEntry(document.activeElement)) {
      suppress(focusSearch);
    } else if (command && event.shiftKey && key === 'c') {
      suppress(() => elements.copyPathButton.click());
    } else if (command && key === 'r') {
      suppress(refresh);
    } else if (command && event.shiftKey &&
               (event.code === 'Period' || key === '.' || key === '>')) {
      suppress(() => elements.toggleHiddenButton.click());
    } else if (event.altKey && event.key === 'ArrowLeft') {
      elements.backButton.click();
    } else if (event.altKey && event.key === 'ArrowRight') {
      elements.forwardButton.click();
    } else if (command && event.key === 'ArrowUp') {
      elements.upButton.click();
    } else if (event.key === 'F2') {
      openRenameModal();
    } else if (event.key === 'Delete' || (event.metaKey && event.key === 'Backspace')) {
      openDeleteModal();
    } else if (event.key === 'Enter' && state.selectedItem) {
      openItem(state.selectedItem);
    }
  }

  // ===========================================================================
  // Upload
  // ===========================================================================

  // Sends the files one after the other into the folder shown. Each failure has its own toast;
  // when any file arrived, the count is shown and the folder listed again once.
  async function uploadFiles(files) {
    const chosen = Array.from(files || []);
    if (!state.connected || chosen.length === 0) {
      return;
    }
    showLoading(true);
    const folder = state.currentPath.replace(/\/+$/, '');
    let uploaded = 0;
    for (const file of chosen) {
      const target = folder + '/' + file.name;
      try {
        await apiRequest('/api/upload?path=' + encodeURIComponent(target), {
          method: 'POST',
          body: file,
          requireSuccess: true,
          fallbackError: 'Unknown error',
        });
        uploaded += 1;
      } catch (error) {
        const prefix = error.status !== undefined ? 'Upload failed for ' : 'Upload error for ';
        showToast(prefix + file.name + ': ' + error.message);
      }
    }
    showLoading(false);
    if (uploaded > 0) {
      showToast('Uploaded ' + uploaded + (uploaded === 1 ? ' file' : ' files') + ' successfully');
      treeState.treeCache.delete(state.currentPath);
      await navigateTo(state.currentPath, false);
    }
  }

  function openUploadPicker() {
    elements.fileUploadInput.click();
  }

  function isExternalFileDrag(event) {
    const types = Array.from((event.dataTransfer && event.dataTransfer.types) || []);
    return !state.isDraggingInternal && types.includes('Files');
  }

  function setupUploadEvents() {
    const picker = elements.fileUploadInput;
    const overlay = elements.dropOverlay;
    elements.uploadButton.addEventListener('click', openUploadPicker);
    picker.addEventListener('change', () => {
      const files = Array.from(picker.files || []);
      // Cleared so that choosing the same file again still counts as a change.
      picker.value = '';
      uploadFiles(files);
    });

    window.addEventListener('dragenter', (event) => {
      if (!isExternalFileDrag(event)) {
        return;
      }
      event.preventDefault();
      if (state.connected) {
        overlay.classList.remove('hidden');
      }
    });
    // Files dragged from outside may only land on the overlay: anywhere else the browser would
    // open the dropped file in place of the page.
    window.addEventListener('dragover', (event) => {
      if (isExternalFileDrag(event) && !overlay.contains(event.target)) {
        event.preventDefault();
        event.dataTransfer.dropEffect = 'none';
      }
    });
    window.addEventListener('drop', (event) => {
      if (isExternalFileDrag(event)) {
        event.preventDefault();
      }
    });

    overlay.addEventListener('dragover', (event) => {
      event.preventDefault();
      event.dataTransfer.dropEffect = 'copy';
    });
    overlay.addEventListener('dragleave', (event) => {
      if (!event.relatedTarget || event.relatedTarget === elements.dropZone) {
        overlay.classList.add('hidden');
      }
    });
    overlay.addEventListener('drop', (event) => {
      event.preventDefault();
      event.stopPropagation();
      overlay.classList.add('hidden');
      uploadFiles(Array.from(event.dataTransfer.files || []));
    });
  }

  // ===========================================================================
  // File forms: new file, new folder, rename, delete
  // ===========================================================================

  const formElements = {
    newFileForm: byId('form-new-file'),
    newFileInput: byId('input-new-filename'),
    newFileError: byId('new-file-error'),
    newFolderForm: byId('form-new-folder'),
    newFolderInput: byId('input-new-foldername'),
    newFolderError: byId('new-folder-error'),
    renameForm: byId('form-rename'),
    renameInput: byId('input-rename'),
    renameError: byId('rename-error'),
    deleteMessage: byId('delete-message'),
    deleteError: byId('delete-error'),
    confirmDeleteButton: byId('btn-confirm-delete'),
  };

  // `folder` + "/" + `name`, without doubling a trailing "/" of the folder.
  function childPath(folder, name) {
    return folder.replace(/\/+$/, '') + '/' + name;
  }

  function openNameModal(modal, input, errorBox) {
    if (!state.connected) {
      return;
    }
    input.value = '';
    errorBox.classList.add('hidden');
    modal.classList.remove('hidden');
    input.focus();
  }

  function openNewFileModal() {
    openNameModal(elements.newFileModal, formElements.newFileInput, formElements.newFileError);
  }

  function openNewFolderModal() {
    openNameModal(
        elements.newFolderModal, formElements.newFolderInput, formElements.newFolderError);
  }

  function openRenameModal() {
    const item = state.selectedItem;
    if (!item) {
      return;
    }
    formElements.renameInput.value = item.name;
    formElements.renameError.classList.add('hidden');
    elements.renameModal.classList.remove('hidden');
    formElements.renameInput.focus();
    formElements.renameInput.select();
  }

  function openDeleteModal() {
    const item = state.selectedItem;
    if (!item) {
      return;
    }
    formElements.deleteMessage.textContent =
        'Are you sure you want to permanently delete "' + item.name + '"?';
    formElements.deleteError.classList.add('hidden');
    elements.deleteModal.classList.remove('hidden');
  }

  // Runs a modal's request. On success the modal closes and `onSuccess` runs; on failure the
  // message goes to the modal's error box and the modal stays open.
  async function runModalAction(modal, errorBox, path, payload, fallbackError, onSuccess) {
    errorBox.classList.add('hidden');
    try {
      await apiRequest(path, {
        method: 'POST',
        json: payload,
        requireSuccess: true,
        fallbackError: fallbackError,
      });
    } catch (error) {
      errorBox.textContent = error.message;
      errorBox.classList.remove('hidden');
      return;
    }
    closeModal(modal);
    onSuccess();
  }

  function handleNewFileSubmit(event) {
    event.preventDefault();
    const name = formElements.newFileInput.value.trim();
    const payload = {path: childPath(state.currentPath, name), content: ''};
    runModalAction(elements.newFileModal, formElements.newFileError, '/api/write', payload,
        'Create file failed', () => {
          showToast('Created ' + name);
          refresh();
        });
  }

  function handleNewFolderSubmit(event) {
    event.preventDefault();
    const name = formElements.newFolderInput.value.trim();
    const payload = {path: childPath(state.currentPath, name)};
    runModalAction(elements.newFolderModal, formElements.newFolderError, '/api/mkdir', payload,
        'Create folder failed', () => {
          showToast('Created folder ' + name);
          treeState.treeCache.delete(state.currentPath);
          refresh();
        });
  }

  function handleRenameSubmit(event) {
    event.preventDefault();
    const item = state.selectedItem;
    if (!item) {
      return;
    }
    const parent = parentPath(item.path);
    const payload = {from: item.path, to: childPath(parent, formElements.renameInput.value.trim())};
    runModalAction(elements.renameModal, formElements.renameError, '/api/rename', payload,
        'Rename failed', () => {
          showToast('Renamed successfully');
          treeState.treeCache.delete(parent);
          refresh();
        });
  }

  function handleDeleteConfirm() {
    const item = state.selectedItem;
    if (!item) {
      return;
    }
    const payload = {path: item.path, is_dir: item.is_dir === true};
    runModalAction(elements.deleteModal, formElements.deleteError, '/api/delete', payload,
        'Delete failed', () => {
          showToast('Deleted successfully');
          treeState.treeCache.delete(state.currentPath);
          state.selectedItem = null;
          refresh();
        });
  }

  function setupModalForms() {
    const closers = {
      'btn-close-new-file': elements.newFileModal,
      'btn-cancel-new-file': elements.newFileModal,
      'btn-close-new-folder': elements.newFolderModal,
      'btn-cancel-new-folder': elements.newFolderModal,
      'btn-close-rename': elements.renameModal,
      'btn-cancel-rename': elements.renameModal,
      'btn-close-delete': elements.deleteModal,
      'btn-cancel-delete': elements.deleteModal,
    };
    for (const [id, modal] of Object.entries(closers)) {
      byId(id).addEventListener('click', () => closeModal(modal));
    }
    elements.newFileButton.addEventListener('click', openNewFileModal);
    elements.newFolderButton.addEventListener('click', openNewFolderModal);
    formElements.newFileForm.addEventListener('submit', handleNewFileSubmit);
    formElements.newFolderForm.addEventListener('submit', handleNewFolderSubmit);
    formElements.renameForm.addEventListener('submit', handleRenameSubmit);
    formElements.confirmDeleteButton.addEventListener('click', handleDeleteConfirm);
  }

  // ===========================================================================
  // Theme
  // ===========================================================================

  // The stored choice is "auto", "light" or "dark"; "auto" follows the system's colour scheme.
  const THEME_NAMES = ['auto', 'light', 'dark'];
  const THEME_TOASTS = {
    light: 'Theme: Light',
    dark: 'Theme: Dark',
    auto: 'Theme: Auto (macOS System)',
  };

  const darkSchemeQuery =
      typeof window.matchMedia === 'function' ? window.matchMedia('(prefers-color-scheme: dark)') :
                                                null;

  function systemPrefersDark() {
    return darkSchemeQuery !== null && darkSchemeQuery.matches;
  }

  // Storage that cannot be read counts as holding no theme.
  function readStoredTheme() {
    try {
      return localStorage.getItem(THEME_STORAGE_KEY) || 'auto';
    } catch (error) {
      return 'auto';
    }
  }

  function initTheme() {
    applyTheme(readStoredTheme());
    if (darkSchemeQuery !== null) {
      darkSchemeQuery.addEventListener('change', (event) => {
        if (readStoredTheme() === 'auto') {
          updateSyntaxTheme(event.matches);
        }
      });
    }
  }

  // An unknown stored name is applied as it is: its class matches no palette, so the base
  // (light) colours show.
  function applyTheme(theme) {
    const root = document.documentElement;
    root.classList.remove(...THEME_NAMES.map((name) => 'theme-' + name));
    try {
      root.classList.add('theme-' + theme);
    } catch (error) {
      // A stored name with a space cannot be a class; the base colours show.
    }
    try {
      localStorage.setItem(THEME_STORAGE_KEY, theme);
    } catch (error) {
      // The choice is simply not kept.
    }
    state.theme = theme;
    updateSyntaxTheme(theme === 'dark' || (theme === 'auto' && systemPrefersDark()));
  }

  // Exactly one of the two code-highlighting sheets is enabled.
  function updateSyntaxTheme(isDark) {
    const lightSheet = byId('hl-light-theme');
    const darkSheet = byId('hl-dark-theme');
    const [enabled, disabled] = isDark ? [darkSheet, lightSheet] : [lightSheet, darkSheet];
    if (disabled) {
      disabled.setAttribute('disabled', 'true');
    }
    if (enabled) {
      enabled.removeAttribute('disabled');
    }
  }

  // Light goes to dark, dark to auto, and auto to the opposite of the system's scheme.
  function toggleTheme() {
    const classes = document.documentElement.classList;
    let next;
    if (classes.contains('theme-light')) {
      next = 'dark';
    } else if (classes.contains('theme-dark')) {
      next = 'auto';
    } else {
      next = systemPrefersDark() ? 'light' : 'dark';
    }
    applyTheme(next);
    showToast(THEME_TOASTS[next]);
  }

  function setupThemeEvents() {
    elements.toggleThemeButton.addEventListener('click', toggleTheme);
  }

  // ===========================================================================
  // Event wiring and start-up
  // ===========================================================================

  function setupConnectionEvents() {
    elements.connectionPill.addEventListener('click', openConnectModal);
    elements.openConnectButton.addEventListener('click', openConnectModal);
    elements.closeConnectButton.addEventListener('click', () => closeModal(elements.connectModal));
    elements.cancelConnectButton.addEventListener(
        'click', () => closeModal(elements.connectModal));
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
    elements.pathInput.addEventListener('keydown', handlePathInputKeydown);
    elements.pathInput.addEventListener('blur', () => {
      clearTimeout(pathInputBlurTimer);
      pathInputBlurTimer = setTimeout(deactivatePathInput, PATH_INPUT_BLUR_DELAY_MS);
    });
  }

  function setupFileViewEvents() {
    elements.searchInput.addEventListener(
        'input', () => setFilterText(elements.searchInput.value));
    elements.searchInput.addEventListener('keydown', handleSearchKeydown);
    elements.clearSearchButton.addEventListener('click', clearSearch);

    document.querySelectorAll('.file-table th.sortable').forEach((header) => {
      header.addEventListener('click', () => handleSortHeaderClick(header));
    });
    elements.listViewButton.addEventListener('click', () => setViewMode('list'));
    elements.gridViewButton.addEventListener('click', () => setViewMode('grid'));
    elements.toggleHiddenButton.addEventListener('click', toggleHiddenFiles);
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
    initTheme();
    setupEventListeners();
    renderQuickAccess();
    await loadAvailableKeys();
    await loadSshConfigHosts();
    await checkInitialStatus();
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', init);
  } else {
    init();
  }
})();
