// The extension's background: one native messaging port to quillmark-host
// per control a page opens.
//
// A page's content script connects one runtime port ("quillmark-page") per
// frame. On "open" the background starts the host with connectNative and
// sends the hello with the origin the browser recorded for the sending frame
// (sender.origin, else the origin of sender.url), never one the page names.
// Requests are forwarded with an id the background chooses; answers are
// matched back to the page's sequence number, and answers the host sent in
// chunks are joined first. When the page closes a control, or the frame's
// port ends (tab closed, page navigated), the host's port is closed, which
// ends the host process.
'use strict';

const HOST_NAME = 'com.quillmark.host';
const PAGE_PORT_NAME = 'quillmark-page';
// Each control is a process on the user's machine: a page gets a few.
const MAX_CONTROLS_PER_FRAME = 16;
// Requests a page may have waiting on one control.
const MAX_PENDING_PER_CONTROL = 4096;
// The longest answer joined from chunks (characters of JSON text).
const MAX_JOINED_ANSWER = 256 * 1024 * 1024;

// The origin the browser recorded for |sender|, or "" when there is none.
function senderOrigin(sender) {
  if (!sender) return '';
  if (typeof sender.origin === 'string' && sender.origin !== '' && sender.origin !== 'null') {
    return sender.origin;
  }
  if (typeof sender.url !== 'string') return '';
  try {
    const origin = new URL(sender.url).origin;
    return origin === 'null' ? '' : origin;
  } catch (e) {
    return '';
  }
}

// Joins an answer the host sent as {"id","chunk","of","data"} pieces. add()
// returns null while pieces are missing, the parsed answer after the last
// one, and throws on a piece out of order or a malformed run.
class ChunkJoiner {
  constructor(limit = MAX_JOINED_ANSWER) {
    this.limit = limit;
    this.run = null;  // {id, of, parts, length}
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
      this.run = {id, of, parts: [], length: 0};
    } else if (id !== this.run.id || of !== this.run.of || chunk !== this.run.parts.length) {
      throw new Error(`chunk ${chunk} of ${of} for id ${id} arrived out of order`);
    }
    this.run.length += data.length;
    if (this.run.length > this.limit) throw new Error('chunked answer too long');
    this.run.parts.push(data);
    if (this.run.parts.length < of) return null;
    const text = this.run.parts.join('');
    this.run = null;
    return JSON.parse(text);
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

// One control: one native port, the hello, then requests in order.
class Control {
  constructor(api, frame, instance) {
    this.frame = frame;
    this.instance = instance;
    this.ready = false;
    this.ended = false;
    this.nextId = 1;
    this.pending = new Map();  // host id -> page seq
    this.joiner = new ChunkJoiner();
    this.port = api.runtime.connectNative(HOST_NAME);
    this.port.onMessage.addListener((m) => this.fromHost(m));
    this.port.onDisconnect.addListener(() => {
      const cause = (api.runtime.lastError && api.runtime.lastError.message) ||
          (this.port.error && this.port.error.message) || '';
      this.hostGone(cause);
    });
    this.port.postMessage({origin: frame.origin});
  }

  request(seq, request) {
    if (this.ended) return;
    if (!Number.isSafeInteger(seq)) return;
    if (this.pending.size >= MAX_PENDING_PER_CONTROL) {
      this.frame.send({
        type: 'answer',
        instance: this.instance,
        seq,
        answer: {error: `too many calls waiting on this control (limit ${MAX_PENDING_PER_CONTROL})`}
      });
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
        this.frame.send({type: 'ready', instance: this.instance, origin: message.origin});
      } else {
        this.end({
          type: 'refused',
          error: String(message.error || 'The Quillmark host refused this page.'),
          refused: String(message.refused || 'host')
        });
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
    delete answer.id;
    this.frame.send({type: 'answer', instance: this.instance, seq, answer});
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
    try {
      this.port.disconnect();
    } catch (e) {
      // Already gone.
    }
    this.frame.controls.delete(this.instance);
    if (notice) this.frame.send(Object.assign({instance: this.instance}, notice));
  }
}

// One frame of a page: its runtime port and the controls it opened.
class Frame {
  constructor(api, port) {
    this.api = api;
    this.port = port;
    this.origin = senderOrigin(port.sender);
    this.controls = new Map();
    this.gone = false;
    port.onMessage.addListener((m) => this.fromPage(m));
    port.onDisconnect.addListener(() => {
      this.gone = true;
      for (const control of [...this.controls.values()]) control.end(null);
    });
  }

  send(message) {
    if (this.gone) return;
    try {
      this.port.postMessage(message);
    } catch (e) {
      this.gone = true;
    }
  }

  fromPage(m) {
    if (!m || typeof m !== 'object' || !Number.isSafeInteger(m.instance)) return;
    const control = this.controls.get(m.instance);
    switch (m.type) {
      case 'open':
        if (control) return;
        if (this.origin === '') {
          this.send({
            type: 'refused',
            instance: m.instance,
            refused: 'bad-hello',
            error: 'The browser did not tell the origin of this page.'
          });
        } else if (this.controls.size >= MAX_CONTROLS_PER_FRAME) {
          this.send({
            type: 'refused',
            instance: m.instance,
            refused: 'host',
            error: `This page already has ${MAX_CONTROLS_PER_FRAME} Quillmark controls open.`
          });
        } else {
          try {
            this.controls.set(m.instance, new Control(this.api, this, m.instance));
          } catch (e) {
            this.send({
              type: 'refused',
              instance: m.instance,
              refused: 'host',
              error: 'The Quillmark host could not be started: ' + e.message
            });
          }
        }
        return;
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
  module.exports = {senderOrigin, ChunkJoiner, hostRequest, Control, Frame, MAX_CONTROLS_PER_FRAME};
} else {
  const api = globalThis.browser || globalThis.chrome;
  api.runtime.onConnect.addListener((port) => {
    if (port.name !== PAGE_PORT_NAME || !port.sender || !port.sender.tab) {
      port.disconnect();
      return;
    }
    new Frame(api, port);
  });
}
