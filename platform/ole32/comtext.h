// GUID text of the COM runtime: the braced form that the registry keys and
// StringFromGUID2 use.
#pragma once

#include <guiddef.h>

#include <optional>
#include <string>

namespace tv {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::u16string guidText(const GUID& guid);
// The braced form, either letter case; nothing for any other text.
std::optional<GUID> parseGuid(const std::u16string& text);

}  // namespace tv
