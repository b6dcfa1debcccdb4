// The keyboard shortcuts, and the modifier key's name in the texts that show them.

import {elements} from './elements.js';
import {openDeleteModal, openRenameModal} from './forms.js';
import {closeMenuOnEscape} from './menus.js';
import {activatePathInput, openItem, refresh} from './navigation.js';
import {state} from './state.js';

// The shortcuts take Command on a Mac and Control elsewhere (both keys work everywhere). The
// document names Ctrl; elements marked `data-modifier-key` get this platform's name instead,
// in their title and in their own text.
function modifierKeyName() {
  const data = navigator.userAgentData;
  const platform = (data && data.platform) || navigator.platform || '';
  return /^mac/i.test(platform) ? 'Cmd' : 'Ctrl';
}

export function nameModifierKey() {
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
export function handleKeyShortcuts(event) {
  if (event.defaultPrevented || document.querySelector('.modal-backdrop:not(.hidden)') ||
      closeMenuOnEscape(event)) {
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
  } else if (isTextEntry(document.activeElement)) {
    // In a text field F2, Delete and Enter are the field's own keys: Delete removes a
    // character, Enter belongs to the field's form or handler.
  } else if (event.key === 'F2') {
    openRenameModal();
  } else if (event.key === 'Delete' || (event.metaKey && event.key === 'Backspace')) {
    openDeleteModal();
  } else if (event.key === 'Enter' && state.selectedItem) {
    openItem(state.selectedItem);
  }
}
