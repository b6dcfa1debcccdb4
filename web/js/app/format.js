// Texts made from entry data: sizes, dates, HTML-escaped text and the parts of a name that a
// cut keeps. Pure functions.

const SIZE_UNITS = ['B', 'KB', 'MB', 'GB', 'TB'];

// "1.5 KB": the unit is chosen first (sizes of 1024 TB and more stay in TB), then the value
// is taken to the nearer tenth.
export function formatFileSize(bytes) {
  const value = Number(bytes);
  if (!(value > 0)) {
    return '0 B';
  }
  let unit = 0;
  while (unit < SIZE_UNITS.length - 1 && value >= Math.pow(1024, unit + 1)) {
    unit += 1;
  }
  const rounded = Math.round((value / Math.pow(1024, unit)) * 10) / 10;
  return rounded + ' ' + SIZE_UNITS[unit];
}

// Made once: a formatter made with options for every row costs more than the rest of the
// row together.
const TIME_FORMAT = new Intl.DateTimeFormat([], {hour: '2-digit', minute: '2-digit'});
const DAY_FORMAT = new Intl.DateTimeFormat([], {month: 'short', day: 'numeric', year: 'numeric'});

// Today's times as hours and minutes, other days as the date, in the browser's locale.
export function formatDate(timestamp) {
  if (!timestamp) {
    return '--';
  }
  const date = new Date(Number(timestamp) * 1000);
  if (Number.isNaN(date.getTime())) {
    return '--';
  }
  const today = new Date();
  if (date.getDate() === today.getDate() && date.getMonth() === today.getMonth() &&
      date.getFullYear() === today.getFullYear()) {
    return TIME_FORMAT.format(date);
  }
  return DAY_FORMAT.format(date);
}

const HTML_ESCAPES = {
  '&': '&amp;',
  '<': '&lt;',
  '>': '&gt;',
  "'": '&#39;',
  '"': '&quot;'
};

// A remote name's byte that is not UTF-8 arrives as a lone surrogate (U+DC80 to U+DCFF), and
// the page keeps it in the name so that the name leads back to the same file.
const ANY_SURROGATE = /[\uD800-\uDFFF]/;
// A surrogate pair, or else a lone surrogate.
const SURROGATES = /[\uD800-\uDBFF][\uDC00-\uDFFF]|[\uD800-\uDFFF]/g;

// The text as shown: each lone surrogate becomes U+FFFD. For display only; the text itself
// stays what names the file.
export function readableText(text) {
  const string = String(text);
  if (!ANY_SURROGATE.test(string)) {
    return string;
  }
  return string.replace(SURROGATES, (piece) => (piece.length === 2 ? piece : '\uFFFD'));
}

// Text for markup, readable (as readableText) and with the characters of markup escaped.
export function escapeHtml(text) {
  if (text === undefined || text === null || text === '') {
    return '';
  }
  return readableText(text).replace(/[&<>'"]/g, (character) => HTML_ESCAPES[character]);
}

// How many characters of a name's stem stay in view beside its extension when the name is cut,
// and how long an extension may be (with its dot) to be kept whole.
const KEPT_STEM_END = 3;
const LONGEST_KEPT_EXTENSION = 10;
// Marks (variation selectors among them) and joiners belong to the character before them.
const JOINS_PREVIOUS = /^(?:\p{M}|\u200c|\u200d)/u;
// Right-to-left letters and bidirectional controls: two separately laid-out parts of such a
// name could show its characters out of order.
const BIDI_SENSITIVE =
    /[\u0590-\u08ff\ufb1d-\ufdff\ufe70-\ufeff\u200e\u200f\u202a-\u202e\u2066-\u2069\u{10800}-\u{10fff}\u{1e800}-\u{1efff}]/u;

// A name split where a cut leaves out its middle: [head, tail], the tail being the extension
// (".txt") with the last few characters of the stem before it, or the name's last few
// characters when it has no short extension. The head takes the ellipsis when the name does not
// fit, so that the tail, and the extension with it, stays in view. A name too short to gain
// from it, or holding right-to-left text, is not split: [name, ''].
export function nameParts(name) {
  const text = String(name ?? '');
  if (BIDI_SENSITIVE.test(text)) {
    return [text, ''];
  }
  const characters = Array.from(text);
  const dot = characters.lastIndexOf('.');
  const extension =
      dot > 0 && characters.length - dot <= LONGEST_KEPT_EXTENSION ? characters.length - dot : 0;
  let split = characters.length - extension - KEPT_STEM_END;
  while (split > 0 &&
         (JOINS_PREVIOUS.test(characters[split]) || characters[split - 1] === '\u200d')) {
    split -= 1;
  }
  if (split <= 1) {
    return [text, ''];
  }
  return [characters.slice(0, split).join(''), characters.slice(split).join('')];
}
