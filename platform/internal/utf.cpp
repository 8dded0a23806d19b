// UTF-16 <-> UTF-8 through the stand-in's own code-page conversion, without
// flags: what cannot be converted becomes U+FFFD, as it does in Windows.
#include "internal/utf.h"

#include "internal/win32call.h"

#include <climits>

namespace tv {

std::string toUtf8(const WCHAR* text, size_t length) {
  if (length == 0) return std::string();
  require(length <= INT_MAX / 3, ERROR_NOT_ENOUGH_MEMORY);
  int wide = static_cast<int>(length);
  int size = WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
  require(size > 0, GetLastError());
  std::string out(static_cast<size_t>(size), '\0');
  require(WideCharToMultiByte(CP_UTF8, 0, text, wide, out.data(), size, nullptr, nullptr) == size, GetLastError());
  return out;
}

std::u16string toUtf16(const char* text, size_t length) {
  if (length == 0) return std::u16string();
  require(length <= INT_MAX, ERROR_NOT_ENOUGH_MEMORY);
  int bytes = static_cast<int>(length);
  int size = MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
  require(size > 0, GetLastError());
  std::u16string out(static_cast<size_t>(size), u'\0');
  require(MultiByteToWideChar(CP_UTF8, 0, text, bytes, out.data(), size) == size, GetLastError());
  return out;
}

bool isUtf8(const char* text, size_t length) {
  if (length == 0) return true;
  require(length <= INT_MAX, ERROR_NOT_ENOUGH_MEMORY);
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(length), nullptr, 0) > 0;
}

}  // namespace tv
