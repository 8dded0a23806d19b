// window.tellvane: the component's four methods for the page's own script,
// each a Promise of exactly the text the method returns. Runs in the page's
// world; the extension's relay carries each call to the service worker.
(() => {
  'use strict';
  if ('tellvane' in window) return;

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
      window.postMessage({ tellvane: 'request', id, type, method, args }, window.location.origin);
    });
  }

  // Each argument is a text; one left out is passed as a null string.
  function call(method, args) {
    const texts = args.map((arg) => (arg === undefined ? null : arg));
    if (texts.some((arg) => arg !== null && typeof arg !== 'string')) {
      return Promise.reject(new TellvaneError('TELLVANE_BAD_REQUEST', `${method} takes texts only`));
    }
    return request('call', method, texts);
  }

  const tellvane = {
    getCertListAsJson: (pin) => call('getCertListAsJson', [pin]),
    signHash: (hash, thumbprint, pin) => call('signHash', [hash, thumbprint, pin]),
    signString: (text, thumbprint, pin) => call('signString', [text, thumbprint, pin]),
    showMessage: (text) => call('showMessage', [text]),
    // Resolves with {extension, host} versions; rejects when either is missing.
    status: () => request('status'),
    get timeout() { return timeout; },
    set timeout(ms) {
      if (!Number.isFinite(ms) || ms <= 0) throw new TypeError('tellvane.timeout is a positive number of milliseconds');
      timeout = ms;
    },
    Error: TellvaneError,
  };
  Object.defineProperty(window, 'tellvane', { value: Object.seal(tellvane), enumerable: true });
})();
