// Uploading local files into the folder shown: the picker, and files dropped on the window.

import {apiRequest} from './api.js';
import {byId, closeModal} from './dom.js';
import {elements} from './elements.js';
import {navigateTo} from './navigation.js';
import {encodePathParameter} from './paths.js';
import {state} from './state.js';
import {showLoading, showToast} from './toast.js';
import {forgetSubfolders} from './tree.js';

const replaceElements = {
  modal: byId('modal-upload-replace'),
  message: byId('upload-replace-message'),
  replaceButton: byId('btn-upload-replace'),
  skipButton: byId('btn-upload-skip'),
};

// Asks whether to replace the entry `name` of the folder shown; resolves to the answer.
function askToReplace(name) {
  const {modal, message, replaceButton, skipButton} = replaceElements;
  message.textContent =
      'A file or folder named "' + name + '" already exists in this folder. Replace it?';
  modal.classList.remove('hidden');
  skipButton.focus();
  return new Promise((resolve) => {
    const answer = (replace) => {
      replaceButton.removeEventListener('click', onReplace);
      skipButton.removeEventListener('click', onSkip);
      closeModal(modal);
      resolve(replace);
    };
    const onReplace = () => answer(true);
    const onSkip = () => answer(false);
    replaceButton.addEventListener('click', onReplace);
    skipButton.addEventListener('click', onSkip);
  });
}

// Sends the files one after the other into the folder shown. A file whose name the folder
// already holds is sent only when the user chose to replace it. Each failure has its own toast;
// when any file arrived, the count is shown and the folder listed again once.
async function uploadFiles(files) {
  const chosen = Array.from(files || []);
  if (!state.connected || chosen.length === 0) {
    return;
  }
  const folder = state.currentPath.replace(/\/+$/, '');
  // The entries of that folder, whatever is shown while the files are sent.
  const listing = state.listing;
  let uploaded = 0;
  for (const file of chosen) {
    if (listing.hasName(file.name)) {
      showLoading(false);
      if (!(await askToReplace(file.name))) {
        continue;
      }
    }
    showLoading(true);
    const target = folder + '/' + file.name;
    try {
      await apiRequest('/api/upload?path=' + encodePathParameter(target), {
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
    forgetSubfolders(state.currentPath);
    await navigateTo(state.currentPath, false);
  }
}

export function openUploadPicker() {
  elements.fileUploadInput.click();
}

function isExternalFileDrag(event) {
  const types = Array.from((event.dataTransfer && event.dataTransfer.types) || []);
  return !state.isDraggingInternal && types.includes('Files');
}

export function setupUploadEvents() {
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
