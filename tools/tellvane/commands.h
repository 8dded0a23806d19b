// The commands of the tellvane host, one function each. Each takes the
// arguments after the command's name and returns the process exit code.
#pragma once

#include <string>
#include <vector>

namespace tool {

using Arguments = std::vector<std::string>;

int runDemo(const Arguments& args);
int runImport(const Arguments& args);
int runList(const Arguments& args);
int runNewKey(const Arguments& args);
int runSignHash(const Arguments& args);
int runSignString(const Arguments& args);
int runVerify(const Arguments& args);
int runTrace(const Arguments& args);
int runBridge(const Arguments& args);

}  // namespace tool
