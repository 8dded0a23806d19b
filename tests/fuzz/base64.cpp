// Base64 decoding: any text decodes or is refused, never read past its
// length, and what decodes encodes and decodes again to the same bytes.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool decode(const char* text, DWORD length, std::vector<BYTE>& bytes) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) return false;
  bytes.resize(size);
  if (!CryptStringToBinaryA(text, length, CRYPT_STRING_BASE64, bytes.data(), &size, nullptr, nullptr)) std::abort();
  bytes.resize(size);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1 << 20) return 0;
  // A copy of exactly the input's length, so that a read past it is caught.
  std::vector<char> text(data, data + size);
  std::vector<BYTE> bytes, again;
  if (!decode(text.data(), static_cast<DWORD>(size), bytes) || bytes.empty()) return 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD length = 0;
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), flags, nullptr, &length)) std::abort();
  std::string encoded(length, '\0');
  if (!CryptBinaryToStringA(bytes.data(), static_cast<DWORD>(bytes.size()), flags, encoded.data(), &length) ||
      !decode(encoded.data(), length, again) || again != bytes)
    std::abort();
  return 0;
}
