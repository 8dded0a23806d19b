// Command-line options: --name VALUE, or --name alone for a flag; the
// positional arguments in order. "--" ends the options, so that a text
// may begin with dashes.
#pragma once

#include "commands.h"

#include <initializer_list>
#include <map>
#include <string>

namespace tool {

struct Option {
  const char* name;  // without the leading "--"
  bool takesValue;
};

struct ParsedArguments {
  Arguments positional;
  std::multimap<std::string, std::string> options;  // a flag holds an empty value

  bool has(const std::string& name) const { return options.count(name) > 0; }
  std::string option(const std::string& name, const std::string& fallback = "") const {
    auto found = options.find(name);
    return found != options.end() ? found->second : fallback;
  }
};

// Throws UsageError for an unknown option, a missing value, or a number of
// positional arguments outside [minimum, maximum].
ParsedArguments parseArguments(const Arguments& args, std::initializer_list<Option> allowed, size_t minimum = 0,
                               size_t maximum = 0);

// Exactly one of the named options (the one given), else UsageError.
std::string oneOf(const ParsedArguments& parsed, std::initializer_list<const char*> names);

}  // namespace tool
