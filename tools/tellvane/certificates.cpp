// `tellvane list` and `tellvane import`: the certificates of the user's
// personal store, as a page sees them and as files are put into it.
#include "commands.h"
#include "keys.h"
#include "operations.h"
#include "text.h"

#include <cstdio>

namespace tool {

int runList(const Arguments& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "usage: tellvane list\n");
    return 2;
  }
  HRESULT status = S_OK;
  std::printf("%s\n", certificateListEnvelope(&status).c_str());
  return SUCCEEDED(status) ? 0 : 1;
}

int runImport(const Arguments& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: tellvane import <certificate.der>\n");
    return 2;
  }
  addToPersonalStore(readFileBytes(args[0]));
  return 0;
}

}  // namespace tool
