#include "support/json.h"

#include <unicode/ustring.h>

#include <stdexcept>

namespace tvtest {

std::string bstrToUtf8(BSTR value) {
  const int32_t units = static_cast<int32_t>(SysStringLen(value));
  UErrorCode status = U_ZERO_ERROR;
  int32_t size = 0;
  u_strToUTF8WithSub(nullptr, 0, &size, value, units, 0xFFFD, nullptr, &status);
  std::string out(static_cast<size_t>(size), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), size, &size, value, units, 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) throw std::runtime_error(std::string("not convertible to UTF-8: ") + u_errorName(status));
  return out;
}

Envelope parseEnvelope(BSTR value) {
  if (value == nullptr) throw std::runtime_error("no envelope (null automation string)");
  Envelope envelope;
  envelope.text = bstrToUtf8(value);
  const bool shaped = envelope.text.rfind("{\"success\":true,\"result\":", 0) == 0 ||
                      envelope.text.rfind("{\"success\":false,\"result\":", 0) == 0;
  const auto parsed = nlohmann::ordered_json::parse(envelope.text, nullptr, false);
  if (!shaped || parsed.is_discarded() || parsed.size() != 2)
    throw std::runtime_error("not an envelope: " + envelope.text);
  envelope.success = parsed["success"].get<bool>();
  envelope.result = parsed["result"];
  return envelope;
}

}  // namespace tvtest
