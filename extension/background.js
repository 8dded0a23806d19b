// The service worker (Firefox: the background script): checks each call from
// a page, names its origin from the browser's own record of the sender, asks
// the user when the host says an answer is missing, and carries the call to
// the native host, which holds the user's answers and enforces them.
'use strict';
const api = globalThis.browser ?? globalThis.chrome;

const HOST = 'tellvane.bridge';
// The protocol page.js, this script and the host speak; all three must agree.
const PROTOCOL = 2;
const REQUEST_LIMIT = 8 * 1024 * 1024;  // the host's own limit, in UTF-8 bytes
const METHODS = { getCertListAsJson: 1, signHash: 3, signString: 3, showMessage: 1 };
const IDLE_CLOSE_MS = 60000;

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
  return origin.length <= 255 && url.origin === origin &&
    (url.protocol === 'https:' || (url.protocol === 'http:' && ['localhost', '127.0.0.1', '[::1]'].includes(url.hostname)));
}

// No lone surrogate: such a text has no UTF-8 form, and the host could not read the call.
const isWellFormed = (text) => !/[\uD800-\uDFFF]/u.test(text);

const unavailable = (why) => new BridgeError('TELLVANE_HOST_UNAVAILABLE', `The Tellvane host is not available: ${why}`);

// One connection, and so one host process, per origin: a PIN dialog or a
// slow call of one origin never holds another origin's calls. The host
// answers its requests in order, so each reply belongs to the oldest call
// waiting, whatever id it carries; a reply naming another call means the
// stream is out of step, and every call on it fails.
class HostConnection {
  constructor(origin, onClosed) {
    this.origin = origin;
    this.onClosed = onClosed;
    this.port = null;
    this.ready = null;
    this.waiting = [];
    this.nextId = 1;
    this.idleTimer = null;
  }

  connect() {
    const port = api.runtime.connectNative(HOST);
    port.onMessage.addListener((reply) => this.received(port, reply));
    port.onDisconnect.addListener((closed) => {
      const why = closed.error?.message ?? api.runtime.lastError?.message ?? 'the host closed the connection';
      if (this.port === port) this.close(unavailable(why));
    });
    this.port = port;
    this.ready = this.exchange({ method: 'bridge.version', args: [] }).then((reply) => {
      if ('error' in reply) throw new BridgeError('TELLVANE_HOST_ERROR', reply.error);
      if (reply.protocol !== PROTOCOL) {
        throw new BridgeError('TELLVANE_VERSION_MISMATCH',
          `The Tellvane host ${reply.result} speaks protocol ${reply.protocol ?? 1}, the extension ` +
          `${api.runtime.getManifest().version} protocol ${PROTOCOL}: install the same release of both`);
      }
      return reply.result;
    });
    this.ready.catch(() => {});
  }

  received(port, reply) {
    if (port !== this.port) return;
    const call = this.waiting.shift();
    if (!call || (reply?.id !== call.id && reply?.id !== null)) {
      call?.reject(unavailable('its reply does not match the call'));
      this.close(unavailable('its replies are out of step'));
      return;
    }
    call.resolve(reply);
    this.idleLater();
  }

  // Posts one request and returns the promise of its reply.
  exchange(request) {
    const message = { id: this.nextId++, ...request };
    if (new TextEncoder().encode(JSON.stringify(message)).length > REQUEST_LIMIT) {
      return Promise.reject(new BridgeError('TELLVANE_BAD_REQUEST', 'The call is larger than the 8 MiB Tellvane accepts'));
    }
    clearTimeout(this.idleTimer);
    return new Promise((resolve, reject) => {
      try {
        this.port.postMessage(message);
        this.waiting.push({ id: message.id, resolve, reject });
      } catch (error) {
        reject(unavailable(error.message));
      }
    });
  }

  async send(request) {
    if (!this.port) this.connect();
    await this.ready;
    if (!this.port) throw unavailable('the host closed the connection');
    return this.exchange(request);
  }

  // An origin's host goes away a while after its last call, but not while
  // the user is being asked about one: its open port keeps the worker alive.
  idleLater() {
    clearTimeout(this.idleTimer);
    if (this.waiting.length > 0) return;
    this.idleTimer = setTimeout(() => (prompts.has(this.origin) ? this.idleLater() : this.close(null)), IDLE_CLOSE_MS);
  }

  close(error) {
    clearTimeout(this.idleTimer);
    const port = this.port;
    this.port = null;
    this.ready = null;
    for (const call of this.waiting.splice(0)) call.reject(error ?? unavailable('the connection was closed'));
    try {
      port?.disconnect();
    } catch {
      // already gone
    }
    this.onClosed(this);
  }
}

const hosts = new Map();

function hostFor(origin) {
  let host = hosts.get(origin);
  if (!host) {
    host = new HostConnection(origin, (closed) => {
      if (hosts.get(origin) === closed) hosts.delete(origin);
    });
    hosts.set(origin, host);
  }
  return host;
}

// Open questions: at most one per origin, by origin; and by the random token
// that the consent page must show to read its question and to answer it.
const prompts = new Map();
const questions = new Map();

// The answers each kind of question allows; a signature's scope is "sign:<thumbprint>".
const answersFor = (scope) => (scope.startsWith('sign:') ? ['once', 'always', 'deny'] : ['allow', 'deny']);

// Shows the question in the consent page and resolves with the user's answer,
// or null when the page was closed unanswered. A second question while one
// of the origin's is open fails at once: an origin never piles up prompts.
async function askUser(origin, question) {
  if (prompts.has(origin)) {
    throw new BridgeError('TELLVANE_ACTION_PENDING',
      `Tellvane is already asking the user about another call of ${origin}; call again once it is answered`);
  }
  const token = crypto.randomUUID();
  prompts.set(origin, token);
  try {
    return await new Promise((resolve) => {
      questions.set(token, { question: { origin, ...question }, resolve, windowId: null });
      api.windows.create({ url: api.runtime.getURL(`consent.html?token=${token}`), type: 'popup', width: 600, height: 640 })
        .then((created) => {
          const entry = questions.get(token);
          if (entry) entry.windowId = created.id;
        }, () => resolve(null));
    });
  } finally {
    questions.delete(token);
    prompts.delete(origin);
  }
}

// A window closed before its answer leaves the call unanswered.
api.windows.onRemoved.addListener((windowId) => {
  for (const entry of questions.values()) {
    if (entry.windowId === windowId) entry.resolve(null);
  }
});

function recordAnswer(token, answer) {
  const entry = questions.get(token);
  if (entry && answersFor(entry.question.scope).includes(answer)) entry.resolve(answer);
}

function checkCall(method, args) {
  if (!Object.hasOwn(METHODS, method) || !Array.isArray(args) || args.length !== METHODS[method] ||
      args.some((arg) => arg !== null && typeof arg !== 'string')) {
    throw new BridgeError('TELLVANE_BAD_REQUEST', `Not a Tellvane call: ${String(method).slice(0, 64)}`);
  }
  if (args.some((arg) => arg !== null && !isWellFormed(arg))) {
    throw new BridgeError('TELLVANE_BAD_REQUEST', `${method}: a text holds a lone surrogate, so it is not well-formed UTF-16`);
  }
}

const failure = (reply) => new BridgeError(reply.code === 'TELLVANE_BAD_REQUEST' ? reply.code : 'TELLVANE_HOST_ERROR', reply.error);

async function record(host, origin, scope, answer) {
  const recorded = await host.send({ origin, method: 'bridge.grant', args: [scope, answer] });
  if ('error' in recorded) throw failure(recorded);
}

async function callComponent(origin, method, args) {
  checkCall(method, args);
  const host = hostFor(origin);
  let reply = await host.send({ origin, method, args });
  if (reply.consent === 'ask') {
    // The question holds what the host checked and, for a text, the very text
    // that is sent again below: what the user reads is what is signed.
    const { scope, subject = null, issuer = null } = reply.prompt ?? {};
    if (typeof scope !== 'string') throw failure(reply);
    const text = method === 'signString' ? args[0] : null;
    const answer = await askUser(origin, { method, scope, subject, issuer, text });
    if (answer === 'deny' && !scope.startsWith('sign:')) await record(host, origin, scope, 'deny');
    if (answer === null || answer === 'deny') {
      throw new BridgeError('TELLVANE_CONSENT_DENIED', `The user did not allow ${origin} this call`);
    }
    if (answer !== 'once') await record(host, origin, scope, 'allow');
    reply = await host.send({ origin, method, args, ...(answer === 'once' ? { consent: 'once' } : {}) });
  }
  if (reply.consent) throw new BridgeError('TELLVANE_CONSENT_DENIED', reply.error);
  if ('error' in reply) throw failure(reply);
  return reply.result;
}

async function status(origin) {
  const host = hostFor(origin);
  if (!host.port) host.connect();
  const version = await host.ready;
  host.idleLater();
  return { extension: api.runtime.getManifest().version, host: version, protocol: PROTOCOL };
}

function fromContentScript(message, sender) {
  // The browser's record of who sent the message, never the page's word.
  const origin = sender.origin ?? (sender.url ? new URL(sender.url).origin : 'null');
  if (!sender.tab || !isSecureOrigin(origin)) {
    return Promise.reject(new BridgeError('TELLVANE_BAD_REQUEST', `Tellvane serves secure origins only, not ${origin}`));
  }
  if (message.protocol !== PROTOCOL) {
    return Promise.reject(new BridgeError('TELLVANE_VERSION_MISMATCH',
      `The page's Tellvane library speaks protocol ${message.protocol}, the extension ${PROTOCOL}: reload the page`));
  }
  return message.type === 'status' ? status(origin) : callComponent(origin, message.method, message.args);
}

api.runtime.onMessage.addListener((message, sender, sendResponse) => {
  if (sender.id !== api.runtime.id || !message) return false;
  if (message.type === 'consent-question' || message.type === 'consent-answer') {
    // Only the extension's own consent page may read a question or answer it.
    const fromConsentPage = sender.url?.startsWith(api.runtime.getURL('consent.html'));
    const entry = fromConsentPage ? questions.get(message.token) : undefined;
    if (message.type === 'consent-answer' && entry) recordAnswer(message.token, message.answer);
    sendResponse(message.type === 'consent-question' && entry ? { question: entry.question } : {});
    return false;
  }
  if (message.type !== 'call' && message.type !== 'status') return false;
  fromContentScript(message, sender).then(
    (result) => sendResponse({ result }),
    (error) => sendResponse({ error: { code: error.code ?? 'TELLVANE_HOST_ERROR', message: error.message } }));
  return true;
});
