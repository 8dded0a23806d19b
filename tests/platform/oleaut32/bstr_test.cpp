// BSTR layout: a 32-bit byte length just before the text, UTF-16 text, a
// zero character after it; sizes that cannot be represented give null.
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace {

struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using Bstr = std::unique_ptr<OLECHAR, BstrFree>;

uint32_t prefixOf(BSTR text) {
  uint32_t length;
  std::memcpy(&length, reinterpret_cast<const char*>(text) - 4, 4);
  return length;
}

TEST(Bstr, CarriesByteLengthPrefixEmbeddedZerosAndTerminatingZero) {
  const OLECHAR source[] = {u'a', 0, 0xD83D, 0xDE00, u'z'};
  Bstr text(SysAllocStringLen(source, 5));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(prefixOf(text.get()), 10u);
  EXPECT_EQ(SysStringLen(text.get()) + SysStringByteLen(text.get()), 15u);
  EXPECT_EQ(std::memcmp(text.get(), source, sizeof(source)), 0);
  EXPECT_EQ(text.get()[5], 0);
  EXPECT_EQ(SysStringLen(Bstr(SysAllocString(source)).get()), 1u);  // stops at the zero

  // Empty is not null; a null source with a length gives zeroed text.
  Bstr empty(SysAllocStringLen(nullptr, 0));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(prefixOf(empty.get()) + empty.get()[0], 0u);
  Bstr zeroed(SysAllocStringLen(nullptr, 100));
  ASSERT_NE(zeroed, nullptr);
  for (int i = 0; i <= 100; ++i) ASSERT_EQ(zeroed.get()[i], 0) << i;
}

TEST(Bstr, NullAndUnrepresentableLengthsGiveNull) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr) + SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  for (const UINT length : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFFFCu})
    EXPECT_EQ(SysAllocStringLen(nullptr, length), nullptr) << length;
}

}  // namespace
