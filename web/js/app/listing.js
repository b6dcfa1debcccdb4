// A folder's listing, read and ordered by the listing worker (web/js/listing-worker.js) so that
// no task of the page parses or sorts a large folder: the page fetches the listing and hands
// the worker its bytes as they arrive, keeps the columns of the pieces the worker passes back
// (listing-columns.js), and takes the order of the entries from the worker, for the listing's
// sort and for any later one.

import {readReply, replyFailure} from './api.js';
import {createListing} from './listing-columns.js';
import {encodePathParameter} from './paths.js';

const WORKER_SCRIPT = '/js/listing-worker.js';

let worker = null;
let listingCount = 0;
let requestCount = 0;
// The listing being read: {id, controller, entries, resolve, reject}; only the latest
// one asked for is read on.
let reading = null;
// The answers awaited to sort requests: request number -> resolve(order or null).
const orderRequests = new Map();

function listingWorker() {
  if (worker === null) {
    worker = new Worker(WORKER_SCRIPT);
    worker.addEventListener('message', ({data}) => handleAnswer(data));
    // A worker that cannot run (its script not served, say) fails what waits on it; the next
    // listing starts another.
    worker.addEventListener('error', (event) => {
      event.preventDefault();
      worker = null;
      reading?.reject(
          new Error('The listing could not be read: ' + (event.message || 'no worker')));
      reading = null;
      for (const resolve of orderRequests.values()) {
        resolve(null);
      }
      orderRequests.clear();
    });
  }
  return worker;
}

function handleAnswer(message) {
  if (message.type === 'order') {
    orderRequests.get(message.request)?.(message.order);
    orderRequests.delete(message.request);
    return;
  }
  if (reading === null || message.listing !== reading.id) {
    return;
  }
  const read = reading;
  if (message.type === 'piece') {
    read.entries.add(message.columns);
  } else if (message.type === 'listed') {
    reading = null;
    const {order, column, ascending} = message;
    read.resolve({listing: read.id, entries: read.entries, order, column, ascending});
  } else if (message.type === 'failed') {
    reading = null;
    read.reject(new Error(message.message));
  }
}

// An error that says a later listing took this one's place; nobody need show it.
function supersededError() {
  const error = new Error('A later listing was asked for');
  error.superseded = true;
  return error;
}

// Lists the folder `path`, its entries ordered for the sort `column` and `ascending`. Resolves
// to {listing, entries, order, column, ascending}: the listing's number, its entries in the
// listing's order (a listing of listing-columns.js), and the positions of the entries in the
// order shown. A listing asked for later stops this one, which rejects with `superseded` set.
// A failed request rejects as apiRequest does, with `fallbackError` for a reply without error.
export async function readListing(path, {column, ascending, fallbackError}) {
  if (reading !== null) {
    reading.controller.abort();
    reading.reject(supersededError());
  }
  const read = {id: ++listingCount, controller: new AbortController(), entries: createListing()};
  const listed = new Promise((resolve, reject) => {
    read.resolve = resolve;
    read.reject = reject;
  });
  // Nobody waits on it until the bytes are all handed over.
  listed.catch(() => {});
  reading = read;
  try {
    const response = await fetch(
        '/api/list?path=' + encodePathParameter(path), {signal: read.controller.signal});
    if (!response.ok) {
      throw replyFailure(response, await readReply(response), fallbackError);
    }
    const target = listingWorker();
    target.postMessage({type: 'open', listing: read.id, column, ascending});
    const body = response.body.getReader();
    for (let part = await body.read(); !part.done; part = await body.read()) {
      // Failed in the worker, or stopped for a later listing: `listed` says which.
      if (reading !== read) {
        body.cancel();
        return listed;
      }
      target.postMessage({type: 'bytes', listing: read.id, bytes: part.value}, [part.value.buffer]);
    }
    target.postMessage({type: 'end', listing: read.id});
  } catch (error) {
    if (reading === read) {
      reading = null;
    }
    throw read.controller.signal.aborted ? supersededError() : error;
  }
  return listed;
}

// The order of the entries of listing number `listing` for the sort `column` and `ascending`:
// resolves to their positions, or to null when the worker no longer holds that listing.
export function requestOrder(listing, column, ascending) {
  const request = ++requestCount;
  const answer = new Promise((resolve) => orderRequests.set(request, resolve));
  listingWorker().postMessage({type: 'sort', listing, request, column, ascending});
  return answer;
}
