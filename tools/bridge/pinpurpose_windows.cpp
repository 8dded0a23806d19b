#include "pinpurpose.h"

namespace bridge {

// A Windows provider asks for a key's PIN in a window of its own, which
// names the key; it reads no purpose from the host.
void announcePinPurpose(const std::string&) {}

}  // namespace bridge
