#include "shared/clientcrypto.h"

#include "common/jsonescape.h"

#include "support/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// An envelope as a page receives it: a new automation string, parsed.
tvtest::Envelope delivered(const std::string& envelope) {
  BSTR bstr = toBstr(envelope);
  tvtest::Envelope parsed = tvtest::parseEnvelope(bstr);
  SysFreeString(bstr);
  return parsed;
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

// Every byte below 0x80 in a failure's text reaches the page as valid JSON
// and reads back unchanged. (Bytes above are the code page's: see the
// automation string tests.)
TEST(Envelope, EveryAsciiTextParsesBackUnchanged) {
  std::string every;
  for (int c = 0; c < 0x80; ++c) every += static_cast<char>(c);
  for (const std::string& envelope : {ClientCrypto::errorWithString(every), ClientCrypto::successWithString(every)})
    EXPECT_EQ(delivered(envelope).result, every);
}

}  // namespace
