#include "common/trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <vector>

namespace Sys {

void trace(const char* text) { OutputDebugStringA(text); }

void traceFormat(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  try {
    std::string line = std::string(format) + "\r\n";
    va_list counting;
    va_copy(counting, arguments);
    int length = std::vsnprintf(nullptr, 0, line.c_str(), counting);
    va_end(counting);
    if (length >= 0) {
      std::vector<char> buffer(static_cast<size_t>(length) + 1);
      std::vsnprintf(buffer.data(), buffer.size(), line.c_str(), arguments);
      OutputDebugStringA(buffer.data());
    }
  } catch (const std::bad_alloc&) {
    // A line that cannot be formatted for lack of memory is dropped.
  }
  va_end(arguments);
}

}  // namespace Sys
