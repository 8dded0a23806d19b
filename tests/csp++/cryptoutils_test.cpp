// CspHash, Base64, the provider check and file digests.
#include "csp++/cryptoutils.h"

#include <gtest/gtest.h>

#include <string>

#include "common/exceptions.h"
#include "csp++/cspcontext.h"
#include "support/certfactory.h"
#include "support/gostsigning.h"
#include "support/tempprefix.h"
#include "support/thrown.h"

namespace {

using tvtest::Bytes;

using tvtest::thrownText;

class CryptoUtilsTest : public ::testing::Test {
 protected:
  tvtest::TempPrefix prefix;
  CspContext context{"Tellvane GOST R 34.10-2001 Provider", nullptr, 75, CRYPT_VERIFYCONTEXT};
};

TEST_F(CryptoUtilsTest, ChecksArgumentsBeforeThePlatformSeesThem) {
  const Bytes digest = tvtest::gostDigest("abc");
  CspHash hash(context.handle(), CALG_GR3411);
  EXPECT_EQ(thrownText([&] { hash.setHashValue(digest.data(), 31); }), "Unexpected hash value size");
  EXPECT_EQ(thrownText([&] { hash.setHashValue(digest.data(), 0); }), "number 87");
  EXPECT_EQ(thrownText([&] { hash.setHashValue(Bytes()); }), "Hash value cannot be empty");
  EXPECT_EQ(thrownText([&] { hash.hashData(nullptr, 3); }), "No data was provided");
  EXPECT_EQ(thrownText([&] { hash.hashData(Bytes()); }), "No data was provided");
  EXPECT_EQ(thrownText([&] { hash.verify(Bytes(), 0); }), "Empty signature");
  // None of the refusals touched the hash.
  EXPECT_EQ(hash.hashAndGetValue(reinterpret_cast<const BYTE*>("abc"), 3), digest);
  CspHash imported(context.handle(), CALG_GR3411);
  imported.setHashValue(digest);
  EXPECT_EQ(imported.getHashValue(), digest);
}

TEST_F(CryptoUtilsTest, VerifiesWithoutThrowingForWrongSignatures) {
  const tvtest::TestCertificate made = tvtest::makeCertificate();
  tvtest::installKeyContainer("key", made.privateKeyPem, made.publicKeyDer);
  CspContext keyContext("Tellvane GOST R 34.10-2001 Provider", "key", 75, 0);
  const PCCERT_CONTEXT certificate =
      CertCreateCertificateContext(X509_ASN_ENCODING, made.der.data(), static_cast<DWORD>(made.der.size()));
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptImportPublicKeyInfo(keyContext.handle(), X509_ASN_ENCODING,
                                       &certificate->pCertInfo->SubjectPublicKeyInfo, &key));
  CspHash hash(keyContext.handle(), CALG_GR3411);
  hash.hashData(reinterpret_cast<const BYTE*>("abc"), 3);
  Bytes signature = hash.sign(AT_KEYEXCHANGE);
  EXPECT_TRUE(hash.verify(signature, key));
  signature[0] ^= 0x80;
  EXPECT_FALSE(hash.verify(signature, key));
  CryptDestroyKey(key);
  CertFreeCertificateContext(certificate);
}

TEST(Base64, EncodesOneLineAndReportsUndecodableText) {
  Bytes hundred(100);
  for (size_t i = 0; i < hundred.size(); ++i) hundred[i] = static_cast<unsigned char>(i * 7);
  const std::string text = base64Encode(hundred);
  EXPECT_EQ(text.size(), 136u);
  EXPECT_EQ(base64Decode(text), hundred);
  EXPECT_EQ(base64Encode(Bytes{0x54}), "VA==");
  EXPECT_EQ(thrownText([] { base64Encode(Bytes()); }), "Buffer cant be empty");
  EXPECT_EQ(thrownText([] { base64Decode(""); }), "Empty string passed");
  const std::string error = thrownText([] { base64Decode("not base64!"); });
  EXPECT_EQ(error.rfind("Exception has been thrown in file 'csp++/cryptoutils.cpp' at line ", 0), 0u) << error;
  EXPECT_NE(error.find(". The text is: The data is invalid.\r\n"), std::string::npos) << error;
  EXPECT_TRUE(isGostProviderPresent());
}

TEST_F(CryptoUtilsTest, DigestsFilesBlockByBlock) {
  for (size_t size : {0u, 8192u, 8193u, 3u * 8192u}) {
    std::string content(size, '\0');
    for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 31 + 7);
    const std::string path = prefix / ("file-" + std::to_string(size));
    tvtest::writeFile(path, content);
    EXPECT_EQ(digestFile(context, path), tvtest::gostDigest(content)) << size << " bytes";
  }
  EXPECT_EQ(thrownText([&] { digestFile(context, ""); }), "No filename given");
}

}  // namespace
