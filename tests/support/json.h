// Reading result envelopes the way a calling page does: the automation string
// as UTF-16, turned into UTF-8 and parsed strictly (a JSON.parse equivalent).
#pragma once

#include <oleauto.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace tvtest {

// UTF-16 code units to UTF-8, as a page's script engine would read them; a
// lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(const WCHAR* text, size_t length);
// The whole automation string (its stored length, not up to a zero).
std::string bstrToUtf8(BSTR value);

// Parses strict JSON; throws std::runtime_error naming the text when it is not.
nlohmann::ordered_json parseJson(const std::string& utf8);

// Success when the text is exactly {"success":<true|false>,"result":<value>}:
// two members in that order, no white space outside strings, valid JSON.
::testing::AssertionResult isEnvelope(const std::string& utf8);

struct Envelope {
  std::string text;             // the envelope as UTF-8
  bool success = false;         // the "success" member
  nlohmann::ordered_json result;  // the "result" member, parsed
};

// Converts, checks the shape and parses; throws std::runtime_error (failing
// the test) when the text is no well-formed envelope.
Envelope parseEnvelope(BSTR envelope);
// The same for an 8-bit envelope in the calling thread's ANSI code page.
Envelope parseEnvelope(const std::string& envelopeInThreadCodePage);

}  // namespace tvtest
