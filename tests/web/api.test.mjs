// The page's one request function, against a stand-in for fetch: what counts as a success, and
// which message a failure carries, since every caller shows that message as it is.
import assert from 'node:assert/strict';
import {afterEach, test} from 'node:test';

import {apiRequest} from '../../web/js/app/api.js';

const realFetch = globalThis.fetch;
let requests = [];

// Answers every request with `status` and `body` (a value sent as JSON, or text as it is).
function answer(status, body) {
  globalThis.fetch = async (path, init) => {
    requests.push({path, init});
    const text = typeof body === 'string' ? body : JSON.stringify(body);
    return new Response(text, {status, headers: {'Content-Type': 'application/json'}});
  };
}

afterEach(() => {
  globalThis.fetch = realFetch;
  requests = [];
});

test('a success status resolves to the reply; a JSON body is sent as JSON', async () => {
  answer(200, {success: true, host: 'dev'});
  const reply = await apiRequest('/api/connect', {method: 'POST', json: {host: 'dev'}});
  assert.deepEqual(reply, {success: true, host: 'dev'});
  assert.equal(requests[0].path, '/api/connect');
  assert.equal(requests[0].init.method, 'POST');
  assert.deepEqual(requests[0].init.headers, {'Content-Type': 'application/json'});
  assert.equal(requests[0].init.body, '{"host":"dev"}');

  answer(200, []);
  assert.deepEqual(await apiRequest('/api/list?path=%2F'), []);
  assert.equal(requests[1].init.method, 'GET');
  assert.equal(requests[1].init.body, undefined);
});

test('a failure status rejects with the reply\'s error and the status', async () => {
  answer(401, {error: 'Not connected to SSH host'});
  await assert.rejects(apiRequest('/api/read?path=x'), {
    message: 'Not connected to SSH host',
    status: 401,
  });
  answer(500, {});
  await assert.rejects(
      apiRequest('/api/mkdir', {fallbackError: 'Create folder failed'}),
      {message: 'Create folder failed', status: 500});
  answer(404, null);
  await assert.rejects(apiRequest('/api/x'), {message: 'Request failed', status: 404});
});

test(
    'with requireSuccess, a success status still fails unless the reply says success', async () => {
      for (const reply of [{success: false, error: 'disk full'}, {success: 'yes'}, {}, null]) {
        answer(200, reply);
        await assert.rejects(
            apiRequest('/api/write', {requireSuccess: true, fallbackError: 'Write failed'}),
            {message: reply?.error ?? 'Write failed', status: 200}, JSON.stringify(reply));
      }
      answer(200, {success: true});
      assert.deepEqual(await apiRequest('/api/write', {requireSuccess: true}), {success: true});
    });

test('an unreadable reply or a failed request rejects with no status', async () => {
  answer(502, '<html>Bad Gateway</html>');
  const unreadable = await apiRequest('/api/status').catch((error) => error);
  assert.ok(unreadable instanceof SyntaxError, String(unreadable));
  assert.equal(unreadable.status, undefined);

  globalThis.fetch = async () => {
    throw new TypeError('Failed to fetch');
  };
  await assert.rejects(apiRequest('/api/status'), (error) => {
    return error.message === 'Failed to fetch' && error.status === undefined;
  });
});

test('onlyCheck leaves a success reply unread, and still reads a failure', async () => {
  answer(200, 'raw file bytes, not JSON');
  assert.equal(await apiRequest('/api/download?path=a', {onlyCheck: true}), null);
  answer(403, {error: 'Permission denied'});
  await assert.rejects(
      apiRequest('/api/download?path=a', {onlyCheck: true}),
      {message: 'Permission denied', status: 403});
});

test('a body is sent as it is, without a JSON content type', async () => {
  answer(200, {success: true});
  const file = new Blob(['bytes']);
  await apiRequest('/api/upload?path=%2Fa', {method: 'POST', body: file});
  assert.equal(requests[0].init.body, file);
  assert.equal(requests[0].init.headers, undefined);
});
