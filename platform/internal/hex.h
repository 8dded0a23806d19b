// Hexadecimal digits, both ways: thumbprints as file names, names' "#" form,
// the percent escapes of the pinentry protocol, .reg file data, GUID text.
#pragma once

#include <cstddef>
#include <string>

namespace tv {

// An upper-case digit for the low four bits of a value.
inline char hexDigit(unsigned value) { return "0123456789ABCDEF"[value & 15]; }

// Two upper-case digits per byte.
inline std::string hexText(const unsigned char* bytes, size_t size) {
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += hexDigit(bytes[i] >> 4);
    text += hexDigit(bytes[i]);
  }
  return text;
}

// The value of a digit of either case, or -1 for any other character.
inline int hexValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

}  // namespace tv
