// window.tellvane: the component's four methods for the page's own script,
// each a Promise of exactly the text the method returns. Runs in the page's
// world; the extension's relay carries each call to the service worker.
(() => {
  'use strict';
  if ('tellvane' in window) return;

  // The protocol this library speaks with the extension (background.js).
  const PROTOCOL = 2;
  const REQUEST_LIMIT = 8 * 1024 * 1024;  // the most a call may carry, in UTF-8 bytes
  // Taken before the page's own scripts run, so that they cannot change them.
  const encoder = new TextEncoder();
  const hasLoneSurrogate = RegExp.prototype.test.bind(/[\uD800-\uDFFF]/u);
  const post = window.postMessage.bind(window);

  class TellvaneError extends Error {
    constructor(code, message) {
      super(message);
      this.name = 'TellvaneError';
      this.code = code;
    }
  }

  const pending = new Map();
  let nextId = 1;
  let timeout = 120000;  // long enough for a consent page and a PIN dialog

  window.addEventListener('message', (event) => {
    const reply = event.data;
    if (event.source !== window || !reply || reply.tellvane !== 'reply' || !pending.has(reply.id)) return;
    const call = pending.get(reply.id);
    pending.delete(reply.id);
    clearTimeout(call.timer);
    if (reply.error) call.reject(new TellvaneError(String(reply.error.code), String(reply.error.message)));
    else call.resolve(reply.result);
  });

  function request(type, method, args) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      const timer = setTimeout(() => {
        pending.delete(id);
        reject(new TellvaneError('TELLVANE_TIMEOUT', `Tellvane did not answer ${method || type} within ${timeout} ms`));
      }, timeout);
      pending.set(id, { resolve, reject, timer });
      post({ tellvane: 'request', id, type, method, args, protocol: PROTOCOL }, window.location.origin);
    });
  }

  // Why the texts cannot be carried, or null when they can.
  function refusal(method, texts) {
    if (texts.some((arg) => arg !== null && typeof arg !== 'string')) return `${method} takes texts only`;
    if (texts.some((arg) => arg !== null && hasLoneSurrogate(arg))) {
      return `${method}: a text holds a lone surrogate, so it is not well-formed UTF-16`;
    }
    let size = 0;
    for (const text of texts) size += text === null ? 0 : text.length > REQUEST_LIMIT ? text.length : encoder.encode(text).length;
    return size > REQUEST_LIMIT ? `${method}: the call is larger than the 8 MiB Tellvane accepts` : null;
  }

  // Each argument is a text; one left out is passed as a null string.
  function call(method, args) {
    const texts = args.map((arg) => (arg === undefined ? null : arg));
    const why = refusal(method, texts);
    return why ? Promise.reject(new TellvaneError('TELLVANE_BAD_REQUEST', why)) : request('call', method, texts);
  }

  const tellvane = {
    getCertListAsJson: (pin) => call('getCertListAsJson', [pin]),
    signHash: (hash, thumbprint, pin) => call('signHash', [hash, thumbprint, pin]),
    signString: (text, thumbprint, pin) => call('signString', [text, thumbprint, pin]),
    showMessage: (text) => call('showMessage', [text]),
    // Resolves with {extension, host, protocol}; rejects when the host is missing or does not fit.
    status: () => request('status'),
    get timeout() { return timeout; },
    set timeout(ms) {
      if (!Number.isFinite(ms) || ms <= 0) throw new TypeError('tellvane.timeout is a positive number of milliseconds');
      timeout = ms;
    },
    protocol: PROTOCOL,
    Error: TellvaneError,
  };
  Object.defineProperty(window, 'tellvane', { value: Object.freeze(tellvane), enumerable: true });
})();
