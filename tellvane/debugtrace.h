// The server's trace: wide lines on the platform's debug output that say where
// in the source they were written, "<file>(<line>) : <text>" and a line end.
#pragma once

#include <windows.h>

#include "common/wide.h"

namespace Tellvane {

void traceAt(const char* file, int line, const WCHAR* text) noexcept;

}  // namespace Tellvane

#define TELLVANE_TRACE(text) ::Tellvane::traceAt(__FILE__, __LINE__, WSTR(text))
