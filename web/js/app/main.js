// Wrenfield page script: runs the file browser of index.html. Its modules (web/js/app/*.js, one
// per concern, each importing what it uses) are bundled from this entry by esbuild into the
// one /js/app.js that the page loads as a plain script (src/server/assets.cmake). As they load,
// the modules only define their functions and constants and look up their elements; the page
// starts below, once every module has run, so modules that call each other (navigation and the
// file view, say) may import each other.
//
// The names the page's three scripts share on `window` (the vendor scripts aside):
//   published by markdown_viewer.js: openMarkdownViewer (called here to open a file);
//   published by feedback.js:        FeedbackStudio (its startCapture is called here);
//   published here:                  state, showToast, showLoading (read by both scripts),
//                                    hideContextMenus (feedback), downloadRemoteFile and
//                                    apiRequest (viewer).
// The viewer also reads marked, hljs and DOMPurify, the feedback script html2canvas.

import {apiRequest} from './api.js';
import {checkInitialStatus, loadAvailableKeys, loadSshConfigHosts, setupConnectionEvents} from './connection.js';
import {byId, elements} from './dom.js';
import {setupFileViewEvents} from './files-view.js';
import {setupModalForms} from './forms.js';
import {publishIconImages} from './icons.js';
import {handleKeyShortcuts, nameModifierKey} from './keyboard.js';
import {downloadRemoteFile, hideContextMenus, setupContextMenus} from './menus.js';
import {setupNavigationEvents} from './navigation.js';
import {renderQuickAccess, setupQuickAccessEvents} from './quick-access.js';
import {state} from './state.js';
import {initTheme, setupThemeEvents} from './theme.js';
import {showLoading, showToast, toggleToastUnfolded} from './toast.js';
import {setupTreeEvents} from './tree.js';
import {setupUploadEvents} from './upload.js';

window.state = state;
window.showToast = showToast;
window.showLoading = showLoading;
window.downloadRemoteFile = downloadRemoteFile;
window.apiRequest = apiRequest;
window.hideContextMenus = hideContextMenus;

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

// Every module has run by now, so the page can start.
if (document.readyState === 'loading') {
  document.addEventListener('DOMContentLoaded', init);
} else {
  init();
}
