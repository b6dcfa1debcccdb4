// The import check of the page's scripts (scripts/check-imports.mjs): the page's own modules pass;
// small module sets written for each case show that a cycle, however long, a write to the state
// record outside state.js and a change of a piece of state by another than its owner fail, while
// shared imports and comparisons do not.
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import {mkdirSync, mkdtempSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import path from 'node:path';
import {after, test} from 'node:test';

const checker = path.resolve('scripts/check-imports.mjs');
const scratch = mkdtempSync(path.join(tmpdir(), 'import-check-'));
after(() => rmSync(scratch, {recursive: true, force: true}));

// Writes `files` (name -> source) into a folder of their own and runs the check on main.js.
function checkModules(name, files) {
  const folder = path.join(scratch, name);
  mkdirSync(folder);
  for (const [file, source] of Object.entries(files)) {
    writeFileSync(path.join(folder, file), source);
  }
  const run = spawnSync(process.execPath, [checker, 'main.js'], {cwd: folder, encoding: 'utf8'});
  return {status: run.status, output: run.stdout + run.stderr};
}

test('the page\'s three scripts import one way and leave the state to state.js', () => {
  const run = spawnSync(process.execPath, [checker], {encoding: 'utf8'});
  assert.equal(run.status, 0, run.stdout + run.stderr);
  assert.match(run.stdout, /no cycle/);
});

test('a cycle fails, named module by module; the same modules imported one way pass', () => {
  const oneWay = {
    'main.js': 'import {a} from \'./a.js\';\nimport {b} from \'./b.js\';\nconsole.log(a, b);\n',
    // Two modules sharing a third is no cycle.
    'a.js': 'import {c} from \'./c.js\';\nexport const a = c + 1;\n',
    'b.js': 'import {c} from \'./c.js\';\nexport const b = c + 2;\n',
    'c.js': 'export const c = 0;\n',
  };
  const clean = checkModules('one-way', oneWay);
  assert.equal(clean.status, 0, clean.output);

  // c imports main back, through a and b: a cycle three modules long.
  const knotted = checkModules('cycle', {
    ...oneWay,
    'c.js': 'import {d} from \'./d.js\';\nexport const c = d;\n',
    'd.js': 'export const d = 0;\nexport function later() {\n  return import(\'./main.js\');\n}\n',
  });
  // A dynamic import is an import too.
  assert.equal(knotted.status, 1, knotted.output);
  assert.match(knotted.output, /cycle: a\.js -> c\.js -> d\.js -> main\.js -> a\.js/);

  const pair = checkModules('pair', {
    'main.js': 'import {a} from \'./a.js\';\nconsole.log(a);\n',
    'a.js': 'import {b} from \'./b.js\';\nexport const a = 1;\nexport const twice = () => b;\n',
    'b.js': 'import {a} from \'./a.js\';\nexport const b = () => a;\n',
  });
  assert.equal(pair.status, 1, pair.output);
  assert.match(pair.output, /cycle: a\.js -> b\.js -> a\.js/);
  assert.doesNotMatch(pair.output, /main\.js ->/);
});

test('state is written only by state.js, each piece by its owner; reading it anywhere is fine', () => {
  const stateModule = 'export const state = {count: 0, name: \'\'};\n' +
      '// The count; owner main.js.\n' +
      'export function setCount(count) {\n  state.count = count;\n}\n' +
      '// The name; owner other.js.\n' +
      'export function setName(name) {\n  state.name = name;\n}\n';
  const reader = checkModules('reads', {
    'main.js': 'import {setCount, state} from \'./state.js\';\n' +
        'if (state.count === 0 || state.count <= 2 || state.count >= 1 || state.name !== \'\') {\n' +
        '  setCount(state.count + 1);\n}\n' +
        '// state.count = 5 in a comment is no write\n',
    'state.js': stateModule,
  });
  assert.equal(reader.status, 0, reader.output);

  const writes = [
    'state.count = 2;', 'state.count += 1;', 'state.name ??= \'x\';', 'state.count++;',
    '--state.count;'
  ];
  writes.forEach((write, index) => {
    const writer = checkModules('writes-' + index, {
      'main.js': 'import {state} from \'./state.js\';\n' + write + '\n',
      'state.js': stateModule,
    });
    assert.equal(writer.status, 1, write + '\n' + writer.output);
    assert.match(writer.output, /state written outside state\.js: main\.js:2:/, write);
  });

  const foreign = checkModules('foreign', {
    'main.js':
        'import {setCount, setName as rename} from \'./state.js\';\nsetCount(1);\nrename(\'x\');\n',
    'state.js': stateModule,
  });
  assert.equal(foreign.status, 1, foreign.output);
  assert.match(
      foreign.output, /changed by another than its owner: main\.js: setName \(owner other\.js\)/);
  assert.doesNotMatch(foreign.output, /setCount/);
});
