// The system message table: Windows' English texts for every code the
// stand-in can set, without the "\r\n" that FormatMessage appends.
#pragma once

#include <windef.h>

namespace tv {

struct MessageEntry {
  DWORD code;
  const char* text;
};

// The entries, sorted by code.
extern const MessageEntry kMessageTable[];
extern const size_t kMessageTableSize;

// The text for a code, or null when the table has none. An HRESULT of
// FACILITY_WIN32 (0x8007xxxx) gives the text of its Win32 code, as Windows does.
const char* findMessage(DWORD code);

}  // namespace tv
