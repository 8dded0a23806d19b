// CspHash, Base64, the provider check and file digests. (Verification is
// the tellvane command's test: it reports a good and a broken signature.)
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
  EXPECT_EQ(thrownText([&] { hash.verify(Bytes(), 0); }), "Empty signature");
  // None of the refusals touched the hash.
  EXPECT_EQ(hash.hashAndGetValue(reinterpret_cast<const BYTE*>("abc"), 3), digest);
  CspHash imported(context.handle(), CALG_GR3411);
  imported.setHashValue(digest);
  EXPECT_EQ(imported.getHashValue(), digest);
}

TEST(GostHashAlgorithm, FollowsTheKeysAlgorithmAndRefusesOthers) {
  EXPECT_EQ(gostHashAlgorithm("1.2.643.2.2.19"), 0x801Eu);
  EXPECT_EQ(gostHashAlgorithm("1.2.643.7.1.1.1.1"), 0x8021u);
  EXPECT_EQ(gostHashAlgorithm("1.2.643.7.1.1.1.2"), 0x8022u);
  EXPECT_EQ(gostProviderType("1.2.643.7.1.1.1.2"), 81u);
  EXPECT_EQ(thrownText([] { gostHashAlgorithm("1.2.643.7.1.1.1"); }),
            "The certificate's key is not a GOST R 34.10 key: 1.2.643.7.1.1.1");
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
  EXPECT_EQ(tvtest::lineless(thrownText([] { base64Decode("not base64!"); })),
            "Exception has been thrown in file 'csp++/cryptoutils.cpp' at line #. The text is: The data is invalid.\r\n");
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
