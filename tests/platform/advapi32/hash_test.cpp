// GOST R 34.11-94 hash objects of the provider.
#include <wincrypt.h>
#include <windows.h>
#include <winerror.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

DWORD failure(BOOL result) { return result ? 0 : GetLastError(); }

std::string hex(const BYTE* bytes, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i) text += "0123456789ABCDEF"[bytes[i] >> 4], text += "0123456789ABCDEF"[bytes[i] & 15];
  return text;
}

class HashTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT)); }
  void TearDown() override { CryptReleaseContext(provider, 0); }
  HCRYPTPROV provider = 0;
};

TEST_F(HashTest, GivesTheKnownDigestsWhateverThePieces) {
  const struct {
    std::string input;
    const char* digest;
  } vectors[] = {
      {"", "981E5F3CA30C841487830F84FB433E13AC1101569B9C13584AC483234CD656C0"},
      {"abc", "B285056DBF18D7392D7677369524DD14747459ED8143997E163B2986F92FD42C"},
      {std::string(1000000, 'a'), "8693287AA62F9478F7CB312EC0866B6C4E4A0F11160441E8F4FFCD2715DD554F"},
  };
  for (const auto& v : vectors) {
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(provider, CALG_GR3411, 0, 0, &hash));
    for (size_t at = 0; at < v.input.size(); at += 999) {  // pieces that cross block borders
      const DWORD piece = static_cast<DWORD>(std::min<size_t>(999, v.input.size() - at));
      ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(v.input.data() + at), piece, 0));
    }
    BYTE digest[32];
    DWORD size = 32;
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0));
    EXPECT_EQ(hex(digest, size), v.digest) << v.input.size() << " bytes";
    CryptDestroyHash(hash);
  }
}

TEST_F(HashTest, ReportsItsParametersAndRefusesWhatItCannotDo) {
  HCRYPTHASH hash = 0;
  EXPECT_EQ(failure(CryptCreateHash(provider, 0x8003 /* MD5 */, 0, 0, &hash)), (DWORD)NTE_BAD_ALGID);
  EXPECT_EQ(failure(CryptCreateHash(0x4242, CALG_GR3411, 0, 0, &hash)), (DWORD)NTE_BAD_UID);
  ASSERT_TRUE(CryptCreateHash(provider, CALG_GR3411, 0, 0, &hash));
  DWORD number = 0, size = 4;
  ASSERT_TRUE(CryptGetHashParam(hash, HP_ALGID, reinterpret_cast<BYTE*>(&number), &size, 0));
  EXPECT_EQ(number, 0x801Eu);
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&number), &size, 0));
  EXPECT_EQ(number, 32u);
  BYTE value[32];
  size = 16;
  EXPECT_EQ(failure(CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0)), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(size, 32u);
  ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0));
  // The value has been read: the hash takes no more data.
  EXPECT_EQ(failure(CryptHashData(hash, value, 1, 0)), (DWORD)NTE_BAD_HASH_STATE);
  // A context without a key signs nothing.
  EXPECT_EQ(failure(CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size)), (DWORD)NTE_NO_KEY);
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_EQ(failure(CryptHashData(hash, value, 1, 0)), (DWORD)NTE_BAD_HASH);
}

}  // namespace
