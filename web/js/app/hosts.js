// Connection records as the page shows and keys them: the pill's label, the configured-host
// choice, the Quick Access host key and the connect request that reaches a group's host again.
// Pure functions, without the page's state.

export const DEFAULT_SSH_PORT = 22;

// The pill's text: user@host. The server's host already starts with "user@" when a login
// user was given or configured, so the user is put in front only when it is not there.
export function connectionLabel(host, user) {
  if (!user || host.includes('@')) {
    return host;
  }
  return user + '@' + host;
}

// "alice@dev (10.0.0.5) [key: id_work]": the parts that the host record has.
export function configuredHostText(host) {
  let text = '';
  if (host.user) {
    text += host.user + '@';
  }
  text += host.name;
  if (host.hostname && host.hostname !== host.name) {
    text += ' (' + host.hostname + ')';
  }
  if (host.identity_file) {
    const keyFile = String(host.identity_file);
    text += ' [key: ' + keyFile.slice(keyFile.lastIndexOf('/') + 1) + ']';
  }
  return text;
}

export function portOrDefault(port) {
  return Number(port) || DEFAULT_SSH_PORT;
}

// "user@host:port", with " [key file]" when the connection uses one. The host is the
// connection's destination, which already starts with "user@" when a login user was given
// or configured; the user is then not repeated (as in the connection pill).
export function getHostKey(host, user, port, identityFile) {
  const destination = String(host || '').includes('@') ? host : (user || 'default') + '@' + host;
  let key = destination + ':' + portOrDefault(port);
  if (identityFile) {
    key += ' [' + identityFile + ']';
  }
  return key;
}

// The connect request that reaches a group's host again. The group's host is the earlier
// connection's destination, which holds "user@" when a login user was known: that user is
// posted on its own and the host without it, so the destination comes out the same (never
// "user@user@host"); with no user in it none is posted. Port 22 is also what the page records
// when the port was not typed, so it is left to ssh and the SSH configuration, which may name
// another port for an alias.
export function hostSwitchPayload(group) {
  const destination = String(group.host || '');
  const at = destination.lastIndexOf('@');
  const payload = {host: at >= 0 ? destination.slice(at + 1) : destination};
  if (at > 0) {
    payload.user = destination.slice(0, at);
  }
  const port = Number(group.port);
  if (port && port !== DEFAULT_SSH_PORT) {
    payload.port = port;
  }
  if (group.identity_file) {
    payload.identity_file = group.identity_file;
  }
  return payload;
}
