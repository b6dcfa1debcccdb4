// The URL checks: which URLs of a viewed document would reach the program's API (read from
// srcset lists and CSS as the browser reads them), and which addresses from a service may
// become a link. The hostile documents are those the viewer's browser tests load.
import assert from 'node:assert/strict';
import {test} from 'node:test';

import {cssUrlCandidates, decodeCssEscapes, isWebAddress, srcsetUrls, targetsProgramApi} from '../../web/js/app/url-guard.js';
import {FILTER_BYPASSES} from '../browser/hostile_documents.mjs';

const PAGE = 'http://127.0.0.1:41234/index.html';
const reachesApi = (value) => targetsProgramApi(value, PAGE);

test('every spelling of a URL to the API on the page\'s port is caught', () => {
  const spellings = [
    '/api/read?path=/etc/passwd', 'api/read', './api/read', '/api', '/API/Status',
    '  /api/status\n', '/x/../api/status', '/x/%2e%2e/api/status', '/%61pi/status',
    '//127.0.0.1:41234/api/status', 'http://localhost:41234/api/status',
    'http://[::1]:41234/api/status', 'https://other.example:41234/api/status',
    'http://127.0.0.1:41234/api/%E0%A4%A',  // a malformed escape after the prefix
  ];
  for (const value of spellings) assert.equal(reachesApi(value), true, value);
});

test('URLs elsewhere, or that request nothing, are let through', () => {
  const others = [
    'picture.png',
    '/none.png',
    '#section',
    '/apiary/x',
    '/x/api/status',
    '/%2fapi/status',
    'https://example.com/docs',
    'http://127.0.0.1:41235/api/status',
    'http://127.0.0.1/api/status',
    'javascript:alert(1)',
    'data:text/plain,/api/status',
    'ftp://127.0.0.1:41234/api/status',
    'http://[',
  ];
  for (const value of others) assert.equal(reachesApi(value), false, value);
});

test('without a port the scheme\'s own port is compared', () => {
  assert.equal(targetsProgramApi('http://localhost/api/status', 'http://127.0.0.1/'), true);
  assert.equal(targetsProgramApi('https://localhost/api/status', 'http://127.0.0.1/'), false);
  assert.equal(targetsProgramApi('//h:443/api', 'https://127.0.0.1/index.html'), true);
});

test('srcset candidates are split as the browser splits them', () => {
  const cases = [
    ['a.png 1x, b.png 2x', ['a.png', 'b.png']],
    ['a.png, b.png', ['a.png', 'b.png']],
    [' ,, a.png,,, ', ['a.png']],
    ['a.png\f1x,\nb.png\t2x', ['a.png', 'b.png']],
    // A comma inside a URL is part of it; one inside parentheses does not end the descriptors.
    ['a.png,b.png', ['a.png,b.png']],
    ['/none.png 9x,/y,a:/../api/status 1x', ['/none.png', '/y,a:/../api/status']],
    ['a.png 100w (x, y), b.png', ['a.png', 'b.png']],
    ['', []],
  ];
  for (const [value, urls] of cases) assert.deepEqual(srcsetUrls(value), urls, value);
});

test('CSS escapes are decoded as CSS decodes them', () => {
  const cases = [
    [String.raw`/ap\a i`, '/ap\ni'], [String.raw`/ap\9 i`, '/ap\ti'],
    [String.raw`/ap\d i`, '/ap\ri'], [String.raw`\1 /api`, '\u0001/api'],
    [String.raw`u\72l(`, 'url('],
    ['\\61\r\nb', 'ab'],         // a CRLF after a hex escape is one white space
    [String.raw`\000061`, 'a'],  // six digits at most, no white space needed
    [String.raw`\0 x\d800 \110000 `, '\uFFFDx\uFFFD\uFFFD'], ['\\"q\\\\', '"q\\'],
    ['a\\\nb\\\r\nc', 'abc'],  // an escaped line break continues the string
  ];
  for (const [text, decoded] of cases) assert.equal(decodeCssEscapes(text), decoded, text);
});

test('the URLs of CSS text: unquoted url(), and every quoted string', () => {
  assert.deepEqual(
      cssUrlCandidates(String.raw`background: url( a.png ), url("b.png"), URL('c\61.png')`),
      ['a.png', 'b.png', 'ca.png']);
  assert.deepEqual(
      cssUrlCandidates(String.raw`background-image: image-set("/x.png" 1x, '/y.png' 2x)`),
      ['/x.png', '/y.png']);
  assert.deepEqual(
      cssUrlCandidates(String.raw`cursor: url(\a /api/status), auto`), ['\n/api/status']);
  assert.deepEqual(cssUrlCandidates('color: red; width: 10px'), []);
});

// The value of each srcset or style attribute of the hostile markup.
function attributeValues(markup) {
  return Array.from(
      markup.matchAll(/\s(srcset|style)="([^"]*)"/g), ([, name, value]) => ({name, value}));
}

test('none of the forms that once got past the filter gets past it', () => {
  assert.equal(FILTER_BYPASSES.length > 0, true);
  for (const markup of FILTER_BYPASSES) {
    const attributes = attributeValues(markup);
    assert.equal(attributes.length > 0, true, markup);
    const caught = attributes.some(
        ({name, value}) =>
            (name === 'srcset' ? srcsetUrls(value) : cssUrlCandidates(value)).some(reachesApi));
    assert.equal(caught, true, markup);
  }
});

test('only an absolute http or https address is a web address', () => {
  for (const text of ['https://github.com/o/r/issues/7', 'http://example.com', 'HTTPS://X.ORG']) {
    assert.equal(isWebAddress(text), true, text);
  }
  const others = [
    'javascript:alert(1)',
    'data:text/html,<b>x</b>',
    'file:///etc/passwd',
    '/issues/7',
    'github.com/o/r',
    '',
  ];
  for (const text of others) assert.equal(isWebAddress(text), false, text);
});
