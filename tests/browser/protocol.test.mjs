// The page library, the extension and the host each write down the list of
// methods, the protocol they speak and (extension and host) which origins
// are secure; these checks fail when any two disagree. They also drive the
// service worker's code against a stand-in host that answers out of step.
// No browser needed: the scripts run in node's vm, the host as a process.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import vm from 'node:vm';

const root = path.resolve(import.meta.dirname, '../..');
const command = process.env.TELLVANE_COMMAND ?? path.join(root, 'build/tools/tellvane');
const hostProgram = path.join(path.dirname(command), 'tellvane-bridge');
const source = (name) => readFileSync(path.join(root, 'extension', name), 'utf8');
const event = () => {
  const listeners = [];
  return { addListener: (listener) => listeners.push(listener), fire: (...args) => listeners.map((l) => l(...args)) };
};

// background.js with a browser whose native port is `port`; returns the script's own names.
function loadBackground(port = {}) {
  const onMessage = event();
  const chrome = {
    runtime: {
      id: 'tellvane', onMessage, getManifest: () => ({ version: '1.0.0' }), getURL: (file) => `ext:/${file}`,
      connectNative: () => port,
    },
    windows: { create: () => new Promise(() => {}), onRemoved: event() },
  };
  const context = vm.createContext({ chrome, URL, TextEncoder, crypto, setTimeout, clearTimeout, console });
  const names = vm.runInContext(`${source('background.js')}\n({ METHODS, PROTOCOL, isSecureOrigin })`, context);
  return { ...names, onMessage };
}

// page.js in a window of its own; returns window.tellvane.
function loadPage() {
  const window = { location: { origin: 'https://a.example' }, addEventListener: () => {}, postMessage: () => {} };
  vm.runInContext(source('page.js'), vm.createContext({ window, TextEncoder, RegExp, setTimeout, clearTimeout }));
  return window.tellvane;
}

// Each request framed as a browser frames it; the host's replies in order.
function askHost(requests) {
  const prefix = mkdtempSync(path.join(tmpdir(), 'tellvane-protocol-'));
  try {
    const input = Buffer.concat(requests.map((request, id) => {
      const body = Buffer.from(JSON.stringify({ id, ...request }));
      const length = Buffer.alloc(4);
      length.writeUInt32LE(body.length);
      return Buffer.concat([length, body]);
    }));
    const run = spawnSync(hostProgram, ['chrome-extension://test/'], { input, env: { ...process.env, TELLVANE_PREFIX: prefix } });
    const replies = [];
    for (let at = 0; at + 4 <= run.stdout.length; at += 4 + run.stdout.readUInt32LE(at)) {
      replies.push(JSON.parse(run.stdout.subarray(at + 4, at + 4 + run.stdout.readUInt32LE(at))));
    }
    assert.equal(replies.length, requests.length, run.stderr.toString());
    return replies;
  } finally {
    rmSync(prefix, { recursive: true, force: true });
  }
}

test('the page library, the extension and the host agree on the methods and the protocol', () => {
  const background = loadBackground();
  const page = loadPage();
  const pageMethods = Object.fromEntries(Object.entries(page)
    .filter(([name, value]) => typeof value === 'function' && !['status', 'Error'].includes(name))
    .map(([name, method]) => [name, method.length]));
  assert.deepEqual(pageMethods, { ...background.METHODS });

  // The host names a method's arity when called with none, and refuses what it does not know.
  const probes = [...new Set([...Object.keys(background.METHODS), 'getCertList', 'sign', 'bridge.allow'])];
  const replies = askHost([{ method: 'bridge.version' },
    ...probes.map((method) => ({ origin: 'https://a.example', method, args: [] }))]);
  assert.equal(replies[0].protocol, background.PROTOCOL);
  assert.equal(page.protocol, background.PROTOCOL);
  const hostMethods = {};
  probes.forEach((method, index) => {
    const arity = replies[index + 1].error.match(/^\S+ takes (\d+) arguments?, not 0$/);
    if (arity) hostMethods[method] = Number(arity[1]);
  });
  assert.deepEqual(hostMethods, { ...background.METHODS });
});

test('the extension and the host agree on which origins are secure', () => {
  const { isSecureOrigin } = loadBackground();
  const origins = ['https://a.example', 'https://a.example:8443', 'http://localhost', 'http://localhost:3000',
    'http://127.0.0.1:80', 'https://a.example:443', 'https://a.example:0443', 'https://a.example:65536',
    'https://a.example:0', 'http://[::1]:8080', 'http://a.example', 'http://127.0.0.2', 'https://A.example',
    'https://a.example/', 'https://a.example:', 'http://localhost.evil.example', 'file://', 'null',
    'https://xn--80ak6aa92e.example', `https://${'a'.repeat(250)}.example`, 'chrome-extension://abc'];
  const replies = askHost(origins.map((origin) => ({ origin, method: 'getCertListAsJson', args: [''] })));
  const disagreements = origins.filter((origin, index) =>
    isSecureOrigin(origin) === /is not a secure origin/.test(replies[index].error));
  assert.deepEqual(disagreements, []);
});

test('a host reply that matches no call never leaves a call waiting', async () => {
  // A stand-in host: the version first, then each call is answered as `answer` says.
  let answer;
  const onMessage = event();
  const port = {
    onMessage, onDisconnect: event(), disconnect: () => {},
    postMessage: (request) => queueMicrotask(() => onMessage.fire(request.method === 'bridge.version'
      ? { id: request.id, result: '1.0.0.1', protocol: 2 } : answer(request))),
  };
  const background = loadBackground(port);
  const send = (args) => new Promise((resolve) => background.onMessage.fire(
    { type: 'call', method: 'signString', args, protocol: 2 },
    { id: 'tellvane', tab: {}, origin: 'https://a.example' }, resolve));
  answer = () => ({ id: null, error: 'The message is not JSON', code: 'TELLVANE_BAD_REQUEST' });
  assert.equal((await send(['a', null, null])).error.code, 'TELLVANE_BAD_REQUEST');
  answer = (request) => ({ id: request.id + 100, result: 'another call' });
  assert.equal((await send(['a', null, null])).error.code, 'TELLVANE_HOST_UNAVAILABLE');
  answer = (request) => ({ id: request.id, result: 'signed' });
  assert.equal((await send(['a', null, null])).result, 'signed');
  assert.equal((await send(['a\uD800', null, null])).error.code, 'TELLVANE_BAD_REQUEST');
});
