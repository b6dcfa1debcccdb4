// Texts made from entry data: sizes, dates, and HTML-escaped text. Pure functions.

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
