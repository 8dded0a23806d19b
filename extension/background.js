// The service worker (Firefox: the background script): checks each call from
// a page, names its origin from the browser's own record of the sender, asks
// the user on an origin's first call, and carries the call to the native
// host, which holds the user's answers and enforces them.
'use strict';
const api = globalThis.browser ?? globalThis.chrome;

const HOST = 'tellvane.bridge';
const REQUEST_LIMIT = 8 * 1024 * 1024;  // the host's own limit, in UTF-8 bytes
const METHODS = { getCertListAsJson: 1, signHash: 3, signString: 3, showMessage: 1 };

class BridgeError extends Error {
  constructor(code, message) {
    super(message);
    this.code = code;
  }
}

function isSecureOrigin(origin) {
  let url;
  try {
    url = new URL(origin);
  } catch {
    return false;
  }
  return url.origin === origin &&
    (url.protocol === 'https:' || (url.protocol === 'http:' && ['localhost', '127.0.0.1', '[::1]'].includes(url.hostname)));
}

// One connection to the host, opened on the first call; the host answers
// requests in order and each reply carries its request's id.
const host = {
  port: null,
  nextId: 1,
  pending: new Map(),

  connect() {
    if (this.port) return this.port;
    const port = api.runtime.connectNative(HOST);
    port.onMessage.addListener((reply) => {
      const waiting = this.pending.get(reply.id);
      if (!waiting) return;
      this.pending.delete(reply.id);
      waiting.resolve(reply);
    });
    port.onDisconnect.addListener((closed) => {
      const why = closed.error?.message ?? api.runtime.lastError?.message ?? 'the host closed the connection';
      if (this.port === port) this.port = null;
      for (const waiting of this.pending.values()) {
        waiting.reject(new BridgeError('TELLVANE_HOST_UNAVAILABLE', `The Tellvane host is not available: ${why}`));
      }
      this.pending.clear();
    });
    this.port = port;
    return port;
  },

  send(request) {
    const message = { id: this.nextId++, ...request };
    if (new TextEncoder().encode(JSON.stringify(message)).length > REQUEST_LIMIT) {
      return Promise.reject(new BridgeError('TELLVANE_BAD_REQUEST', 'The call is larger than the 8 MiB Tellvane accepts'));
    }
    return new Promise((resolve, reject) => {
      this.pending.set(message.id, { resolve, reject });
      try {
        this.connect().postMessage(message);
      } catch (error) {
        this.pending.delete(message.id);
        reject(new BridgeError('TELLVANE_HOST_UNAVAILABLE', `The Tellvane host is not available: ${error.message}`));
      }
    });
  },
};

// What the consent page says a call asks for.
function describe(method, args) {
  const certificate = (thumbprint) => `the certificate ${String(thumbprint).slice(0, 64)}`;
  switch (method) {
    case 'getCertListAsJson': return 'to read the list of your certificates';
    case 'signHash': return `to sign a digest with ${certificate(args[1])}`;
    case 'signString': return `to sign a text with ${certificate(args[1])}`;
    default: return 'to show you a message';
  }
}

// Open consent prompts: by origin (calls from one origin share one page) and
// by the random token that the page's answer must carry.
const prompts = new Map();
const answers = new Map();

function askUser(origin, method, args) {
  if (prompts.has(origin)) return prompts.get(origin);
  const token = crypto.randomUUID();
  const asked = new Promise((resolve) => {
    const query = new URLSearchParams({ token, origin, what: describe(method, args) });
    answers.set(token, { resolve, windowId: null });
    api.windows.create({ url: api.runtime.getURL(`consent.html?${query}`), type: 'popup', width: 520, height: 360 })
      .then((created) => {
        const entry = answers.get(token);
        if (entry) entry.windowId = created.id;
      }, () => resolve(null));
  }).finally(() => {
    answers.delete(token);
    prompts.delete(origin);
  });
  prompts.set(origin, asked);
  return asked;
}

// A window closed before its answer leaves the call unanswered.
api.windows.onRemoved.addListener((windowId) => {
  for (const entry of answers.values()) {
    if (entry.windowId === windowId) entry.resolve(null);
  }
});

function recordAnswer(token, answer) {
  const entry = answers.get(token);
  if (!entry || (answer !== 'allow' && answer !== 'deny')) return;
  entry.resolve(answer);
}

async function callComponent(origin, method, args) {
  if (!(method in METHODS) || !Array.isArray(args) || args.length !== METHODS[method] ||
      args.some((arg) => arg !== null && typeof arg !== 'string')) {
    throw new BridgeError('TELLVANE_BAD_REQUEST', `Not a Tellvane call: ${String(method).slice(0, 64)}`);
  }
  let reply = await host.send({ origin, method, args });
  if (reply.consent === 'ask') {
    const answer = await askUser(origin, method, args);
    if (answer === null) throw new BridgeError('TELLVANE_CONSENT_DENIED', `Nobody allowed ${origin} to use Tellvane`);
    const recorded = await host.send({ origin, method: answer === 'allow' ? 'bridge.allow' : 'bridge.deny', args: [] });
    if ('error' in recorded) throw new BridgeError('TELLVANE_HOST_ERROR', recorded.error);
    reply = await host.send({ origin, method, args });
  }
  if (reply.consent) throw new BridgeError('TELLVANE_CONSENT_DENIED', reply.error);
  if ('error' in reply) throw new BridgeError('TELLVANE_HOST_ERROR', reply.error);
  return reply.result;
}

async function status() {
  const reply = await host.send({ method: 'bridge.version', args: [] });
  if ('error' in reply) throw new BridgeError('TELLVANE_HOST_ERROR', reply.error);
  return { extension: api.runtime.getManifest().version, host: reply.result };
}

function fromContentScript(message, sender) {
  // The browser's record of who sent the message, never the page's word.
  const origin = sender.origin ?? (sender.url ? new URL(sender.url).origin : 'null');
  if (!sender.tab || !isSecureOrigin(origin)) {
    return Promise.reject(new BridgeError('TELLVANE_BAD_REQUEST', `Tellvane serves secure origins only, not ${origin}`));
  }
  return message.type === 'status' ? status() : callComponent(origin, message.method, message.args);
}

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id || !message) return false;
  if (message.type === 'consent-answer') {
    // Only the extension's own consent page may answer.
    if (sender.url?.startsWith(api.runtime.getURL('consent.html'))) recordAnswer(message.token, message.answer);
    sendResponse({});
    return false;
  }
  if (message.type !== 'call' && message.type !== 'status') return false;
  fromContentScript(message, sender).then(
    (result) => sendResponse({ result }),
    (error) => sendResponse({ error: { code: error.code ?? 'TELLVANE_HOST_ERROR', message: error.message } }));
  return true;
});
