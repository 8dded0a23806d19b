// The fast part of UTF-16 -> UTF-8: the leading well-formed units of a text,
// converted with vector instructions where the processor has them.
#pragma once

#include <cstddef>

namespace tv {

// Converts units from the start of `units` (n of them) and returns how many
// it took; `written` is set to the bytes they make. It stops before a lone
// surrogate, where room runs short and near the end of the text (the vector
// code leaves the last 16 units at least), leaving the rest (which may be
// all of it) to the caller. With a null `to` it only counts. It reads
// nothing outside the text; the vector code may write up to 16 bytes past
// those it reports, which the bytes of the units it left (one at least for
// each) then cover.
size_t utf8Run(const char16_t* units, size_t n, char* to, size_t room, size_t& written);

}  // namespace tv
