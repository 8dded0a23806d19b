// Names as COM compares them (ProgIDs, members, types, registry subkeys):
// without regard to letter case (ASCII, Latin-1, Greek and Cyrillic letters).
#pragma once

#include <string>

namespace tv {

char16_t foldCase(char16_t c);
bool equalNoCase(const std::u16string& a, const std::u16string& b);

}  // namespace tv
