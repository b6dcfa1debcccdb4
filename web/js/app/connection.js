// The connection: the status at start-up, the connect form, the configured hosts and the key
// suggestions.

import {apiRequest} from './api.js';
import {closeModal} from './dom.js';
import {elements} from './elements.js';
import {escapeHtml} from './format.js';
import {configuredHostText, connectionLabel, DEFAULT_SSH_PORT} from './hosts.js';
import {SERVER_ICON} from './icons.js';
import {navigateTo, startAt} from './navigation.js';
import {ensureCurrentHostInQuickAccess} from './quick-access.js';
import {setConnection, state} from './state.js';
import {showToast} from './toast.js';
import {initTree} from './tree.js';

export async function checkInitialStatus() {
  let status;
  try {
    status = await apiRequest('/api/status');
  } catch (error) {
    openConnectModal();
    return;
  }
  if (status && status.connected === true) {
    setConnectedState(status);
    await navigateTo(status.home_dir || '~');
  } else {
    openConnectModal();
  }
}

// Takes over a status or connect reply as the page's connection. Neither reply carries
// the SSH port, so the caller passes the one it connected with (22 when unknown). A reply
// without a key file takes `keyFile`, by default the connect form's key field.
export function setConnectedState(reply, port, keyFile = elements.keyInput.value.trim()) {
  setConnection({
    host: reply.host || '',
    user: reply.user || '',
    port: port || DEFAULT_SSH_PORT,
    identityFile: reply.identity_file || keyFile,
    homeDir: reply.home_dir || '',
  });
  startAt(reply.home_dir || '');

  elements.statusDot.className = 'status-dot connected';
  elements.hostLabel.textContent = connectionLabel(state.host, state.user);
  elements.statusRemoteInfo.textContent =
      (reply.remote_os || 'Connected') + ' | ' + (reply.home_dir || '');
  closeModal(elements.connectModal);

  ensureCurrentHostInQuickAccess();
  initTree();
}

export function openConnectModal() {
  elements.connectError.classList.add('hidden');
  elements.connectModal.classList.remove('hidden');
  loadAvailableKeys();
  elements.hostInput.focus();
}

export async function loadAvailableKeys() {
  const datalist = elements.keysDatalist;
  if (!datalist) {
    return;
  }
  try {
    const keys = await apiRequest('/api/ssh-keys');
    datalist.replaceChildren();
    if (Array.isArray(keys)) {
      for (const keyPath of keys) {
        const option = document.createElement('option');
        option.value = String(keyPath);
        datalist.appendChild(option);
      }
    }
  } catch (error) {
    console.warn('Could not load available keys:', error);
  }
}

export async function loadSshConfigHosts() {
  const list = elements.sidebarHostsList;
  try {
    const hosts = await apiRequest('/api/config-hosts');
    if (!Array.isArray(hosts)) {
      throw new Error('Configured hosts are not a list');
    }
    list.replaceChildren();
    resetHostSelect();
    if (hosts.length === 0) {
      list.appendChild(placeholderHostItem('No hosts in ~/.ssh/config'));
      return;
    }
    for (const host of hosts) {
      const item = document.createElement('li');
      item.className = 'sidebar-item';
      item.innerHTML = SERVER_ICON + '<span>' + escapeHtml(host.name) + '</span>';
      item.addEventListener('click', () => {
        fillConnectForm(host);
        openConnectModal();
      });
      list.appendChild(item);

      const option = document.createElement('option');
      option.value = JSON.stringify(host);
      option.textContent = configuredHostText(host);
      elements.hostSelect.appendChild(option);
    }
  } catch (error) {
    list.replaceChildren(placeholderHostItem('Could not load hosts'));
  }
}

function placeholderHostItem(text) {
  const item = document.createElement('li');
  item.className = 'sidebar-item empty';
  item.textContent = text;
  return item;
}

function resetHostSelect() {
  const select = elements.hostSelect;
  select.replaceChildren();
  const option = document.createElement('option');
  option.value = '';
  option.textContent = '-- Choose a configured host (optional) --';
  select.appendChild(option);
}

function fillConnectForm(host) {
  elements.hostInput.value = host.name || '';
  elements.userInput.value = host.user || '';
  elements.portInput.value = host.port || '';
  elements.keyInput.value = host.identity_file || '';
}

function handleHostSelectChange() {
  const value = elements.hostSelect.value;
  if (!value) {
    return;
  }
  try {
    fillConnectForm(JSON.parse(value));
  } catch (error) {
    console.warn('Could not read the configured host:', error);
  }
}

// The connect request built from the form; empty optional fields are left out entirely.
function connectPayloadFromForm() {
  const payload = {host: elements.hostInput.value.trim()};
  const user = elements.userInput.value.trim();
  if (user) {
    payload.user = user;
  }
  const portText = elements.portInput.value.trim();
  if (portText) {
    const port = parseInt(portText, 10);
    if (!Number.isNaN(port)) {
      payload.port = port;
    }
  }
  const identityFile = elements.keyInput.value.trim();
  if (identityFile) {
    payload.identity_file = identityFile;
  }
  return payload;
}

async function handleConnectSubmit(event) {
  event.preventDefault();
  elements.connectError.classList.add('hidden');
  elements.connectSpinner.classList.remove('hidden');
  const payload = connectPayloadFromForm();
  try {
    const reply = await apiRequest('/api/connect', {
      method: 'POST',
      json: payload,
      requireSuccess: true,
      fallbackError: 'Connection failed',
    });
    setConnectedState(reply, payload.port);
    showToast('Connected to ' + reply.host);
    await navigateTo(reply.home_dir || '~');
  } catch (error) {
    elements.connectError.textContent = error.message;
    elements.connectError.classList.remove('hidden');
  } finally {
    elements.connectSpinner.classList.add('hidden');
  }
}

export function setupConnectionEvents() {
  elements.connectionPill.addEventListener('click', openConnectModal);
  elements.openConnectButton.addEventListener('click', openConnectModal);
  elements.closeConnectButton.addEventListener('click', () => closeModal(elements.connectModal));
  elements.cancelConnectButton.addEventListener('click', () => closeModal(elements.connectModal));
  elements.hostSelect.addEventListener('change', handleHostSelectChange);
  elements.connectForm.addEventListener('submit', handleConnectSubmit);
}
