// Quick Access: bookmarks of folders and files, grouped by host.
//
// Bookmarks live in local storage as a list of host groups, in display order:
//   QuickAccessGroup    {hostKey, host, user, port, identity_file, label, collapsed, bookmarks}
//   QuickAccessBookmark {name, path, is_dir}; an absent is_dir means a folder.
// Every render and every change reads the list afresh, so two pages on the same server
// address share their bookmarks.

import {apiRequest} from './api.js';
import {endEntryDrag} from './drag.js';
import {elements} from './elements.js';
import {selectItem, setHiddenEntriesShown} from './files-view.js';
import {escapeHtml, readableText} from './format.js';
import {getHostKey, hostSwitchPayload, portOrDefault} from './hosts.js';
import {BOOKMARK_FOLDER_ICON, getFileIcon, GROUP_CHEVRON_ICON} from './icons.js';
import {leadsToFolder} from './kinds.js';
import {bookmarkParent, pathDisplayName} from './paths.js';
import {state} from './state.js';
import {showLoading, showToast} from './toast.js';

const QA_STORAGE_KEY = 'wrenfield_quick_access_v2';

// What a bookmark's click does, given by setupQuickAccessEvents: {navigateTo(path),
// openItem(item), setConnectedState(reply, port, keyFile)}.
let actions = null;

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
      groups.find(
          (group) => group.host === state.host && (group.user || '') === state.user &&
              portOrDefault(group.port) === portOrDefault(state.port));
}

export function ensureCurrentHostInQuickAccess() {
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

export function renderQuickAccess() {
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
  const indicator = isCurrent ? '<span class="qa-host-active-indicator" title="Connected"></span>' :
                                '<span style="' + QA_INACTIVE_DOT_STYLE + '"></span>';
  header.innerHTML = '<div class="qa-host-title">' + indicator + '<span title="' +
      escapeHtml(group.hostKey) + '">' + escapeHtml(group.label) + '</span></div>' +
      '<div class="qa-host-chevron">' + GROUP_CHEVRON_ICON + '</div>';
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
  item.title = readableText(bookmark.path + ' on ' + group.host);
  item.bookmarkInCurrentGroup = isCurrent;
  const icon =
      isFile ? getFileIcon({name: bookmark.name, is_dir: false}, 16) : BOOKMARK_FOLDER_ICON;
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
export function markActiveBookmarks() {
  const selectedPath = state.selectedItem ? state.selectedItem.path : null;
  elements.quickAccessContainer.querySelectorAll('.qa-item').forEach((item) => {
    const path = item.dataset.path;
    const matches = path === state.currentPath ||
        (path === '~' && state.currentPath === state.homeDir) || path === selectedPath;
    item.classList.toggle('active', item.bookmarkInCurrentGroup === true && matches);
  });
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
    actions.setConnectedState(reply, payload.port, payload.identity_file || '');
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
  const isCurrentConnection =
      state.connected && group.host === state.host && (!group.user || group.user === state.user);
  if (!isCurrentConnection && !(await switchToGroupHost(group))) {
    return;
  }
  if (bookmark.is_dir !== false) {
    await actions.navigateTo(bookmark.path);
    return;
  }
  await openFileBookmark(bookmark);
}

// Shows the file's folder, then selects the file and opens it in the viewer. A hidden file
// turns hidden entries on so that its row can show as selected.
async function openFileBookmark(bookmark) {
  const parent = bookmarkParent(bookmark.path, state.homeDir);
  if (parent !== state.currentPath) {
    await actions.navigateTo(parent);
  }
  const at = state.listing.indexOfPath(bookmark.path);
  const found = at >= 0 ? state.listing.entry(at) : null;
  if (found && found.is_hidden && !state.showHidden) {
    setHiddenEntriesShown(true);
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
  actions.openItem(item);
}

export function addPathToQuickAccess(targetPath, customName, isFolder = true) {
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
export function addSelectionToQuickAccess() {
  const item = state.selectedItem;
  if (item) {
    addPathToQuickAccess(item.path, item.name, leadsToFolder(item));
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
  endEntryDrag();
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

export function setupQuickAccessEvents(quickAccessActions) {
  actions = quickAccessActions;
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
