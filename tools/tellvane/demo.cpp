// `tellvane demo`: runs the component's operations end to end in a
// throw-away platform prefix, so that it needs nothing set up beforehand.
#include "commands.h"

#include "common/exceptions.h"
#include "shared/clientcrypto.h"

#include <cstdio>

namespace tool {

int runDemo(const Arguments&) {
  std::printf("Success envelope with a JSON value:\n  %s\n", ClientCrypto::successWithJson("[]").c_str());
  std::printf("Success envelope with a text:\n  %s\n", ClientCrypto::successWithString("U0lHTkRBVEE=").c_str());
  const Sys::OsError missing(ERROR_FILE_NOT_FOUND, __FILE__, __LINE__);
  std::printf("Error envelope of a platform failure:\n  %s\n", ClientCrypto::errorWithString(missing.what()).c_str());
  return 0;
}

}  // namespace tool
