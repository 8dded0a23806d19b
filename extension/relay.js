// Carries the page's calls to the service worker and its answers back. Runs
// in the extension's isolated world beside page.js; the page never reaches
// the extension's messaging itself.
(() => {
  'use strict';
  const api = globalThis.browser ?? globalThis.chrome;

  window.addEventListener('message', (event) => {
    const call = event.data;
    if (event.source !== window || !call || call.tellvane !== 'request') return;
    const answer = (reply) => window.postMessage({ tellvane: 'reply', id: call.id, ...reply }, window.location.origin);
    const unavailable = (error) =>
      answer({ error: { code: 'TELLVANE_EXTENSION_UNAVAILABLE', message: `The Tellvane extension is not available: ${error}` } });
    try {
      api.runtime
        .sendMessage({ type: call.type, method: call.method, args: call.args, protocol: call.protocol })
        .then((reply) => (reply ? answer(reply) : unavailable('no answer')), (error) => unavailable(error.message));
    } catch (error) {
      unavailable(error.message);  // the extension was reloaded or removed under the page
    }
  });
})();
