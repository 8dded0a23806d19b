// The commands of the tellvane host, one function each. Each takes the
// arguments after the command's words and returns the process exit code:
// 0 success, 1 the operation failed. A usage fault throws UsageError
// (exit 2); any other failure throws with a one-line reason (exit 1).
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tool {

using Arguments = std::vector<std::string>;

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int runRegister(const Arguments& args);
int runCall(const Arguments& args);
int runDemo(const Arguments& args);
int runCertsList(const Arguments& args);
int runCertsImport(const Arguments& args);
int runCertsNew(const Arguments& args);
int runCertsRemove(const Arguments& args);
int runDigest(const Arguments& args);
int runVerify(const Arguments& args);
int runTrace(const Arguments& args);
int runBridge(const Arguments& args);

}  // namespace tool
