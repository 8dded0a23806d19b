#include "shared/clientcrypto.h"

#include "common/exceptions.h"
#include "common/jsonescape.h"

#include "support/debugcapture.h"
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

// An envelope as the page receives it.
tvtest::Envelope delivered(const std::string& envelope) {
  Bstr bstr(toBstr(envelope));
  return tvtest::parseEnvelope(bstr.get());
}

TEST(Envelope, HasItsThreeFormsExactly) {
  EXPECT_EQ(ClientCrypto::successWithJson("[]"), "{\"success\":true,\"result\":[]}");
  EXPECT_EQ(ClientCrypto::successWithJson("[{\"a\":1},{\"b\":2}]"), "{\"success\":true,\"result\":[{\"a\":1},{\"b\":2}]}");
  EXPECT_EQ(ClientCrypto::successWithString("abc"), "{\"success\":true,\"result\":\"abc\"}");
  EXPECT_EQ(ClientCrypto::errorWithString("Unspecified error"), "{\"success\":false,\"result\":\"Unspecified error\"}");
  EXPECT_EQ(ClientCrypto::quoteString("abc"), "\"abc\"");
}

TEST(Envelope, AnEmptyErrorMessageReadsUnknownErrorAndIsTraced) {
  tvtest::DebugCapture capture;
  EXPECT_EQ(ClientCrypto::errorWithString(""), "{\"success\":false,\"result\":\"Unknown error\"}");
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"ClientCrypto::errorWithString"});
}

TEST(Envelope, Base64PassesUnchanged) {
  const std::string base64 = "U0lHTkRBVEFAAAAA+/9zZm9vYmFy/w==";
  EXPECT_EQ(ClientCrypto::successWithString(base64), "{\"success\":true,\"result\":\"" + base64 + "\"}");
}

TEST(JsonEscape, EscapesQuotesBackslashesAndControlCharactersOnly) {
  struct Case {
    std::string text, escaped;
  } cases[] = {
      {"plain", "plain"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"C:\\src\\common", "C:\\\\src\\\\common"},
      {"line\r\n\ttab", "line\\r\\n\\ttab"},
      {std::string("\0\x01\x08\x0C\x1F", 5), "\\u0000\\u0001\\u0008\\u000C\\u001F"},
      {"\x7F/ \xC3\xA9\xFF", "\x7F/ \xC3\xA9\xFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(Sys::escapeJson(c.text), c.escaped);
}

// Every byte below 0x80 survives the trip through the envelope and a strict parser.
TEST(Envelope, QuotedValuesComeBackUnchangedFromAJsonParser) {
  std::string every;
  for (int c = 0; c < 0x80; ++c) every += static_cast<char>(c);
  tvtest::Envelope success = delivered(ClientCrypto::successWithString(every));
  EXPECT_TRUE(success.success);
  EXPECT_EQ(success.result, every);
  tvtest::Envelope error = delivered(ClientCrypto::errorWithString(every));
  EXPECT_FALSE(error.success);
  EXPECT_EQ(error.result, every);
}

// Each text a failing operation can report reaches the page as valid JSON and
// reads back as the exception's own text: every platform message behind an
// OsError or Crypto::Error, and the fixed refusals of the runtime.
TEST(Envelope, EveryErrorTextTheSystemCanProduceIsValidJson) {
  std::vector<std::string> texts = {
      "Broken stream (1)", "Broken stream (2)", "No data to write", "No data to read", "file name is empty",
      "max size == 0",     "Unspecified error", "Unknown error",    "std::bad_alloc",
      Sys::OsError("common/binaryreader.cpp", 40, "Broken stream").what(),
      Sys::OsError("common/binaryreader.cpp", 22, "Permitted size exceeded").what(),
      Sys::OsError("shared/clientcrypto.cpp", 77, "Invalid pointer").what(),
      Sys::OsError("C:\\build\\shared\\clientcrypto.cpp", 9, "Certificate wasnt found").what(),
      Sys::OsError(0x2000DEAD, "common\\\"quoted\".cpp", 1).what(),
      Sys::AssertionFailed("X509Certificate::getNameOf returns zeros in string!", "f", "g", 1).what(),
  };
  const DWORD facilities[] = {0x0000, 0x8000, 0x8002, 0x8004, 0x8007, 0x8009, 0x8010};
  size_t found = 0;
  for (DWORD facility : facilities) {
    for (DWORD low = 0; low <= 0xFFFF; ++low) {
      DWORD code = (facility << 16) | low;
      char* buffer = nullptr;
      DWORD length = FormatMessageA(
          FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
          code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
      if (buffer != nullptr) LocalFree(buffer);
      if (length == 0) continue;
      ++found;
      texts.push_back(Sys::OsError(code, "shared\\clientcrypto.cpp", 120).what());
      texts.push_back(Crypto::Error(code).what());
    }
  }
  EXPECT_GT(found, 100u) << "the platform should know many messages";
  for (const std::string& text : texts) {
    tvtest::Envelope envelope = delivered(ClientCrypto::errorWithString(text));
    EXPECT_FALSE(envelope.success);
    EXPECT_EQ(envelope.result, text);
  }
}

TEST(Envelope, TextsInACyrillicCodePageReachThePageAsTheirCharacters) {
  for (const char* locale : {"ru_RU.CP1251", "ru_RU.UTF-8"}) {
    tvtest::ThreadLocale thread(locale);
    std::string message = std::string(locale) == "ru_RU.CP1251" ? "\xCE\xF8\xE8\xE1\xEA\xE0 \"1\"" : "Ошибка \"1\"";
    std::string envelope = ClientCrypto::errorWithString(message);
    EXPECT_EQ(tvtest::parseEnvelope(envelope).result, "Ошибка \"1\"") << locale;
    EXPECT_EQ(delivered(envelope).result, "Ошибка \"1\"") << locale;
  }
}

}  // namespace
