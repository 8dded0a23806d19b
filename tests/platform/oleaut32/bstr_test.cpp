// BSTR layout: a 32-bit byte length just before the text, UTF-16 text, a
// zero character after it; sizes that cannot be represented give null.
#include <oleauto.h>

#include "common/wide.h"

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

TEST(Bstr, CarriesByteLengthPrefixAndTerminatingZero) {
  const OLECHAR source[] = {u'a', 0x0416, 0xD83D, 0xDE00, u'z'};
  Bstr text(SysAllocStringLen(source, 5));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(prefixOf(text.get()), 10u);
  EXPECT_EQ(SysStringLen(text.get()), 5u);
  EXPECT_EQ(SysStringByteLen(text.get()), 10u);
  EXPECT_EQ(std::memcmp(text.get(), source, sizeof(source)), 0);
  EXPECT_EQ(text.get()[5], 0);
}

TEST(Bstr, KeepsEmbeddedZerosThatSysAllocStringWouldStopAt) {
  const OLECHAR source[] = {u'a', 0, u'b'};
  Bstr counted(SysAllocStringLen(source, 3));
  EXPECT_EQ(SysStringLen(counted.get()), 3u);
  EXPECT_EQ(counted.get()[2], u'b');
  Bstr terminated(SysAllocString(source));
  EXPECT_EQ(SysStringLen(terminated.get()), 1u);
}

TEST(Bstr, EmptyTextIsNotNull) {
  Bstr fromEmpty(SysAllocString(WSTR("")));
  ASSERT_NE(fromEmpty, nullptr);
  EXPECT_EQ(SysStringLen(fromEmpty.get()), 0u);
  EXPECT_EQ(fromEmpty.get()[0], 0);
  Bstr fromNothing(SysAllocStringLen(nullptr, 0));
  ASSERT_NE(fromNothing, nullptr);
  EXPECT_EQ(prefixOf(fromNothing.get()), 0u);
}

TEST(Bstr, NullSourceWithLengthGivesZeroedText) {
  Bstr text(SysAllocStringLen(nullptr, 100));
  ASSERT_NE(text, nullptr);
  for (int i = 0; i <= 100; ++i) ASSERT_EQ(text.get()[i], 0) << i;
  EXPECT_EQ(SysStringLen(text.get()), 100u);
}

TEST(Bstr, NullIsHandledByEveryFunction) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Bstr, LengthBeyondThe32BitPrefixGivesNullNotAShortBuffer) {
  for (const UINT length : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFFFCu})
    EXPECT_EQ(SysAllocStringLen(nullptr, length), nullptr) << length;
}

}  // namespace
