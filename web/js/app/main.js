// Wrenfield page script: runs the file browser of index.html. Its modules (web/js/app/*.js, one
// per concern) are bundled from this entry by esbuild into the one /js/app.js that the page
// loads as a plain script (src/server/assets.cmake).
//
// Imports run one way, never in a circle (scripts/check-imports.mjs checks it):
//   pure modules (api, clipboard, dom, format, hosts, icons, kinds, layout, line-breaks, paths,
//     url-guard), which the viewer and the feedback script share, and listing-order and
//     listing-reader, which the listing worker (web/js/listing-worker.js) runs;
//   listing.js, which reads and orders a folder's listing through that worker;
//   state.js, the shared record, each piece changed through its functions by its one owner;
//   elements.js, toast.js and drag.js;
//   the features, each importing only those listed before it: files-view, quick-access, tree,
//     navigation, connection, forms, upload, menus, keyboard, theme;
//   main.js, which wires them: what a feature does that belongs to one listed after it (opening
//     an entry, its menu, listing a folder, connecting) is handed to it here, at setup.
//
// The names the page's three scripts share on `window` (the vendor scripts aside):
//   published by markdown_viewer.js: openMarkdownViewer (called here to open a file);
//   published by feedback.js:        FeedbackStudio (its startCapture is called here);
//   published here:                  state, showToast, showLoading (read by both scripts),
//                                    hideContextMenus (feedback), downloadRemoteFile (viewer)
//                                    and apiRequest (for callers outside the bundles; the
//                                    viewer imports api.js itself).
// The viewer also reads marked, hljs and DOMPurify, the feedback script html2canvas.

import {apiRequest} from './api.js';
import {checkInitialStatus, loadAvailableKeys, loadSshConfigHosts, openConnectModal, setConnectedState, setupConnectionEvents} from './connection.js';
import {byId} from './dom.js';
import {elements} from './elements.js';
import {setupFileViewEvents} from './files-view.js';
import {setupModalForms} from './forms.js';
import {publishIconImages} from './icons.js';
import {handleKeyShortcuts, nameModifierKey} from './keyboard.js';
import {downloadRemoteFile, hideContextMenus, setupContextMenus, showContextMenu} from './menus.js';
import {navigateTo, openItem, setupNavigationEvents} from './navigation.js';
import {markActiveBookmarks, renderQuickAccess, setupQuickAccessEvents} from './quick-access.js';
import {state} from './state.js';
import {initTheme, setupThemeEvents} from './theme.js';
import {showLoading, showToast, toggleToastUnfolded} from './toast.js';
import {reloadTree, setupTreeEvents} from './tree.js';
import {setupUploadEvents} from './upload.js';

window.state = state;
window.showToast = showToast;
window.showLoading = showLoading;
window.downloadRemoteFile = downloadRemoteFile;
window.apiRequest = apiRequest;
window.hideContextMenus = hideContextMenus;

function setupEventListeners() {
  setupConnectionEvents();
  setupNavigationEvents({openConnectModal});
  setupFileViewEvents({
    openItem,
    showContextMenu,
    selectionChanged: markActiveBookmarks,
    // The tree lists hidden folders only while hidden entries are shown.
    hiddenToggled: reloadTree,
  });
  setupQuickAccessEvents({navigateTo, openItem, setConnectedState});
  setupTreeEvents({navigateTo});
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

// Every module has run by now and the features are wired, so the page can start.
if (document.readyState === 'loading') {
  document.addEventListener('DOMContentLoaded', init);
} else {
  init();
}
