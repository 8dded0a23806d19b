// The consent page: reads its question from the service worker with the
// token it was opened with, shows it, and hands back the user's answer.
// Every word on it is the extension's own except the facts: the origin the
// browser named, the certificate the host found, and the text to be signed,
// shown whole inside its frame with every character one cannot see marked.
'use strict';
const api = globalThis.browser ?? globalThis.chrome;
const token = new URLSearchParams(window.location.search).get('token');
const $ = (id) => document.getElementById(id);

// Characters that show nothing, or show as something else: controls, format
// characters (zero-width, bidirectional), unassigned and private code
// points, separators other than the plain space, and the blank fillers.
// A line feed is shown as the line break it is.
const INVISIBLE = /([^\P{C}\n]|[^\P{Z} ]|[\u115F\u1160\u3164\uFFA0])/u;

function codePoint(character) {
  return `U+${character.codePointAt(0).toString(16).toUpperCase().padStart(4, '0')}`;
}

// The text as nodes, each invisible character as a marked code; returns how many were marked.
function showText(text, into) {
  let marked = 0;
  text.split(INVISIBLE).forEach((part, index) => {
    if (index % 2 === 0) {
      if (part) into.append(part);
      return;
    }
    const mark = document.createElement('span');
    mark.className = 'mark';
    mark.textContent = codePoint(part);
    into.append(mark);
    ++marked;
  });
  return marked;
}

function show(question) {
  $('origin').textContent = question.origin;
  const signing = question.scope.startsWith('sign:');
  if (signing) {
    $('title').textContent = 'Sign with your certificate?';
    for (const name of ['subject', 'issuer']) {
      $(name).textContent = question[name] ?? '';
      $(name).hidden = $(`${name}-label`).hidden = false;
    }
    const characters = question.text === null ? 0 : [...question.text].length;
    $('what').textContent = question.method === 'signString'
      ? `sign the text below: ${characters} character${characters === 1 ? '' : 's'}, all of it, exactly as shown`
      : 'sign a prepared digest: the site computed it, and Tellvane cannot show you what it stands for';
    if (question.method === 'signString') {
      $('text-box').hidden = false;
      $('text-label').textContent = 'The text to be signed (written by the site):';
      const marked = showText(question.text, $('text'));
      if (marked > 0) {
        $('text-warning').hidden = false;
        $('text-warning').textContent =
          `The text holds ${marked} character${marked === 1 ? '' : 's'} you could not see; each is shown as its code, such as U+200B.`;
      }
    }
    $('note').textContent = 'Your key\'s PIN may be asked for next. "Always" lets this site sign with this certificate ' +
      'without asking again; `tellvane bridge origins` lists and revokes what you allowed.';
  } else {
    const listing = question.scope === 'list';
    $('title').textContent = 'Allow this site to use Tellvane?';
    $('what').textContent = listing
      ? 'read the list of your certificates'
      : 'show you messages, in windows titled with its address';
    $('note').textContent = `Your answer is remembered for this site. ${listing ? 'Each signature is asked for separately. ' : ''}` +
      '`tellvane bridge origins` lists and revokes it.';
  }
  for (const answer of signing ? ['once', 'always', 'deny'] : ['allow', 'deny']) {
    const button = $(answer);
    button.hidden = false;
    button.addEventListener('click', async () => {
      try {
        await api.runtime.sendMessage({ type: 'consent-answer', token, answer });
      } finally {
        window.close();
      }
    });
  }
  document.body.dataset.ready = 'true';
}

api.runtime.sendMessage({ type: 'consent-question', token }).then((reply) => {
  if (reply?.question) show(reply.question);
  else window.close();  // no such question: answered, or not ours
});
