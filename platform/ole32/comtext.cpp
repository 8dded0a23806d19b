#include "ole32/comtext.h"

#include "internal/hex.h"

#include <cstdio>

namespace tv {

std::u16string guidText(const GUID& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return std::u16string(buffer, buffer + 38);
}

std::optional<GUID> parseGuid(const std::u16string& text) {
  // Positions of the hex digit pairs after the opening brace, in byte order
  // of the text form.
  static const char kPattern[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  if (text.size() != 38) return std::nullopt;
  unsigned char bytes[16];
  size_t byte = 0;
  for (size_t i = 0; i < 38; ++i) {
    if (kPattern[i] != 'X') {
      if (text[i] != static_cast<char16_t>(kPattern[i])) return std::nullopt;
      continue;
    }
    const int high = hexValue(text[i]), low = hexValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[byte++] = static_cast<unsigned char>(high * 16 + low);
    ++i;
  }
  GUID g;
  g.Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) | bytes[3];
  g.Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
  for (int k = 0; k < 8; ++k) g.Data4[k] = bytes[8 + k];
  return g;
}

}  // namespace tv
