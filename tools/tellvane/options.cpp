#include "options.h"

#include <algorithm>

namespace tool {

ParsedArguments parseArguments(const Arguments& args, std::initializer_list<Option> allowed, size_t minimum,
                               size_t maximum) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      if (arg == "--" && !optionsEnded) {
        optionsEnded = true;
        continue;
      }
      parsed.positional.push_back(arg);
      continue;
    }
    const std::string name = arg.substr(2);
    auto known = std::find_if(allowed.begin(), allowed.end(), [&](const Option& o) { return name == o.name; });
    if (known == allowed.end()) throw UsageError("unknown option " + arg);
    if (!known->takesValue) {
      parsed.options.emplace(name, "");
      continue;
    }
    if (i + 1 == args.size()) throw UsageError("no value for " + arg);
    parsed.options.emplace(name, args[++i]);
  }
  if (parsed.positional.size() < minimum) throw UsageError("missing argument");
  if (parsed.positional.size() > maximum) throw UsageError("unexpected argument '" + parsed.positional[maximum] + "'");
  return parsed;
}

std::string oneOf(const ParsedArguments& parsed, std::initializer_list<const char*> names) {
  std::string given;
  for (const char* name : names) {
    const size_t count = parsed.options.count(name);
    if (count > 1 || (count == 1 && !given.empty())) throw UsageError("give only one of the inputs");
    if (count == 1) given = name;
  }
  if (given.empty()) throw UsageError("no input given");
  return given;
}

}  // namespace tool
