// Headless Chromium driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe: commands on fd 3, replies and events on fd 4,
// each a JSON text ended by a NUL byte). No driver package is needed.
//
//   const browser = await Chromium.launch({ extension: dir, userDataDir });
//   const page = await browser.open("http://127.0.0.1:8080/page.html");
//   const value = await page.evaluate("runScenario()");
//   await browser.close();
//
// launch() throws a ChromiumUnavailable error when the browser cannot be
// started at all, so that a caller can skip rather than fail.
import {spawn} from 'node:child_process';
import fs from 'node:fs';

export class ChromiumUnavailable extends Error {}

export function chromiumPath() {
  if (process.env.QM_CHROMIUM) return process.env.QM_CHROMIUM;
  for (const p of ['/usr/bin/chromium', '/usr/bin/chromium-browser']) {
    if (fs.existsSync(p)) return p;
  }
  return null;
}

// The flags every run uses: no network traffic of the browser's own, a
// fresh profile, the unpacked extension loaded from the command line.
function flags({extension, userDataDir, extra = []}) {
  const list = [
    '--headless=new',
    '--disable-gpu',
    '--disable-quic',
    '--no-first-run',
    '--disable-background-networking',
    '--disable-component-update',
    '--disable-sync',
    '--disable-default-apps',
    '--no-default-browser-check',
    '--password-store=basic',
    '--disable-features=DisableLoadExtensionCommandLineSwitch',
    `--user-data-dir=${userDataDir}`,
    '--remote-debugging-pipe',
  ];
  if (process.getuid && process.getuid() === 0) list.push('--no-sandbox');
  if (extension) {
    list.push(`--disable-extensions-except=${extension}`, `--load-extension=${extension}`);
  }
  return list.concat(extra, ['about:blank']);
}

export class Chromium {
  constructor(child) {
    this.child = child;
    this.nextId = 1;
    this.waiting = new Map();  // id -> {resolve, reject, method}
    this.listeners = new Set();
    this.exited = false;
    this.stderr = '';
    let buffer = Buffer.alloc(0);
    child.stdio[4].on('data', (data) => {
      buffer = Buffer.concat([buffer, data]);
      for (let end = buffer.indexOf(0); end >= 0; end = buffer.indexOf(0)) {
        const text = buffer.subarray(0, end).toString('utf8');
        buffer = buffer.subarray(end + 1);
        this.dispatch(JSON.parse(text));
      }
    });
    child.stderr.on('data', (d) => {
      if (this.stderr.length < 65536) this.stderr += d.toString();
    });
    child.on('exit', () => {
      this.exited = true;
      for (const w of this.waiting.values()) {
        w.reject(new Error(`chromium exited during ${w.method}\n${this.stderr.slice(-2000)}`));
      }
      this.waiting.clear();
    });
  }

  static async launch(options) {
    const exe = chromiumPath();
    if (!exe) throw new ChromiumUnavailable('chromium is not installed');
    const child = spawn(exe, flags(options), {
      stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'],
      env: Object.assign({}, process.env, options.env || {}),
    });
    const browser = new Chromium(child);
    let timer;
    const started = await Promise.race([
      browser.send('Browser.getVersion').then(() => true, () => false),
      new Promise((r) => {
        timer = setTimeout(() => r(false), 30000);
      }),
    ]);
    clearTimeout(timer);
    if (!started) {
      const why = browser.stderr.slice(-2000);
      child.kill('SIGKILL');
      throw new ChromiumUnavailable(`chromium did not start\n${why}`);
    }
    return browser;
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const w = this.waiting.get(message.id);
      if (!w) return;
      this.waiting.delete(message.id);
      if (message.error) {
        w.reject(new Error(`${w.method}: ${message.error.message}`));
      } else {
        w.resolve(message.result);
      }
      return;
    }
    for (const listener of [...this.listeners]) listener(message);
  }

  send(method, params = {}, sessionId = undefined) {
    if (this.exited) return Promise.reject(new Error(`chromium has exited (${method})`));
    const id = this.nextId++;
    const message = {id, method, params};
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, {resolve, reject, method});
      this.child.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  // Resolves with the first event |method| (of |sessionId|) that |test| accepts.
  waitFor(method, sessionId, test = () => true, timeoutMs = 30000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.listeners.delete(listener);
        reject(new Error(`timed out waiting for ${method}`));
      }, timeoutMs);
      const listener = (m) => {
        if (m.method !== method || (sessionId && m.sessionId !== sessionId)) return;
        if (!test(m.params)) return;
        clearTimeout(timer);
        this.listeners.delete(listener);
        resolve(m.params);
      };
      this.listeners.add(listener);
    });
  }

  // Opens a new tab at |url| and resolves once its load event fired.
  async open(url) {
    const {targetId} = await this.send('Target.createTarget', {url: 'about:blank'});
    const {sessionId} = await this.send('Target.attachToTarget', {targetId, flatten: true});
    const page = new Page(this, targetId, sessionId);
    await this.send('Page.enable', {}, sessionId);
    await this.send('Runtime.enable', {}, sessionId);
    const loaded = this.waitFor('Page.loadEventFired', sessionId);
    await this.send('Page.navigate', {url}, sessionId);
    await loaded;
    return page;
  }

  async close() {
    if (this.exited) return;
    const gone = new Promise((r) => this.child.once('exit', r));
    this.send('Browser.close').catch(() => {});
    const timer = setTimeout(() => this.child.kill('SIGKILL'), 5000);
    await gone;
    clearTimeout(timer);
  }
}

export class Page {
  constructor(browser, targetId, sessionId) {
    this.browser = browser;
    this.targetId = targetId;
    this.sessionId = sessionId;
  }

  // Runs |expression| in the page, awaits it, and returns its value (JSON).
  // A page exception rejects with the exception's text.
  async evaluate(expression) {
    const r = await this.browser.send(
        'Runtime.evaluate', {
          expression,
          awaitPromise: true,
          returnByValue: true,
        },
        this.sessionId);
    if (r.exceptionDetails) {
      const d = r.exceptionDetails;
      throw new Error((d.exception && d.exception.description) || d.text);
    }
    return r.result.value;
  }

  async navigate(url) {
    const loaded = this.browser.waitFor('Page.loadEventFired', this.sessionId);
    await this.browser.send('Page.navigate', {url}, this.sessionId);
    await loaded;
  }

  close() {
    return this.browser.send('Target.closeTarget', {targetId: this.targetId});
  }
}
