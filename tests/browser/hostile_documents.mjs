// Documents that try to make the page act: the shared pieces of the viewer's browser tests.

// Markdown and HTML that point at the program's own API in every way a URL can (each request
// that reached it would carry "probe-"), and an element that tries to cover the whole window.
export function apiProbes(programUrl) {
  const {origin, port} = new URL(programUrl);
  return [
    '# Probes',
    '![zero](/api/read?path=/probe-1)',
    '![relative](api/read?path=/probe-2)',
    `![absolute](${origin}/api/read?path=/probe-3)`,
    `![other name](http://localhost:${port}/api/read?path=/probe-4)`,
    `<img src="//127.0.0.1:${port}/api/read?path=/probe-5">`,
    '<img src="missing.png" srcset="/api/read?path=/probe-6 2x, missing.png 1x">',
    '<div style="background-image:url(/api/read?path=/probe-7);height:20px">styled</div>',
    '<video poster="./api/read?path=/probe-8"></video>',
    '<svg width="10" height="10"><image href="/api/read?path=/probe-9" width="10" height="10"/></svg>',
    '<table background="/api/read?path=/probe-10"><tr><td>t</td></tr></table>',
    '[api link](/api/download?path=/probe-11)',
    '<a href="/x/../api/read?path=/probe-12">dots</a>',
    '<div style="background:u\\72l(/api/read?path=/probe-13)">escaped</div>',
    '<svg width="10" height="10"><rect width="10" height="10" fill="url(/api/read?path=/probe-14#g)"/></svg>',
    '<div style="background-image:image-set(\'/api/read?path=/probe-15\' 1x);height:20px">set</div>',
    '<div style="--x:url(/api/read?path=/probe-16);background:var(--x)">variable</div>',
    `<input type="image" src="http://[::1]:${port}/api/read?path=/probe-17">`,
    '[outside](https://example.com/docs) and ![kept](picture.png)',
    '<div style="position:fixed;inset:0;z-index:99999;background:red">cover</div>',
    '',
  ].join('\n\n');
}

// Forms that the viewer's URL filter once let through, each requesting /api/status with no
// click when nothing guards the page (marked "probe-bN"): srcset candidates whose URL holds a
// comma, and CSS escapes of control characters, which the browser decodes and the URL parser
// then drops.
export const FILTER_BYPASSES = [
  '<img srcset="/none.png 9x,/y,a:/../api/status?probe-b1 1x">',
  '<picture><source srcset="/none.png 9x,/y,a:/../api/status?probe-b2 1x"><img alt="p"></picture>',
  '<img sizes="10px" srcset="/none.png 900w,/y,a:/../api/status?probe-b3 10w">',
  String.raw`<div style="background-image:url('/ap\a i/status?probe-b4');height:8px"></div>`,
  String.raw`<div style="background-image:url('/ap\9 i/status?probe-b5');height:8px"></div>`,
  String.raw`<div style="background-image:url('/ap\d i/status?probe-b6');height:8px"></div>`,
  String.raw`<div style="background-image:url('\1 /api/status?probe-b7');height:8px"></div>`,
  String.raw`<div style="background-image:url(\a /api/status?probe-b8);height:8px"></div>`,
  String
      .raw`<div style="background-image:image-set('/ap\a i/status?probe-b9' 1x);height:8px"></div>`,
  String.raw`<div style="cursor:url('/ap\a i/status?probe-b10'),auto;height:8px"></div>`,
  String.raw`<div style="border:8px solid;border-image:url('/ap\a i/status?probe-b11') 8"></div>`,
];

// The numbers of the "probe-bN" markers in `urls`, sorted.
export function bypassMarkers(urls) {
  const found = new Set();
  for (const url of urls) {
    for (const match of url.matchAll(/probe-b(\d+)/g)) found.add(Number(match[1]));
  }
  return [...found].sort((a, b) => a - b);
}
