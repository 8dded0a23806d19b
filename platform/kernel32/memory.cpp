// kernel32: local memory, the allocator of buffers that callers release
// with LocalFree (FormatMessage's text, CryptFormatObject's, ...).
#include "internal/win32call.h"

#include <windows.h>

#include <cstdlib>

WINBASEAPI HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  return tv::win32Value<HLOCAL>(nullptr, [&]() -> HLOCAL {
    // Only fixed memory: a movable block would need handle tables nobody uses.
    tv::require((uFlags & ~LMEM_ZEROINIT) == LMEM_FIXED);
    // A zero-byte block is still a distinct, freeable pointer, as on Windows.
    const SIZE_T size = uBytes == 0 ? 1 : uBytes;
    void* block = (uFlags & LMEM_ZEROINIT) ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) tv::fail(ERROR_NOT_ENOUGH_MEMORY);
    return block;
  });
}

WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}
