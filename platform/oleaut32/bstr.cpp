// oleaut32: BSTR allocation. A BSTR points at UTF-16 text that is preceded
// by its length in bytes (32-bit) and followed by a zero character the
// length does not count. The block starts 8 bytes before the text, so that
// the text is 8-byte aligned.
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const size_t kHeader = 8;  // 4 bytes of padding, then the 32-bit byte length

char* blockOf(BSTR text) { return reinterpret_cast<char*>(text) - kHeader; }

uint32_t byteLengthOf(BSTR text) {
  uint32_t length;
  std::memcpy(&length, reinterpret_cast<char*>(text) - sizeof(length), sizeof(length));
  return length;
}

// A BSTR of the given byte length, its text copied from source or zeroed;
// null when the length does not fit the 32-bit prefix or memory is short.
BSTR allocate(const void* source, size_t byteLength) {
  if (byteLength > UINT32_MAX - kHeader - sizeof(OLECHAR)) return nullptr;
  char* block = static_cast<char*>(std::malloc(kHeader + byteLength + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const uint32_t length = static_cast<uint32_t>(byteLength);
  std::memset(block, 0, kHeader);
  std::memcpy(block + kHeader - sizeof(length), &length, sizeof(length));
  char* text = block + kHeader;
  if (source != nullptr)
    std::memcpy(text, source, byteLength);
  else
    std::memset(text, 0, byteLength);
  std::memset(text + byteLength, 0, sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(text);
}

}  // namespace

WINOLEAUTAPI BSTR WINAPI SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  size_t length = 0;
  while (psz[length] != 0) ++length;
  return allocate(psz, length * sizeof(OLECHAR));
}

WINOLEAUTAPI BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  return allocate(strIn, static_cast<size_t>(ui) * sizeof(OLECHAR));
}

WINOLEAUTAPI void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString != nullptr) std::free(blockOf(bstrString));
}

WINOLEAUTAPI UINT WINAPI SysStringLen(BSTR pbstr) {
  return pbstr != nullptr ? byteLengthOf(pbstr) / sizeof(OLECHAR) : 0;
}

WINOLEAUTAPI UINT WINAPI SysStringByteLen(BSTR bstr) { return bstr != nullptr ? byteLengthOf(bstr) : 0; }
