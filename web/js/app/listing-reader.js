// Reads a folder's listing, a JSON array of entries, as its text arrives, in pieces that each
// hold whole entries: a piece is the text of a JSON array of its own with those entries, and
// the entries parsed from it. The listing worker parses each piece as it comes and hands its
// text on to the page, which parses it again in a task of its own, so that no task of the page
// ever parses a whole large listing.
//
// A piece ends at a "}," that ends an entry. Such a pair is looked for with indexOf, and the
// piece is taken only when it parses as an array: a cut inside a name (one that holds "},")
// leaves a text without its closing quote, and a cut inside an entry leaves brackets open, and
// either fails to parse. After the first such failure the reader finds the ends of entries by
// walking the text (its strings, brackets and commas) instead.

// About 64 KiB of text a piece (some 280 entries): the page's task for a piece, which parses it
// and keeps its entries, stays within a few milliseconds even on a busy machine.
export const PIECE_CHARS = 1 << 16;

const NOT_A_LISTING = 'Failed to list directory';

export function createListingReader(pieceChars = PIECE_CHARS) {
  // 'start' until the first character that is not blank; 'array' while reading the entries
  // of an array, from the start of an entry on; 'other' for a reply that is not an array.
  let mode = 'start';
  let text = '';
  let walking = false;
  // How far indexOf has looked; where the walk stopped in `text`, and the depth of brackets
  // there.
  let searched = 0;
  let walked = 0;
  let depth = 0;
  let piecesTaken = 0;

  // The index of the comma after an entry that ends at or after `from`, or -1 when the text
  // has none yet.
  function entryEnd(from) {
    if (!walking) {
      const at = text.indexOf('},', Math.max(from - 1, searched));
      if (at < 0) {
        searched = Math.max(0, text.length - 1);
        return -1;
      }
      return at + 1;
    }
    let i = walked;
    while (i < text.length) {
      const code = text.charCodeAt(i);
      if (code === 0x22) {
        const close = stringEnd(i + 1);
        if (close < 0) {
          break;
        }
        i = close + 1;
        continue;
      }
      if (code === 0x7b || code === 0x5b) {
        depth += 1;
      } else if (code === 0x7d || code === 0x5d) {
        depth -= 1;
      } else if (code === 0x2c && depth === 0 && i >= from) {
        walked = i;
        return i;
      }
      i += 1;
    }
    walked = i;
    return -1;
  }

  // The index of the quote that closes the string whose text starts at `from`, or -1.
  function stringEnd(from) {
    for (let at = text.indexOf('"', from); at >= 0; at = text.indexOf('"', at + 1)) {
      let backslashes = 0;
      while (text.charCodeAt(at - 1 - backslashes) === 0x5c) {
        backslashes += 1;
      }
      if (backslashes % 2 === 0) {
        return at;
      }
    }
    return -1;
  }

  function takePieces() {
    const pieces = [];
    while (text.length >= pieceChars) {
      const end = entryEnd(pieceChars);
      if (end < 0) {
        break;
      }
      const pieceText = '[' + text.slice(0, end) + ']';
      let items;
      try {
        items = JSON.parse(pieceText);
      } catch (error) {
        if (walking) {
          throw error;
        }
        walking = true;
        continue;
      }
      pieces.push({text: pieceText, items});
      piecesTaken += 1;
      text = text.slice(end + 1);
      searched = 0;
      walked = 0;
      depth = 0;
    }
    return pieces;
  }

  return {
    // Takes the next part of the text; returns the pieces complete so far, maybe none.
    push(part) {
      text += part;
      if (mode === 'start') {
        // JSON's blanks only: anything else before "[" makes the text no array.
        const first = text.search(/[^ \t\n\r]/);
        if (first < 0) {
          return [];
        }
        mode = text[first] === '[' ? 'array' : 'other';
        if (mode === 'array') {
          text = text.slice(first + 1);
        }
      }
      return mode === 'array' ? takePieces() : [];
    },
    // The end of the text: returns the last piece. Throws the parser's error for a text that
    // is not JSON or is cut short, and "Failed to list directory" for JSON that is no array.
    finish() {
      if (mode !== 'array') {
        JSON.parse(text);
        throw new Error(NOT_A_LISTING);
      }
      const pieceText = '[' + text;
      const items = JSON.parse(pieceText);
      // A comma before the closing bracket ("[{...},]") parses, as a piece, to no entries.
      if (items.length === 0 && piecesTaken > 0) {
        throw new SyntaxError('Unexpected "]" after a comma in the listing');
      }
      return [{text: pieceText, items}];
    },
  };
}
