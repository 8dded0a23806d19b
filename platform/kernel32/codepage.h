// The thread's ANSI code page as a character set.
#pragma once

#include <string>

namespace tv {

// The iconv name of the character set of the calling thread's locale:
// "UTF-8", "CP1251", ...; the C locale's ASCII counts as "CP1252", the code
// page of an English Windows.
std::string threadCharset();

}  // namespace tv
