// Digest and string signing from end to end: the certificate chosen by
// thumbprint, its key found by the provider, the sign tuple in the envelope,
// the signature checked by a second implementation, and every failure as an
// envelope with the platform's text.
#include "shared/clientcrypto.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "common/memoryinputstream.h"
#include "csp++/cryptoutils.h"
#include "csp++/signtuple.h"
#include "csp++/x509certificate.h"
#include "support/certfactory.h"
#include "support/comtest.h"
#include "support/gostsigning.h"
#include "support/json.h"
#include "support/tempprefix.h"
#include "support/thrown.h"

namespace {

using tvtest::Bytes;
using tvtest::KeyKind;
using tvtest::lineless;

using comtest::Bstr;
using Operation = HRESULT (ClientCrypto::*)(BSTR, BSTR, BSTR, BSTR*);

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class SigningTest : public ::testing::Test {
 protected:
  // A certificate in the user's personal store with its key in a container.
  tvtest::TestCertificate install(KeyKind kind = KeyKind::Gost2001ParamSetA, const std::string& container = "key") {
    tvtest::CertificateOptions options;
    options.key = kind;
    const tvtest::TestCertificate made = tvtest::makeCertificate(options);
    tvtest::installCertificate(prefix.path(), container + ".der", made.der);
    tvtest::installKeyContainer(container, made.privateKeyPem, made.publicKeyDer);
    return made;
  }

  // The operation's envelope; the digest is given in Base64, the PIN as "1234".
  static tvtest::Envelope sign(Operation operation, const std::u16string& data, const std::string& thumbprint) {
    Bstr input(data), thumb(wide(thumbprint)), pin(u"1234");
    BSTR result = nullptr;
    EXPECT_EQ((ClientCrypto().*operation)(input.get(), thumb.get(), pin.get(), &result), S_OK);
    tvtest::Envelope envelope = tvtest::parseEnvelope(result);
    SysFreeString(result);
    return envelope;
  }
  static tvtest::Envelope signHash(const std::string& encodedHash, const std::string& thumbprint) {
    return sign(&ClientCrypto::signHash, wide(encodedHash), thumbprint);
  }

  tvtest::TempPrefix prefix;
  tvtest::ScopedPinentry noPinentry;
};

class SigningParameterSet : public SigningTest, public ::testing::WithParamInterface<KeyKind> {};

TEST_P(SigningParameterSet, SignaturesOfDigestsAndTextsVerifyElsewhere) {
  install(KeyKind::Gost2001ParamSetA, "decoy");
  const tvtest::TestCertificate made = install(GetParam(), "signer");
  const std::string thumbprint = tvtest::sha1Hex(made.der);

  // A text with Cyrillic letters and a surrogate pair (U+1D11E) is signed
  // over its UTF-8 bytes.
  const std::u16string text = u"Подпись \U0001D11E ok";
  const std::string utf8 = "\xD0\x9F\xD0\xBE\xD0\xB4\xD0\xBF\xD0\xB8\xD1\x81\xD1\x8C \xF0\x9D\x84\x9E ok";
  // A long text is converted in pieces of 16,384 units: a pair across the
  // first piece's end, a lone high surrogate ending the second and a lone
  // low one ending the third give the bytes of the whole text.
  const std::u16string x(16383, u'x');
  const std::u16string longText = x + u"\U0001F600" + x.substr(2) + u'\xD800' + x + u'\xDC00';
  const std::string ascii(x.begin(), x.end());
  const std::string longUtf8 = ascii + "\xF0\x9F\x98\x80" + ascii.substr(2) + "\xEF\xBF\xBD" + ascii + "\xEF\xBF\xBD";
  const Bytes digest = tvtest::gostDigest("a digest computed by the page");
  const auto signText = [&](const std::u16string& t) { return sign(&ClientCrypto::signString, t, thumbprint); };
  const struct {
    const char* operation;
    tvtest::Envelope envelope;
    Bytes digest;
  } results[] = {
      {"signHash", signHash(base64Encode(digest), thumbprint), digest},
      {"signString", signText(text), tvtest::gostDigest(utf8)},
      {"signString of a long text", signText(longText), tvtest::gostDigest(longUtf8)},
      {"signString of a text with zeros", signText(longText + std::u16string(u"\0signed too\0", 12)),
       tvtest::gostDigest(longUtf8 + std::string("\0signed too\0", 12))},
      {"signString of a text that starts with a zero", signText(std::u16string(u"\0a", 2)),
       tvtest::gostDigest(std::string("\0a", 2))},
  };
  for (const auto& r : results) {
    ASSERT_TRUE(r.envelope.success) << r.operation << ": " << r.envelope.text;
    // The record's layout is the tuple reader's test; here, that it holds exactly one.
    const Bytes record = base64Decode(r.envelope.result.get<std::string>());
    Sys::MemoryInputStream stream(record);
    Bytes signature;
    Crypto::X509Certificate certificate;
    Aux::load_sign_tuple_from_stream(stream, signature, certificate);
    EXPECT_EQ(stream.position(), record.size()) << r.operation;
    EXPECT_EQ(certificate.thumbprint(), thumbprint) << r.operation;
    ASSERT_EQ(signature.size(), 64u) << r.operation;
    EXPECT_TRUE(tvtest::nettleVerifies(made.publicKeyDer, r.digest, signature)) << r.operation;
  }
}

INSTANTIATE_TEST_SUITE_P(Gost2001, SigningParameterSet,
                         ::testing::Values(KeyKind::Gost2001ParamSetA, KeyKind::Gost2001ParamSetXchA),
                         tvtest::parameterSetName);

TEST_F(SigningTest, RefusesMissingArgumentsWithoutAnEnvelope) {
  Bstr text(u"AAAA"), thumb(u"00");
  BSTR result = nullptr;
  for (Operation operation : {&ClientCrypto::signHash, &ClientCrypto::signString}) {
    EXPECT_EQ((ClientCrypto().*operation)(text.get(), nullptr, nullptr, &result), E_INVALIDARG);
    EXPECT_EQ((ClientCrypto().*operation)(nullptr, thumb.get(), nullptr, &result), E_INVALIDARG);
  }
  EXPECT_EQ(result, nullptr);
}

TEST_F(SigningTest, ReportsEveryFailureAsAnErrorEnvelopeWithThePlatformsText) {
  const tvtest::TestCertificate good = install(KeyKind::Gost2001ParamSetA, "good");
  const std::string thumb = tvtest::sha1Hex(good.der);
  const tvtest::TestCertificate keyless = tvtest::makeCertificate();
  tvtest::installCertificate(prefix.path(), "keyless.der", keyless.der);
  const tvtest::TestCertificate shared = install(KeyKind::Gost2001ParamSetA, "shared");
  chmod((prefix / "keys/shared/private.pem").c_str(), 0640);
  const tvtest::TestCertificate locked = tvtest::makeCertificate();
  tvtest::installCertificate(prefix.path(), "locked.der", locked.der);
  tvtest::installKeyContainer("locked", tvtest::encryptPrivateKey(locked.privateKeyPem, "1234"), locked.publicKeyDer);
  const Bytes foreign = tvtest::withParamSet35(tvtest::makeCertificate().der, 2);
  tvtest::installCertificate(prefix.path(), "foreign.der", foreign);

  std::string lower = thumb;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  const std::string digest = base64Encode(tvtest::gostDigest("abc"));
  const std::string here = "Exception has been thrown in file 'shared/clientcrypto.cpp' at line #. The text is: ";
  const struct {
    const char* what;
    std::string encodedHash;
    std::string thumbprint;
    std::string result;
  } cases[] = {
      {"no key for the certificate", digest, tvtest::sha1Hex(keyless.der),
       "Cannot find the certificate and private key for decryption.\r\n"},
      {"key of another parameter set", digest, tvtest::sha1Hex(foreign), "Invalid algorithm specified.\r\n"},
      {"key file readable by the group", digest, tvtest::sha1Hex(shared.der), "Access denied.\r\n"},
      {"encrypted key, nobody to ask for the PIN", digest, tvtest::sha1Hex(locked.der),
       "The action was cancelled by the user.\r\n"},
      {"digest of 33 bytes", base64Encode(Bytes(33, 1)), thumb, "Unexpected hash value size"},
      {"digest that decodes to nothing", " \r\n ", thumb, "Unspecified error"},
      {"empty digest", "", thumb, "Empty string passed"},
      {"digest not in Base64", "AB$D", thumb,
       "Exception has been thrown in file 'csp++/cryptoutils.cpp' at line #. The text is: The data is invalid.\r\n"},
      {"thumbprint in lower case", digest, lower, here + "Certificate wasnt found"},
      {"empty thumbprint", digest, "", "No thumbprint"},
  };
  for (const auto& c : cases) {
    const tvtest::Envelope envelope = signHash(c.encodedHash, c.thumbprint);
    EXPECT_FALSE(envelope.success) << c.what;
    EXPECT_EQ(lineless(envelope.result.get<std::string>()), c.result) << c.what;
  }
  const tvtest::Envelope emptyText = sign(&ClientCrypto::signString, u"", thumb);
  EXPECT_EQ(lineless(emptyText.result.get<std::string>()), here + "The parameter is incorrect.\r\n");
}

}  // namespace
