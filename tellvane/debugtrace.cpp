#include "tellvane/debugtrace.h"

#include <new>
#include <string>

namespace Tellvane {

void traceAt(const char* file, int line, const WCHAR* text) noexcept {
  try {
    std::basic_string<WCHAR> out;
    for (const char* c = file; *c != 0; ++c) out += static_cast<WCHAR>(static_cast<unsigned char>(*c));
    out += WSTR("(");
    for (char digit : std::to_string(line)) out += static_cast<WCHAR>(digit);
    out += WSTR(") : ");
    out += text;
    out += WSTR("\n");
    OutputDebugStringW(out.c_str());
  } catch (const std::bad_alloc&) {
    // A line that cannot be composed is dropped, as an unheard one is.
  }
}

}  // namespace Tellvane
