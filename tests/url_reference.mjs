// Reads one JSON string per line (a request target) from the file named by the first
// argument and prints, per line, how Node's URL parses "http://localhost" + that target:
// {"ok":true,"host","port","path","query","fragment"} with null for an absent port, query
// or fragment, or {"ok":false} when the parse fails.
import {readFileSync} from 'node:fs';

const lines = readFileSync(process.argv[2], 'utf8').split('\n').filter((line) => line !== '');
const out = [];
for (const line of lines) {
  const target = JSON.parse(line);
  let url;
  try {
    url = new URL('http://localhost' + target);
  } catch {
    out.push(JSON.stringify({ok: false}));
    continue;
  }
  // A literal "#" in the serialization can only start the fragment, and a literal "?" before
  // it can only start the query: everywhere else those characters are percent-encoded.
  const href = url.href;
  const hashAt = href.indexOf('#');
  const beforeHash = hashAt < 0 ? href : href.slice(0, hashAt);
  const hasQuery = beforeHash.includes('?');
  out.push(JSON.stringify({
    ok: true,
    host: url.hostname,
    port: url.port === '' ? null : Number(url.port),
    path: url.pathname,
    query: hasQuery ? url.search.slice(1) : null,
    fragment: hashAt >= 0 ? url.hash.slice(1) : null,
  }));
}
process.stdout.write(out.join('\n') + '\n');
