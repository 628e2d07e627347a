// The extension background's pure parts: the origin it hands the host, the
// joining of chunked answers, the request fields it passes on, and the
// extension build's checks (ID derivation, generated member table).
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import {createRequire} from 'node:module';
import os from 'node:os';
import path from 'node:path';
import {describe, test} from 'node:test';
import vm from 'node:vm';

const require = createRequire(import.meta.url);
const source = new URL('../../extension/', import.meta.url).pathname;
const {senderOrigin, utf8Length, ChunkJoiner, hostRequest} =
    require(path.join(source, 'background.js'));

describe('the origin handed to the host', () => {
  test('comes from sender.origin, never from sender.url', () => {
    assert.equal(
        senderOrigin({origin: 'https://bank.example', url: 'https://evil.example/x'}),
        'https://bank.example');
    assert.equal(senderOrigin({url: 'http://127.0.0.1:8080/pay?x=1#y'}), '');
  });
  test('is empty for opaque, missing or unparsable origins, whatever the URL', () => {
    for (const sender
             of [{origin: 'null', url: 'https://bank.example:8443/'},
                 {origin: 'null', url: 'data:text/html,hi'},
                 {origin: '', url: 'https://bank.example/'}, {origin: 'about:blank'}, {origin: 7},
                 {url: 'not a url'}, {}, undefined]) {
      assert.equal(senderOrigin(sender), '', JSON.stringify(sender));
    }
  });
});

describe('counting an answer as the browser does', () => {
  test('utf8Length counts UTF-8 bytes, a surrogate pair as four', () => {
    assert.equal(utf8Length(''), 0);
    assert.equal(utf8Length('abc'), 3);
    assert.equal(utf8Length('é'), 2);
    assert.equal(utf8Length('汉字'), 6);
    assert.equal(utf8Length('😀'), 4);
    assert.equal(utf8Length('\ud800x'), 4);  // a lone surrogate: three bytes, as replaced
    const mixed = 'a é 汉 😀 \ud800';
    assert.equal(utf8Length(mixed), Buffer.byteLength(mixed, 'utf8'));
  });
});

describe('joining chunked answers', () => {
  const answer = {id: 7, hr: 0, result: '汉字'.repeat(10) + 'x', errMsg: ''};
  const text = JSON.stringify(answer);
  const pieces = (size) => {
    const out = [];
    for (let i = 0; i < text.length; i += size) out.push(text.slice(i, i + size));
    return out.map((data, chunk, all) => ({id: 7, chunk, of: all.length, data}));
  };

  test('pieces in order join to the answer, and the joiner is free again', () => {
    const j = new ChunkJoiner();
    const run = pieces(9);
    for (const p of run.slice(0, -1)) assert.equal(j.add(p), null);
    assert.ok(j.busy);
    assert.deepEqual(j.add(run.at(-1)), answer);
    assert.ok(!j.busy);
    assert.deepEqual(new ChunkJoiner().add({id: 1, chunk: 0, of: 1, data: '{"id":1}'}), {id: 1});
  });

  test('a run that starts late, skips, repeats or changes id or count is refused', () => {
    const run = pieces(9);
    assert.throws(() => new ChunkJoiner().add(run[1]), /arrived first/);
    for (const bad of [run[2], run[0], {...run[1], id: 8}, {...run[1], of: run.length + 1}]) {
      const j = new ChunkJoiner();
      j.add(run[0]);
      assert.throws(() => j.add(bad), /out of order/);
    }
  });

  test('malformed pieces are refused', () => {
    for (const bad
             of [{id: 1, chunk: 0, of: 0, data: ''}, {id: 1, chunk: '0', of: 2, data: ''},
                 {id: 1, chunk: 0, of: 2, data: 5}, {id: 1, chunk: 0, of: 1.5, data: ''}]) {
      assert.throws(() => new ChunkJoiner().add(bad), /malformed/);
    }
  });

  test(
      'a run over the limit is read to its end and reported too large, then the next joins', () => {
        const small = new ChunkJoiner(10);
        assert.equal(small.add({id: 1, chunk: 0, of: 3, data: '{"id":1,'}), null);
        assert.equal(small.add({id: 1, chunk: 1, of: 3, data: '"汉字"'}), null);  // 16 bytes now
        assert.deepEqual(
            small.add({id: 1, chunk: 2, of: 3, data: ':1}'}), {id: 1, tooLarge: true, bytes: 19});
        assert.ok(!small.busy);
        assert.throws(() => small.add({id: 2, chunk: 1, of: 2, data: ''}), /arrived first/);
        assert.deepEqual(small.add({id: 3, chunk: 0, of: 1, data: '{"id":3}'}), {id: 3});
      });

  test('joined text that is not JSON throws', () => {
    const j = new ChunkJoiner();
    j.add({id: 1, chunk: 0, of: 2, data: '{"id":'});
    assert.throws(() => j.add({id: 1, chunk: 1, of: 2, data: '}'}), SyntaxError);
  });
});

describe('requests passed to the host', () => {
  test('keep only the session fields and take the background\'s id', () => {
    assert.deepEqual(
        hostRequest({call: 'QMBase64Encode', args: ['a'], id: 99, origin: 'x'}, 3),
        {id: 3, call: 'QMBase64Encode', args: ['a']});
    assert.deepEqual(
        hostRequest({put: 'MaxCompSize', value: 5}, 4), {id: 4, put: 'MaxCompSize', value: 5});
    assert.deepEqual(
        hostRequest({get: 'errorNum', __proto__: {call: 'x'}}, 5), {id: 5, get: 'errorNum'});
    assert.deepEqual(hostRequest('text', 6), {id: 6});
  });
});

describe('the extension build', () => {
  const typelib = {
    members: [
      {
        dispid: 1,
        name: 'errorNum',
        kind: 'propget',
        params: [{name: 'pVal', type: 'int32', dir: 'out,retval'}]
      },
      {
        dispid: 10,
        name: 'QMAttachedSign',
        kind: 'method',
        params: [
          {name: 'deSignerDN', type: 'string', dir: 'in'},
          {name: 'pVal', type: 'string', dir: 'out,retval'}
        ]
      },
      {
        dispid: 55,
        name: 'QMAdvanceAttachedVerify',
        kind: 'method',
        params: [{name: 'signedMsg', type: 'string', dir: 'none'}]
      },
    ],
  };

  function build(dir, ...flags) {
    const file = path.join(dir, 'typelib.json');
    fs.writeFileSync(file, JSON.stringify(typelib));
    execFileSync(
        'python3', [path.join(source, 'build.py'), '--typelib', file, '--out', dir, ...flags],
        {stdio: 'pipe'});
  }

  test('quillmark.js gets one method per member method and none for properties', () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-ext-'));
    build(dir);
    const window = {
      location: {origin: 'https://bank.example'},
      isSecureContext: true,
      crypto: {getRandomValues: (a) => a},
      addEventListener() {},
      postMessage() {}
    };
    vm.runInNewContext(fs.readFileSync(path.join(dir, 'quillmark.js'), 'utf8'), {window});
    const proto = window.Quillmark.prototype;
    assert.equal(typeof proto.QMAttachedSign, 'function');
    assert.equal(typeof proto.QMAdvanceAttachedVerify, 'function');
    assert.ok(!('errorNum' in proto));
    assert.deepEqual(
        JSON.parse(JSON.stringify(window.Quillmark.members.map((m) => [m.name, m.params]))), [
          ['errorNum', []], ['QMAttachedSign', ['deSignerDN']],
          ['QMAdvanceAttachedVerify', ['signedMsg']]
        ]);
    fs.rmSync(dir, {recursive: true});
  });

  test('the packages carry the right background and the key only for Chromium', () => {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qm-ext-'));
    build(dir);
    const chromium = JSON.parse(fs.readFileSync(path.join(dir, 'chromium', 'manifest.json')));
    const firefox = JSON.parse(fs.readFileSync(path.join(dir, 'firefox', 'manifest.json')));
    assert.equal(chromium.background.service_worker, 'background.js');
    assert.deepEqual(firefox.background, {scripts: ['background.js']});
    assert.ok(chromium.key && !firefox.key);
    assert.match(firefox.browser_specific_settings.gecko.id, /@/);
    assert.ok(fs.statSync(path.join(dir, 'quillmark-firefox.zip')).size > 0);
    build(dir, '--release');
    const release = JSON.parse(fs.readFileSync(path.join(dir, 'chromium', 'manifest.json')));
    assert.ok(!('key' in release));
    assert.equal(release.background.service_worker, 'background.js');
    fs.rmSync(dir, {recursive: true});
  });

  test('the recorded extension ID is the one the manifest key gives', () => {
    const manifest = JSON.parse(fs.readFileSync(path.join(source, 'manifest.json')));
    const digest = require('node:crypto')
                       .createHash('sha256')
                       .update(Buffer.from(manifest.key, 'base64'))
                       .digest('hex')
                       .slice(0, 32);
    const id = [...digest].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join('');
    assert.equal(fs.readFileSync(path.join(source, 'extension-id.txt'), 'utf8').trim(), id);
  });
});
