// Headless Firefox driven over WebDriver BiDi, with the same open / evaluate
// / navigate / close surface as chromium.mjs. The extension is installed as a
// temporary add-on (webExtension.install), so it needs no signature. HOME is
// pointed at |home| so that the native messaging host manifest is read from
// |home|/.mozilla/native-messaging-hosts/.
//
// launch() throws FirefoxUnavailable when Firefox is not installed, cannot
// start, or this Node.js has no WebSocket client (Node 22, or Node 20 with
// --experimental-websocket).
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';

export class FirefoxUnavailable extends Error {}

export function firefoxPath() {
  if (process.env.QM_FIREFOX) return process.env.QM_FIREFOX;
  for (const p of ['/usr/bin/firefox-esr', '/usr/bin/firefox']) {
    if (fs.existsSync(p)) return p;
  }
  return null;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const {port} = s.address();
      s.close(() => resolve(port));
    });
  });
}

async function connectWebSocket(url, ms) {
  const end = Date.now() + ms;
  for (;;) {
    const ws = new WebSocket(url);
    const ok = await new Promise((resolve) => {
      ws.onopen = () => resolve(true);
      ws.onerror = () => resolve(false);
    });
    if (ok) return ws;
    if (Date.now() > end) return null;
    await new Promise((r) => setTimeout(r, 200));
  }
}

export class Firefox {
  static async launch({extension, profile, home}) {
    const exe = firefoxPath();
    if (!exe) throw new FirefoxUnavailable('firefox is not installed');
    if (typeof WebSocket === 'undefined') {
      throw new FirefoxUnavailable('this Node.js has no WebSocket client');
    }
    fs.mkdirSync(profile, {recursive: true});
    const port = await freePort();
    const child = spawn(
        exe, ['--headless', '--no-remote', '--profile', profile, `--remote-debugging-port=${port}`],
        {stdio: ['ignore', 'ignore', 'pipe'], env: Object.assign({}, process.env, {HOME: home})});
    let stderr = '';
    child.stderr.on('data', (d) => {
      if (stderr.length < 65536) stderr += d.toString();
    });
    const ws = await connectWebSocket(`ws://127.0.0.1:${port}/session`, 30000);
    if (!ws) {
      child.kill('SIGKILL');
      throw new FirefoxUnavailable(`firefox did not start\n${stderr.slice(-2000)}`);
    }
    const browser = new Firefox(child, ws);
    await browser.send('session.new', {capabilities: {}});
    await browser.send('webExtension.install', {extensionData: {type: 'path', path: extension}});
    return browser;
  }

  constructor(child, ws) {
    this.child = child;
    this.ws = ws;
    this.nextId = 1;
    this.waiting = new Map();
    this.listeners = new Set();
    ws.onmessage = (event) => {
      const m = JSON.parse(event.data);
      const w = m.id !== undefined ? this.waiting.get(m.id) : undefined;
      if (w) {
        this.waiting.delete(m.id);
        if (m.type === 'error') {
          w.reject(new Error(`${w.method}: ${m.error}: ${m.message}`));
        } else {
          w.resolve(m.result);
        }
        return;
      }
      for (const listener of [...this.listeners]) listener(m);
    };
  }

  send(method, params = {}) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, {resolve, reject, method});
      this.ws.send(JSON.stringify({id, method, params}));
    });
  }

  async open(url) {
    const {context} = await this.send('browsingContext.create', {type: 'tab'});
    const page = new FirefoxPage(this, context);
    await page.navigate(url);
    return page;
  }

  async close() {
    const gone = new Promise((r) => this.child.once('exit', r));
    this.send('browser.close').catch(() => {});
    const timer = setTimeout(() => this.child.kill('SIGKILL'), 5000);
    await gone;
    clearTimeout(timer);
  }
}

class FirefoxPage {
  constructor(browser, context) {
    this.browser = browser;
    this.context = context;
  }

  async evaluate(expression) {
    const r = await this.browser.send('script.evaluate', {
      expression,
      target: {context: this.context},
      awaitPromise: true,
      resultOwnership: 'none',
      serializationOptions: {maxObjectDepth: 20},
    });
    if (r.type === 'exception') throw new Error(r.exceptionDetails.text);
    return fromRemote(r.result);
  }

  navigate(url) {
    return this.browser.send(
        'browsingContext.navigate', {context: this.context, url, wait: 'complete'});
  }

  close() {
    return this.browser.send('browsingContext.close', {context: this.context});
  }
}

// A BiDi remote value as plain JSON data.
function fromRemote(v) {
  switch (v.type) {
    case 'undefined':
      return undefined;
    case 'null':
      return null;
    case 'string':
    case 'boolean':
      return v.value;
    case 'number':
      return typeof v.value === 'string' ? Number(v.value) : v.value;
    case 'array':
      return (v.value || []).map(fromRemote);
    case 'object':
      return Object.fromEntries(
          (v.value ||
           []).map(([k, val]) => [typeof k === 'string' ? k : fromRemote(k), fromRemote(val)]));
    default:
      return String(v.value);
  }
}
