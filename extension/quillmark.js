// quillmark.js: a bank page's client for the Quillmark signing control.
//
//   const q = await Quillmark.connect();
//   await q.QMSetPlainText("amount=100");
//   const signed = await q.QMAttachedSign("CN=Alice");
//   if (q.errorNum !== 0) alert(q.errMsg);
//   q.close();
//
// Each control is one instance of the control in its own host process,
// reached through the Quillmark browser extension. Every member of the
// control is an async method of the same name (the table below is generated
// from the control's type library); properties are read and written with
// get(name) and put(name, value). After every answer errorNum, errorCode
// and errMsg hold the control's error state that came with it, hr the
// member's status (0 or 1) and dialogs the windows the call showed (kind and
// whether the user answered). Calls on one control are answered in the order
// they were made.
//
// A call rejects with a QuillmarkError only when the call itself did not
// reach a member: the control is closed, the request was malformed, or the
// member name or argument count is wrong (hr then holds the dispatch error).
// A member that fails resolves as usual and reports through errorNum.
(function(global) {
'use strict';

// Filled in by the extension build: [name, kind, [in parameter names]] for
// every method, property get and property put, in interface order.
const MEMBERS = /*@MEMBERS@*/[];

const MARKER = 'quillmark-v1';
// How long connect() waits for the extension's content script to answer.
const EXTENSION_WAIT_MS = 5000;
const S_FALSE = 1;

class QuillmarkError extends Error {
  // reason: "insecure-context", "no-extension", "insecure-origin" (also a
  // sandboxed page or frame, which has no origin of its own), "denied",
  // "too-many-controls" (the site has 16 controls open in this browser),
  // "bad-hello", "home", "host", "closed", "protocol", "dispatch",
  // "too-large" (an answer longer than a browser passes to a page; the
  // control goes on).
  constructor(message, reason, hr) {
    super(message);
    this.name = 'QuillmarkError';
    this.reason = reason;
    if (hr !== undefined) this.hr = hr;
  }
}

// The document's origin; "null" in a sandboxed page or frame (whose
// location.origin still names the site it was loaded from).
function pageOrigin() {
  return typeof global.origin === 'string' ? global.origin : global.location.origin;
}

function targetOrigin() {
  const o = pageOrigin();
  return o && o !== 'null' ? o : '*';
}

function post(message) {
  global.postMessage(Object.assign({marker: MARKER, dir: 'to-extension'}, message), targetOrigin());
}

// Instance numbers start at a random point so that two copies of this
// script in one page do not pick the same number.
let nextInstance = (global.crypto.getRandomValues(new Uint32Array(1))[0] & 0x3fffffff) + 1;
const controls = new Map();  // instance -> Quillmark
const pongWaiters = new Set();

global.addEventListener('message', (event) => {
  if (event.source !== global) return;
  const m = event.data;
  if (!m || typeof m !== 'object' || m.marker !== MARKER || m.dir !== 'to-page') return;
  if (m.type === 'pong') {
    for (const resolve of pongWaiters) resolve();
    pongWaiters.clear();
    return;
  }
  const control = controls.get(m.instance);
  if (control) control._receive(m);
});

function waitForExtension() {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => {
      pongWaiters.delete(done);
      reject(new QuillmarkError(
          'The Quillmark extension is not installed or not enabled for this page.',
          'no-extension'));
    }, EXTENSION_WAIT_MS);
    const done = () => {
      clearTimeout(timer);
      resolve();
    };
    pongWaiters.add(done);
    post({type: 'ping'});
  });
}

class Quillmark {
  constructor(instance) {
    this.instance = instance;
    this.origin = '';
    this.errorNum = 0;
    this.errorCode = 0;
    this.errMsg = '';
    this.hr = 0;
    this.dialogs = [];
    this._open = null;          // {resolve, reject} while the hello runs
    this._pending = new Map();  // seq -> {resolve, reject}
    this._nextSeq = 1;
    this._closed = false;
  }

  // Opens one control for this page. The user may be asked first whether
  // this site may use Quillmark. Rejects outside a secure context, when the
  // extension is missing, and when the origin is refused.
  static async connect() {
    if (!global.isSecureContext) {
      throw new QuillmarkError(
          'Quillmark works only on pages served over https (or from localhost); ' +
              'this page is not a secure context.',
          'insecure-context');
    }
    if (pageOrigin() === 'null') {
      // The extension refuses it too; this says so without asking.
      throw new QuillmarkError(
          'This page has no origin of its own (a sandboxed page or frame): ' +
              'Quillmark serves only pages of a site.',
          'insecure-origin');
    }
    await waitForExtension();
    const control = new Quillmark(nextInstance++);
    controls.set(control.instance, control);
    await new Promise((resolve, reject) => {
      control._open = {resolve, reject};
      post({type: 'open', instance: control.instance});
    });
    return control;
  }

  // Reads the property |name| ("errorNum", "MaxCompSize", ...).
  get(name) {
    return this._send({get: String(name)});
  }

  // Writes |value| to the property |name|.
  put(name, value) {
    return this._send({put: String(name), value: value === undefined ? null : value});
  }

  // Calls the method |name| with |args|; the generated methods call this.
  invoke(name, args) {
    return this._send(
        {call: String(name), args: Array.from(args || [], (a) => a === undefined ? null : a)});
  }

  // Ends this control and its host process. Calls still waiting reject.
  close() {
    if (this._closed) return;
    post({type: 'close', instance: this.instance});
    this._end('The Quillmark control was closed.');
  }

  get closed() {
    return this._closed;
  }

  _send(request) {
    if (this._closed) {
      return Promise.reject(new QuillmarkError('The Quillmark control is closed.', 'closed'));
    }
    const seq = this._nextSeq++;
    return new Promise((resolve, reject) => {
      this._pending.set(seq, {resolve, reject});
      post({type: 'request', instance: this.instance, seq, request});
    });
  }

  _receive(m) {
    switch (m.type) {
      case 'ready':
        if (this._open) {
          this.origin = String(m.origin || '');
          this._open.resolve();
          this._open = null;
        }
        return;
      case 'refused':
        this._end(String(m.error || 'Quillmark refused this page.'), m.refused || 'host');
        return;
      case 'closed':
        this._end(String(m.error || 'The Quillmark control was closed.'), 'closed');
        return;
      case 'answer':
        this._answer(m.seq, m.answer);
        return;
    }
  }

  _answer(seq, answer) {
    const waiter = this._pending.get(seq);
    if (!waiter) return;
    this._pending.delete(seq);
    if (!answer || typeof answer !== 'object') {
      waiter.reject(
          new QuillmarkError('The Quillmark host sent an unreadable answer.', 'protocol'));
      return;
    }
    if (typeof answer.error === 'string') {
      waiter.reject(new QuillmarkError(
          answer.error, answer.reason === 'too-large' ? 'too-large' : 'protocol'));
      return;
    }
    if ('errorNum' in answer) this.errorNum = answer.errorNum;
    if ('errorCode' in answer) this.errorCode = answer.errorCode;
    if ('errMsg' in answer) this.errMsg = answer.errMsg;
    this.dialogs = Array.isArray(answer.dialogs) ? answer.dialogs : [];
    this.hr = answer.hr;
    if (answer.hr !== 0 && answer.hr !== S_FALSE) {
      waiter.reject(new QuillmarkError(
          'The control did not run the member (dispatch error 0x' +
              (answer.hr >>> 0).toString(16).toUpperCase() + ').',
          'dispatch', answer.hr));
      return;
    }
    waiter.resolve(answer.result);
  }

  _end(message, reason) {
    if (this._closed) return;
    this._closed = true;
    controls.delete(this.instance);
    const error = new QuillmarkError(message, reason || 'closed');
    if (this._open) {
      this._open.reject(error);
      this._open = null;
    }
    for (const waiter of this._pending.values()) waiter.reject(error);
    this._pending.clear();
  }
}

for (const [name, kind] of MEMBERS) {
  if (kind !== 'method' || name in Quillmark.prototype) continue;
  Object.defineProperty(Quillmark.prototype, name, {
    value: function(...args) {
      return this.invoke(name, args);
    },
    writable: true,
    configurable: true,
  });
}

// Member rows for pages that want to look: [{name, kind, params}].
Quillmark.members =
    Object.freeze(MEMBERS.map(([name, kind, params]) => Object.freeze({name, kind, params})));
Quillmark.Error = QuillmarkError;
global.Quillmark = Quillmark;
})(typeof window !== 'undefined' ? window : globalThis);
