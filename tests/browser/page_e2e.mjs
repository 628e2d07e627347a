// A bank page in a headless browser drives the control through quillmark.js,
// the extension and the real quillmark-host, with dialogs answered by a
// script.
//
// Usage: node tests/browser/page_e2e.mjs BUILD_DIR [chromium|firefox]
// Exits 77 (skipped) only when the browser cannot be started.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {after, before, describe, test} from 'node:test';

import {ChromiumUnavailable} from './chromium.mjs';
import {FirefoxUnavailable} from './firefox.mjs';
import {processAlive, until, World} from './fixture.mjs';

const [build, browser = 'chromium'] = process.argv.slice(2);
if (!build || !['chromium', 'firefox'].includes(browser)) {
  console.error('usage: page_e2e.mjs BUILD_DIR [chromium|firefox]');
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

let world;
try {
  world = await World.start({build, browser, host: process.env.QM_TEST_HOST});
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
    try { ${body} } catch (e) { return { thrown: String(e.message), reason: e.reason, hr: e.hr }; }
  })()`);
}

// The error state and dialog kinds after the last call of control |name|.
const STATE = (name) => `{ errorNum: ${name}.errorNum, errMsg: ${name}.errMsg, hr: ${
    name}.hr, dialogs: ${name}.dialogs }`;

// The chooser answer that picks Li Si's signing certificate.
const CHOOSE_LI_SI = world.chooseSigner('Li Si');

let bank;
before(async () => {
  bank = await world.open(world.origins.bank);
});
after(async () => {
  // What the hosts wrote to standard error (sanitizer reports among it).
  const log = path.join(world.root, 'host-stderr.log');
  if (fs.existsSync(log) && fs.statSync(log).size > 0) {
    console.error('--- host standard error ---\n' + fs.readFileSync(log, 'utf8'));
  }
  await world.stop();
});

describe('connecting', () => {
  test('the first control asks consent; \'always\' is remembered by the next host', async () => {
    world.script(['always']);
    const first = await run(bank, `window.q1 = await Quillmark.connect(); return q1.origin;`);
    assert.equal(first, world.origins.bank);
    world.script([]);  // a second consent dialog would be cancelled
    const second = await run(bank, `window.q2 = await Quillmark.connect(); return q2.origin;`);
    assert.equal(second, world.origins.bank);
  });

  test('a second origin the user denies gets no control, then or later', async () => {
    const other = await world.open(world.origins.other);
    world.script(['deny']);
    const denied = await run(other, `await Quillmark.connect(); return "connected";`);
    assert.equal(denied.reason, 'denied', JSON.stringify(denied));
    assert.match(denied.thrown, /\S/);
    world.script(['always']);  // not asked again: the denial is remembered
    const again = await run(other, `await Quillmark.connect(); return "connected";`);
    assert.equal(again.reason, 'denied', JSON.stringify(again));
    await other.close();
  });

  test('without an installed host, connect() says the host could not be started', async () => {
    const manifest = world.manifestPath();
    fs.renameSync(manifest, manifest + '.away');
    try {
      const r = await run(bank, `await Quillmark.connect(); return 'connected';`);
      assert.equal(r.reason, 'host', JSON.stringify(r));
      assert.match(r.thrown, /could not be started/);
    } finally {
      fs.renameSync(manifest + '.away', manifest);
    }
  });

  test('a page that is not a secure context is refused by quillmark.js', async () => {
    const page = await world.open(world.origins.insecure);
    const r = await run(page, `await Quillmark.connect(); return "connected";`);
    assert.equal(r.reason, 'insecure-context');
    assert.match(r.thrown, /secure context/);
    await page.close();
  });
});

describe('signing and verifying', () => {
  let signed;

  test('QMAttachedSign with the chooser answered', async () => {
    world.script([CHOOSE_LI_SI]);
    const r = await run(bank, `
      window.signer = await Quillmark.connect();
      await signer.QMSetPlainText("pay 100 to 钱七");
      const signed = await signer.QMAttachedSign("");
      return { signed, state: ${STATE('signer')} };`);
    signed = r.signed;
    assert.equal(r.state.errorNum, 0, r.state.errMsg);
    assert.equal(r.state.hr, 0);
    assert.deepEqual(r.state.dialogs, [{kind: 'chooser', answer: 'answered'}]);
    assert.match(r.signed, /^MII[A-Za-z0-9+/=\n]+$/);
  });

  test('QMAttachedVerify and QMGetSignerCertInfo in a second control', async () => {
    world.script([]);
    const r = await run(bank, `
      const v = await Quillmark.connect();
      await v.QMAttachedVerify(${JSON.stringify(signed)});
      const state = ${STATE('v')};
      const text = await v.QMGetPlainText();
      const subject = await v.QMGetSignerCertInfo(1);
      v.close();
      return { state, text, subject };`);
    assert.equal(r.state.errorNum, 0, r.state.errMsg);
    assert.equal(r.text, 'pay 100 to 钱七');
    assert.match(r.subject, /^CN=Li Si,/);
  });

  test('a failing member reports through errorNum and errMsg, and get() agrees', async () => {
    world.script([]);
    const r = await run(bank, `
      const v = await Quillmark.connect();
      const result = await v.QMAttachedVerify("not a signature");
      const state = ${STATE('v')};
      const errorNum = await v.get("errorNum");
      const errMsg = await v.get("errMsg");
      await v.QMBase64Encode("abc");
      const cleared = v.errorNum;
      v.close();
      return { result, state, errorNum, errMsg, cleared };`);
    assert.notEqual(r.state.errorNum, 0);
    assert.equal(r.state.hr, 1);
    assert.match(r.state.errMsg, /\S/);
    assert.equal(r.errorNum, r.state.errorNum);
    assert.equal(r.errMsg, r.state.errMsg);
    assert.equal(r.cleared, 0);
  });

  test('put() sets a property and an impossible value fails it', async () => {
    world.script([]);
    const r = await run(bank, `
      const q = await Quillmark.connect();
      await q.put("MaxCompSize", 102400);
      const size = await q.get("MaxCompSize");
      const unknown = await q.invoke("QMNoSuchMember", []).then(() => "ran", (e) => e.reason);
      q.close();
      return { size, unknown };`);
    assert.equal(r.size, 102400);
    assert.ok(['protocol', 'dispatch'].includes(r.unknown), r.unknown);
  });
});

describe('envelopes and forms', () => {
  test('an envelope made for 张三 is opened with his key after confirmation', async () => {
    world.script(['confirm']);
    const r = await run(bank, `
      const q = await Quillmark.connect();
      await q.QMSetPlainText("sealed 信封");
      const envelope = await q.QMEncryptedEnvelop("CN=张三");
      const sealState = ${STATE('q')};
      await q.QMDecryptEnvelop(envelope);
      const openState = ${STATE('q')};
      const text = await q.QMGetPlainText();
      q.close();
      return { envelope, sealState, openState, text };`);
    assert.equal(r.sealState.errorNum, 0, r.sealState.errMsg);
    assert.equal(r.openState.errorNum, 0, r.openState.errMsg);
    assert.equal(r.text, 'sealed 信封');
  });

  test('a form with a file, signed, verified and taken apart', async () => {
    const report = world.file('report.txt', 'statement 对账单\n');
    const saved = path.join(world.files, 'saved-report.txt');
    world.script([`open ${report}`, CHOOSE_LI_SI]);
    const signedForm = await run(bank, `
      const q = await Quillmark.connect();
      await q.QMAddFormItem("account=42");
      await q.QMAddFile("");
      const fileState = ${STATE('q')};
      const signed = await q.QMAttachedSign("");
      const signState = ${STATE('q')};
      q.close();
      return { fileState, signed, signState };`);
    assert.equal(signedForm.fileState.errorNum, 0, signedForm.fileState.errMsg);
    assert.deepEqual(signedForm.fileState.dialogs, [{kind: 'open', answer: 'answered'}]);
    assert.equal(signedForm.signState.errorNum, 0, signedForm.signState.errMsg);

    world.script([`save ${saved}`]);
    const parts = await run(bank, `
      const q = await Quillmark.connect();
      await q.QMAttachedVerify(${JSON.stringify(signedForm.signed)});
      const verifyState = ${STATE('q')};
      const item = await q.QMGetFormItem();
      await q.QMGetFile();
      const fileState = ${STATE('q')};
      q.close();
      return { verifyState, item, fileState };`);
    assert.equal(parts.verifyState.errorNum, 0, parts.verifyState.errMsg);
    assert.equal(parts.item, 'account=42');
    assert.equal(parts.fileState.errorNum, 0, parts.fileState.errMsg);
    assert.equal(fs.readFileSync(saved, 'utf8'), 'statement 对账单\n');
  });

  test(
      'a path from the page opens the Open dialog; only the file the user picks is read',
      async () => {
        const named = world.file('named-by-page.txt', 'the page\'s choice');
        const picked = world.file('picked-by-user.txt', 'the user\'s choice');
        world.script(['cancel', `open ${picked}`, CHOOSE_LI_SI]);
        const r = await run(bank, `
      const q = await Quillmark.connect();
      await q.QMAddFile(${JSON.stringify(named)});
      const cancelled = ${STATE('q')};
      await q.QMAddFile(${JSON.stringify(named)});
      const answered = ${STATE('q')};
      const signed = await q.QMAttachedSign("");
      q.close();
      return { cancelled, answered, signed };`);
        assert.deepEqual(r.cancelled.dialogs, [{kind: 'open', answer: 'cancelled'}]);
        assert.notEqual(r.cancelled.errorNum, 0);
        assert.deepEqual(r.answered.dialogs, [{kind: 'open', answer: 'answered'}]);
        assert.equal(r.answered.errorNum, 0, r.answered.errMsg);
        const content = Buffer.from(r.signed.replace(/\s/g, ''), 'base64').toString('latin1');
        assert.ok(content.includes('the user\'s choice'), 'the picked file is signed');
        assert.ok(!content.includes('the page\'s choice'), 'the page\'s file is not read');
      });
});

describe('the route', () => {
  test('calls on one control are answered in the order they were made', async () => {
    world.script([]);
    const r = await run(bank, `
      const q = await Quillmark.connect();
      const inputs = Array.from({ length: 60 }, (_, i) => "n" + i + "x".repeat(i));
      const outputs = await Promise.all(inputs.map((s) => q.QMBase64Encode(s)));
      q.close();
      return { inputs, outputs };`);
    const expected = r.inputs.map((s) => Buffer.from(s, 'utf8').toString('base64'));
    assert.deepEqual(r.outputs.map((s) => s.replace(/\s/g, '')), expected);
  });

  test(
      'answers over 1 MiB, which the browser takes only in chunks, join to the whole text',
      async () => {
        world.script([]);
        const r = await run(bank, `
      const q = await Quillmark.connect();
      const text = "汉字 and ascii / ".repeat(60000);
      const encoded = await q.QMBase64Encode(text);
      const decoded = await q.QMBase64Decode(encoded);
      const state = ${STATE('q')};
      q.close();
      return { same: decoded === text, length: encoded.length, state };`);
        assert.equal(r.state.errorNum, 0, r.state.errMsg);
        assert.ok(r.length > 1024 * 1024, `answer of ${r.length} characters`);
        assert.equal(r.same, true);
      });

  test('the origin comes from the browser, whatever the page writes in its messages', async () => {
    world.script([]);
    const r = await run(bank, `
      const instance = 424242;
      const ready = new Promise((resolve) => window.addEventListener("message", (e) => {
        const m = e.data;
        if (m && m.dir === "to-page" && m.instance === instance && m.type !== "answer") resolve(m);
      }));
      window.postMessage({ marker: "quillmark-v1", dir: "to-extension", type: "open", instance,
                           origin: "https://bank.example" }, location.origin);
      const m = await ready;
      window.postMessage({ marker: "quillmark-v1", dir: "to-extension", type: "close", instance },
                         location.origin);
      return m;`);
    assert.equal(r.type, 'ready', JSON.stringify(r));
    assert.equal(r.origin, world.origins.bank);
  });

  test('a site gets at most 16 controls at once, with a clear error past that', async () => {
    // The controls the bank tab still holds count for the site too.
    await run(bank, `for (const q of [window.q1, window.q2, window.signer]) if (q) q.close();`);
    const page = await world.open(world.origins.bank);
    world.script([]);
    const r = await run(page, `
      const controls = [];
      for (let i = 0; i < 16; i++) controls.push(await Quillmark.connect());
      const refused = await Quillmark.connect().then(() => "connected", (e) => e.message);
      controls.pop().close();
      const again = await Quillmark.connect().then((q) => q.QMBase64Encode("abc"));
      return { refused, again };`);
    assert.match(r.refused, /16 Quillmark controls/);
    assert.match(r.again, /^YWJj/);
    await page.close();
  });

  test('close() ends the host process and later calls reject', async () => {
    world.script([]);
    const before = new Set(world.hostPids());
    const r = await run(bank, `
      const q = await Quillmark.connect();
      await q.QMBase64Encode("x");
      q.close();
      return await q.QMBase64Encode("y").then(() => "ran", (e) => e.reason);`);
    assert.equal(r, 'closed');
    const started = world.hostPids().filter((p) => !before.has(p));
    assert.equal(started.length, 1);
    await until(() => !processAlive(started[0]), 5000, 'the host to exit after close()');
  });

  test('leaving the page ends the hosts of its controls', async () => {
    const page = await world.open(world.origins.bank);
    world.script([]);
    const before = new Set(world.hostPids());
    await run(page, `window.a = await Quillmark.connect(); window.b = await Quillmark.connect();`);
    const started = world.hostPids().filter((p) => !before.has(p));
    assert.equal(started.length, 2);
    assert.ok(started.every(processAlive));
    await page.navigate('about:blank');
    await until(() => !started.some(processAlive), 5000, 'the hosts to exit after navigation');
    await page.close();
  });
});

describe('the hosts', () => {
  test('wrote no sanitizer report while serving the page', () => {
    const log = path.join(world.root, 'host-stderr.log');
    const text = fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : '';
    assert.doesNotMatch(text, /ERROR: (Address|Leak)Sanitizer|runtime error:/);
  });
});
