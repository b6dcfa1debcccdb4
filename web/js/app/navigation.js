// Navigation: listing a folder, the history (back, forward), up and refresh; the breadcrumbs,
// the direct path input and copying the path; opening an entry.

import {copyText} from './clipboard.js';
import {elements} from './elements.js';
import {clearSelection, renderFiles, useListing} from './files-view.js';
import {readableText} from './format.js';
import {GLOBE_ICON} from './icons.js';
import {leadsToFolder} from './kinds.js';
import {readListing} from './listing.js';
import {parentPath} from './paths.js';
import {renderQuickAccess} from './quick-access.js';
import {pushHistory, setCurrentPath, setListing, state, stepHistory} from './state.js';
import {showLoading, showToast} from './toast.js';
import {updateTreeActive} from './tree.js';

// What listing a folder while not connected does: {openConnectModal()}, given by
// setupNavigationEvents.
let actions = null;

const COPIED_FEEDBACK_MS = 1800;
const PATH_INPUT_BLUR_DELAY_MS = 150;

// Counts the listings asked for; only the latest one asked for may be shown.
let latestListing = 0;

export async function navigateTo(path, addToHistory = true) {
  if (!state.connected) {
    actions.openConnectModal();
    return;
  }
  const listing = ++latestListing;
  showLoading(true);
  try {
    // The listing is read, parsed and sorted off the page's thread, and reaches the page in
    // pieces of a few milliseconds each (listing.js).
    const listed = await readListing(path, {
      column: state.sortCol,
      ascending: state.sortAsc,
      fallbackError: 'Failed to list directory',
    });
    // A folder opened since then wins, whichever reply comes last: a late reply for an
    // earlier one (a slow folder, a refresh under way) must not take the view back.
    if (listing !== latestListing) {
      return;
    }
    // A new folder opens at its top; a refresh of the same folder keeps its place.
    if (path !== state.currentPath) {
      elements.dropZone.scrollTop = 0;
    }
    useListing(listed);
    setListing(path, listed.entries);
    clearSelection();
    if (addToHistory) {
      pushHistory(path);
    }
    updateHistoryButtons();
    renderBreadcrumbs(path);
    renderFiles();
    renderQuickAccess();
    updateTreeActive(path);
  } catch (error) {
    if (!error.superseded) {
      showToast('Error: ' + error.message);
    }
  } finally {
    if (listing === latestListing) {
      showLoading(false);
    }
  }
}

function updateHistoryButtons() {
  elements.backButton.disabled = state.historyIndex <= 0;
  elements.forwardButton.disabled = state.historyIndex >= state.history.length - 1;
}

function goBack() {
  if (state.historyIndex > 0) {
    navigateTo(stepHistory(-1), false);
  }
}

function goForward() {
  if (state.historyIndex < state.history.length - 1) {
    navigateTo(stepHistory(1), false);
  }
}

function goUp() {
  const path = state.currentPath;
  if (path && path !== '/') {
    navigateTo(parentPath(path));
  }
}

export function refresh() {
  navigateTo(state.currentPath, false);
}

// A new connection starts in its home folder, before that is listed.
export function startAt(path) {
  setCurrentPath(path);
}

// A folder, or a link to one, is listed under the entry's own path (so the breadcrumbs show
// the way the user went); every file, whatever its kind, goes to the viewer sheet.
export function openItem(item) {
  if (leadsToFolder(item)) {
    navigateTo(item.path);
    return;
  }
  if (typeof window.openMarkdownViewer === 'function') {
    window.openMarkdownViewer(item);
  } else {
    console.warn('The file viewer is not available.');
  }
}

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
    pill.textContent = readableText(segment);
    pill.title = readableText(target);
    pill.addEventListener('click', (event) => {
      event.stopPropagation();
      navigateTo(target);
    });
    track.appendChild(pill);
  });

  showTrailEnd();
}

// Scrolls the breadcrumb track to its end, so that the deepest folder is in view.
function showTrailEnd() {
  const track = elements.breadcrumbs;
  track.scrollLeft = track.scrollWidth;
  markCutCrumbs();
}

// The track fades out at its left edge only while crumbs are scrolled off there.
function markCutCrumbs() {
  const track = elements.breadcrumbs;
  track.classList.toggle('cut-start', track.scrollLeft > 0);
}

// The blur handler closes the input after a short delay; reopening it in the meantime must
// cancel that pending close, or the input shuts right after it opened.
let pathInputBlurTimer = null;

export function activatePathInput() {
  clearTimeout(pathInputBlurTimer);
  elements.breadcrumbContainer.dataset.state = 'editing';
  elements.pathInput.tabIndex = 0;
  elements.pathInput.value = state.currentPath;
  elements.pathInput.focus();
  elements.pathInput.select();
}

// The closed input is invisible, so it gives up the focus too, and leaves the Tab order: keys
// then reach the page again instead of editing a path nobody sees.
function deactivatePathInput() {
  elements.breadcrumbContainer.dataset.state = 'display';
  elements.pathInput.tabIndex = -1;
  elements.pathInput.blur();
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
    await copyText(state.currentPath);
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

export function setupNavigationEvents(navigationActions) {
  actions = navigationActions;
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
  // The bar is the first to give up room in the toolbar; as it narrows, the deepest folder
  // stays in view.
  new ResizeObserver(showTrailEnd).observe(elements.breadcrumbs);
  elements.breadcrumbs.addEventListener('scroll', markCutCrumbs, {passive: true});
  elements.pathInput.addEventListener('keydown', handlePathInputKeydown);
  elements.pathInput.addEventListener('blur', () => {
    clearTimeout(pathInputBlurTimer);
    pathInputBlurTimer = setTimeout(deactivatePathInput, PATH_INPUT_BLUR_DELAY_MS);
  });
}
