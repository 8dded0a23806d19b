#include "shared/clientcrypto.h"

#include "common/exceptions.h"
#include "common/wide.h"

#include "support/json.h"
#include "support/threadlocale.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct BstrDeleter {
  void operator()(OLECHAR* value) const { SysFreeString(value); }
};
using Bstr = std::unique_ptr<OLECHAR, BstrDeleter>;

std::u16string contentOf(BSTR value) { return std::u16string(value, SysStringLen(value)); }

Bstr bstr(const std::u16string& text) {
  return Bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

std::u16string repeated(const std::u16string& unit, int times) {
  std::u16string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

std::string repeated(const std::string& unit, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += unit;
  return out;
}

// The same characters in each locale's own 8-bit form.
struct LocaleCase {
  const char* locale;
  std::string privet;  // "Привет"
};
const LocaleCase kLocales[] = {
    {"ru_RU.UTF-8", "Привет"},
    {"ru_RU.CP1251", "\xCF\xF0\xE8\xE2\xE5\xF2"},
};

TEST(Bstr, TextsTravelInTheThreadsCodePage) {
  for (const LocaleCase& c : kLocales) {
    SCOPED_TRACE(c.locale);
    tvtest::ThreadLocale thread(c.locale);
    Bstr wide(toBstr(c.privet));
    EXPECT_EQ(contentOf(wide.get()), u"Привет");
    EXPECT_EQ(fromBstr(wide.get()), c.privet);
    // Long enough to need more room than a first guess.
    Bstr longer(toBstr(repeated(c.privet, 500)));
    EXPECT_EQ(contentOf(longer.get()), repeated(u"Привет", 500));
    EXPECT_EQ(fromBstr(longer.get()), repeated(c.privet, 500));
  }
}

TEST(Bstr, EmptyAndNullAndEmbeddedZero) {
  for (const LocaleCase& c : kLocales) {
    tvtest::ThreadLocale thread(c.locale);
    Bstr empty(toBstr(""));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty.get()), 0u);
    EXPECT_EQ(fromBstr(empty.get()), "");
    EXPECT_EQ(fromBstr(nullptr), "");
    EXPECT_EQ(fromBstr(bstr(std::u16string(u"ab\0cd", 5)).get()), "ab");
  }
}

TEST(Bstr, AnUnmappableCharacterBecomesTheDefaultCharacter) {
  tvtest::ThreadLocale thread("ru_RU.CP1251");
  EXPECT_EQ(fromBstr(bstr(u"a中b").get()), "a?b");
}

TEST(ToUtf8, GivesTheUtf8BytesWithoutTerminator) {
  struct Case {
    std::u16string text;
    std::vector<BYTE> utf8;
  } cases[] = {
      {u"abc", {'a', 'b', 'c'}},
      {u"Пр", {0xD0, 0x9F, 0xD1, 0x80}},
      {u"€", {0xE2, 0x82, 0xAC}},
      {u"\U0001F600", {0xF0, 0x9F, 0x98, 0x80}},  // a surrogate pair is one character
  };
  for (const Case& c : cases) EXPECT_EQ(ClientCrypto::toUtf8(c.text.c_str()), c.utf8);
}

TEST(ToUtf8, RefusesANullPointer) {
  try {
    ClientCrypto::toUtf8(nullptr);
    FAIL() << "no throw";
  } catch (const Sys::OsError& error) {
    std::string text = error.what();
    EXPECT_EQ(text.rfind("Exception has been thrown in file 'shared/clientcrypto.cpp' at line ", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.find(". The text is: ")), ". The text is: Invalid pointer");
    EXPECT_EQ(error.code(), 0u);
  }
}

// The platform refuses to convert nothing; an operation reports it as an error envelope.
TEST(ToUtf8, TheEmptyTextFailsAndIsReportedInAnErrorEnvelope) {
  BSTR result = nullptr;
  HRESULT status = ClientCrypto::runOperation("ClientCrypto::signString", "Invalid argument", {}, &result,
                                              [](std::string& envelope) {
                                                ClientCrypto::toUtf8(WSTR(""));
                                                envelope = ClientCrypto::successWithString("signed");
                                                return S_OK;
                                              });
  EXPECT_EQ(status, S_OK);
  tvtest::Envelope envelope = tvtest::parseEnvelope(result);
  SysFreeString(result);
  EXPECT_FALSE(envelope.success);
  std::string text = envelope.result.get<std::string>();
  EXPECT_EQ(text.rfind("Exception has been thrown in file 'shared/clientcrypto.cpp' at line ", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.find(". The text is: ")), ". The text is: The parameter is incorrect.\r\n");
}

}  // namespace
