// Drives Tellvane.Signer32 through Windows' own script host, as a page's
// script does: created by ProgID, called by name, answers read as JSON.
//
//   cscript //nologo signer32.js <ProgID>...
//
// The object created by each ProgID works; the personal store holds gost.pem
// and keyless.pem.
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

// The test certificates as the component describes them.
var expected = {
  "B34D261BED66548D9FE07522E17E560E3B84DEE3": { Thumbprint: "B34D261BED66548D9FE07522E17E560E3B84DEE3",
    DistinguishedName: "O=Tellvane tests, CN=\u0422\u0435\u0441\u0442\u043e\u0432\u044b\u0439 \u043f\u043e\u0434\u043f\u0438\u0441\u0430\u043d\u0442",
    IssuerDistinguishedName: "O=Tellvane tests, CN=\u0422\u0435\u0441\u0442\u043e\u0432\u044b\u0439 \u043f\u043e\u0434\u043f\u0438\u0441\u0430\u043d\u0442",
    NotBefore: "2026-12-07 01:22:18.000", NotAfter: "2027-12-07 01:22:18.000", PublicKeyAlgorithm: "1.2.643.2.2.19" },
  "0B1F7443D6461EBDB28DB6025B94BFD9A0D14F81": { Thumbprint: "0B1F7443D6461EBDB28DB6025B94BFD9A0D14F81",
    DistinguishedName: 'C=RU, O="Quote ""Tests"", Comma Ltd", CN="Backslash \\ and semicolon; sign"',
    IssuerDistinguishedName: 'C=RU, O="Quote ""Tests"", Comma Ltd", CN="Backslash \\ and semicolon; sign"',
    NotBefore: "2026-12-07 02:22:20.000", NotAfter: "2046-12-02 02:22:20.000", PublicKeyAlgorithm: "1.2.840.113549.1.1.1" }
};
var fields = ["Thumbprint", "DistinguishedName", "IssuerDistinguishedName", "NotBefore", "NotAfter", "PublicKeyAlgorithm"];
var notFound = /^Exception has been thrown in file 'shared\/clientcrypto\.cpp' at line \d+\. The text is: Certificate wasnt found$/;
var digest = "MDEyMzQ1Njc4OWFiY2RlZjAxMjM0NTY3ODlhYmNkZWY=";

// Both certificates, each exactly as described above, in whatever order.
function checkCertificateList(signer) {
  var envelope = parse(signer.getCertListAsJson(""), listEnvelope, "getCertListAsJson");
  if (envelope == null) return;
  check(envelope.result.length == 2, "getCertListAsJson lists " + envelope.result.length + " certificates");
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
  checkFailure(signer.signHash(digest, unknown, ""), "signHash of an unknown thumbprint", notFound);
  checkFailure(signer.signString("text", unknown, "1234"), "signString of an unknown thumbprint", notFound);
}

// A script error (an object that cannot be created among them) counts as a failure.
var progIds = [];
for (var a = 0; a < WScript.Arguments.length; a++) progIds.push(WScript.Arguments(a));
try {
  for (var i = 0; i < progIds.length; i++) {
    var signer = new ActiveXObject(progIds[i]);
    checkCertificateList(signer);
    checkSigning(signer);
  }
} catch (e) {
  check(false, "uncaught error " + (e.number >>> 0).toString(16) + ": " + e.message);
}
WScript.Echo("signer32.js: " + checks + " checks, " + failures + " failures");
WScript.Quit(failures);
