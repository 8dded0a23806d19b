// Wide (UTF-16) string literals: L"" where WCHAR is wchar_t (Windows), u""
// where it is char16_t (the Linux stand-in, whose wchar_t is 32-bit).
#pragma once

#ifdef _WIN32
#define WSTR(text) L##text
#else
#define WSTR(text) u##text
#endif
