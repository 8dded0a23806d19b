// kernel32: FormatMessageA over the system message table.
#include "kernel32/messagetable.h"
#include "internal/win32call.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

const DWORD kSupportedFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                              FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                              FORMAT_MESSAGE_MAX_WIDTH_MASK;

const DWORD kMaxBuffer = 64 * 1024;

// The table holds English only: the neutral and default languages resolve
// to it, as they do on an English system.
bool isEnglishOrDefault(DWORD language) {
  switch (language) {
    case MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL):
    case MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT):
    case MAKELANGID(LANG_NEUTRAL, 0x02):  // SUBLANG_SYS_DEFAULT
    case MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US): return true;
    default: return false;
  }
}

// The message as FormatMessage returns it: the text and its line end. With
// FORMAT_MESSAGE_MAX_WIDTH_MASK the message's own line breaks are dropped.
std::string systemMessage(DWORD flags, DWORD code, DWORD language) {
  tv::require((flags & ~kSupportedFlags) == 0, ERROR_INVALID_FLAGS);
  tv::require(flags & FORMAT_MESSAGE_FROM_SYSTEM);
  const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  tv::require(width == 0 || width == FORMAT_MESSAGE_MAX_WIDTH_MASK, ERROR_NOT_SUPPORTED);
  tv::require(isEnglishOrDefault(language), ERROR_RESOURCE_LANG_NOT_FOUND);
  const char* text = tv::findMessage(code);
  if (text == nullptr) tv::fail(ERROR_MR_MID_NOT_FOUND);
  // Inserts can only be left as they are; expanding them needs arguments
  // that no caller of the stand-in passes.
  if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS)) tv::require(std::strchr(text, '%') == nullptr);
  std::string message = text;
  if (width == 0) message += "\r\n";
  return message;
}

}  // namespace

WINBASEAPI DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                       LPSTR lpBuffer, DWORD nSize, va_list* Arguments) {
  UNREFERENCED_PARAMETER(lpSource);
  UNREFERENCED_PARAMETER(Arguments);
  return tv::win32Value<DWORD>(0, [&]() -> DWORD {
    tv::require(lpBuffer != nullptr);
    // A failed call leaves no stale pointer for a caller that tests it.
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) *reinterpret_cast<LPSTR*>(lpBuffer) = nullptr;
    const std::string message = systemMessage(dwFlags, dwMessageId, dwLanguageId);
    const DWORD length = static_cast<DWORD>(message.size());
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
      // lpBuffer is really an LPSTR* that receives a LocalAlloc'd block of at
      // least nSize characters; Windows' buffers stop at 64K.
      tv::require(nSize <= kMaxBuffer);
      const SIZE_T size = nSize > length ? nSize : length + 1;
      auto* block = static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, size));
      if (block == nullptr) tv::fail(ERROR_NOT_ENOUGH_MEMORY);
      std::memcpy(block, message.c_str(), length + 1);
      *reinterpret_cast<LPSTR*>(lpBuffer) = block;
      return length;
    }
    tv::require(nSize > length, ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(lpBuffer, message.c_str(), length + 1);
    return length;
  });
}
