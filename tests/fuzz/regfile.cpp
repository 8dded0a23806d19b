// The .reg hive parser: any text parses or is refused as corrupt; a hive
// that parses is written, and that text parses back to the same text.
#include "advapi32/regfile.h"
#include "internal/win32call.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  std::string text;
  try {
    text = tv::formatRegFile(*tv::parseRegFile(std::string(data, data + size), u"HKEY_LOCAL_MACHINE"));
  } catch (const tv::Win32Failure&) {
    return 0;
  }
  // What was written must be read back as it was: a hive never changes by
  // being stored, and is never much larger than what it was read from.
  if (tv::formatRegFile(*tv::parseRegFile(text, u"HKEY_LOCAL_MACHINE")) != text) std::abort();
  if (text.size() > 64 + 8 * size) std::abort();
  return 0;
}
