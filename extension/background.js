// The extension's background: one native messaging port to quillmark-host
// per control a page opens.
//
// A page's content script connects one runtime port ("quillmark-page") per
// frame. On "open" the background starts the host with connectNative and
// sends the hello with the origin the browser recorded for the sending frame
// (sender.origin), never one the page names. An opaque origin (a sandboxed
// page or frame is "null") or none at all is refused: it is never replaced
// by the origin of sender.url, which a sandboxed frame shares with the site
// it was loaded from. Requests are forwarded with an id the background
// chooses; answers are matched back to the page's sequence number, and
// answers the host sent in chunks are joined first. When the page closes a
// control, or the frame's port ends (tab closed, page navigated), the host's
// port is closed, which ends the host process.
//
// Limits across the whole browser, kept by the Origins book: at most
// MAX_CONTROLS_PER_ORIGIN open controls per origin in all tabs and frames;
// one host per origin at a time between its start and its answer to the
// hello, so that at most one consent dialog per origin is up (the others wait
// for its answer, and get it when the user denied or cancelled); and an
// origin whose consent was cancelled MAX_CONSENT_CANCELS times is refused as
// denied until the browser restarts. The cancels are kept in
// storage.session, which lasts exactly as long as the browser session: the
// background itself (a service worker, or a Firefox event page) may be
// stopped and started again while the browser runs, and its memory with it.
// An answer longer than a browser delivers to a page in one message is
// refused with reason "too-large" and the control goes on.
'use strict';

const HOST_NAME = 'com.quillmark.host';
const PAGE_PORT_NAME = 'quillmark-page';
// Each control is a process on the user's machine: a site gets a few.
const MAX_CONTROLS_PER_ORIGIN = 16;
// Consent dialogs an origin may see cancelled before it counts as denied.
const MAX_CONSENT_CANCELS = 3;
// Requests a page may have waiting on one control.
const MAX_PENDING_PER_CONTROL = 4096;
// The longest answer passed to a page, in UTF-8 bytes of its JSON text.
// Chromium drops a runtime message over 64 MiB (and throws in postMessage);
// the rest of that is left for the envelope and escapes that differ.
const MAX_DELIVERED_ANSWER = 48 * 1024 * 1024;

// The origin the browser recorded for |sender|, or "" when it named none or
// an opaque one. sender.url is never used: a sandboxed frame has the URL of
// a real site but no origin of its own.
function senderOrigin(sender) {
  if (!sender || typeof sender.origin !== 'string') return '';
  const origin = sender.origin;
  if (origin === '' || origin === 'null' || !origin.includes('://')) return '';
  return origin;
}

// UTF-8 bytes of |text|, as the browser counts a message.
function utf8Length(text) {
  let n = 0;
  for (let i = 0; i < text.length; i++) {
    const c = text.charCodeAt(i);
    if (c < 0x80) {
      n += 1;
    } else if (c < 0x800) {
      n += 2;
    } else if (
        c >= 0xd800 && c <= 0xdbff && i + 1 < text.length &&
        (text.charCodeAt(i + 1) & 0xfc00) === 0xdc00) {
      n += 4;
      i++;
    } else {
      n += 3;
    }
  }
  return n;
}

// Joins an answer the host sent as {"id","chunk","of","data"} pieces. add()
// returns null while pieces are missing and the parsed answer after the last
// one; it throws on a piece out of order or a malformed run. A run whose text
// passes |limit| UTF-8 bytes is counted to its end but not kept: the last
// piece then gives {id, tooLarge: true, bytes} instead of the answer.
class ChunkJoiner {
  constructor(limit = MAX_DELIVERED_ANSWER) {
    this.limit = limit;
    this.run = null;  // {id, of, count, parts, bytes}
  }

  get busy() {
    return this.run !== null;
  }

  add(piece) {
    const {id, chunk, of, data} = piece;
    if (!Number.isSafeInteger(of) || of < 1 || !Number.isSafeInteger(chunk) ||
        typeof data !== 'string') {
      throw new Error('malformed chunk');
    }
    if (this.run === null) {
      if (chunk !== 0) throw new Error(`chunk ${chunk} of ${of} arrived first`);
      this.run = {id, of, count: 0, parts: [], bytes: 0};
    } else if (id !== this.run.id || of !== this.run.of || chunk !== this.run.count) {
      throw new Error(`chunk ${chunk} of ${of} for id ${id} arrived out of order`);
    }
    const run = this.run;
    run.count++;
    run.bytes += utf8Length(data);
    if (run.bytes > this.limit) {
      run.parts = null;  // the answer will not be delivered: keep nothing of it
    } else {
      run.parts.push(data);
    }
    if (run.count < of) return null;
    this.run = null;
    if (run.parts === null) return {id: run.id, tooLarge: true, bytes: run.bytes};
    return JSON.parse(run.parts.join(''));
  }
}

// The host request for a page's |request| object: only the session fields
// are passed on, with the background's own |id|.
function hostRequest(request, id) {
  const out = {id};
  if (request && typeof request === 'object') {
    for (const key of ['call', 'get', 'put', 'args', 'value']) {
      if (Object.prototype.hasOwnProperty.call(request, key)) out[key] = request[key];
    }
  }
  return out;
}

function mebibytes(bytes) {
  return `${Math.ceil(bytes / (1024 * 1024))} MiB`;
}

// The browser-wide limits per origin (see the top of this file). |storage|
// is storage.session, or null where the browser has none (then the cancels
// last as long as this background).
class Origins {
  constructor(storage) {
    this.storage = storage;
    this.open = new Map();      // origin -> controls counted (waiting, starting or ready)
    this.starting = new Map();  // origin -> the control whose hello is out
    this.waiting = new Map();   // origin -> controls waiting for that hello's answer
    this.cancels = new Map();   // origin -> consent dialogs cancelled this browser session
    this.loaded = storage ? storage.get('cancels').then((items) => {
      const saved = items && items.cancels;
      if (!saved || typeof saved !== 'object') return;
      for (const [origin, n] of Object.entries(saved)) {
        if (Number.isSafeInteger(n)) {
          this.cancels.set(origin, Math.max(n, this.cancels.get(origin) || 0));
        }
      }
    }, () => {}) : Promise.resolve();
  }

  count(origin) {
    return this.open.get(origin) || 0;
  }

  // Counts |control| for its origin; false when the origin is at its limit.
  reserve(control) {
    const n = this.count(control.origin);
    if (n >= MAX_CONTROLS_PER_ORIGIN) return false;
    this.open.set(control.origin, n + 1);
    control.counted = true;
    return true;
  }

  // Starts |control| when no other host of its origin is answering a hello,
  // else queues it. An origin cancelled too often is refused at once.
  admit(control) {
    this.loaded.then(() => {
      if (control.ended) return;
      if ((this.cancels.get(control.origin) || 0) >= MAX_CONSENT_CANCELS) {
        control.end({
          type: 'refused',
          refused: 'denied',
          error: `You cancelled the question whether ${control.origin} may use Quillmark ` +
              `${MAX_CONSENT_CANCELS} times; it is refused until the browser is restarted.`
        });
        return;
      }
      if (this.starting.has(control.origin)) {
        const queue = this.waiting.get(control.origin) || [];
        queue.push(control);
        this.waiting.set(control.origin, queue);
        return;
      }
      this.starting.set(control.origin, control);
      control.start();
    });
  }

  // The hello of |control| got its answer (|refusal| null: ready) or the
  // control ended before one.
  helloDone(control, refusal) {
    const origin = control.origin;
    if (this.starting.get(origin) !== control) return;
    this.starting.delete(origin);
    if (refusal && refusal.consent === 'cancelled') {
      const n = (this.cancels.get(origin) || 0) + 1;
      this.cancels.set(origin, n);
      if (this.storage) {
        this.storage.set({cancels: Object.fromEntries(this.cancels)}).catch(() => {});
      }
    }
    const queue = this.waiting.get(origin) || [];
    this.waiting.delete(origin);
    if (refusal && refusal.refused === 'denied') {
      // The user's answer holds for every control that waited for it.
      for (const other of queue) other.end(refusal);
      return;
    }
    for (const other of queue) this.admit(other);
  }

  // |control| ended: it no longer counts, waits or holds the hello.
  release(control) {
    const origin = control.origin;
    if (control.counted) {
      control.counted = false;
      const n = this.count(origin) - 1;
      if (n > 0) {
        this.open.set(origin, n);
      } else {
        this.open.delete(origin);
      }
    }
    const queue = this.waiting.get(origin);
    if (queue && queue.includes(control)) {
      queue.splice(queue.indexOf(control), 1);
      if (queue.length === 0) this.waiting.delete(origin);
    }
    this.helloDone(control, null);
  }
}

// One control: one native port, the hello, then requests in order. It is
// created waiting; start() opens the port once the Origins book lets it.
class Control {
  constructor(api, frame, instance) {
    this.api = api;
    this.frame = frame;
    this.origin = frame.origin;
    this.instance = instance;
    this.counted = false;
    this.port = null;
    this.ready = false;
    this.ended = false;
    this.nextId = 1;
    this.pending = new Map();  // host id -> page seq
    this.queued = [];          // [seq, request] sent before the port was open
    this.joiner = new ChunkJoiner();
  }

  start() {
    if (this.ended) return;
    try {
      this.port = this.api.runtime.connectNative(HOST_NAME);
    } catch (e) {
      this.end({
        type: 'refused',
        refused: 'host',
        error: 'The Quillmark host could not be started: ' + e.message
      });
      return;
    }
    this.port.onMessage.addListener((m) => this.fromHost(m));
    this.port.onDisconnect.addListener(() => {
      const cause = (this.api.runtime.lastError && this.api.runtime.lastError.message) ||
          (this.port.error && this.port.error.message) || '';
      this.hostGone(cause);
    });
    this.port.postMessage({origin: this.origin});
    for (const [seq, request] of this.queued) this.request(seq, request);
    this.queued = [];
  }

  answerPage(seq, answer) {
    this.frame.send({type: 'answer', instance: this.instance, seq, answer});
  }

  request(seq, request) {
    if (this.ended) return;
    if (!Number.isSafeInteger(seq)) return;
    if (this.pending.size + this.queued.length >= MAX_PENDING_PER_CONTROL) {
      this.answerPage(
          seq,
          {error: `too many calls waiting on this control (limit ${MAX_PENDING_PER_CONTROL})`});
      return;
    }
    if (this.port === null) {
      this.queued.push([seq, request]);
      return;
    }
    const id = this.nextId++;
    this.pending.set(id, seq);
    this.port.postMessage(hostRequest(request, id));
  }

  fromHost(message) {
    if (this.ended || !message || typeof message !== 'object') return;
    if (!this.ready) {
      if (message.ready === true) {
        this.ready = true;
        this.frame.origins.helloDone(this, null);
        this.frame.send({type: 'ready', instance: this.instance, origin: message.origin});
      } else {
        const refusal = {
          type: 'refused',
          error: String(message.error || 'The Quillmark host refused this page.'),
          refused: String(message.refused || 'host')
        };
        if (message.consent === 'cancelled') refusal.consent = 'cancelled';
        this.frame.origins.helloDone(this, refusal);
        delete refusal.consent;
        this.end(refusal);
      }
      return;
    }
    let answer = message;
    if ('chunk' in message || this.joiner.busy) {
      try {
        answer = this.joiner.add(message);
      } catch (e) {
        this.end({type: 'closed', error: 'The Quillmark host sent a broken answer: ' + e.message});
        return;
      }
      if (answer === null) return;
    }
    const seq = this.pending.get(answer.id);
    if (seq === undefined) {
      this.end({type: 'closed', error: 'The Quillmark host answered a request it was not sent.'});
      return;
    }
    this.pending.delete(answer.id);
    if (answer.tooLarge) {
      this.answerPage(seq, {
        error: `The answer (${mebibytes(answer.bytes)}) is larger than a browser passes to a ` +
            `page (at most ${mebibytes(MAX_DELIVERED_ANSWER)}).`,
        reason: 'too-large'
      });
      return;
    }
    delete answer.id;
    if (!this.frame.send({type: 'answer', instance: this.instance, seq, answer})) {
      // Refused by the browser (too long for it, or not serializable): the
      // page still gets an answer for this call, and its other calls go on.
      this.answerPage(
          seq, {error: 'The browser could not pass this answer to the page.', reason: 'too-large'});
    }
  }

  hostGone(cause) {
    if (this.ended) return;
    const why = cause ? ': ' + cause : '.';
    if (!this.ready) {
      this.end({
        type: 'refused',
        refused: 'host',
        error: 'The Quillmark host could not be started' + why
      });
    } else {
      this.end({type: 'closed', error: 'The Quillmark host ended' + why});
    }
  }

  // Ends the control; |notice| (type "refused" or "closed") goes to the page.
  end(notice) {
    if (this.ended) return;
    this.ended = true;
    if (this.port) {
      try {
        this.port.disconnect();
      } catch (e) {
        // Already gone.
      }
    }
    this.frame.controls.delete(this.instance);
    this.frame.origins.release(this);
    if (notice) this.frame.send(Object.assign({instance: this.instance}, notice));
  }
}

// One frame of a page: its runtime port and the controls it opened.
class Frame {
  constructor(api, port, origins) {
    this.api = api;
    this.port = port;
    this.origins = origins;
    this.origin = senderOrigin(port.sender);
    this.controls = new Map();
    this.gone = false;
    port.onMessage.addListener((m) => this.fromPage(m));
    port.onDisconnect.addListener(() => {
      this.gone = true;
      for (const control of [...this.controls.values()]) control.end(null);
    });
  }

  // Posts |message| to the content script; false when the browser refused
  // it. Only a port that has ended makes the frame gone: a message that is
  // too long for the browser fails alone.
  send(message) {
    if (this.gone) return false;
    try {
      this.port.postMessage(message);
      return true;
    } catch (e) {
      if (/disconnected/i.test(String(e && e.message))) {
        this.gone = true;
        for (const control of [...this.controls.values()]) control.end(null);
      }
      return false;
    }
  }

  refuse(instance, refused, error) {
    this.send({type: 'refused', instance, refused, error});
  }

  fromPage(m) {
    if (!m || typeof m !== 'object' || !Number.isSafeInteger(m.instance)) return;
    const control = this.controls.get(m.instance);
    switch (m.type) {
      case 'open': {
        if (control) return;
        if (this.origin === '') {
          this.refuse(
              m.instance, 'insecure-origin',
              'This page has no origin of its own (a sandboxed page or frame): ' +
                  'Quillmark serves only pages of a site.');
          return;
        }
        const opened = new Control(this.api, this, m.instance);
        if (!this.origins.reserve(opened)) {
          this.refuse(
              m.instance, 'too-many-controls',
              `This site already has ${MAX_CONTROLS_PER_ORIGIN} Quillmark controls open ` +
                  '(in all its tabs and frames); close one first.');
          return;
        }
        this.controls.set(m.instance, opened);
        this.origins.admit(opened);
        return;
      }
      case 'request':
        if (control) {
          control.request(m.seq, m.request);
        } else {
          this.send(
              {type: 'closed', instance: m.instance, error: 'The Quillmark control is closed.'});
        }
        return;
      case 'close':
        if (control) control.end({type: 'closed', error: 'The Quillmark control was closed.'});
        return;
    }
  }
}

if (typeof module !== 'undefined' && module.exports) {
  module.exports = {
    senderOrigin,
    utf8Length,
    ChunkJoiner,
    hostRequest,
    Origins,
    Control,
    Frame,
    MAX_CONTROLS_PER_ORIGIN,
    MAX_CONSENT_CANCELS,
    MAX_DELIVERED_ANSWER
  };
} else {
  const api = globalThis.browser || globalThis.chrome;
  const session = api.storage && api.storage.session;
  // Chromium's storage.get answers a promise in Manifest V3, Firefox's always.
  const origins = new Origins(session || null);
  api.runtime.onConnect.addListener((port) => {
    if (port.name !== PAGE_PORT_NAME || !port.sender || !port.sender.tab) {
      port.disconnect();
      return;
    }
    new Frame(api, port, origins);
  });
}
