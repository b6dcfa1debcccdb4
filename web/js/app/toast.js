// The single toast and the loading bar.

import {elements} from './elements.js';
import {readableText} from './format.js';

const TOAST_DURATION_MS = 2800;

let toastTimer = null;

// Shows `message` in the single toast; a new toast replaces the text and restarts the time.
// The style sheet shows a few lines of it; a longer message is marked cut, carries its whole
// text as the title, and unfolds on a click (toggleToastUnfolded).
export function showToast(message, duration = TOAST_DURATION_MS) {
  const toast = elements.toast;
  const text = document.createElement('span');
  text.className = 'toast-text';
  text.textContent = readableText(message);
  toast.replaceChildren(text);
  toast.classList.remove('hidden', 'unfolded');
  const cut = text.scrollHeight > text.clientHeight + 1;
  toast.classList.toggle('cut', cut);
  toast.title = cut ? text.textContent : '';
  hideToastLater(duration);
}

function hideToastLater(duration) {
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => elements.toast.classList.add('hidden'), duration);
}

// An unfolded toast stays until it is folded again (or replaced), so it can be read whole.
export function toggleToastUnfolded() {
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

export function showLoading(show) {
  elements.loadingBar.classList.toggle('hidden', !show);
}
