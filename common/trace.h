// The trace: progress lines on the platform's debug output, for whoever
// listens. Unheard lines are lost; a failure is never reported to the caller.
#pragma once

#include <string>

namespace Sys {

// Hands the text to the debug output unchanged: no prefix, no line break.
void trace(const char* text);
inline void trace(const std::string& text) { trace(text.c_str()); }

// Formats with printf conventions and ends the line with "\r\n". The check is
// printf's, which every compiler of the tree knows (clang has no gnu_printf);
// on MinGW it follows Microsoft's rules, which agree with the C library's for
// the %s and %d that the component uses.
void traceFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Sys
