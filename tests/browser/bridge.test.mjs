// A page in Chromium signs through Tellvane: the unpacked extension and the
// host installed by `tellvane bridge install`, in a temporary home, prefix
// and profile. The page lists the certificates, signs a text and a digest,
// and both tuples verify; another origin is refused without consent.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const root = path.resolve(import.meta.dirname, '../..');
const command = process.env.TELLVANE_COMMAND ?? path.join(root, 'build/tools/tellvane');
const screenshots = process.env.TELLVANE_SCREENSHOTS ?? path.join(root, 'build/browser-test');
const extension = path.join(root, 'extension');

const home = mkdtempSync(path.join(tmpdir(), 'tellvane-browser-'));
const env = { ...process.env, HOME: home, TELLVANE_PREFIX: path.join(home, 'prefix'), TELLVANE_PINENTRY: '' };
delete env.XDG_CONFIG_HOME;
const tellvane = (...args) => execFileSync(command, args, { env, encoding: 'utf8' });

// Calls window.tellvane[method] in the page: {value} or the rejection's {code, message}.
const call = (page, method, ...args) => page.evaluate(async ([method, args]) => {
  try {
    return { value: await window.tellvane[method](...args) };
  } catch (error) {
    return { code: error.code, message: error.message, isError: error instanceof Error };
  }
}, [method, args]);

// Starts a call that needs consent, answers the consent page and returns the call's outcome.
async function withConsent(context, page, answer, method, ...args) {
  const prompt = context.waitForEvent('page');
  const outcome = call(page, method, ...args);
  const consent = await prompt;
  await consent.waitForSelector('#allow');
  const shown = await consent.textContent('body');
  await consent.screenshot({ path: path.join(screenshots, `consent-${answer}.png`) });
  await consent.click(`#${answer}`);
  return { shown, outcome: await outcome };
}

const envelope = (outcome) => {
  assert.equal(typeof outcome.value, 'string', `${outcome.code}: ${outcome.message}`);
  return JSON.parse(outcome.value);
};

test('a page signs through the extension and the host', async (t) => {
  mkdirSync(screenshots, { recursive: true });
  tellvane('register', '--user');
  tellvane('certs', 'new', '--cn', 'Tellvane Browser Test');
  tellvane('bridge', 'install', '--browser', 'chromium');

  const server = createServer((_, response) => response.end('<!DOCTYPE html><title>Tellvane test page</title>'));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const port = server.address().port;
  const context = await chromium.launchPersistentContext(path.join(home, '.config/chromium'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    env,
    args: [`--disable-extensions-except=${extension}`, `--load-extension=${extension}`],
  });
  t.after(async () => {
    await context.close();
    server.close();
    rmSync(home, { recursive: true, force: true });
  });

  const page = await context.newPage();
  await page.goto(`http://127.0.0.1:${port}/`);
  assert.deepEqual((await call(page, 'status')).value, { extension: '1.0.0', host: '1.0.0.1' });

  const { shown, outcome: listing } = await withConsent(context, page, 'allow', 'getCertListAsJson', '');
  assert.match(shown, new RegExp(`http://127\\.0\\.0\\.1:${port}[\\s\\S]*to read the list of your certificates`));
  const certificates = envelope(listing);
  assert.equal(certificates.success, true);
  assert.equal(certificates.result.length, 1);
  const thumbprint = certificates.result[0].Thumbprint;

  const text = 'Подпись из браузера';
  const signedText = envelope(await call(page, 'signString', text, thumbprint, ''));
  assert.equal(signedText.success, true, signedText.result);
  tellvane('verify', '--text', text, signedText.result);

  const digest = randomBytes(32).toString('base64');
  const signedDigest = envelope(await call(page, 'signHash', digest, thumbprint, ''));
  assert.equal(signedDigest.success, true, signedDigest.result);
  tellvane('verify', '--digest', digest, signedDigest.result);

  const unknown = envelope(await call(page, 'signString', text, '0'.repeat(40), ''));
  assert.equal(unknown.success, false);

  assert.equal((await call(page, 'signHash', 5, thumbprint)).code, 'TELLVANE_BAD_REQUEST');

  // Another origin (the same server by another name) is refused once denied, and stays refused.
  const other = await context.newPage();
  await other.goto(`http://localhost:${port}/`);
  const denied = await withConsent(context, other, 'deny', 'signString', text, thumbprint, '');
  assert.match(denied.shown, /to sign a text with the certificate [0-9A-F]{40}/);
  for (const refusal of [denied.outcome, await call(other, 'getCertListAsJson', '')]) {
    assert.equal(refusal.code, 'TELLVANE_CONSENT_DENIED');
    assert.equal(refusal.isError, true);
  }
  const origins = tellvane('bridge', 'origins');
  assert.match(origins, new RegExp(`^allow .* http://127\\.0\\.0\\.1:${port}$`, 'm'));
  assert.match(origins, new RegExp(`^deny .* http://localhost:${port}$`, 'm'));
});
