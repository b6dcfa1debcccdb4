// Checks the import graph of the page's scripts: esbuild resolves every import from the entries
// (the three scripts the page loads and the listing worker's, or the entries named on the command
// line) and this walks
// what it found. It fails on
//   - an import cycle: modules must import one another one way only, so that each can be read,
//     changed and tested knowing only what lies below it;
//   - a write to the shared `state` record outside state.js (`state.x = ...`, `state.x += ...`):
//     every piece of it is changed through state.js's functions, by its one owner;
//   - an import of such a function by another module than its owner, which state.js names in a
//     comment "owner <module>.js" above the functions of each piece.
// Prints each fault found and exits 1; prints a one-line summary and exits 0 when there is none.
// scripts/check-format.sh runs it.
import * as esbuild from 'esbuild';
import {readFileSync} from 'node:fs';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const sourceDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const PAGE_ENTRIES = [
  'web/js/app/main.js', 'web/js/markdown_viewer.js', 'web/js/feedback.js',
  'web/js/listing-worker.js'
];

// A plain or compound assignment to a field of `state` (not a comparison), and a step of one.
const STATE_WRITES = [
  /\bstate\.\w+\s*(?:\*\*|<<|>>>?|&&|\|\||\?\?|[-+*/%&|^])?=(?!=)/,
  /\bstate\.\w+\s*(?:\+\+|--)|(?:\+\+|--)\s*state\.\w+/,
];

// The import graph of the entries: module path (relative to the working directory, as esbuild
// names it) -> the module paths it imports.
async function importGraph(entries) {
  const result = await esbuild.build({
    entryPoints: entries,
    bundle: true,
    write: false,
    metafile: true,
    format: 'esm',
    outdir: 'unused',
    logLevel: 'silent',
  });
  const graph = new Map();
  for (const [file, input] of Object.entries(result.metafile.inputs)) {
    // Paths in angle brackets name esbuild's own modules, not files.
    const targets = input.imports.map((entry) => entry.path);
    graph.set(file, targets.filter((target) => !target.startsWith('<')));
  }
  return graph;
}

// The cycles that a depth-first walk of the graph meets, each as the list of modules around it,
// starting from the first of them in sorted order. An import of a module still on the walk's path
// closes a cycle; the walk meets at least one cycle wherever there is any, though not every one
// through modules it has already finished.
export function findCycles(graph) {
  const cycles = new Map();
  const done = new Set();
  const onPath = [];
  const visit = (file) => {
    const at = onPath.indexOf(file);
    if (at >= 0) {
      const cycle = onPath.slice(at);
      const first = cycle.indexOf([...cycle].sort()[0]);
      const turned = [...cycle.slice(first), ...cycle.slice(0, first)];
      cycles.set(turned.join('\n'), turned);
      return;
    }
    if (done.has(file)) {
      return;
    }
    onPath.push(file);
    for (const target of graph.get(file) || []) {
      visit(target);
    }
    onPath.pop();
    done.add(file);
  };
  for (const file of [...graph.keys()].sort()) {
    visit(file);
  }
  return [...cycles.values()];
}

// The lines outside state.js that write to the state record, as "file:line: text".
function stateWrites(files) {
  const writes = [];
  for (const file of files) {
    if (path.basename(file) === 'state.js') {
      continue;
    }
    readFileSync(file, 'utf8').split('\n').forEach((line, index) => {
      const code = line.replace(/\/\/.*$/, '');
      if (STATE_WRITES.some((pattern) => pattern.test(code))) {
        writes.push(file + ':' + (index + 1) + ': ' + line.trim());
      }
    });
  }
  return writes;
}

// The owner of each function that state.js exports: the module named by the last
// "owner <module>.js" above it (null before the first).
function stateOwners(stateFile) {
  const owners = new Map();
  let owner = null;
  for (const line of readFileSync(stateFile, 'utf8').split('\n')) {
    owner = line.match(/\bowner ([\w-]+\.js)\b/)?.[1] ?? owner;
    const exported = line.match(/^export function (\w+)/);
    if (exported) {
      owners.set(exported[1], owner);
    }
  }
  return owners;
}

// The imports of state.js's functions by modules other than their owners, as
// "file: name (owner)".
function foreignStateChanges(files) {
  const stateFile = files.find((file) => path.basename(file) === 'state.js');
  if (!stateFile) {
    return [];
  }
  const owners = stateOwners(stateFile);
  const faults = [];
  for (const file of files) {
    const source = readFileSync(file, 'utf8');
    for (const match of source.matchAll(/import\s*\{([^}]*)\}\s*from\s*'[^']*\/state\.js'/g)) {
      for (const name of match[1].split(',').map((part) => part.trim().split(/\s+as\s+/)[0])) {
        const owner = owners.get(name);
        if (owner !== undefined && owner !== path.basename(file)) {
          faults.push(
              file + ': ' + name + ' (' + (owner ? 'owner ' + owner : 'no owner named') + ')');
        }
      }
    }
  }
  return faults;
}

async function main() {
  const entries = process.argv.length > 2 ? process.argv.slice(2) : PAGE_ENTRIES;
  if (process.argv.length <= 2) {
    process.chdir(sourceDir);
  }
  let graph;
  try {
    graph = await importGraph(entries);
  } catch (error) {
    console.error('imports: the modules do not build:', error.message);
    process.exit(1);
  }
  const cycles = findCycles(graph);
  const writes = stateWrites([...graph.keys()]);
  const foreign = foreignStateChanges([...graph.keys()]);
  for (const cycle of cycles) {
    console.error('imports: cycle: ' + [...cycle, cycle[0]].join(' -> '));
  }
  for (const write of writes) {
    console.error('imports: state written outside state.js: ' + write);
  }
  for (const change of foreign) {
    console.error('imports: a piece of state changed by another than its owner: ' + change);
  }
  if (cycles.length > 0 || writes.length > 0 || foreign.length > 0) {
    process.exit(1);
  }
  console.log(
      'imports: ' + graph.size + ' modules, no cycle, each piece of state changed by its owner');
}

await main();
