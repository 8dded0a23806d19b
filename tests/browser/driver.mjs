// One browser with the unpacked extension loaded, in a profile of the given
// home: Chromium through Playwright, Firefox ESR through Puppeteer over
// WebDriver BiDi. Both give pages with goto, evaluate, click and screenshot.
import path from 'node:path';

// Resolves with the next consent page once it shows its question.
async function ready(page) {
  await page.waitForFunction(() => location.href.includes('consent.html') && document.body?.dataset.ready === 'true');
  return page;
}

async function chromium(home, env, extension) {
  const { chromium } = await import('playwright-core');
  const context = await chromium.launchPersistentContext(path.join(home, '.config/chromium'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    env,
    args: [`--disable-extensions-except=${extension}`, `--load-extension=${extension}`],
  });
  return {
    newPage: () => context.newPage(),
    nextPrompt: () => context.waitForEvent('page').then(ready),
    close: () => context.close(),
  };
}

async function firefox(home, env, extension) {
  const { default: puppeteer } = await import('puppeteer-core');
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    headless: true,
    userDataDir: path.join(home, 'firefox-profile'),
    env,
  });
  await browser.installExtension(extension);
  const seen = new Set(browser.targets());
  return {
    newPage: async () => {
      const page = await browser.newPage();
      seen.add(page.target());
      return page;
    },
    // A popup's address reads about:blank here until its page has loaded.
    nextPrompt: async () => {
      const target = await browser.waitForTarget((t) => t.type() === 'page' && !seen.has(t), { timeout: 30000 });
      seen.add(target);
      return ready(await target.page());
    },
    close: () => browser.close(),
  };
}

export const launchers = { chromium, firefox };
