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
  const reply = await readReply(response);
  const succeeded = response.ok && (!requireSuccess || (reply && reply.success === true));
  if (!succeeded) {
    throw replyFailure(response, reply, fallbackError);
  }
  return reply;
}

// Reads a reply's JSON. A large reply (a folder of thousands of entries) is parsed in a task of
// its own, after the one that received and decoded it, so that no frame holds both.
export async function readReply(response) {
  const text = await response.text();
  if (text.length > LARGE_REPLY_CHARS) {
    await nextTask();
  }
  return JSON.parse(text);
}

// The error for a reply that did not succeed: its `error`, or `fallbackError` when it has
// none, with the HTTP status as its `status`.
export function replyFailure(response, reply, fallbackError) {
  const failure = new Error((reply && reply.error) || fallbackError);
  failure.status = response.status;
  return failure;
}

// Resolves in a later task, letting the browser draw a frame in between.
export function nextTask() {
  return new Promise((resolve) => setTimeout(resolve, 0));
}
