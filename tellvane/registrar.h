// The registry-script processor: the text form in which a server module
// describes the registry keys it writes at registration and removes at
// unregistration (".rgs" scripts).
//
//   script  = { root "{" entries "}" }
//   root    = HKCR | HKCU | HKLM | HKU | HKPD | HKDD | HKCC, or their long names
//   entry   = [ForceRemove | NoRemove | Val] name ["=" type value] ["{" entries "}"]
//           | Delete name
//   type    = s (text) | d (decimal 32-bit number) | b (pairs of hexadecimal digits)
//
// Tokens are separated by white space; a token in single quotes may hold any
// character ('' stands for one quote). "{" opens a block only as a token of
// its own, so a class identifier in braces is an ordinary name. Keywords and
// root names compare without regard to letter case. %NAME% is replaced by the
// value given for NAME before the script is read; %% is a single %.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace Tellvane {

using WideString = std::basic_string<WCHAR>;

struct Replacement {
  WideString name;  // compared without regard to letter case
  WideString value;
};
using Replacements = std::vector<Replacement>;

// Runs a script: registering creates its keys and sets its values; removing
// deletes what it names (never a NoRemove key, a ForceRemove key with all
// beneath it, a plain key only once no subkey is left in it). The whole
// script is read before anything is written, so a malformed script
// (DISP_E_EXCEPTION) changes nothing. Registration stops at the first failing
// step, undoes itself by running the script for removal, and returns that
// step's code; removal skips keys that are not there and returns the first
// other failure.
HRESULT runRegistryScript(const WideString& text, const Replacements& replacements, bool registering) noexcept;

}  // namespace Tellvane
