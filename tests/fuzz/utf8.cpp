// UTF-16 -> UTF-8: the converter's bytes equal ICU's for any text, a lone
// surrogate becoming U+FFFD; the size query agrees; nothing past the count
// changes; the strict flag fails exactly where ICU substitutes.
#include <windows.h>

#include <unicode/ustring.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The input as units: each byte's low three bits choose the kind (ASCII
// most often, then two- and three-byte units, pairs and lone halves), the
// following bytes the value, so that every kind comes up often.
std::u16string unitsOf(const uint8_t* data, size_t size) {
  std::u16string text;
  for (size_t i = 0; i < size;) {
    const unsigned kind = data[i] & 7;
    unsigned value = data[i++] >> 3;
    for (int k = 0; k < 2 && i < size; ++k) value = value << 8 | data[i++];
    switch (kind) {
      case 0:
      case 1:
      case 2:
        text += static_cast<char16_t>(value & 0x7F);
        break;
      case 3:
        text += static_cast<char16_t>(0x80 + value % 0x780);
        break;
      case 4: {
        const unsigned unit = 0x800 + value % 0xF000;  // past the surrogates
        text += static_cast<char16_t>(unit < 0xD800 ? unit : unit + 0x800);
        break;
      }
      case 5:
        text += {static_cast<char16_t>(0xD800 + (value >> 10 & 0x3FF)), static_cast<char16_t>(0xDC00 + (value & 0x3FF))};
        break;
      case 6:
        text += static_cast<char16_t>(0xD800 + (value & 0x3FF));
        break;
      default:
        text += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        break;
    }
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  const std::u16string text = unitsOf(data, size);
  const int length = static_cast<int>(text.size());

  std::string expected(text.size() * 3, '\0');
  int32_t written = 0;
  int32_t substitutions = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(expected.data(), static_cast<int32_t>(expected.size()), &written, text.data(), length, 0xFFFD,
                     &substitutions, &status);
  if (U_FAILURE(status)) std::abort();
  expected.resize(static_cast<size_t>(written));

  const int counted = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (counted != written) std::abort();
  // Room to spare, filled with a mark: a byte written past the count shows.
  const std::string guard(64, '\x5A');
  std::string bytes(expected.size(), '\0');
  bytes += guard;
  const int converted = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(),
                                            static_cast<int>(bytes.size()), nullptr, nullptr);
  if (converted != written || bytes.compare(0, expected.size(), expected) != 0 ||
      bytes.compare(expected.size(), std::string::npos, guard) != 0)
    std::abort();
  // Exactly the room needed is enough; one byte less is refused (a room
  // of none asks for the size).
  std::vector<char> exact(expected.size());
  if (WideCharToMultiByte(CP_UTF8, 0, text.data(), length, exact.data(), written, nullptr, nullptr) != written ||
      (written > 1 && WideCharToMultiByte(CP_UTF8, 0, text.data(), length, exact.data(), written - 1, nullptr,
                                          nullptr) != 0))
    std::abort();
  const bool strict = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, nullptr, 0, nullptr,
                                          nullptr) != 0;
  if (strict != (substitutions == 0)) std::abort();
  return 0;
}
