#include "options.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tool {

bool parseArguments(const Arguments& args, std::initializer_list<const char*> allowed, ParsedArguments& parsed) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) != 0) {
      parsed.positional.push_back(args[i]);
      continue;
    }
    const std::string name = args[i].substr(2);
    const bool known = std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; });
    if (!known || i + 1 == args.size()) {
      std::fprintf(stderr, "tellvane: %s option --%s\n", known ? "no value for" : "unknown", name.c_str());
      return false;
    }
    parsed.options[name] = args[++i];
  }
  return true;
}

}  // namespace tool
