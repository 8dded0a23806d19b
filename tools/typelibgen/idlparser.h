// The IDL subset the component's interfaces use: imports, interfaces with
// attributes, methods and parameters, coclasses and one library block.
#pragma once

#include <string>

#include "oleaut32/typelibdata.h"

namespace typelibgen {

// Throws std::runtime_error with "<line>: <message>" on text outside the subset.
tv::typelib::Library parseIdl(const std::string& text);

}  // namespace typelibgen
