// Reading result envelopes the way a calling page does: the automation string
// as UTF-16, turned into UTF-8 (by ICU, apart from the platform's conversion
// under test) and parsed strictly, as JSON.parse would.
#pragma once

#include <oleauto.h>

#include <nlohmann/json.hpp>

#include <string>

namespace tvtest {

// The whole automation string (its stored length, not up to a zero) as
// UTF-8; a lone surrogate becomes U+FFFD, as a page's script engine reads it.
std::string bstrToUtf8(BSTR value);

struct Envelope {
  std::string text;               // the envelope as UTF-8
  bool success = false;           // the "success" member
  nlohmann::ordered_json result;  // the "result" member, parsed
};

// Converts and parses; throws std::runtime_error (failing the test) unless the
// text is valid JSON of exactly the form {"success":<true|false>,"result":..}.
Envelope parseEnvelope(BSTR envelope);

}  // namespace tvtest
