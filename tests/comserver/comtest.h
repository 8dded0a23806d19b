// Helpers for the tests of the COM runtime: the test server module and the
// client helpers every COM test uses.
#pragma once

#include <string>

#include "support/comtest.h"
#include "testserver.h"

namespace comtest {

inline std::u16string serverPath() {
  const std::string path = TV_TEST_COMSERVER;
  return std::u16string(path.begin(), path.end());
}

}  // namespace comtest
