// What a call throws, as text, and texts of raised errors made comparable.
#pragma once

#include <exception>
#include <regex>
#include <string>

namespace tvtest {

// An exception's what(), "number N" for a bare number (the provider's 87),
// "" when nothing is thrown.
template <class Call>
std::string thrownText(Call call) {
  try {
    call();
  } catch (const std::exception& error) {
    return error.what();
  } catch (long number) {
    return "number " + std::to_string(number);
  }
  return "";
}

// The text with the line number of its raising place replaced by '#':
// "Exception has been thrown in file 'f.cpp' at line #. The text is: ...".
inline std::string lineless(const std::string& text) {
  return std::regex_replace(text, std::regex("^(Exception has been thrown in file '[^']*' at line )[0-9]+"), "$1#");
}

}  // namespace tvtest
