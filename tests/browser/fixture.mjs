// The world a browser test runs in: a demonstration home, the native
// messaging host behind a wrapper that sets its home and its scripted
// dialogs, headless Chromium with the built extension and a fresh profile,
// and pages served on loopback origins.
//
//   const world = await World.start({build: 'build/dev'});
//   world.script(["always", "choose 0"]);      // answers of the next host
//   const page = await world.open(world.origins.bank, "/page.html");
//   ...
//   await world.stop();
//
// Each host process takes a copy of the script as it was when it started,
// so the answers for one control are set just before that control connects.
// Every host's process id is appended to hosts.log.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

import {Chromium} from './chromium.mjs';
import {Firefox} from './firefox.mjs';

export const HOST_NAME = 'com.quillmark.host';

// |files| maps a path to its text, or to {body, headers} for a page with
// headers of its own instead of the cross-origin isolation.
function serve(files) {
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://x');
    const file = files[url.pathname];
    if (file === undefined) {
      res.writeHead(404).end();
      return;
    }
    const type = url.pathname.endsWith('.js') ? 'text/javascript' : 'text/html';
    const own = typeof file === 'object' && file !== null && !Buffer.isBuffer(file);
    res.writeHead(
        200,
        Object.assign(
            {
              'content-type': `${type}; charset=utf-8`,
              'cache-control': 'no-store',
              'cross-origin-resource-policy': 'cross-origin',
            },
            own ? file.headers : {
              // Cross-origin isolated, so that performance.now() is fine-grained.
              'cross-origin-opener-policy': 'same-origin',
              'cross-origin-embedder-policy': 'require-corp',
            }));
    const body = own ? file.body : file;
    res.end(typeof body === 'function' ? body() : body);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

export const PAGE = `<!doctype html><meta charset="utf-8"><title>bank</title>
<script src="/quillmark.js"></script><body>bank</body>`;

export class World {
  // |browser| is "chromium" (the default) or "firefox".
  // |pages| adds files to the two servers (see serve()).
  static async start({build, host, browser = 'chromium', pages = {}}) {
    const w = new World();
    w.kind = browser;
    w.build = path.resolve(build);
    w.cli = path.join(w.build, 'quillmark');
    w.host = host || path.join(w.build, 'quillmark-host');
    w.extension = path.join(w.build, 'extension', browser);
    w.root = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-browser-'));
    w.home = path.join(w.root, 'home');
    w.files = path.join(w.root, 'files');
    fs.mkdirSync(w.files);
    execFileSync(w.cli, ['store', 'demo'], {
      stdio: 'pipe',
      env: Object.assign({}, process.env, {QUILLMARK_HOME: w.home}),
    });
    w.script([]);
    w.writeWrapper(w.host);
    w.profile = path.join(w.root, 'profile');
    w.browserHome = path.join(w.root, 'browser-home');
    w.installManifest();

    const client = fs.readFileSync(path.join(w.build, 'extension', 'quillmark.js'));
    const files = Object.assign({'/page.html': PAGE, '/quillmark.js': client}, pages);
    w.servers = [await serve(files), await serve(files)];
    const port = (i) => w.servers[i].address().port;
    w.origins = {
      bank: `http://127.0.0.1:${port(0)}`,
      other: `http://127.0.0.1:${port(1)}`,
      // Resolved to loopback by the browser, but not a secure context.
      insecure: `http://insecure.test:${port(0)}`,
    };
    if (browser === 'firefox') {
      fs.mkdirSync(w.profile, {recursive: true});
      fs.writeFileSync(path.join(w.profile, 'user.js'), [
        'user_pref("network.dns.localDomains", "insecure.test");',
        'user_pref("app.update.enabled", false);',
        'user_pref("browser.shell.checkDefaultBrowser", false);',
        'user_pref("datareporting.policy.dataSubmissionEnabled", false);',
      ].join('\n') + '\n');
      w.browser =
          await Firefox.launch({extension: w.extension, profile: w.profile, home: w.browserHome});
    } else {
      w.browser = await Chromium.launch({
        extension: w.extension,
        userDataDir: w.profile,
        extra: ['--host-resolver-rules=MAP insecure.test 127.0.0.1'],
      });
    }
    return w;
  }

  get extensionId() {
    return fs.readFileSync(new URL('../../extension/extension-id.txt', import.meta.url), 'utf8')
        .trim();
  }

  // The host the browser starts next: a wrapper that records its pid, takes
  // a copy of the current dialog script and runs |host| with the test home.
  writeWrapper(host) {
    const wrapper = path.join(this.root, 'host-wrapper.sh');
    const q = (s) => `'${s.replaceAll('\'', '\'\\\'\'')}'`;
    fs.writeFileSync(
        wrapper, `#!/bin/sh
echo $$ >> ${q(path.join(this.root, 'hosts.log'))}
script=${q(path.join(this.root, 'ui-script'))}.$$
cp ${q(path.join(this.root, 'ui-script'))} "$script"
QUILLMARK_HOME=${q(this.home)} QUILLMARK_UI="script:$script" \\
QUILLMARK_SYSTEM_ORIGINS=${q(path.join(this.root, 'system-origins.json'))} \\
exec ${q(host)} "$@" 2>>${q(path.join(this.root, 'host-stderr.log'))}
`,
        {mode: 0o755});
    this.wrapper = wrapper;
  }

  // The host manifest where this browser looks for it: Chromium in its
  // profile, Firefox under its HOME.
  installManifest() {
    const manifest = {
      name: HOST_NAME,
      description: 'Quillmark host for the browser tests',
      path: this.wrapper,
      type: 'stdio',
    };
    let dir;
    if (this.kind === 'firefox') {
      dir = path.join(this.browserHome, '.mozilla', 'native-messaging-hosts');
      const built = path.join(this.extension, 'manifest.json');
      manifest.allowed_extensions =
          [JSON.parse(fs.readFileSync(built, 'utf8')).browser_specific_settings.gecko.id];
    } else {
      dir = path.join(this.profile, 'NativeMessagingHosts');
      manifest.allowed_origins = [`chrome-extension://${this.extensionId}/`];
    }
    fs.mkdirSync(dir, {recursive: true});
    this.manifestFile = path.join(dir, `${HOST_NAME}.json`);
    fs.writeFileSync(this.manifestFile, JSON.stringify(manifest));
  }

  manifestPath() {
    return this.manifestFile;
  }

  // The administrator's decisions, as the system-wide origins file.
  systemOrigins(origins) {
    fs.writeFileSync(path.join(this.root, 'system-origins.json'), JSON.stringify({origins}));
  }

  // The dialog answers of the next host process, one per line.
  script(lines) {
    fs.writeFileSync(path.join(this.root, 'ui-script'), lines.map((l) => l + '\n').join(''));
  }

  // The "choose N" answer that picks the signing certificate of |subject| in
  // the chooser: the rows, in candidate order, as the local session reports
  // them for the same home.
  chooseSigner(subject) {
    const script = path.join(this.root, 'rows-script');
    fs.writeFileSync(script, 'cancel\n');
    const out = execFileSync(this.cli, ['session', '--ui', `script:${script}`], {
      input: '{"call":"QMSetPlainText","args":["x"]}\n{"call":"QMAttachedSign","args":[""]}\n',
      env: Object.assign({}, process.env, {QUILLMARK_HOME: this.home}),
    });
    const answer = JSON.parse(out.toString('utf8').trim().split('\n')[1]);
    const row = answer.dialogs[0].rows.findIndex((r) => r.subject === subject);
    if (row < 0) throw new Error(`no chooser row for ${subject}`);
    return `choose ${row}`;
  }

  // A file under the test folder with |content|; returns its path.
  file(name, content) {
    const p = path.join(this.files, name);
    fs.writeFileSync(p, content);
    return p;
  }

  hostPids() {
    const log = path.join(this.root, 'hosts.log');
    if (!fs.existsSync(log)) return [];
    return fs.readFileSync(log, 'utf8').split('\n').filter(Boolean).map(Number);
  }

  open(origin, pathname = '/page.html') {
    return this.browser.open(origin + pathname);
  }

  async stop() {
    if (this.browser) await this.browser.close();
    for (const s of this.servers || []) s.close();
    if (!process.env.QM_KEEP_BROWSER_WORLD) fs.rmSync(this.root, {recursive: true, force: true});
  }
}

export function processAlive(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch (e) {
    return e.code === 'EPERM';
  }
}

// Resolves once |test| is true, polling; rejects after |ms|.
export async function until(test, ms = 5000, what = 'condition') {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    if (await test()) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`timed out waiting for ${what}`);
}
