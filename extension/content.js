// The content script: relays between the page's quillmark.js (through
// window.postMessage) and the extension's background (through one runtime
// port per frame).
//
// Only messages that this window posted to itself and that carry the marker
// are taken; what they say is passed on as data and checked again in the
// background, which alone knows the page's origin. When the background port
// ends (the extension was reloaded or stopped), every open control of this
// page is told it is closed.
(() => {
  'use strict';
  const api = globalThis.browser || globalThis.chrome;
  const MARKER = 'quillmark-v1';
  const PAGE_TYPES = new Set(['open', 'request', 'close']);

  let port = null;
  const open = new Set();  // instance numbers this frame has opened

  // The document's origin: "null" in a sandboxed page or frame, whose
  // location still names the site it was loaded from.
  function toPage(message) {
    const origin = window.origin;
    window.postMessage(
        Object.assign({marker: MARKER, dir: 'to-page'}, message),
        origin && origin !== 'null' ? origin : '*');
  }

  function backgroundPort() {
    if (port) return port;
    port = api.runtime.connect({name: 'quillmark-page'});
    port.onMessage.addListener((message) => {
      if (!message || typeof message !== 'object') return;
      if (message.type === 'refused' || message.type === 'closed') open.delete(message.instance);
      toPage(message);
    });
    port.onDisconnect.addListener(() => {
      port = null;
      for (const instance of open) {
        toPage({type: 'closed', instance, error: 'The Quillmark extension stopped.'});
      }
      open.clear();
    });
    return port;
  }

  window.addEventListener('message', (event) => {
    if (event.source !== window) return;
    const m = event.data;
    if (!m || typeof m !== 'object' || m.marker !== MARKER || m.dir !== 'to-extension') return;
    if (m.type === 'ping') {
      toPage({type: 'pong'});
      return;
    }
    if (!PAGE_TYPES.has(m.type) || !Number.isSafeInteger(m.instance)) return;
    if (m.type === 'open') open.add(m.instance);
    if (m.type === 'close') open.delete(m.instance);
    const message = {type: m.type, instance: m.instance};
    if (m.type === 'request') {
      message.seq = m.seq;
      message.request = m.request;
    }
    try {
      backgroundPort().postMessage(message);
    } catch (e) {
      open.delete(m.instance);
      toPage({
        type: 'closed',
        instance: m.instance,
        error: 'The Quillmark extension cannot be reached: ' + e.message
      });
    }
  });
})();
