// The line a key's PIN prompt shows before its own text, set by the host
// before each signature so that the prompt names who asks. The platform's
// pinentry reads it from TELLVANE_PIN_PURPOSE; pinpurpose_posix.cpp sets it.
#pragma once

#include <string>

namespace bridge {

void announcePinPurpose(const std::string& purpose);

}  // namespace bridge
