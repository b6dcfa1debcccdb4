// The listing worker: reads a folder's listing and orders it away from the page's thread. The
// page fetches the listing and hands its bytes over as they arrive; the worker decodes and
// parses them in pieces (app/listing-reader.js), passes each piece back as columns
// (app/listing-columns.js), which the page keeps without making an object per entry, and
// answers with the order of the entries (app/listing-order.js) as a list of their positions,
// first for the sort the page shows, later for any other asked for. It fetches nothing itself.
//
// Messages from the page: {type: 'open', listing, column, ascending}, {type: 'bytes', listing,
// bytes}, {type: 'end', listing} and {type: 'sort', listing, request, column, ascending}.
// Answers: {type: 'piece', listing, columns}, {type: 'listed', listing, order, column, ascending},
// {type: 'failed', listing, message} and {type: 'order', request, order} (order null when the
// listing is no longer held).

import {columnsOf, createListing} from './app/listing-columns.js';
import {foldersFirstOrder, sortValues} from './app/listing-order.js';
import {createListingReader} from './app/listing-reader.js';

// The listing being read (a new one replaces it), and the last one read whole, which the page
// shows until the next one is read whole.
let reading = null;
let held = null;

function orderOf(listing, column, ascending) {
  if (!listing.values.has(column)) {
    listing.values.set(column, listing.entries.sortValues(column));
  }
  return foldersFirstOrder(listing.folders, listing.values.get(column), ascending);
}

// Keeps the entries of each piece as columns, as the page does (the objects parsed are let go at
// once, which keeps the collector's work small), and their values for the listing's sort, worked
// out while the rest of the listing is on its way, so that its order is ready soon after the last
// byte.
function passOn(pieces) {
  for (const piece of pieces) {
    const values = sortValues(piece.items, reading.column);
    for (let i = 0; i < piece.items.length; i += 1) {
      reading.values.push(values[i]);
    }
    const columns = columnsOf(piece.items, reading.column === 'name' ? values : undefined);
    reading.entries.add(columns);
    self.postMessage({type: 'piece', listing: reading.id, columns});
  }
}

function handle(message) {
  switch (message.type) {
    case 'open':
      reading = {
        id: message.listing,
        reader: createListingReader(),
        decoder: new TextDecoder(),
        entries: createListing(),
        values: [],
        column: message.column,
        ascending: message.ascending,
      };
      break;
    case 'bytes':
      if (reading?.id === message.listing) {
        passOn(reading.reader.push(reading.decoder.decode(message.bytes, {stream: true})));
      }
      break;
    case 'end':
      if (reading?.id === message.listing) {
        passOn(reading.reader.push(reading.decoder.decode()));
        passOn(reading.reader.finish());
        const {column, ascending} = reading;
        held = {
          id: reading.id,
          entries: reading.entries,
          folders: reading.entries.folders(),
          values: new Map([[column, reading.values]]),
        };
        reading = null;
        const order = orderOf(held, column, ascending);
        self.postMessage(
            {type: 'listed', listing: held.id, order, column, ascending}, [order.buffer]);
      }
      break;
    case 'sort': {
      const order =
          held?.id === message.listing ? orderOf(held, message.column, message.ascending) : null;
      self.postMessage(
          {type: 'order', request: message.request, order}, order ? [order.buffer] : []);
      break;
    }
  }
}

self.onmessage = ({data}) => {
  try {
    handle(data);
  } catch (error) {
    if (data.type === 'sort') {
      self.postMessage({type: 'order', request: data.request, order: null});
      return;
    }
    if (reading?.id === data.listing) {
      reading = null;
    }
    self.postMessage({type: 'failed', listing: data.listing, message: String(error.message)});
  }
};
