// What a call throws, as text: an exception's what(), "number N" for a bare
// number (the provider's 87), "" when nothing is thrown.
#pragma once

#include <exception>
#include <string>

namespace tvtest {

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

}  // namespace tvtest
