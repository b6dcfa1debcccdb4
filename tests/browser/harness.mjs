// Shared helpers for the browser tests (tests/browser/*.test.mjs): the local OpenSSH server,
// the program in browser mode with a fake opener, headless Chromium, screenshots kept as
// artifacts, and files on the "remote" side. Every wait here is bounded.
import {execFile, spawn} from 'node:child_process';
import {chmodSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, symlinkSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';
import {chromium} from 'playwright-core';

export const repositoryRoot = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const artifactsDirectory = join(repositoryRoot, 'test-artifacts', 'browser');
const sshdScript = join(repositoryRoot, 'tests', 'support', 'sshd.sh');

export const programPath = () => process.env.WRENFIELD_BIN ||
    join(process.env.WRENFIELD_BUILD_DIR || join(repositoryRoot, 'build'), 'wrenfield');

// Children still running when the test process ends get killed, so that a failed test leaves
// no program behind (the sshd has a watcher of its own).
const livePrograms = new Set();
process.on('exit', () => {
  for (const child of livePrograms) {
    try {
      child.kill('SIGKILL');
    } catch { /* already gone */
    }
  }
});

// Resolves with the promise's value, or rejects once `milliseconds` have passed.
export function withTimeout(promise, milliseconds, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(
        () => reject(new Error(`time-out after ${milliseconds} ms: ${what}`)), milliseconds);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// Polls `predicate` (sync or async) until it is truthy; returns its value.
export async function waitFor(
    predicate, {timeout = 10000, interval = 50, what = 'condition'} = {}) {
  const deadline = Date.now() + timeout;
  for (;;) {
    const value = await predicate();
    if (value) return value;
    if (Date.now() >= deadline) throw new Error(`time-out after ${timeout} ms waiting for ${what}`);
    await new Promise((done) => setTimeout(done, interval));
  }
}

function run(command, args, {env = process.env, timeout = 60000} = {}) {
  return new Promise((done, fail) => {
    execFile(
        command, args, {env, timeout, maxBuffer: 16 * 1024 * 1024}, (error, stdout, stderr) => {
          if (error) {
            error.message += `\nstdout: ${stdout}\nstderr: ${stderr}`;
            fail(error);
          } else {
            done({stdout, stderr});
          }
        });
  });
}

// Starts a fresh sshd on 127.0.0.1 (tests/support/sshd.sh). The result holds the facts:
// port, host (alias), host2 (second alias of the same server), user, home (use as HOME),
// path (use as PATH: the ssh wrapper first), key, knownHosts, scratchRoot, directory; and
// stop(), which closes this server's master connections, stops it and removes its directory.
export async function startSshd({loginUser} = {}) {
  const directory = mkdtempSync(join(tmpdir(), 'wrenfield-sshd-'));
  const env = {...process.env, WRENFIELD_SSHD_WATCH_PID: String(process.pid)};
  if (loginUser) env.WRENFIELD_SSHD_LOGIN_USER = loginUser;
  let started;
  try {
    started = await run('bash', [sshdScript, 'start', directory], {env});
  } catch (error) {
    rmSync(directory, {recursive: true, force: true});
    throw error;
  }
  const facts = {};
  for (const line of started.stdout.split('\n')) {
    const match = /^(WRENFIELD_[A-Z0-9_]+)=(.*)$/.exec(line);
    // Undo printf %q's backslashes; the values are plain paths and names.
    if (match) facts[match[1]] = match[2].replace(/\\(.)/g, '$1');
  }
  let stopped = false;
  return {
    directory,
    port: Number(facts.WRENFIELD_SSHD_PORT),
    host: facts.WRENFIELD_TEST_HOST,
    host2: facts.WRENFIELD_TEST_HOST2,
    user: facts.WRENFIELD_TEST_USER,
    home: facts.WRENFIELD_TEST_HOME,
    path: facts.WRENFIELD_TEST_PATH,
    key: facts.WRENFIELD_TEST_KEY,
    sshConfig: facts.WRENFIELD_TEST_SSH_CONFIG,
    knownHosts: facts.WRENFIELD_TEST_KNOWN_HOSTS,
    scratchRoot: facts.WRENFIELD_TEST_SCRATCH,
    log: () => readFileSync(join(directory, 'sshd.log'), 'utf8'),
    // Runs `ssh ALIAS COMMAND` through the wrapper, for checks from the outside.
    ssh: (command) =>
        run(join(directory, 'bin', 'ssh'),
            ['-o', 'BatchMode=yes', facts.WRENFIELD_TEST_HOST, command], {
              env: {...process.env, HOME: facts.WRENFIELD_TEST_HOME},
            }),
    async stop() {
      if (stopped) return;
      stopped = true;
      try {
        await run('bash', [sshdScript, 'stop', directory]);
      } finally {
        rmSync(directory, {recursive: true, force: true});
      }
    },
  };
}

// A fresh directory for one test's "remote" files: the server is this machine, so what is made
// here is what the program sees over SSH.
export function makeScratchDirectory(sshd, prefix = 'test-') {
  const root = sshd?.scratchRoot || tmpdir();
  return mkdtempSync(join(root, prefix));
}

// Makes files under `root` from a description: { 'a/b.txt': 'text', 'bin.dat': Buffer,
// 'empty-dir/': null, 'link': { symlink: 'a' }, 'script.sh': { content: '...', mode: 0o755 } }.
// Parent directories are made as needed. Returns `root`.
export function makeRemoteFiles(root, description) {
  for (const [relative, value] of Object.entries(description)) {
    const target = join(root, relative);
    if (relative.endsWith('/')) {
      mkdirSync(target, {recursive: true});
      continue;
    }
    mkdirSync(dirname(target), {recursive: true});
    if (value && typeof value === 'object' && !Buffer.isBuffer(value) && 'symlink' in value) {
      symlinkSync(value.symlink, target);
    } else if (value && typeof value === 'object' && !Buffer.isBuffer(value)) {
      writeFileSync(target, value.content ?? '');
      if (value.mode !== undefined) chmodSync(target, value.mode);
    } else {
      writeFileSync(target, value ?? '');
    }
  }
  return root;
}

// Starts the program (by default WRENFIELD_BIN --browser --port 0) with HOME and PATH from the
// sshd, and a fake `xdg-open` (and `open`) first on PATH that records the address it was given
// instead of opening a browser. Resolves once "Wrenfield started at: URL" has been printed.
// The result: url, port, child, output(), errorOutput(), openedAddresses(), waitExit(ms), stop().
export async function startProgram({
  sshd,
  args = ['--browser', '--port', '0'],
  extraArgs = [],
  env = {},
  bin = programPath(),
  startTimeout = 30000,
} = {}) {
  const directory = mkdtempSync(join(tmpdir(), 'wrenfield-program-'));
  const fakeBin = join(directory, 'bin');
  const openedLog = join(directory, 'opened.txt');
  mkdirSync(fakeBin);
  const opener = `#!/bin/sh\nprintf '%s\\n' "$1" >> '${openedLog}'\nexit 0\n`;
  for (const name of ['xdg-open', 'open']) {
    writeFileSync(join(fakeBin, name), opener);
    chmodSync(join(fakeBin, name), 0o755);
  }
  const basePath = sshd?.path || process.env.PATH;
  const childEnv = {
    ...process.env,
    ...(sshd ? {HOME: sshd.home} : {}),
    PATH: `${fakeBin}:${basePath}`,
    ...env,
  };
  delete childEnv.SSH_AUTH_SOCK;

  const child =
      spawn(bin, [...args, ...extraArgs], {env: childEnv, stdio: ['ignore', 'pipe', 'pipe']});
  livePrograms.add(child);
  let output = '';
  let errorOutput = '';
  let exit = null;
  const exited = new Promise((done) => {
    child.on('exit', (code, signal) => {
      exit = {code, signal};
      livePrograms.delete(child);
      done(exit);
    });
  });
  let spawnError = null;
  child.on('error', (error) => {
    spawnError = error;
  });
  child.stdout.setEncoding('utf8').on('data', (text) => {
    output += text;
  });
  child.stderr.setEncoding('utf8').on('data', (text) => {
    errorOutput += text;
  });

  const program = {
    child,
    url: null,
    port: null,
    output: () => output,
    errorOutput: () => errorOutput,
    openedAddresses: () =>
        (existsSync(openedLog) ? readFileSync(openedLog, 'utf8').split('\n').filter(Boolean) : []),
    // Resolves with { code, signal }, or null when the program is still running after `timeout`.
    waitExit: (timeout = 30000) => withTimeout(exited, timeout, 'program exit').catch(() => null),
    async stop() {
      if (!exit) {
        child.kill('SIGTERM');
        if (!(await program.waitExit(3000))) {
          child.kill('SIGKILL');
          await program.waitExit(5000);
        }
      }
      child.stdout.destroy();
      child.stderr.destroy();
      rmSync(directory, {recursive: true, force: true});
    },
  };

  try {
    const match = await waitFor(
        () => {
          if (spawnError) throw spawnError;
          const found = /Wrenfield started at: (http:\/\/127\.0\.0\.1:(\d+))\r?\n/.exec(output);
          if (found) return found;
          if (exit)
            throw new Error(`the program ended (${JSON.stringify(exit)}) before its start-up line`);
          return null;
        },
        {timeout: startTimeout, interval: 20, what: 'the start-up line'},
    );
    program.url = match[1];
    program.port = Number(match[2]);
  } catch (error) {
    await program.stop();
    error.message += `\nstdout: ${output}\nstderr: ${errorOutput}`;
    throw error;
  }
  return program;
}

export const chromiumOptions = Object.freeze({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: [
    '--no-sandbox',
    '--disable-gpu',
    '--disable-background-networking',
    '--disable-component-update',
    '--disable-sync',
    '--no-first-run',
  ],
});

// Headless Chromium with a fresh context and page. `colorScheme` ('light' or 'dark') sets the
// media feature the page's automatic theme follows. Headless Chromium leaves scroll bars out of
// its drawing unless `scrollBars` is set. Returns { browser, context, page, close() }.
export async function launchBrowser({
  viewport = {
    width: 1150,
    height: 750
  },
  colorScheme = 'light',
  timeout = 30000,
  scrollBars = false
} = {}) {
  const browser = await chromium.launch({
    ...chromiumOptions,
    timeout: 30000,
    ...(scrollBars ? {ignoreDefaultArgs: ['--hide-scrollbars']} : {}),
  });
  try {
    const context = await browser.newContext({viewport, colorScheme, acceptDownloads: true});
    context.setDefaultTimeout(timeout);
    context.setDefaultNavigationTimeout(timeout);
    const page = await context.newPage();
    return {
      browser,
      context,
      page,
      close: () => withTimeout(browser.close(), 15000, 'closing chromium').catch(() => {}),
    };
  } catch (error) {
    await browser.close().catch(() => {});
    throw error;
  }
}

// Saves a screenshot of the page as test-artifacts/browser/NAME.png and returns its path.
export async function saveScreenshot(page, name, {fullPage = false} = {}) {
  mkdirSync(artifactsDirectory, {recursive: true});
  const file = join(artifactsDirectory, `${name.replace(/[^A-Za-z0-9._-]+/g, '-')}.png`);
  await page.screenshot({path: file, fullPage});
  return file;
}

// Everything a typical browser test needs, in one call: sshd (`sshdOptions` as for startSshd),
// the program (unless `program: false`) and Chromium (unless `browser: false`). close() stops
// them in reverse order and never throws. Use with node:test's before/after.
export async function startHarness({
  program = true,
  browser = true,
  sshdOptions = {},
  programOptions = {},
  browserOptions = {},
} = {}) {
  const harness = {sshd: null, program: null, browser: null, page: null};
  harness.close = async () => {
    await harness.browser?.close();
    await harness.program?.stop().catch(() => {});
    await harness.sshd?.stop().catch(() => {});
  };
  try {
    harness.sshd = await startSshd(sshdOptions);
    if (program) harness.program = await startProgram({sshd: harness.sshd, ...programOptions});
    if (browser) {
      harness.browser = await launchBrowser(browserOptions);
      harness.page = harness.browser.page;
    }
  } catch (error) {
    await harness.close();
    throw error;
  }
  return harness;
}
