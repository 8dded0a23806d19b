// Text helpers of the COM runtime: GUID text and the case-insensitive
// comparison that oleaut32 uses for names (UTF conversions are in utf.h).
#pragma once

#include <guiddef.h>

#include "internal/utf.h"

#include <optional>
#include <string>

namespace tv {

std::u16string fromOleString(const char16_t* text);  // null gives an empty text

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::u16string guidText(const GUID& guid);
// The braced form, either letter case; nothing for any other text.
std::optional<GUID> parseGuid(const std::u16string& text);

// Names compare without regard to letter case (ASCII, Latin-1, Greek and
// Cyrillic letters).
char16_t foldCase(char16_t c);
bool equalNoCase(const std::u16string& a, const std::u16string& b);

}  // namespace tv
