// Base64 conversions of crypt32. The alphabet work is nettle's; what is ours
// is the Windows decoder's acceptance rules: white space anywhere, missing
// padding, and anything after a completed padded group, are accepted.
#include <wincrypt.h>
#include <winerror.h>

#include <nettle/base64.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "internal/win32call.h"

namespace tv {

namespace {

constexpr DWORD kFormatMask = 0x0000000F;
constexpr DWORD kMaxInput = 0x3FFFFFFF;

bool isBase64Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The data characters of a Windows Base64 text, without white space and
// padding; fails with ERROR_INVALID_DATA on anything Windows refuses.
std::string dataCharacters(const char* text, size_t length) {
  std::string data;
  size_t i = 0;
  for (; i < length; ++i) {
    const char c = text[i];
    if (isBase64Space(c)) continue;
    if (c == '=') break;
    if (!isAlphabet(c)) fail(ERROR_INVALID_DATA);
    data += c;
  }
  if (i == length) return data;
  // Padding ends the data. It must complete the last group; a complete group
  // followed by '=' simply ends there. Whatever follows is not read.
  if (data.empty()) fail(ERROR_INVALID_DATA);
  size_t missing = (4 - data.size() % 4) % 4;
  for (; i < length && missing > 0; ++i) {
    if (isBase64Space(text[i])) continue;
    if (text[i] != '=') fail(ERROR_INVALID_DATA);
    --missing;
  }
  if (missing > 0) fail(ERROR_INVALID_DATA);
  return data;
}

std::string decodeBase64(const char* text, size_t length) {
  std::string data = dataCharacters(text, length);
  // A lone character in the last group still gives one byte from its six
  // bits, as on Windows; nettle needs a second character for that.
  if (data.size() % 4 == 1) data += 'A';
  std::string bytes(BASE64_DECODE_LENGTH(data.size()), '\0');
  base64_decode_ctx context;
  base64_decode_init(&context);
  size_t produced = bytes.size();
  if (!base64_decode_update(&context, &produced, reinterpret_cast<uint8_t*>(&bytes[0]), data.size(), data.data()))
    fail(ERROR_INVALID_DATA);
  bytes.resize(produced);
  return bytes;
}

std::string encodeBase64(const BYTE* data, DWORD size, DWORD flags) {
  std::string plain(BASE64_ENCODE_RAW_LENGTH(static_cast<size_t>(size)), '\0');
  if (size != 0) base64_encode_raw(&plain[0], size, data);
  if (flags & CRYPT_STRING_NOCRLF) return plain;
  // Lines of 64 characters, each ended by CR LF (LF alone with NOCR).
  const char* lineEnd = (flags & CRYPT_STRING_NOCR) ? "\n" : "\r\n";
  std::string lines;
  for (size_t at = 0; at < plain.size(); at += 64) lines += plain.substr(at, 64) + lineEnd;
  return lines;
}

}  // namespace

}  // namespace tv

using namespace tv;

WINCRYPT32API BOOL WINAPI CryptBinaryToStringA(const BYTE* pbBinary, DWORD cbBinary, DWORD dwFlags, LPSTR pszString,
                                               DWORD* pcchString) {
  return win32Bool([&] {
    require(pbBinary != nullptr && pcchString != nullptr);
    if ((dwFlags & kFormatMask) != CRYPT_STRING_BASE64) fail(ERROR_INVALID_PARAMETER);
    require(cbBinary <= kMaxInput / 2);
    const std::string text = encodeBase64(pbBinary, cbBinary, dwFlags);
    const DWORD required = static_cast<DWORD>(text.size() + 1);
    if (pszString == nullptr) {
      *pcchString = required;
      return;
    }
    if (*pcchString < required) {
      // Windows' narrow form has written what fitted before it fails.
      if (*pcchString > 0) std::memcpy(pszString, text.data(), std::min<size_t>(*pcchString - 1, text.size()));
      if (*pcchString > 0) pszString[*pcchString - 1] = '\0';
      *pcchString = required;
      fail(ERROR_MORE_DATA);
    }
    std::memcpy(pszString, text.c_str(), required);
    *pcchString = required - 1;
  });
}

WINCRYPT32API BOOL WINAPI CryptStringToBinaryA(LPCSTR pszString, DWORD cchString, DWORD dwFlags, BYTE* pbBinary,
                                               DWORD* pcbBinary, DWORD* pdwSkip, DWORD* pdwFlags) {
  return win32Bool([&] {
    require(pszString != nullptr && pcbBinary != nullptr);
    if ((dwFlags & ~kFormatMask) != 0) fail(ERROR_INVALID_DATA);
    if (dwFlags != CRYPT_STRING_BASE64) fail(ERROR_INVALID_PARAMETER);
    const size_t length = cchString != 0 ? cchString : std::strlen(pszString);
    const std::string bytes = decodeBase64(pszString, length);
    if (pbBinary != nullptr) {
      // Too small: nothing written and the size left as it was.
      if (*pcbBinary < bytes.size()) fail(ERROR_MORE_DATA);
      if (!bytes.empty()) std::memcpy(pbBinary, bytes.data(), bytes.size());
    }
    *pcbBinary = static_cast<DWORD>(bytes.size());
    if (pdwSkip != nullptr) *pdwSkip = 0;
    if (pdwFlags != nullptr) *pdwFlags = CRYPT_STRING_BASE64;
  });
}
