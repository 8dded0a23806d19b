// Text made safe to stand between the quotation marks of a JSON string.
#pragma once

#include <string>

namespace Sys {

// Escapes the quotation mark, the backslash and every control character below
// 0x20 (as \n, \r, \t or \u00XX). Other bytes, those of 0x80 and above among
// them, stay as they are, so Base64 and code-page texts pass unchanged.
std::string escapeJson(const std::string& text);

}  // namespace Sys
