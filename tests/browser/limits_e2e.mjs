// What a hostile page cannot get through the extension and quillmark-host,
// in a headless browser: no control for a page or frame without an origin of
// its own, at most 16 controls per site in the whole browser, one consent
// dialog per site at a time and none after three cancels, and no answer too
// large for the browser that stalls the other controls.
//
// Usage: node tests/browser/limits_e2e.mjs BUILD_DIR [chromium|firefox]
// Exits 77 (skipped) only when the browser cannot be started.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';

import {ChromiumUnavailable} from './chromium.mjs';
import {FirefoxUnavailable} from './firefox.mjs';
import {PAGE, processAlive, until, World} from './fixture.mjs';

const [build, browser = 'chromium'] = process.argv.slice(2);
if (!build || !['chromium', 'firefox'].includes(browser)) {
  console.error('usage: limits_e2e.mjs BUILD_DIR [chromium|firefox]');
  process.exit(2);
}

// Firefox is driven over WebSocket, which Node.js 20 has only behind a flag.
if (browser === 'firefox' && typeof WebSocket === 'undefined') {
  if (!process.allowedNodeEnvironmentFlags.has('--experimental-websocket')) {
    console.log('skipped: this Node.js has no WebSocket client');
    process.exit(77);
  }
  const {spawnSync} = await import('node:child_process');
  const again = spawnSync(
      process.execPath, ['--experimental-websocket', ...process.argv.slice(1)], {stdio: 'inherit'});
  process.exit(again.status ?? 1);
}

// A frame that opens controls when its parent asks ({probe: "open", n}),
// keeps them, and reports what it got ({probe: "result", opened, reasons}).
// With {raw: true} it also asks the extension directly, past quillmark.js,
// and reports what the extension answered ({probe: "result", ..., raw}).
const RAW_OPEN = `
window.rawOpen = () => new Promise((resolve) => {
  const instance = 777000 + Math.floor(Math.random() * 1000);
  const timer = setTimeout(() => resolve("no answer"), 5000);
  window.addEventListener("message", function on(e) {
    const m = e.data;
    if (!m || m.dir !== "to-page" || m.instance !== instance) return;
    window.removeEventListener("message", on);
    clearTimeout(timer);
    resolve(m.type === "refused" ? m.refused : m.type);
  });
  window.postMessage({ marker: "quillmark-v1", dir: "to-extension", type: "open", instance }, "*");
});`;
const PROBE = `<!doctype html><meta charset="utf-8"><title>probe</title>
<script src="/quillmark.js"></script><script>${RAW_OPEN}
window.held = [];
window.addEventListener("message", async (e) => {
  if (e.source !== window.parent || !e.data || e.data.probe !== "open") return;
  const out = { probe: "result", opened: 0, reasons: [] };
  for (let i = 0; i < e.data.n; i++) {
    try { window.held.push(await Quillmark.connect()); out.opened++; }
    catch (err) { out.reasons.push(err.reason); }
  }
  if (e.data.raw) out.raw = await window.rawOpen();
  parent.postMessage(out, "*");
});
</script><body>probe</body>`;

let world;
try {
  world = await World.start({
    build,
    browser,
    host: process.env.QM_TEST_HOST,
    pages: {
      '/plain.html': {body: PAGE, headers: {}},
      '/probe.html': {body: PROBE, headers: {}},
      '/sandboxed.html': {
        body: PAGE + `<script>${RAW_OPEN}</script>`,
        headers: {'content-security-policy': 'sandbox allow-scripts'},
      },
    },
  });
} catch (e) {
  if (e instanceof ChromiumUnavailable || e instanceof FirefoxUnavailable) {
    console.log(`skipped: ${e.message}`);
    process.exit(77);
  }
  throw e;
}

// Runs |body| (the text of an async function body) in |page|. A thrown
// QuillmarkError comes back as {thrown, reason}.
function run(page, body) {
  return page.evaluate(`(async () => {
    try { ${body} } catch (e) { return { thrown: String(e.message), reason: e.reason }; }
  })()`);
}

// Adds |count| iframes of |src| to |page| (with |sandbox| when given), asks
// each to open |n| controls, and returns their reports.
function probeFrames(page, {src, count, n, sandbox, raw = false}) {
  return run(
      page,
      `
    const frames = [];
    for (let i = 0; i < ${count}; i++) {
      const f = document.createElement("iframe");
      ${sandbox ? `f.setAttribute("sandbox", ${JSON.stringify(sandbox)});` : ''}
      f.src = ${JSON.stringify(src)};
      const loaded = new Promise((r) => f.addEventListener("load", r, { once: true }));
      document.body.append(f);
      await loaded;
      frames.push(f);
    }
    const reports = frames.map((f) => new Promise((resolve) => {
      window.addEventListener("message", function on(e) {
        if (e.source !== f.contentWindow || !e.data || e.data.probe !== "result") return;
        window.removeEventListener("message", on);
        resolve(e.data);
      });
    }));
    for (const f of frames) f.contentWindow.postMessage({ probe: "open", n: ${n}, raw: ${
          raw} }, "*");
    return await Promise.all(reports);`);
}

function newHosts(before) {
  return world.hostPids().filter((p) => !before.has(p));
}

before(() => {
  world.systemOrigins({[world.origins.bank]: 'always'});
});
after(async () => {
  const log = path.join(world.root, 'host-stderr.log');
  const text = fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '';
  await world.stop();
  assert.doesNotMatch(text, /ERROR: (Address|Leak)Sanitizer|runtime error:/, text);
});

describe('pages without an origin of their own', () => {
  test('a page served with CSP sandbox gets no control and starts no host', async () => {
    const page = await world.open(world.origins.bank, '/sandboxed.html');
    const before = new Set(world.hostPids());
    const r = await run(page, `await Quillmark.connect(); return "connected";`);
    assert.equal(r.reason, 'insecure-origin', JSON.stringify(r));
    assert.match(r.thrown, /origin of its own/);
    // Asked past quillmark.js, the extension refuses it as well.
    assert.equal(await page.evaluate('rawOpen()'), 'insecure-origin');
    assert.deepEqual(newHosts(before), []);
    await page.close();
  });

  test(
      'a sandboxed iframe of the allowed site, framed by another site, gets no control',
      async () => {
        const page = await world.open(world.origins.other, '/plain.html');
        const before = new Set(world.hostPids());
        const reports = await probeFrames(page, {
          src: world.origins.bank + '/probe.html',
          count: 1,
          n: 2,
          sandbox: 'allow-scripts',
          raw: true,
        });
        assert.deepEqual(reports, [{
                           probe: 'result',
                           opened: 0,
                           reasons: ['insecure-origin', 'insecure-origin'],
                           raw: 'insecure-origin',
                         }]);
        assert.deepEqual(newHosts(before), []);
        await page.close();
      });
});

describe('limits across the browser', () => {
  test('five frames of one site open at most 16 controls together', async () => {
    const page = await world.open(world.origins.bank, '/plain.html');
    const before = new Set(world.hostPids());
    const reports =
        await probeFrames(page, {src: world.origins.bank + '/probe.html', count: 5, n: 5});
    const opened = reports.reduce((sum, r) => sum + r.opened, 0);
    const reasons = reports.flatMap((r) => r.reasons);
    assert.equal(opened, 16, JSON.stringify(reports));
    assert.deepEqual(reasons, Array(9).fill('too-many-controls'));
    const started = newHosts(before);
    assert.equal(started.length, 16);
    // A second tab of the site is refused too, and gets one once a frame goes.
    const tab = await world.open(world.origins.bank);
    const refused = await run(tab, `await Quillmark.connect(); return "connected";`);
    assert.equal(refused.reason, 'too-many-controls', JSON.stringify(refused));
    assert.match(refused.thrown, /16 Quillmark controls/);
    await page.close();
    await until(() => !started.some(processAlive), 10000, 'the frames\' hosts to end');
    const after = await run(tab, `const q = await Quillmark.connect();
      const r = await q.QMBase64Encode("abc"); q.close(); return r;`);
    assert.match(String(after), /^YWJj/, JSON.stringify(after));
    await tab.close();
  });

  test('one consent dialog at a time; three cancels count as deny for the session', async () => {
    const page = await world.open(world.origins.other);
    const before = new Set(world.hostPids());
    world.script(['cancel']);
    // Four controls at once: one dialog, and all four get its answer.
    const first = await run(page, `
      const all = await Promise.allSettled([1, 2, 3, 4].map(() => Quillmark.connect()));
      return all.map((s) => s.status === "rejected" ? s.reason.reason : "connected");`);
    assert.deepEqual(first, ['denied', 'denied', 'denied', 'denied']);
    assert.equal(newHosts(before).length, 1);
    for (let i = 0; i < 2; i++) {
      const r = await run(page, `await Quillmark.connect(); return "connected";`);
      assert.equal(r.reason, 'denied', JSON.stringify(r));
    }
    assert.equal(newHosts(before).length, 3);
    // Now it is refused without a host, whatever the user would answer.
    world.script(['always']);
    const later = await run(page, `await Quillmark.connect(); return "connected";`);
    assert.equal(later.reason, 'denied', JSON.stringify(later));
    assert.match(later.thrown, /restarted/);
    assert.equal(newHosts(before).length, 3);
    await page.close();
  });
});

describe('large answers', () => {
  test('an answer of 50 MiB is refused, and the other controls keep answering', async () => {
    const page = await world.open(world.origins.bank);
    world.script([]);
    const r = await run(page, `
      const a = await Quillmark.connect();
      const b = await Quillmark.connect();
      const huge = a.QMBase64Encode("x".repeat(50 * 1024 * 1024))
          .then((v) => ({ delivered: v.length }), (e) => ({ reason: e.reason, message: e.message }));
      const during = await b.QMBase64Encode("abc");
      const big = await huge;
      const sameControl = await a.QMBase64Encode("abc");
      const otherControl = await b.QMBase64Encode("def");
      const c = await Quillmark.connect();
      const newControl = await c.QMBase64Encode("ghi");
      for (const q of [a, b, c]) q.close();
      return { big, during, sameControl, otherControl, newControl };`);
    assert.equal(r.big.reason, 'too-large', JSON.stringify(r.big));
    assert.match(r.big.message, /larger than a browser passes to a page/);
    assert.match(r.during, /^YWJj/);
    assert.match(r.sameControl, /^YWJj/);
    assert.match(r.otherControl, /^ZGVm/);
    assert.match(r.newControl, /^Z2hp/);
    await page.close();
  });
});
