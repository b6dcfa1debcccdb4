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
  // or `fallbackError` when the reply has none; a failed request or an unreadable reply
  // rejects with the browser's own error.
  async function apiRequest(path, options = {}) {
    const {method = 'GET', json, body, requireSuccess = false, fallbackError = 'Request failed'} =
        options;
    const init = {method};
    if (json !== undefined) {
      init.headers = {'Content-Type': 'application/json'};
      init.body = JSON.stringify(json);
    } else if (body !== undefined) {
      init.body = body;
    }
    const response = await fetch(path, init);
    const reply = await response.json();
    const succeeded = response.ok && (!requireSuccess || (reply && reply.success === true));
    if (!succeeded) {
      throw new Error((reply && reply.error) || fallbackError);
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
  // the SSH port, so the caller passes the one it connected with (22 when unknown).
  function setConnectedState(reply, port) {
    state.connected = true;
    state.host = reply.host || '';
    state.user = reply.user || '';
    state.port = port || DEFAULT_SSH_PORT;
    state.homeDir = reply.home_dir || '';
    state.currentPath = reply.home_dir || '';
    state.identityFile = reply.identity_file || elements.keyInput.value.trim();

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

  function activatePathInput() {
    elements.breadcrumbContainer.dataset.state = 'editing';
    elements.pathInput.value = state.currentPath;
    elements.pathInput.focus();
    elements.pathInput.select();
  }

  function deactivatePathInput() {
    elements.breadcrumbContainer.dataset.state = 'display';
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

  // Rebuilds the Quick Access list from storage: host groups, their bookmarks, the active mark.
  // Not built yet.
  function renderQuickAccess() {}

  // Makes sure the connected host has its Quick Access group, then renders the list.
  // Not built yet.
  function ensureCurrentHostInQuickAccess() {}

  // Marks the bookmarks that match the shown folder or the selected item. Not built yet.
  function markActiveBookmarks() {}

  // Wires the add button and the drop target of the Quick Access group. Not built yet.
  function setupQuickAccessEvents() {}

  // ===========================================================================
  // Folder tree
  // ===========================================================================

  // Rebuilds the folder tree under its Home and Root nodes. Not built yet.
  function initTree() {}

  // Moves the tree's active row to the node of `path`. Not built yet.
  function updateTreeActive(path) {}

  // Wires the tree's refresh button. Not built yet.
  function setupTreeEvents() {}

  // ===========================================================================
  // Context menus
  // ===========================================================================

  // Shows the item menu at the pointer position (x, y). Not built yet.
  function showContextMenu(x, y) {}

  // Wires the three menus, their entries and the right-click handling. Not built yet.
  function setupContextMenus() {}

  // ===========================================================================
  // Keyboard
  // ===========================================================================

  // Runs the page's key bindings for one key press that reaches the window. Not built yet.
  function handleKeyShortcuts(event) {}

  // ===========================================================================
  // Upload
  // ===========================================================================

  // Wires the upload picker and the drag-and-drop of local files. Not built yet.
  function setupUploadEvents() {}

  // ===========================================================================
  // File forms: new file, new folder, rename, delete
  // ===========================================================================

  // Wires the four file modals' openers, forms and buttons. Not built yet.
  function setupModalForms() {}

  // ===========================================================================
  // Theme
  // ===========================================================================

  // Applies the stored theme and follows the system's colour scheme. Not built yet.
  function initTheme() {}

  // Wires the theme toggle. Not built yet.
  function setupThemeEvents() {}

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
      setTimeout(deactivatePathInput, PATH_INPUT_BLUR_DELAY_MS);
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
