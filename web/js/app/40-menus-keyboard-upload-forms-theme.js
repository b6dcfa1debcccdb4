// Page script (see 00-head.js): context menus, keyboard, upload, file forms and theme.

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

// ===========================================================================
// Keyboard
// ===========================================================================

// The shortcuts take Command on a Mac and Control elsewhere (both keys work everywhere). The
// document names Ctrl; elements marked `data-modifier-key` get this platform's name instead,
// in their title and in their own text.
function modifierKeyName() {
  const data = navigator.userAgentData;
  const platform = (data && data.platform) || navigator.platform || '';
  return /^mac/i.test(platform) ? 'Cmd' : 'Ctrl';
}

function nameModifierKey() {
  const name = modifierKeyName();
  const rename = (text) => text.replace(/\bCtrl\b/g, name);
  for (const element of document.querySelectorAll('[data-modifier-key]')) {
    if (element.title) {
      element.title = rename(element.title);
    }
    for (const node of element.childNodes) {
      if (node.nodeType === Node.TEXT_NODE) {
        node.nodeValue = rename(node.nodeValue);
      }
    }
  }
}

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
  } else if (command && event.shiftKey && (event.code === 'Period' || key === '.' || key === '>')) {
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

  // The overlay shows while a drag of outside files is over the window, whatever element it
  // entered by. A leave towards nothing is the drag leaving the window. Engines that report
  // every leave so send the next element's dragover in the same turn, which shows the overlay
  // again before anything is drawn.
  const showOverlay = () => {
    if (state.connected) {
      overlay.classList.remove('hidden');
    }
  };
  const hideOverlay = () => overlay.classList.add('hidden');

  window.addEventListener('dragenter', (event) => {
    if (isExternalFileDrag(event)) {
      event.preventDefault();
      showOverlay();
    }
  });
  // Files dragged from outside may only land on the overlay: anywhere else the browser would
  // open the dropped file in place of the page.
  window.addEventListener('dragover', (event) => {
    if (!isExternalFileDrag(event)) {
      return;
    }
    showOverlay();
    if (!overlay.contains(event.target)) {
      event.preventDefault();
      event.dataTransfer.dropEffect = 'none';
    }
  });
  window.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === null) {
      hideOverlay();
    }
  });
  // A drop anywhere, or the end of a drag however it ended, takes the overlay away; the
  // capture phase sees them even when a handler below stops them.
  window.addEventListener('drop', (event) => {
    hideOverlay();
    if (isExternalFileDrag(event)) {
      event.preventDefault();
    }
  }, true);
  window.addEventListener('dragend', hideOverlay, true);

  overlay.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = 'copy';
  });
  overlay.addEventListener('dragleave', (event) => {
    if (event.relatedTarget === elements.dropZone) {
      hideOverlay();
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

// The items the rename and delete modals were opened for. A listing that arrives while one is
// open clears the selection; the modal still acts on the item it shows.
let renameTarget = null;
let deleteTarget = null;

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
  openNameModal(elements.newFolderModal, formElements.newFolderInput, formElements.newFolderError);
}

function openRenameModal() {
  const item = state.selectedItem;
  if (!item) {
    return;
  }
  renameTarget = item;
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
  deleteTarget = item;
  formElements.deleteMessage.textContent =
      'Are you sure you want to permanently delete "' + item.name + '"?';
  formElements.deleteError.classList.add('hidden');
  elements.deleteModal.classList.remove('hidden');
}

function showModalError(errorBox, message) {
  errorBox.textContent = message;
  errorBox.classList.remove('hidden');
}

function takenNameText(name) {
  return 'A file or folder named "' + name + '" already exists.';
}

// New File and Rename never replace anything: they ask the server to refuse an existing name
// (`no_replace`), which the remote file system checks as it creates or renames, whatever the
// folder, the case of the name or the listing shown. A name the folder shown holds (hidden
// entries included) is refused before asking. Returns whether the name was refused; the modal
// stays open with the reason.
function refuseTakenName(errorBox, name) {
  if (!state.items.some((entry) => entry.name === name)) {
    return false;
  }
  showModalError(errorBox, takenNameText(name));
  return true;
}

// Runs a modal's request. On success the modal closes and `onSuccess` runs; on failure the
// message goes to the modal's error box and the modal stays open. With `takenName`, the
// system's "File exists" refusal is shown as that name being taken.
async function runModalAction(modal, errorBox, path, payload, fallbackError, onSuccess, takenName) {
  errorBox.classList.add('hidden');
  try {
    await apiRequest(path, {
      method: 'POST',
      json: payload,
      requireSuccess: true,
      fallbackError: fallbackError,
    });
  } catch (error) {
    const taken = takenName !== undefined && error.message.startsWith('[Errno 17] ');
    showModalError(errorBox, taken ? takenNameText(takenName) : error.message);
    return;
  }
  closeModal(modal);
  onSuccess();
}

function handleNewFileSubmit(event) {
  event.preventDefault();
  const name = formElements.newFileInput.value.trim();
  if (refuseTakenName(formElements.newFileError, name)) {
    return;
  }
  const payload = {path: childPath(state.currentPath, name), content: '', no_replace: true};
  runModalAction(
      elements.newFileModal, formElements.newFileError, '/api/write', payload,
      'Create file failed', () => {
        showToast('Created ' + name);
        refresh();
      }, name);
}

function handleNewFolderSubmit(event) {
  event.preventDefault();
  const name = formElements.newFolderInput.value.trim();
  const payload = {path: childPath(state.currentPath, name)};
  runModalAction(
      elements.newFolderModal, formElements.newFolderError, '/api/mkdir', payload,
      'Create folder failed', () => {
        showToast('Created folder ' + name);
        treeState.treeCache.delete(state.currentPath);
        refresh();
      });
}

function handleRenameSubmit(event) {
  event.preventDefault();
  const item = renameTarget;
  if (!item) {
    return;
  }
  const name = formElements.renameInput.value.trim();
  // The check needs the listing of the item's own folder, which is the one shown while the
  // item is listed; keeping the name is no replacement.
  const listed = state.items.some((entry) => entry.path === item.path);
  if (listed && name !== item.name && refuseTakenName(formElements.renameError, name)) {
    return;
  }
  const parent = parentPath(item.path);
  const payload = {from: item.path, to: childPath(parent, name), no_replace: true};
  runModalAction(
      elements.renameModal, formElements.renameError, '/api/rename', payload,
      'Rename failed', () => {
        showToast('Renamed successfully');
        treeState.treeCache.delete(parent);
        refresh();
      }, name);
}

function handleDeleteConfirm() {
  const item = deleteTarget;
  if (!item) {
    return;
  }
  const payload = {path: item.path, is_dir: item.is_dir === true};
  runModalAction(
      elements.deleteModal, formElements.deleteError, '/api/delete', payload, 'Delete failed',
      () => {
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
  auto: 'Theme: Auto (System)',
};

const darkSchemeQuery = typeof window.matchMedia === 'function' ?
    window.matchMedia('(prefers-color-scheme: dark)') :
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
