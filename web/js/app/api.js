// The one function that makes the page's requests to the local server and maps their failures.

const LARGE_REPLY_CHARS = 256 * 1024;

// Makes one request to the local server and reads its JSON reply. Resolves to the reply
// when the HTTP status is a success status (and, with `requireSuccess`, when the reply's
// `success` is true). Otherwise rejects with an Error whose message is the reply's `error`,
// or `fallbackError` when the reply has none, and with the HTTP status as its `status`; a
// failed request or an unreadable reply rejects with the browser's own error (no `status`).
// With `onlyCheck` a success reply is not read (it may be a file's bytes) and resolves to
// null; `signal` can then abort the rest of it.
export async function apiRequest(path, options = {}) {
  const {
    method = 'GET',
    json,
    body,
    requireSuccess = false,
    fallbackError = 'Request failed',
    onlyCheck = false,
    signal,
  } = options;
  const init = {method, signal};
  if (json !== undefined) {
    init.headers = {'Content-Type': 'application/json'};
    init.body = JSON.stringify(json);
  } else if (body !== undefined) {
    init.body = body;
  }
  const response = await fetch(path, init);
  if (onlyCheck && response.ok) {
    return null;
  }
  const text = await response.text();
  // A large reply (a folder of thousands of entries) is parsed in a task of its own, after the
  // one that received and decoded it, so that no frame holds both.
  if (text.length > LARGE_REPLY_CHARS) {
    await nextTask();
  }
  const reply = JSON.parse(text);
  const succeeded = response.ok && (!requireSuccess || (reply && reply.success === true));
  if (!succeeded) {
    const failure = new Error((reply && reply.error) || fallbackError);
    failure.status = response.status;
    throw failure;
  }
  return reply;
}

// Resolves in a later task, letting the browser draw a frame in between.
export function nextTask() {
  return new Promise((resolve) => setTimeout(resolve, 0));
}
