// Drives Tellvane.Signer32 through Windows' own script host, as a page's
// script does: created by ProgID, called by name, answers read as JSON.
//
//   cscript //nologo signer32.js <ProgID> sign <thumbprint> <digest>
//   cscript //nologo signer32.js <ProgID> refuse <thumbprint> <error text>
//
// The personal store holds the test certificates (described below). "sign"
// checks the list and signs with the certificate of the thumbprint the texts
// of signing.txt (the short text, the empty one, 1 MiB) and the digest,
// printing each sign tuple as "TUPLE <name> <Base64>" for the caller to
// verify. "refuse" checks that both signing methods fail with exactly that
// text.
// Prints a line per failed check and a last line with the counts; the exit
// code is the number of failures. (A script error would end cscript with 0,
// so everything runs inside one guard and the last line proves the end.)
var failures = 0;
var checks = 0;

function check(ok, what) {
  checks++;
  if (!ok) {
    failures++;
    WScript.Echo("FAIL: " + what);
  }
}

// The script host has no JSON object: a text is evaluated only after it has
// matched the exact shape of an envelope, which admits JSON strings alone.
var jsonString = '"(?:[^"\\\\\\u0000-\\u001f]|\\\\["\\\\/bfnrt]|\\\\u[0-9A-Fa-f]{4})*"';
var certificate = '\\{"Thumbprint":' + jsonString + ',"DistinguishedName":' + jsonString +
    ',"IssuerDistinguishedName":' + jsonString + ',"NotBefore":' + jsonString + ',"NotAfter":' + jsonString +
    ',"PublicKeyAlgorithm":' + jsonString + '\\}';
var listEnvelope = new RegExp('^\\{"success":true,"result":\\[(?:' + certificate + '(?:,' + certificate + ')*)?\\]\\}$');
var textEnvelope = new RegExp('^\\{"success":(?:true|false),"result":' + jsonString + '\\}$');

function parse(text, shape, what) {
  var ok = typeof text == "string" && shape.test(text);
  check(ok, what + ": not an envelope: " + text);
  return ok ? eval("(" + text + ")") : null;
}

// The test certificates as the component describes them: a GOST one of each
// key algorithm, one that names no key, and one with an RSA key and a name
// full of quoting.
var testSigner = "O=Tellvane tests, CN=\u0422\u0435\u0441\u0442\u043e\u0432\u044b\u0439 \u043f\u043e\u0434\u043f\u0438\u0441\u0430\u043d\u0442";
var quoting = 'C=RU, O="Quote ""Tests"", Comma Ltd", CN="Backslash \\ and semicolon; sign"';
var expected = {};
function described(thumbprint, name, notBefore, notAfter, algorithm) {
  expected[thumbprint] = { Thumbprint: thumbprint, DistinguishedName: name, IssuerDistinguishedName: name,
    NotBefore: notBefore + ".000", NotAfter: notAfter + ".000", PublicKeyAlgorithm: algorithm };
}
described("F49DE7408D2F1841BC82ECFC2025918BDA9B8FEF", testSigner, "2026-12-07 16:07:27", "2046-12-02 16:07:27", "1.2.643.2.2.19");
described("78A5E025E4B16DC0D9403AC762D8500E19D1C553", testSigner + " 2012-256", "2026-12-07 17:39:56", "2046-12-02 17:39:56",
    "1.2.643.7.1.1.1.1");
described("F6A50697BEF32116BAE1C8F725C515C6BA85C4F5", testSigner + " 2012-512", "2026-12-07 17:39:49", "2046-12-02 17:39:49",
    "1.2.643.7.1.1.1.2");
described("F28FDDFAD780C16352E44D6B217D3660DD4C7520", "O=Tellvane tests, CN=No key here", "2026-12-07 17:47:39",
    "2046-12-02 17:47:39", "1.2.643.2.2.19");
described("0B1F7443D6461EBDB28DB6025B94BFD9A0D14F81", quoting, "2026-12-07 02:22:20", "2046-12-02 02:22:20", "1.2.840.113549.1.1.1");
var fields = ["Thumbprint", "DistinguishedName", "IssuerDistinguishedName", "NotBefore", "NotAfter", "PublicKeyAlgorithm"];
var notFound = /^Exception has been thrown in file 'shared\/clientcrypto\.cpp' at line \d+\. The text is: Certificate wasnt found$/;
var unknownDigest = "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=";
var emptyText = /^Exception has been thrown in file 'shared\/clientcrypto\.cpp' at line \d+\. The text is: [\s\S]+$/;

// Every test certificate, each exactly as described above, in whatever order.
function checkCertificateList(signer) {
  var envelope = parse(signer.getCertListAsJson(""), listEnvelope, "getCertListAsJson");
  if (envelope == null) return;
  check(envelope.result.length == 5, "getCertListAsJson lists " + envelope.result.length + " certificates");
  for (var i = 0; i < envelope.result.length; i++) {
    var found = envelope.result[i], wanted = expected[found.Thumbprint];
    for (var k = 0; k < fields.length; k++) {
      check(wanted != null && found[fields[k]] === wanted[fields[k]], found.Thumbprint + " " + fields[k] + ": " + found[fields[k]]);
    }
  }
}

function checkFailure(text, what, pattern) {
  var envelope = parse(text, textEnvelope, what);
  if (envelope == null) return;
  check(envelope.success === false, what + " fails");
  check(pattern.test(envelope.result), what + ": " + envelope.result);
}

// The methods called by name with their arguments in order: an unknown
// thumbprint is reported as such. (signer32_test checks the unreachable keys.)
function checkSigning(signer) {
  var unknown = "0000000000000000000000000000000000000000";
  checkFailure(signer.signHash(unknownDigest, unknown, ""), "signHash of an unknown thumbprint", notFound);
  checkFailure(signer.signString("text", unknown, "1234"), "signString of an unknown thumbprint", notFound);
}

// The texts of signing.txt: one with Cyrillic letters and a pair of
// surrogates, and 1 MiB of UTF-8 ("\u0416\u0436" and 12 bytes more, 65536 times).
var shortText = "\u0414\u043e\u0433\u043e\u0432\u043e\u0440 \u21161 \u043e\u0442 7 " +
    "\u0434\u0435\u043a\u0430\u0431\u0440\u044f \u2014 \u043f\u043e\u0434\u043f\u0438\u0441\u044c \ud83d\ude00";
function mebibyteText() {
  var text = "\u0416\u04360123456789a\n";
  while (text.length < 14 * 65536) text += text;
  return text;
}

// Prints the tuple of a success envelope for the caller to verify.
function printTuple(name, text) {
  var envelope = parse(text, textEnvelope, name);
  if (envelope == null) return;
  check(envelope.success === true && /^[A-Za-z0-9+\/]+=*$/.test(envelope.result), name + ": " + envelope.result);
  if (envelope.success === true) WScript.Echo("TUPLE js-" + name + " " + envelope.result);
}

function sign(signer, thumbprint, digest) {
  checkCertificateList(signer);
  checkSigning(signer);
  printTuple("text", signer.signString(shortText, thumbprint, ""));
  printTuple("mebibyte", signer.signString(mebibyteText(), thumbprint, ""));
  printTuple("digest", signer.signHash(digest, thumbprint, "1234"));
  checkFailure(signer.signString("", thumbprint, ""), "signString of the empty text", emptyText);
}

function refuse(signer, thumbprint, text) {
  var exactly = { test: function (found) { return found === text; } };
  checkFailure(signer.signString(shortText, thumbprint, ""), "signString refused", exactly);
  checkFailure(signer.signHash(unknownDigest, thumbprint, ""), "signHash refused", exactly);
}

// A script error (an object that cannot be created among them) counts as a failure.
var args = [];
for (var a = 0; a < WScript.Arguments.length; a++) args.push(WScript.Arguments(a));
try {
  var signer = new ActiveXObject(args[0]);
  if (args[1] == "sign") sign(signer, args[2], args[3]);
  else if (args[1] == "refuse") refuse(signer, args[2], args[3]);
  else check(false, "unknown mode " + args[1]);
} catch (e) {
  check(false, "uncaught error " + (e.number >>> 0).toString(16) + ": " + e.message);
}
WScript.Echo("signer32.js: " + checks + " checks, " + failures + " failures");
WScript.Quit(failures);
