// The folder tree.
//
// Each node is div.tree-node[data-path][data-level] holding div.tree-row and
// div.tree-children; a folder's subfolders are listed when its node is first expanded and
// kept in treeCache until that entry is dropped (forgetSubfolders, reloadTree).

import {apiRequest} from './api.js';
import {endEntryDrag, startEntryDrag} from './drag.js';
import {elements} from './elements.js';
import {escapeHtml, readableText} from './format.js';
import {TREE_CHEVRON_ICON, TREE_FOLDER_ICON} from './icons.js';
import {leadsToFolder} from './kinds.js';
import {encodePathParameter} from './paths.js';
import {addPathToQuickAccess} from './quick-access.js';
import {state} from './state.js';
import {showToast} from './toast.js';

// Subfolder lists of the folder tree by folder path, as last loaded.
const treeCache = new Map();

// What a click on a folder's row does: {navigateTo(path)}, given by setupTreeEvents.
let actions = null;

function treeLine(className, text) {
  const line = document.createElement('div');
  line.className = className;
  line.textContent = text;
  return line;
}

export async function initTree() {
  const container = elements.directoryTreeContainer;
  if (!state.connected) {
    container.replaceChildren(treeLine('tree-placeholder', 'Connect to browse folder tree'));
    return;
  }
  const homePiece = state.homeDir.split('/').pop() || '~';
  const roots = [
    createTreeNode('Home (' + homePiece + ')', state.homeDir, 0),
    createTreeNode('Root (/)', '/', 0),
  ];
  container.replaceChildren(...roots);
  const home = roots.find((node) => node.dataset.path === state.homeDir);
  if (home) {
    await expandTreeNode(home, state.homeDir, 0);
  }
  updateTreeActive(state.currentPath);
}

function createTreeNode(name, path, level) {
  const node = document.createElement('div');
  node.className = 'tree-node';
  node.dataset.path = path;
  node.dataset.level = String(level);

  const row = document.createElement('div');
  row.className = 'tree-row';
  row.style.paddingLeft = level * 14 + 6 + 'px';
  row.draggable = true;
  row.innerHTML = '<span class="tree-toggle">' + TREE_CHEVRON_ICON + '</span>' +
      '<span class="tree-icon">' + TREE_FOLDER_ICON + '</span>' +
      '<span class="tree-label" title="' + escapeHtml(path) + '">' + escapeHtml(name) + '</span>';
  const children = document.createElement('div');
  children.className = 'tree-children hidden';
  children.style.setProperty('--tree-level', String(level));
  node.append(row, children);

  const toggle = row.querySelector('.tree-toggle');
  toggle.addEventListener('click', (event) => {
    event.stopPropagation();
    if (toggle.classList.contains('expanded')) {
      collapseTreeNode(node);
    } else {
      expandTreeNode(node, path, level);
    }
  });
  row.addEventListener('click', () => actions.navigateTo(path));
  row.addEventListener('contextmenu', (event) => {
    event.preventDefault();
    event.stopPropagation();
    addPathToQuickAccess(path, name, true);
  });
  row.addEventListener('dragstart', (event) => startEntryDrag(event, {path, name, is_dir: true}));
  row.addEventListener('dragend', endEntryDrag);
  return node;
}

function treeNodeParts(node) {
  return {
    toggle: node.firstElementChild.querySelector('.tree-toggle'),
    children: node.lastElementChild,
  };
}

// The subfolders of `path`, from the cache or listed and cached. A folder that cannot be
// listed (a failure reply, a failed request, a reply that is not a list) rejects with the
// reason, and nothing is cached.
async function loadTreeSubfolders(path) {
  const cached = treeCache.get(path);
  if (cached) {
    return cached;
  }
  const entries = await apiRequest(
      '/api/list?path=' + encodePathParameter(path), {fallbackError: 'Failed to list directory'});
  if (!Array.isArray(entries)) {
    throw new Error('Failed to list directory');
  }
  const folders =
      entries.filter((entry) => leadsToFolder(entry) && (state.showHidden || !entry.is_hidden));
  treeCache.set(path, folders);
  return folders;
}

async function expandTreeNode(node, path, level) {
  const {toggle, children} = treeNodeParts(node);
  toggle.classList.add('expanded');
  children.classList.remove('hidden');
  // Children loaded once stay; a "Loading..." or "Error" line means try again.
  if (children.children.length > 0 && !children.querySelector(':scope > .tree-loading')) {
    return;
  }
  children.replaceChildren(treeLine('tree-loading', 'Loading...'));
  const label = node.firstElementChild.querySelector('.tree-label');
  let folders;
  try {
    folders = await loadTreeSubfolders(path);
  } catch (error) {
    // The folder is not shown as empty: its row says why it could not be read, as a failed
    // listing of the file view does.
    const line = treeLine('tree-loading', 'Error');
    line.style.color = 'var(--danger-color)';
    line.title = error.message;
    children.replaceChildren(line);
    label.title = readableText(path + ': ' + error.message);
    showToast('Error: ' + error.message);
    return;
  }
  label.title = readableText(path);
  children.replaceChildren();
  toggle.classList.toggle('empty', folders.length === 0);
  for (const folder of folders) {
    children.appendChild(createTreeNode(folder.name, folder.path, level + 1));
  }
}

function collapseTreeNode(node) {
  const {toggle, children} = treeNodeParts(node);
  toggle.classList.remove('expanded');
  children.classList.add('hidden');
}

export function updateTreeActive(path) {
  const container = elements.directoryTreeContainer;
  container.querySelectorAll('.tree-row.active').forEach((row) => row.classList.remove('active'));
  // Compared as texts: a selector would read a lone surrogate of a name as U+FFFD.
  const node = Array.from(container.querySelectorAll('.tree-node'))
                   .find((candidate) => candidate.dataset.path === path);
  if (node) {
    node.firstElementChild.classList.add('active');
  }
}

// The subfolders of `path` changed: they are listed again when its node is next expanded.
export function forgetSubfolders(path) {
  treeCache.delete(path);
}

// Builds the tree afresh, every folder listed again.
export function reloadTree() {
  treeCache.clear();
  initTree();
}

export function setupTreeEvents(treeActions) {
  actions = treeActions;
  elements.refreshTreeButton.addEventListener('click', () => {
    reloadTree();
    showToast('Directory tree refreshed');
  });
}
