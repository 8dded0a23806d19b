// The component as its host reaches it: the installed library, its
// registration exports, and calls by name through COM.
#pragma once

#include "automation/automationclient.h"

#include <string>
#include <vector>

namespace tool {

// The ProgID a page's script creates.
constexpr char kProgId[] = "Tellvane.Signer32";

// The component installed beside this command (<prefix>/lib/tellvane/), or
// else the one of the build tree it was built in.
std::string installedComponent();

enum class Registration { Machine, User };

// What regsvr32 does, with /u for unregister and /n /i:user for a user:
// loads the library and calls its export. Returns the export's result;
// throws when the library or its export cannot be found.
HRESULT registerComponent(const std::string& library, Registration scope, bool unregister);

// Calls a method of a new Tellvane.Signer32 by name, as a script does.
std::string callComponent(const std::string& method, const std::vector<automation::Argument>& arguments);

// True when the text is a result envelope whose "success" is false.
bool isFailureEnvelope(const std::string& text);

}  // namespace tool
