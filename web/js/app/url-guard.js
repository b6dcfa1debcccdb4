// The URL checks on text from outside the program: whether a URL of a viewed document would
// reach the program's own API (read from srcset lists and CSS as the browser reads them), and
// whether an address from a service is a web address. Pure functions.

const isWebUrl = (url) => url.protocol === 'http:' || url.protocol === 'https:';

const defaultPort = (url) => (url.protocol === 'https:' ? '443' : '80');

// Whether `text` is an absolute http or https address.
export function isWebAddress(text) {
  try {
    return isWebUrl(new URL(text));
  } catch (error) {
    return false;
  }
}

// The program's API answers on the page's own port; reads there can be endless (a device, a
// pipe) and a viewed document must never make the program act. So every URL of the document
// that would reach that port under /api counts, whatever its spelling: relative,
// protocol-relative, another name of this machine, dot segments or percent escapes. `pageUrl`
// is the page's address, which relative URLs are resolved against.
export function targetsProgramApi(value, pageUrl) {
  let url;
  try {
    url = new URL(value.trim(), pageUrl);
  } catch (error) {
    return false;  // the browser cannot parse it either, so it requests nothing
  }
  if (!isWebUrl(url)) return false;
  const page = new URL(pageUrl);
  if ((url.port || defaultPort(url)) !== (page.port || defaultPort(page))) return false;
  let path = url.pathname;
  try {
    path = decodeURIComponent(path);
  } catch (error) {
    // A malformed escape stays as it is.
  }
  path = path.toLowerCase();
  return path === '/api' || path.startsWith('/api/');
}

const isHtmlSpace = (character) => character === ' ' || character === '\t' || character === '\n' ||
    character === '\f' || character === '\r';

// The URLs of a srcset list, read by the HTML standard's candidate parsing, as the browser
// reads them: white space and commas before a candidate are skipped; its URL runs up to white
// space (commas inside it are part of it, those at its end are dropped and end the candidate);
// its descriptors run up to a comma outside parentheses. Every candidate's URL is taken, also
// where the browser would refuse its descriptors.
export function srcsetUrls(value) {
  const urls = [];
  let at = 0;
  for (;;) {
    while (at < value.length && (isHtmlSpace(value[at]) || value[at] === ',')) at += 1;
    if (at >= value.length) return urls;
    const start = at;
    while (at < value.length && !isHtmlSpace(value[at])) at += 1;
    const url = value.slice(start, at);
    urls.push(url.replace(/,+$/, ''));
    if (url.endsWith(',')) continue;
    let inParentheses = false;
    while (at < value.length) {
      const character = value[at++];
      if (inParentheses) {
        if (character === ')') inParentheses = false;
      } else if (character === '(') {
        inParentheses = true;
      } else if (character === ',') {
        break;
      }
    }
  }
}

// A CSS escape: a backslash with one to six hex digits and one white space after them, or a
// backslash with any other character.
const CSS_ESCAPE = String.raw`\\(?:[0-9a-fA-F]{1,6}(?:\r\n|[ \t\n\r\f])?|\r\n|[\s\S])`;

// Text of a CSS token with its escapes decoded as CSS decodes them: a hex escape is that code
// point (U+FFFD for zero, a surrogate or beyond Unicode), so "\a " is a line break, which the
// URL parser then drops; an escaped line break continues a string; any other escaped character
// stands for itself.
export function decodeCssEscapes(text) {
  return text.replace(new RegExp(CSS_ESCAPE, 'g'), (escape) => {
    const hex = /^\\([0-9a-fA-F]{1,6})/.exec(escape);
    if (!hex) return /^\\[\n\r\f]/.test(escape) ? '' : escape.slice(1);
    const code = parseInt(hex[1], 16);
    if (code === 0 || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return '\uFFFD';
    return String.fromCodePoint(code);
  });
}

const CSS_URL_TOKENS = new RegExp(
    String.raw`url\(\s*((?:[^"'()\s\\]|${CSS_ESCAPE})*)|` +
        String.raw`"((?:[^"\\\n]|${CSS_ESCAPE})*)"|'((?:[^'\\\n]|${CSS_ESCAPE})*)'`,
    'gi');

// The URLs named in CSS text: those of unquoted url(...) and every quoted string (url("..."),
// and image-set, which takes plain strings), escapes decoded.
export function cssUrlCandidates(cssText) {
  const found = [];
  for (const match of cssText.matchAll(CSS_URL_TOKENS)) {
    const token = match[1] ?? match[2] ?? match[3];
    if (token) found.push(decodeCssEscapes(token));
  }
  return found;
}
