#include "support/json.h"

#include <windows.h>

#include <unicode/ustring.h>

#include <stdexcept>

namespace tvtest {

namespace {

// White space that JSON allows between tokens, outside strings.
bool hasWhiteSpaceOutsideStrings(const std::string& text) {
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      return true;
    }
  }
  return false;
}

}  // namespace

// ICU's conversion, not the platform's (whose own results are under test):
// each lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(const WCHAR* text, size_t length) {
  const int32_t units = static_cast<int32_t>(length);
  UErrorCode status = U_ZERO_ERROR;
  int32_t size = 0;
  u_strToUTF8WithSub(nullptr, 0, &size, text, units, 0xFFFD, nullptr, &status);
  std::string out(static_cast<size_t>(size), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), size, &size, text, units, 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) throw std::runtime_error(std::string("not convertible to UTF-8: ") + u_errorName(status));
  return out;
}

std::string bstrToUtf8(BSTR value) {
  if (value == nullptr) return std::string();
  return utf16ToUtf8(value, SysStringLen(value));
}

nlohmann::ordered_json parseJson(const std::string& utf8) {
  try {
    return nlohmann::ordered_json::parse(utf8);
  } catch (const nlohmann::json::exception& error) {
    throw std::runtime_error("not valid JSON (" + std::string(error.what()) + "): " + utf8);
  }
}

::testing::AssertionResult isEnvelope(const std::string& utf8) {
  static const std::string kSuccess = "{\"success\":true,\"result\":";
  static const std::string kFailure = "{\"success\":false,\"result\":";
  bool prefixed = utf8.compare(0, kSuccess.size(), kSuccess) == 0 || utf8.compare(0, kFailure.size(), kFailure) == 0;
  if (!prefixed || utf8.empty() || utf8.back() != '}')
    return ::testing::AssertionFailure() << "not of the form {\"success\":..,\"result\":..}: " << utf8;
  if (hasWhiteSpaceOutsideStrings(utf8)) return ::testing::AssertionFailure() << "white space in " << utf8;
  nlohmann::ordered_json parsed;
  try {
    parsed = nlohmann::ordered_json::parse(utf8);
  } catch (const nlohmann::json::exception& error) {
    return ::testing::AssertionFailure() << "not valid JSON (" << error.what() << "): " << utf8;
  }
  if (!parsed.is_object() || parsed.size() != 2 || parsed.begin().key() != "success" ||
      !parsed.begin().value().is_boolean())
    return ::testing::AssertionFailure() << "not exactly the members success and result: " << utf8;
  return ::testing::AssertionSuccess();
}

namespace {

Envelope parseUtf8Envelope(const std::string& utf8) {
  ::testing::AssertionResult shape = isEnvelope(utf8);
  if (!shape) throw std::runtime_error(shape.message());
  nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(utf8);
  Envelope envelope;
  envelope.text = utf8;
  envelope.success = parsed["success"].get<bool>();
  envelope.result = parsed["result"];
  return envelope;
}

}  // namespace

Envelope parseEnvelope(BSTR envelope) {
  if (envelope == nullptr) throw std::runtime_error("no envelope (null automation string)");
  return parseUtf8Envelope(bstrToUtf8(envelope));
}

Envelope parseEnvelope(const std::string& envelopeInThreadCodePage) {
  const std::string& text = envelopeInThreadCodePage;
  if (text.empty()) return parseUtf8Envelope(text);
  int length = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) throw std::runtime_error("the envelope does not convert from the thread's code page");
  std::u16string wide(static_cast<size_t>(length), u'\0');
  MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return parseUtf8Envelope(utf16ToUtf8(wide.data(), wide.size()));
}

}  // namespace tvtest
