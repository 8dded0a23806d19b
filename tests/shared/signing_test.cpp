// Digest and string signing from end to end: the certificate chosen by
// thumbprint, its key found by the provider, the sign tuple in the envelope,
// the signature checked by a second implementation, and every failure as an
// envelope with the platform's text.
#include "shared/clientcrypto.h"

#include <oleauto.h>
#include <winerror.h>

#include <gtest/gtest.h>
#include <nettle/base64.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "support/certfactory.h"
#include "support/comtest.h"
#include "support/gostsigning.h"
#include "support/json.h"
#include "support/tempprefix.h"

namespace {

using tvtest::Bytes;
using tvtest::KeyKind;

using comtest::Bstr;

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string base64(const Bytes& bytes) {
  std::string text(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
  base64_encode_raw(&text[0], bytes.size(), bytes.data());
  return text;
}

Bytes unbase64(const std::string& text) {
  Bytes bytes(BASE64_DECODE_LENGTH(text.size()));
  base64_decode_ctx context;
  base64_decode_init(&context);
  size_t size = bytes.size();
  if (!base64_decode_update(&context, &size, bytes.data(), text.size(), text.data()) ||
      !base64_decode_final(&context))
    throw std::runtime_error("not Base64: " + text);
  bytes.resize(size);
  return bytes;
}

struct Tuple {
  Bytes signature;
  Bytes certificate;
};

uint32_t readLength(const Bytes& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// Takes the record apart by its documented layout, checking every length.
Tuple parseTuple(const Bytes& record) {
  EXPECT_GE(record.size(), 16u);
  EXPECT_EQ(std::string(record.begin(), record.begin() + 8), "SIGNDATA");
  const uint32_t signatureLength = readLength(record, 8);
  const uint32_t certificateLength = readLength(record, 12 + signatureLength);
  EXPECT_EQ(record.size(), 16u + signatureLength + certificateLength);
  return {Bytes(record.begin() + 12, record.begin() + 12 + signatureLength),
          Bytes(record.begin() + 16 + signatureLength, record.end())};
}

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

  tvtest::Envelope signHash(const std::string& encodedHash, const std::string& thumbprint) {
    Bstr hash(wide(encodedHash)), thumb(wide(thumbprint));
    BSTR result = nullptr;
    EXPECT_EQ(ClientCrypto().signHash(hash.get(), thumb.get(), nullptr, &result), S_OK);
    tvtest::Envelope envelope = tvtest::parseEnvelope(result);
    SysFreeString(result);
    return envelope;
  }

  tvtest::Envelope signString(const std::u16string& text, const std::string& thumbprint) {
    Bstr astr(text), thumb(wide(thumbprint)), pin(u"1234");
    BSTR result = nullptr;
    EXPECT_EQ(ClientCrypto().signString(astr.get(), thumb.get(), pin.get(), &result), S_OK);
    tvtest::Envelope envelope = tvtest::parseEnvelope(result);
    SysFreeString(result);
    return envelope;
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
  const struct {
    const char* operation;
    tvtest::Envelope envelope;
    Bytes digest;
  } results[] = {
      {"signHash", signHash(base64(digest), thumbprint), digest},
      {"signString", signString(text, thumbprint), tvtest::gostDigest(utf8)},
      {"signString of a long text", signString(longText, thumbprint), tvtest::gostDigest(longUtf8)},
      {"signString of a text with a zero", signString(longText + u'\0' + u"not signed", thumbprint),
       tvtest::gostDigest(longUtf8)},
  };
  for (const auto& r : results) {
    ASSERT_TRUE(r.envelope.success) << r.operation << ": " << r.envelope.text;
    const Tuple tuple = parseTuple(unbase64(r.envelope.result.get<std::string>()));
    EXPECT_EQ(tuple.certificate, made.der) << r.operation;
    EXPECT_EQ(tvtest::sha1Hex(tuple.certificate), thumbprint) << r.operation;
    ASSERT_EQ(tuple.signature.size(), 64u) << r.operation;
    EXPECT_TRUE(tvtest::nettleVerifies(made.publicKeyDer, r.digest, tuple.signature)) << r.operation;
    Bytes flipped = tuple.signature;
    flipped[33] ^= 0x10;
    EXPECT_FALSE(tvtest::nettleVerifies(made.publicKeyDer, r.digest, flipped)) << r.operation;
  }
}

INSTANTIATE_TEST_SUITE_P(Gost2001, SigningParameterSet,
                         ::testing::Values(KeyKind::Gost2001ParamSetA, KeyKind::Gost2001ParamSetXchA),
                         tvtest::parameterSetName);

TEST_F(SigningTest, RefusesMissingArgumentsWithoutAnEnvelope) {
  Bstr hash(u"AAAA"), thumb(u"00");
  BSTR untouched = reinterpret_cast<BSTR>(0x1234);
  EXPECT_EQ(ClientCrypto().signHash(hash.get(), nullptr, nullptr, &untouched), E_INVALIDARG);
  EXPECT_EQ(ClientCrypto().signHash(nullptr, thumb.get(), nullptr, &untouched), E_INVALIDARG);
  EXPECT_EQ(ClientCrypto().signString(nullptr, thumb.get(), nullptr, &untouched), E_INVALIDARG);
  EXPECT_EQ(ClientCrypto().signString(hash.get(), thumb.get(), nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(untouched, reinterpret_cast<BSTR>(0x1234));
}

struct FailureCase {
  const char* what;
  bool signsText;      // signString of an empty text, else signHash of the digest
  std::string encodedHash;
  std::string thumbprint;
  std::string result;  // the envelope's text, or the ending of an OsError text
  const char* source;  // null, or the file an OsError text names
};

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
  const std::string digest = base64(tvtest::gostDigest("abc"));
  const char* const here = "shared/clientcrypto.cpp";
  const FailureCase cases[] = {
      {"no key for the certificate", false, digest, tvtest::sha1Hex(keyless.der),
       "Cannot find the certificate and private key for decryption.\r\n", nullptr},
      {"key of another parameter set", false, digest, tvtest::sha1Hex(foreign), "Invalid algorithm specified.\r\n",
       nullptr},
      {"key file readable by the group", false, digest, tvtest::sha1Hex(shared.der), "Access denied.\r\n", nullptr},
      {"encrypted key, nobody to ask for the PIN", false, digest, tvtest::sha1Hex(locked.der),
       "The action was cancelled by the user.\r\n", nullptr},
      {"digest of 31 bytes", false, base64(Bytes(31, 1)), thumb, "Unexpected hash value size", nullptr},
      {"digest of 33 bytes", false, base64(Bytes(33, 1)), thumb, "Unexpected hash value size", nullptr},
      {"digest that decodes to nothing", false, " \r\n ", thumb, "Unspecified error", nullptr},
      {"empty digest", false, "", thumb, "Empty string passed", nullptr},
      {"digest not in Base64", false, "AB$D", thumb, ". The text is: The data is invalid.\r\n", "csp++/cryptoutils.cpp"},
      {"thumbprint in lower case", false, digest, lower, ". The text is: Certificate wasnt found", here},
      {"thumbprint with a blank", false, digest, thumb.substr(0, 2) + " " + thumb.substr(2),
       ". The text is: Certificate wasnt found", here},
      {"empty thumbprint", false, digest, "", "No thumbprint", nullptr},
      {"empty text", true, "", thumb, ". The text is: The parameter is incorrect.\r\n", here},
  };
  for (const FailureCase& c : cases) {
    const tvtest::Envelope envelope = c.signsText ? signString(u"", c.thumbprint) : signHash(c.encodedHash, c.thumbprint);
    EXPECT_FALSE(envelope.success) << c.what;
    const std::string result = envelope.result.get<std::string>();
    if (c.source == nullptr) {
      EXPECT_EQ(result, c.result) << c.what;
      continue;
    }
    const std::string start = std::string("Exception has been thrown in file '") + c.source + "' at line ";
    EXPECT_EQ(result.rfind(start, 0), 0u) << c.what << ": " << result;
    EXPECT_TRUE(result.size() > c.result.size() &&
                result.compare(result.size() - c.result.size(), c.result.size(), c.result) == 0)
        << c.what << ": " << result;
  }
}

// The text a page reads when no certificate has the thumbprint: the place of
// the raise tells which of the two operations was asked.
TEST_F(SigningTest, EachOperationReportsAMissingCertificateFromItsOwnPlace) {
  install();
  const std::string unknown(40, 'A');
  const std::string results[] = {
      signHash(base64(tvtest::gostDigest("abc")), unknown).result.get<std::string>(),
      signString(u"abc", unknown).result.get<std::string>(),
  };
  const std::string start = "Exception has been thrown in file 'shared/clientcrypto.cpp' at line ";
  const std::string end = ". The text is: Certificate wasnt found";
  std::vector<std::string> places;
  for (const std::string& result : results) {
    ASSERT_EQ(result.rfind(start, 0), 0u) << result;
    ASSERT_GT(result.size(), start.size() + end.size()) << result;
    ASSERT_EQ(result.substr(result.size() - end.size()), end) << result;
    places.push_back(result.substr(start.size(), result.size() - start.size() - end.size()));
  }
  EXPECT_NE(places[0], places[1]);
}

}  // namespace
