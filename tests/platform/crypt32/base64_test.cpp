// Base64 of crypt32, with the Windows decoder's acceptance rules.
#include <wincrypt.h>
#include <windows.h>
#include <winerror.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Base64Decode, FollowsTheWindowsAcceptanceRules) {
  const struct {
    std::string text;
    const char* bytes;  // null: refused with ERROR_INVALID_DATA
  } cases[] = {
      {"YWJj", "abc"},      {"V\nVVV", "UUU"},       {" \tYW\r\nJj\r\n", "abc"},  // white space anywhere
      {"V", "T"},           {"VV", "U"},             {"VVV", "UU"},               // padding may be missing
      {"V===", "T"},        {"V========", "T"},      {"   ", ""},
      {"V===VVVV", "T"},    {"VVV=VVVV", "UU"},      {"VVVV=VVVV", "UUU"},  // nothing read after padding
      {"V=", nullptr},      {"VV=", nullptr},        {"VV=V", nullptr},     {"====", nullptr},
      {"YW-j", nullptr},    {"YW_j", nullptr},       {"YW\vj", nullptr},    {std::string("YW\0j", 4), nullptr},
  };
  for (const auto& c : cases) {
    const DWORD length = static_cast<DWORD>(c.text.size());
    DWORD size = 0;
    const BOOL sized = CryptStringToBinaryA(c.text.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr);
    if (c.bytes == nullptr) {
      EXPECT_FALSE(sized) << '"' << c.text << '"';
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_DATA) << '"' << c.text << '"';
      continue;
    }
    ASSERT_TRUE(sized) << '"' << c.text << '"';
    std::string bytes(size + 1, '\0');
    DWORD skip = 7, flags = 7;
    ASSERT_TRUE(CryptStringToBinaryA(c.text.data(), length, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(&bytes[0]),
                                     &size, &skip, &flags));
    EXPECT_EQ(bytes.substr(0, size), c.bytes) << '"' << c.text << '"';
    EXPECT_EQ(skip + flags, 0u + CRYPT_STRING_BASE64);
  }
  // A buffer too small gets nothing and keeps its size.
  BYTE small[2] = {0xEE, 0xEE};
  DWORD size = 2;
  EXPECT_FALSE(CryptStringToBinaryA("YWJj", 0, CRYPT_STRING_BASE64, small, &size, nullptr, nullptr));
  EXPECT_EQ(size + small[0], 2u + 0xEE);
}

// One line without breaks, as the component asks for it; the text's size
// counts its zero.
TEST(Base64Encode, WritesPaddedTextWithTheSizeProtocol) {
  const std::string bytes("\xFB\xFF\x00T", 4), text = "+/8AVA==";
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
  DWORD size = 12345;
  ASSERT_TRUE(CryptBinaryToStringA(data, 4, flags, nullptr, &size));
  EXPECT_EQ(size, text.size() + 1);
  std::string out(size, '\0');
  DWORD tooSmall = size - 1;
  EXPECT_FALSE(CryptBinaryToStringA(data, 4, flags, &out[0], &tooSmall));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
  EXPECT_EQ(tooSmall, size);
  ASSERT_TRUE(CryptBinaryToStringA(data, 4, flags, &out[0], &size));
  EXPECT_EQ(out.substr(0, size), text);
}

}  // namespace
