// Asking the user for a key's PIN through a pinentry program (the Assuan
// protocol that GnuPG's pinentry speaks).
#pragma once

#include <optional>
#include <string>

namespace tv {

// The program named by $TELLVANE_PINENTRY (set but empty: none), else
// "pinentry" from PATH when a terminal or a display is there; empty when
// there is none to ask.
std::string pinentryProgram();

// Asks for a PIN; nullopt when there is no program, the user cancelled or
// the program failed.
std::optional<std::string> askPin(const std::string& description);

}  // namespace tv
