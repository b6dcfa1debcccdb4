// Connection records as the page labels and keys them, and the connect request that reaches a
// Quick Access group's host again: the user must never be doubled ("user@user@host"), and a
// port the page only assumed must be left to ssh.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {configuredHostText, connectionLabel, getHostKey, hostSwitchPayload} from '../../web/js/app/hosts.js';

test('the pill puts the user in front only when the host does not hold one', () => {
  assert.equal(connectionLabel('dev', 'alice'), 'alice@dev');
  assert.equal(connectionLabel('alice@dev', 'alice'), 'alice@dev');
  assert.equal(connectionLabel('bob@dev', 'alice'), 'bob@dev');
  assert.equal(connectionLabel('dev', ''), 'dev');
});

test('a configured host is described by the parts its record has', () => {
  assert.equal(
      configuredHostText({
        name: 'dev',
        user: 'alice',
        hostname: '10.0.0.5',
        identity_file: '/home/a/.ssh/id_work'
      }),
      'alice@dev (10.0.0.5) [key: id_work]');
  assert.equal(configuredHostText({name: 'dev', hostname: 'dev'}), 'dev');
  assert.equal(configuredHostText({name: 'dev', identity_file: 'id_plain'}), 'dev [key: id_plain]');
});

test(
    'the host key: one user, the port (22 when unknown), and the key file when there is one',
    () => {
      assert.equal(getHostKey('dev', 'alice', 2222, ''), 'alice@dev:2222');
      assert.equal(getHostKey('alice@dev', 'alice', 22, ''), 'alice@dev:22');
      assert.equal(getHostKey('dev', '', undefined, ''), 'default@dev:22');
      assert.equal(getHostKey('dev', 'alice', '2200', ''), 'alice@dev:2200');
      assert.equal(getHostKey('dev', 'alice', 'x', '/k/id'), 'alice@dev:22 [/k/id]');
    });

test('switching to a group posts its destination split into user and host', () => {
  assert.deepEqual(hostSwitchPayload({host: 'alice@dev', port: 22}), {host: 'dev', user: 'alice'});
  assert.deepEqual(hostSwitchPayload({host: 'dev', port: 2222, identity_file: '/k/id'}), {
    host: 'dev',
    port: 2222,
    identity_file: '/k/id',
  });
  // The last "@" separates the host; an "@" in front names no user.
  assert.deepEqual(hostSwitchPayload({host: 'a@b@dev'}), {host: 'dev', user: 'a@b'});
  assert.deepEqual(hostSwitchPayload({host: '@dev', port: '22'}), {host: 'dev'});
  assert.deepEqual(hostSwitchPayload({}), {host: ''});
});
