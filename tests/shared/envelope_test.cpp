#include "shared/clientcrypto.h"

#include "common/exceptions.h"
#include "common/jsonescape.h"

#include "support/debugcapture.h"
#include "support/json.h"
#include "support/threadlocale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An envelope as a page receives it: a new automation string, parsed.
tvtest::Envelope delivered(const std::string& envelope) {
  BSTR bstr = toBstr(envelope);
  tvtest::Envelope parsed = tvtest::parseEnvelope(bstr);
  SysFreeString(bstr);
  return parsed;
}

TEST(Envelope, HasItsThreeFormsExactly) {
  tvtest::DebugCapture capture;
  EXPECT_EQ(ClientCrypto::successWithJson("[]"), "{\"success\":true,\"result\":[]}");
  EXPECT_EQ(ClientCrypto::successWithString("U0lH+/=="), "{\"success\":true,\"result\":\"U0lH+/==\"}");
  EXPECT_EQ(ClientCrypto::errorWithString("Unspecified error"), "{\"success\":false,\"result\":\"Unspecified error\"}");
  EXPECT_EQ(ClientCrypto::errorWithString(""), "{\"success\":false,\"result\":\"Unknown error\"}");
  EXPECT_EQ(capture.lines(), std::vector<std::string>(2, "ClientCrypto::errorWithString"));
}

TEST(JsonEscape, EscapesQuotesBackslashesAndControlCharactersOnly) {
  const struct {
    std::string text, escaped;
  } cases[] = {
      {"say \"hi\" C:\\src", "say \\\"hi\\\" C:\\\\src"},
      {"line\r\n\ttab", "line\\r\\n\\ttab"},
      {std::string("\0\x01\x08\x0C\x1F", 5), "\\u0000\\u0001\\u0008\\u000C\\u001F"},
      {"\x7F/ \xC3\xA9\xFF", "\x7F/ \xC3\xA9\xFF"},
  };
  for (const auto& c : cases) EXPECT_EQ(Sys::escapeJson(c.text), c.escaped);
}

// Every kind of text a failing operation can report reaches the page as valid
// JSON and reads back unchanged: every byte below 0x80, and platform messages
// with quotes, backslashes and line breaks (texts in the thread's code page:
// below).
TEST(Envelope, EveryKindOfTextParsesBackUnchanged) {
  std::string every;
  for (int c = 0; c < 0x80; ++c) every += static_cast<char>(c);
  const std::string texts[] = {
      every, "std::bad_alloc",
      Sys::OsError("C:\\build\\shared\\clientcrypto.cpp", 9, "Certificate wasnt found").what(),
      Sys::OsError(0x2000DEAD, "common\\\"quoted\".cpp", 1).what(),
      Sys::OsError(static_cast<DWORD>(NTE_BAD_KEYSET), "shared\\clientcrypto.cpp", 120).what(),
      Crypto::Error(static_cast<DWORD>(ERROR_BADDB)).what(),
  };
  for (const std::string& text : texts) {
    EXPECT_EQ(delivered(ClientCrypto::errorWithString(text)).result, text);
    EXPECT_EQ(delivered(ClientCrypto::successWithString(text)).result, text);
  }
}

TEST(Envelope, TextsInTheThreadsCodePageReachThePageAsTheirCharacters) {
  const std::pair<const char*, std::string> locales[] = {
      {"ru_RU.CP1251", "\xCE\xF8\xE8\xE1\xEA\xE0 \"1\""},
      {"ru_RU.UTF-8", "Ошибка \"1\""},
  };
  for (const auto& [locale, message] : locales) {
    tvtest::ThreadLocale thread(locale);
    std::string envelope = ClientCrypto::errorWithString(message);
    EXPECT_EQ(tvtest::parseEnvelope(envelope).result, "Ошибка \"1\"") << locale;
    EXPECT_EQ(delivered(envelope).result, "Ошибка \"1\"") << locale;
  }
}

}  // namespace
