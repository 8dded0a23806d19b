// UTF-16 <-> UTF-8 for the stand-in's own file names and file contents
// (registry hives, module paths). A lone surrogate becomes U+FFFD; invalid
// UTF-8 bytes become U+FFFD as well, so a conversion never fails.
#pragma once

#include <windef.h>

#include <string>

namespace tv {

std::string toUtf8(const WCHAR* text, size_t length);
inline std::string toUtf8(const std::u16string& text) { return toUtf8(text.data(), text.size()); }
std::u16string toUtf16(const char* text, size_t length);
inline std::u16string toUtf16(const std::string& text) { return toUtf16(text.data(), text.size()); }
// Whether the bytes are well-formed UTF-8 (an empty text is).
bool isUtf8(const char* text, size_t length);

// Length of a zero-terminated wide string.
inline size_t wideLength(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace tv
