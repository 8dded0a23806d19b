// Command-line options of the form --name value, after the positional ones.
#pragma once

#include "commands.h"

#include <map>
#include <string>

namespace tool {

struct ParsedArguments {
  Arguments positional;
  std::map<std::string, std::string> options;  // without the leading "--"

  std::string option(const std::string& name, const std::string& fallback = "") const {
    auto found = options.find(name);
    return found != options.end() ? found->second : fallback;
  }
};

// Splits the arguments; false when an option lacks its value or is not one
// of the allowed names.
bool parseArguments(const Arguments& args, std::initializer_list<const char*> allowed, ParsedArguments& parsed);

}  // namespace tool
