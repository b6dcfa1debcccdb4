// The file forms: new file, new folder, rename and delete.

import {apiRequest} from './api.js';
import {byId, closeModal} from './dom.js';
import {elements} from './elements.js';
import {clearSelection} from './files-view.js';
import {readableText} from './format.js';
import {refresh} from './navigation.js';
import {childPath, entryNameProblem, parentPath} from './paths.js';
import {state} from './state.js';
import {showToast} from './toast.js';
import {forgetSubfolders} from './tree.js';

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
// open clears the selection; the modal still acts on the item it shows. Closing the modal, by
// Cancel, its close button or its action, forgets the item: a click on the hidden button
// afterwards acts on nothing.
let renameTarget = null;
let deleteTarget = null;

function closeFormModal(modal) {
  if (modal === elements.renameModal) {
    renameTarget = null;
  } else if (modal === elements.deleteModal) {
    deleteTarget = null;
  }
  closeModal(modal);
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

export function openNewFileModal() {
  openNameModal(elements.newFileModal, formElements.newFileInput, formElements.newFileError);
}

export function openNewFolderModal() {
  openNameModal(elements.newFolderModal, formElements.newFolderInput, formElements.newFolderError);
}

export function openRenameModal() {
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

export function openDeleteModal() {
  const item = state.selectedItem;
  if (!item) {
    return;
  }
  deleteTarget = item;
  formElements.deleteMessage.textContent =
      'Are you sure you want to permanently delete "' + readableText(item.name) + '"?';
  formElements.deleteError.classList.add('hidden');
  elements.deleteModal.classList.remove('hidden');
}

function showModalError(errorBox, message) {
  errorBox.textContent = readableText(message);
  errorBox.classList.remove('hidden');
}

function takenNameText(name) {
  return 'A file or folder named "' + name + '" already exists.';
}

// New File, New Folder and Rename never replace anything, nor take an existing folder as made:
// they ask the server to refuse an existing name (`no_replace`), which the remote file system
// checks as it creates or renames, whatever the folder, the case of the name or the listing
// shown. A name the folder shown holds (hidden entries included) is refused before asking.
// Returns whether the name was refused; the modal stays open with the reason.
function refuseTakenName(errorBox, name) {
  if (!state.listing.hasName(name)) {
    return false;
  }
  showModalError(errorBox, takenNameText(name));
  return true;
}

// A name that cannot name an entry of the folder (blank, holding "/", "." or "..") is refused
// before asking. Returns whether the name was refused; the modal stays open with the reason.
function refuseBadName(errorBox, name) {
  const problem = entryNameProblem(name);
  if (problem === '') {
    return false;
  }
  showModalError(errorBox, problem);
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
  closeFormModal(modal);
  onSuccess();
}

function handleNewFileSubmit(event) {
  event.preventDefault();
  const name = formElements.newFileInput.value.trim();
  if (refuseBadName(formElements.newFileError, name) ||
      refuseTakenName(formElements.newFileError, name)) {
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
  if (refuseBadName(formElements.newFolderError, name) ||
      refuseTakenName(formElements.newFolderError, name)) {
    return;
  }
  const payload = {path: childPath(state.currentPath, name), no_replace: true};
  runModalAction(
      elements.newFolderModal, formElements.newFolderError, '/api/mkdir', payload,
      'Create folder failed', () => {
        showToast('Created folder ' + name);
        forgetSubfolders(state.currentPath);
        refresh();
      }, name);
}

function handleRenameSubmit(event) {
  event.preventDefault();
  const item = renameTarget;
  if (!item) {
    return;
  }
  const name = formElements.renameInput.value.trim();
  if (refuseBadName(formElements.renameError, name)) {
    return;
  }
  // The check needs the listing of the item's own folder, which is the one shown while the
  // item is listed; keeping the name is no replacement.
  const listed = state.listing.indexOfPath(item.path) >= 0;
  if (listed && name !== item.name && refuseTakenName(formElements.renameError, name)) {
    return;
  }
  const parent = parentPath(item.path);
  const payload = {from: item.path, to: childPath(parent, name), no_replace: true};
  runModalAction(
      elements.renameModal, formElements.renameError, '/api/rename', payload,
      'Rename failed', () => {
        showToast('Renamed successfully');
        forgetSubfolders(parent);
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
        forgetSubfolders(state.currentPath);
        clearSelection();
        refresh();
      });
}

export function setupModalForms() {
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
    byId(id).addEventListener('click', () => closeFormModal(modal));
  }
  elements.newFileButton.addEventListener('click', openNewFileModal);
  elements.newFolderButton.addEventListener('click', openNewFolderModal);
  formElements.newFileForm.addEventListener('submit', handleNewFileSubmit);
  formElements.newFolderForm.addEventListener('submit', handleNewFolderSubmit);
  formElements.renameForm.addEventListener('submit', handleRenameSubmit);
  formElements.confirmDeleteButton.addEventListener('click', handleDeleteConfirm);
}
