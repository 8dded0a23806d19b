// UTF-8 and UTF-16 conversions inside crypt32, with Windows' handling of
// bad input: each malformed sequence becomes U+FFFD.
#pragma once

#include <windef.h>

#include <string>

namespace tv {

// Decodes UTF-8; `valid` (if given) tells whether the input was well formed.
inline std::u16string utf8ToUtf16(const unsigned char* p, size_t size, bool* valid = nullptr) {
  static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  std::u16string out;
  bool ok = true;
  size_t i = 0;
  while (i < size) {
    unsigned char lead = p[i];
    size_t count = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      count = 1, cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      count = 2, cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      count = 3, cp = lead & 0x07;
    } else {
      ok = false;
      out += u'\uFFFD';
      ++i;
      continue;
    }
    size_t j = 1;
    while (j <= count && i + j < size && (p[i + j] & 0xC0) == 0x80) cp = cp << 6 | (p[i + j++] & 0x3F);
    if (j <= count || cp < minimum[count] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      ok = false;
      out += u'\uFFFD';
      i += j;  // the lead and the continuation bytes that belonged to it
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += j;
  }
  if (valid != nullptr) *valid = ok;
  return out;
}

inline std::string utf16ToUtf8(const char16_t* p, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    char32_t cp = p[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < size && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace tv
