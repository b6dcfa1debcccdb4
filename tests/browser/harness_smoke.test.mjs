// Proves the browser-test harness itself: the sshd, a stand-in for the program (with the fake
// opener), Chromium and screenshots. The program's own pages are tested in the other files.
import assert from 'node:assert/strict';
import {chmodSync, existsSync, mkdtempSync, rmSync, statSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, before, test} from 'node:test';

import {launchBrowser, makeRemoteFiles, makeScratchDirectory, saveScreenshot, startProgram, startSshd, waitFor} from './harness.mjs';

let sshd;
let browser;

before(async () => {
  sshd = await startSshd();
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await sshd?.stop();
});

test('sshd answers through the wrapper and sees the scratch files', async () => {
  const root = makeScratchDirectory(sshd);
  makeRemoteFiles(root, {
    'docs/read me.md': '# Title\n',
    'empty/': null,
    'link': {symlink: 'docs'},
    'run.sh': {content: 'echo\n', mode: 0o755},
  });
  const {stdout} = await sshd.ssh(`cd '${root}' && ls -1F && cat 'docs/read me.md'`);
  assert.equal(stdout, 'docs/\nempty/\nlink@\nrun.sh*\n# Title\n');
  assert.equal(sshd.host, `wrenfield-test-${sshd.port}`);
  assert.ok(existsSync(join(sshd.home, '.ssh', 'config')));
});

test('chromium loads a page and a screenshot is kept', async () => {
  const {page} = browser;
  await page.goto('data:text/html,<title>Harness</title><h1 id="greeting">Hello</h1>');
  assert.equal(await page.title(), 'Harness');
  assert.equal(await page.textContent('#greeting'), 'Hello');
  const file = await saveScreenshot(page, 'harness-smoke');
  assert.ok(statSync(file).size > 0);
});

// A shell script stands in for the program: it announces itself like the program, asks the
// opener to open its address, then serves HTTP until stopped.
test(
    'the program launcher finds the start-up line, fakes the opener and serves the browser',
    async () => {
      const directory = mkdtempSync(join(tmpdir(), 'wrenfield-stand-in-'));
      try {
        const standIn = join(directory, 'stand-in');
        writeFileSync(
            standIn,
            `#!/bin/sh
exec python3 -c '
import http.server, os, subprocess, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = ("<title>Stand-in</title><p id=home>" + os.environ["HOME"] + "</p>").encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *arguments):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
address = "http://127.0.0.1:%d" % server.server_port
print("Wrenfield started at: " + address, flush=True)
print("Opening in web browser: " + address, flush=True)
subprocess.run(["xdg-open", address])
print("arguments: " + " ".join(sys.argv[1:]), file=sys.stderr, flush=True)
server.serve_forever()
' "$@"
`,
        );
        chmodSync(standIn, 0o755);
        const program = await startProgram({sshd, bin: standIn});
        try {
          assert.match(program.url, /^http:\/\/127\.0\.0\.1:\d+$/);
          // The opener runs after the start-up line, so its record may come a moment later.
          await waitFor(() => program.openedAddresses().length > 0, {what: 'the fake opener'});
          assert.deepEqual(program.openedAddresses(), [program.url]);
          const {page} = browser;
          await page.goto(program.url);
          assert.equal(await page.textContent('#home'), sshd.home);
          assert.match(program.errorOutput(), /arguments: --browser --port 0/);
        } finally {
          await program.stop();
        }
        assert.ok(program.child.exitCode !== null || program.child.signalCode !== null);
      } finally {
        rmSync(directory, {recursive: true, force: true});
      }
    });

test('a program that ends before its start-up line is reported, not waited for', async () => {
  await assert.rejects(startProgram({sshd, bin: '/bin/false', startTimeout: 5000}), /ended/);
});

test('stopping the sshd closes master connections to it and removes their sockets', async () => {
  const own = await startSshd();
  const socket = `/tmp/wrenfield-harness-${own.port}.sock`;
  const {execFileSync} = await import('node:child_process');
  execFileSync(
      join(own.directory, 'bin', 'ssh'),
      [
        '-o', 'BatchMode=yes', '-o', 'ControlMaster=auto', '-o', `ControlPath=${socket}`, '-o',
        'ControlPersist=60', own.host, 'true'
      ],
      {
        env: {...process.env, HOME: own.home},
        timeout: 30000,
        stdio: 'ignore',
      });
  assert.ok(existsSync(socket));
  await own.stop();
  assert.ok(!existsSync(socket));
  assert.ok(!existsSync(own.directory));
});
