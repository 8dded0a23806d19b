// The trace: progress lines on the platform's debug output, for whoever
// listens. Unheard lines are lost; a failure is never reported to the caller.
#pragma once

#include <string>

namespace Sys {

// Hands the text to the debug output unchanged: no prefix, no line break.
void trace(const char* text);
inline void trace(const std::string& text) { trace(text.c_str()); }

// Formats with printf conventions and ends the line with "\r\n". (gnu_printf:
// on MinGW plain printf would mean Microsoft's conventions.)
void traceFormat(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

}  // namespace Sys
