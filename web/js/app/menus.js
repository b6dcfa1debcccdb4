// The context menus (item, background and global) and what their entries do that no other
// part of the page does: downloading, copying a path, starting feedback and the update check.

import {apiRequest} from './api.js';
import {copyText} from './clipboard.js';
import {byId} from './dom.js';
import {elements} from './elements.js';
import {readableText} from './format.js';
import {openDeleteModal, openNewFileModal, openNewFolderModal, openRenameModal} from './forms.js';
import {leadsToFolder} from './kinds.js';
import {menuPosition} from './layout.js';
import {openItem, refresh} from './navigation.js';
import {encodePathParameter} from './paths.js';
import {addSelectionToQuickAccess} from './quick-access.js';
import {state} from './state.js';
import {showToast} from './toast.js';
import {openUploadPicker} from './upload.js';

const menuElements = {
  downloadEntry: byId('ctx-download'),
  screenshotOverlay: byId('screenshot-select-overlay'),
};

export function hideContextMenus() {
  for (const menu of [elements.contextMenu, elements.bgContextMenu, elements.globalContextMenu]) {
    menu.classList.add('hidden');
  }
}

// A menu opens at the pointer, wholly inside the window: it is measured once shown (its size
// depends on its entries, the font and the theme), then flipped up or left where it would not
// fit below or to the right. The layout size is read, not the box on screen, which the opening
// animation scales.
function placeContextMenu(menu, x, y) {
  hideContextMenus();
  menu.style.left = '0px';
  menu.style.top = '0px';
  menu.classList.remove('hidden');
  menu.style.left = menuPosition(x, menu.offsetWidth, window.innerWidth) + 'px';
  menu.style.top = menuPosition(y, menu.offsetHeight, window.innerHeight) + 'px';
}

// Folders (and links to them) cannot be downloaded, so their menu has no Download entry.
export function showContextMenu(x, y) {
  const item = state.selectedItem;
  menuElements.downloadEntry.classList.toggle('hidden', !item || leadsToFolder(item));
  placeContextMenu(elements.contextMenu, x, y);
}

function showBgContextMenu(x, y) {
  placeContextMenu(elements.bgContextMenu, x, y);
}

function showGlobalContextMenu(x, y) {
  placeContextMenu(elements.globalContextMenu, x, y);
}

// Hands a remote file to the browser as a download. The reply is looked at first, so that an
// error (a missing or unreadable file) shows in a toast instead of replacing the page; once
// it is the file itself, that request is dropped and the browser fetches the file anew as a
// download of its own, which goes to disk without passing through the page's memory.
export async function downloadRemoteFile(path, name) {
  const address = '/api/download?path=' + encodePathParameter(path);
  const check = new AbortController();
  try {
    await apiRequest(
        address, {onlyCheck: true, signal: check.signal, fallbackError: 'Download failed'});
  } catch (error) {
    showToast('Download failed: ' + error.message);
    return;
  } finally {
    check.abort();
  }
  const anchor = document.createElement('a');
  anchor.href = address;
  anchor.download = readableText(name);
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
    await copyText(item.path);
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

export function setupContextMenus() {
  const entries = {
    'ctx-open': withSelection(openItem),
    'ctx-edit': withSelection(openViewerFor),
    'ctx-download': withSelection((item) => {
      if (!leadsToFolder(item)) {
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

  // Everywhere else the page's global menu replaces the browser's, except in text fields,
  // while a screenshot area is being chosen, and inside a modal or the viewer: the page's
  // menus sit beneath the backdrops, so there the browser's own menu (copy) shows.
  window.addEventListener('contextmenu', (event) => {
    if (!menuElements.screenshotOverlay.classList.contains('hidden')) {
      return;
    }
    const target = event.target;
    const tag = target && target.tagName;
    if (tag === 'INPUT' || tag === 'TEXTAREA') {
      return;
    }
    if (target instanceof Element && target.closest('.modal-backdrop')) {
      hideContextMenus();
      return;
    }
    event.preventDefault();
    showGlobalContextMenu(event.clientX, event.clientY);
  });

  window.addEventListener('click', hideContextMenus);
}

// Escape closes an open menu, and does nothing else then.
export function closeMenuOnEscape(event) {
  const menus = [elements.contextMenu, elements.bgContextMenu, elements.globalContextMenu];
  if (event.key !== 'Escape' || menus.every((menu) => menu.classList.contains('hidden'))) {
    return false;
  }
  event.preventDefault();
  hideContextMenus();
  return true;
}
