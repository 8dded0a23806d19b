// Pages in a real browser sign through Tellvane: the unpacked extension and
// the host installed by `tellvane bridge install`, in a temporary home,
// prefix and profile, with a stand-in pinentry that holds the PIN until the
// test lets it go. Runs in each browser named by TELLVANE_BROWSERS
// ("chromium firefox"; Chromium alone by default).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { chmodSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { launchers } from './driver.mjs';

const root = path.resolve(import.meta.dirname, '../..');
const command = process.env.TELLVANE_COMMAND ?? path.join(root, 'build/tools/tellvane');
const screenshots = process.env.TELLVANE_SCREENSHOTS ?? path.join(root, 'build/browser-test');
const extension = path.join(root, 'extension');
const browsers = (process.env.TELLVANE_BROWSERS ?? 'chromium').split(/\s+/).filter(Boolean);

// Calls window.tellvane[method] in the page: {value} or the rejection's {code, message}.
const call = (page, method, ...args) => page.evaluate(async ([method, args]) => {
  try {
    return { value: await window.tellvane[method](...args) };
  } catch (error) {
    return { code: error.code, message: error.message, isError: error instanceof Error };
  }
}, [method, args]);

// Posts a request to the extension's relay as a page may without page.js; resolves with the reply.
const raw = (page, request) => page.evaluate((request) => new Promise((resolve) => {
  window.addEventListener('message', (event) => {
    if (event.data?.tellvane === 'reply' && event.data.id === 'raw') resolve(event.data);
  });
  window.postMessage({ tellvane: 'request', id: 'raw', ...request }, location.origin);
}), request);

// What a consent page shows: all its words, those outside the text's frame,
// the text to sign as drawn, and its marks.
const shown = (prompt) => prompt.evaluate(() => ({
  body: document.body.innerText,
  outside: [...document.querySelectorAll('h1, dl, #text-label, #text-warning, #note, button:not([hidden])')]
    .map((element) => element.innerText).join('\n'),
  text: document.getElementById('text').textContent,
  marks: [...document.querySelectorAll('.mark')].map((mark) => mark.textContent),
  buttons: [...document.querySelectorAll('button:not([hidden])')].map((button) => button.id),
}));

const envelope = (outcome) => {
  assert.equal(typeof outcome.value, 'string', `${outcome.code}: ${outcome.message}`);
  return JSON.parse(outcome.value);
};

// A pinentry that records each description and answers "1234" once the file "release" exists.
function pinentry(folder) {
  const script = path.join(folder, 'pinentry');
  writeFileSync(script, `#!/bin/sh
echo "OK ready"
while IFS= read -r line; do
  case "$line" in
    SETDESC*) printf '%s\\n' "\${line#SETDESC }" >> "${folder}/descriptions"; echo OK ;;
    GETPIN) while [ ! -e "${folder}/release" ]; do sleep 0.05; done; echo "D 1234"; echo OK ;;
    BYE) echo OK; exit 0 ;;
    *) echo OK ;;
  esac
done
`);
  chmodSync(script, 0o755);
  return script;
}

for (const browser of browsers) {
  test(`pages sign through the extension and the host in ${browser}`, { timeout: 180000 }, async (t) => {
    const home = mkdtempSync(path.join(tmpdir(), 'tellvane-browser-'));
    const env = { ...process.env, HOME: home, TELLVANE_PREFIX: path.join(home, 'prefix'), TELLVANE_PINENTRY: pinentry(home) };
    delete env.XDG_CONFIG_HOME;
    const tellvane = (...args) => execFileSync(command, args, { env, encoding: 'utf8' });
    const shots = path.join(screenshots, browser);
    mkdirSync(shots, { recursive: true });
    const screenshot = (prompt, name) => prompt.screenshot({ path: path.join(shots, `${name}.png`) });

    tellvane('register', '--user');
    const thumbprintOf = (out) => out.match(/thumbprint ([0-9A-F]{40})/)[1];
    // A GOST R 34.10-2012 256-bit key without a PIN, and a 2001 key locked by one.
    const plain = thumbprintOf(tellvane('certs', 'new', '--cn', 'Tellvane Browser Test', '--container', 'plain',
      '--algorithm', '2012-256'));
    const locked = thumbprintOf(tellvane('certs', 'new', '--cn', 'Locked Key', '--container', 'locked', '--pin', '1234'));
    tellvane('bridge', 'install', '--browser', browser === 'firefox' ? 'firefox' : 'chromium');

    const server = createServer((_, response) => response.end('<!DOCTYPE html><title>Tellvane test page</title>'));
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    const port = server.address().port;
    const driver = await launchers[browser](home, env, extension);
    t.after(async () => {
      await driver.close();
      server.close();
      rmSync(home, { recursive: true, force: true });
    });
    const open = async (url) => {
      const page = await driver.newPage();
      await page.goto(url);
      return page;
    };
    const bank = await open(`http://127.0.0.1:${port}/`);
    const shop = await open(`http://localhost:${port}/`);
    const bankOrigin = `http://127.0.0.1:${port}`;

    // Starts a call, waits for its consent page and returns both.
    const asking = async (page, method, ...args) => {
      const prompt = driver.nextPrompt();
      const outcome = call(page, method, ...args);
      return { prompt: await prompt, outcome };
    };

    assert.deepEqual((await call(bank, 'status')).value, { extension: '1.0.0', host: '1.0.0.1', protocol: 2 });
    assert.equal((await raw(bank, { type: 'status', protocol: 1 })).error.code, 'TELLVANE_VERSION_MISMATCH');

    // Refused at once and without a consent page: a lone surrogate (also past page.js),
    // a call too large, a thumbprint that is a page's sentence, a number for a text.
    const started = Date.now();
    const refusals = [
      await call(bank, 'signString', 'a\uD800b', plain, ''),
      (await raw(bank, { type: 'call', method: 'signString', args: ['a\uDC00', plain, ''], protocol: 2 })).error,
      await bank.evaluate((thumbprint) => window.tellvane.signString('x'.repeat(65 << 20), thumbprint, '')
        .catch((error) => ({ code: error.code, message: error.message })), plain),
      await call(bank, 'signHash', 'AAAA', 'It is safe to press Allow; your bank checked this certificate', ''),
      await call(bank, 'signHash', 5, plain),
    ];
    for (const refusal of refusals) assert.equal(refusal.code, 'TELLVANE_BAD_REQUEST', refusal.message);
    assert.ok(Date.now() - started < 10000);

    // Listing is asked once and remembered; it grants no signature.
    const list = await asking(bank, 'getCertListAsJson', '');
    const listShown = await shown(list.prompt);
    assert.match(listShown.body, new RegExp(`${bankOrigin}[\\s\\S]*read the list of your certificates`));
    assert.deepEqual(listShown.buttons, ['allow', 'deny']);
    await screenshot(list.prompt, 'consent-list');
    await list.prompt.click('#allow');
    // Each certificate names its key's algorithm: the page learns which digest signHash wants.
    const listed = envelope(await list.outcome).result;
    assert.deepEqual(Object.fromEntries(listed.map((found) => [found.Thumbprint, found.PublicKeyAlgorithm])),
      { [plain]: '1.2.643.7.1.1.1.1', [locked]: '1.2.643.2.2.19' });
    assert.equal(envelope(await call(bank, 'getCertListAsJson', '')).result.length, 2);

    // A text: the page shows the certificate the host found and the whole text, signed as shown.
    // While it is open, another question of the bank fails at once, and the shop asks its own.
    const text = 'Подпись из браузера: оплата 1 000 ₽ по счёту № 42\nвторая строка';
    const sign = await asking(bank, 'signString', text, plain, '');
    const signShown = await shown(sign.prompt);
    assert.equal(signShown.text, text);
    assert.ok(!signShown.outside.includes('оплата'), signShown.outside);
    assert.deepEqual(signShown.marks, []);
    assert.match(signShown.body, /CN=Tellvane Browser Test[\s\S]*Issued by[\s\S]*CN=Tellvane Browser Test/);
    assert.deepEqual(signShown.buttons, ['once', 'always', 'deny']);
    await screenshot(sign.prompt, 'consent-sign-text');
    assert.equal((await call(bank, 'signHash', 'AAAA', plain, '')).code, 'TELLVANE_ACTION_PENDING');
    const shopList = await asking(shop, 'getCertListAsJson', '');
    assert.match((await shown(shopList.prompt)).body, new RegExp(`http://localhost:${port}`));
    await shopList.prompt.click('#deny');
    assert.equal((await shopList.outcome).code, 'TELLVANE_CONSENT_DENIED');
    await sign.prompt.click('#once');
    const signedText = envelope(await sign.outcome);
    assert.equal(signedText.success, true, signedText.result);
    tellvane('verify', '--text', text, signedText.result);

    // This time only: the next signature asks again. A digest is named as such, never shown.
    const digest = randomBytes(32).toString('base64');
    const hash = await asking(bank, 'signHash', digest, plain, '');
    const hashShown = await shown(hash.prompt);
    assert.match(hashShown.body, /a prepared digest/);
    assert.ok(!hashShown.body.includes(digest));
    await screenshot(hash.prompt, 'consent-sign-digest');
    await hash.prompt.click('#always');
    tellvane('verify', '--digest', digest, envelope(await hash.outcome).result);
    tellvane('verify', '--text', 'again', envelope(await call(bank, 'signString', 'again', plain, '')).result);

    // Characters one cannot see are marked, and a zero is signed with the rest. While the
    // key's PIN is asked for, the shop's calls go on; the PIN prompt names who asks.
    const hidden = 'Итого: 100\u0000 ₽\u200B\u202Eecnalab';
    const marked = await asking(bank, 'signString', hidden, locked, '');
    const markedShown = await shown(marked.prompt);
    assert.deepEqual(markedShown.marks, ['U+0000', 'U+200B', 'U+202E']);
    await screenshot(marked.prompt, 'consent-sign-hidden-characters');
    assert.equal(markedShown.text, hidden.replace('\u0000', 'U+0000').replace('\u200B', 'U+200B').replace('\u202E', 'U+202E'));
    await marked.prompt.click('#once');
    const held = Date.now();
    assert.equal((await call(shop, 'getCertListAsJson', '')).code, 'TELLVANE_CONSENT_DENIED');
    assert.equal((await call(shop, 'status')).value.host, '1.0.0.1');
    assert.ok(Date.now() - held < 5000);
    writeFileSync(path.join(home, 'release'), '');
    const signedHidden = envelope(await marked.outcome);
    assert.equal(signedHidden.success, true, signedHidden.result);
    writeFileSync(path.join(home, 'hidden.txt'), hidden);
    tellvane('verify', '--file', path.join(home, 'hidden.txt'), signedHidden.result);
    const description = readFileSync(path.join(home, 'descriptions'), 'utf8');
    assert.match(description, new RegExp(`${bankOrigin}.*CN=Locked Key`));

    // Messages are asked for too; a closed consent page is a refusal, and nothing is recorded.
    const message = await asking(bank, 'showMessage', 'Your bank: all is well');
    assert.match((await shown(message.prompt)).body, /show you messages/);
    await message.prompt.close();
    assert.equal((await message.outcome).code, 'TELLVANE_CONSENT_DENIED');

    const origins = tellvane('bridge', 'origins');
    assert.match(origins, new RegExp(`^allow .* ${bankOrigin}  list the certificates$`, 'm'));
    assert.match(origins, new RegExp(`^allow .* ${bankOrigin}  sign with certificate ${plain}$`, 'm'));
    assert.match(origins, new RegExp(`^deny .* http://localhost:${port}  list the certificates$`, 'm'));
    assert.doesNotMatch(origins, /message|Locked/);
    tellvane('bridge', 'origins', '--revoke', bankOrigin);
    const again = await asking(bank, 'signHash', digest, plain, '');
    await again.prompt.click('#deny');
    assert.equal((await again.outcome).code, 'TELLVANE_CONSENT_DENIED');
  });
}
