// The consent page: shows which origin asks for what, and hands the user's
// answer to the service worker with the token it was opened with.
'use strict';
const api = globalThis.browser ?? globalThis.chrome;
const query = new URLSearchParams(window.location.search);
document.getElementById('origin').textContent = query.get('origin');
document.getElementById('what').textContent = query.get('what');

for (const answer of ['allow', 'deny']) {
  document.getElementById(answer).addEventListener('click', async () => {
    try {
      await api.runtime.sendMessage({ type: 'consent-answer', token: query.get('token'), answer });
    } finally {
      window.close();
    }
  });
}
