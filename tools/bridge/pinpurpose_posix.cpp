#include <cstdlib>

#include "pinpurpose.h"

namespace bridge {

void announcePinPurpose(const std::string& purpose) { setenv("TELLVANE_PIN_PURPOSE", purpose.c_str(), 1); }

}  // namespace bridge
