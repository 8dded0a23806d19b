// The registry-script processor reading any text. Scripts are run for
// removal against an empty registry, so every statement is parsed and walked
// while nothing is written: a malformed script must be refused, never crash.
#include <cstdint>
#include <cstdlib>

#include "tellvane/registrar.h"
#include "temporaryprefix.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  useTemporaryPrefix("registrar");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two bytes a character, as the script resource is read.
  Tellvane::WideString text(size / 2, 0);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<WCHAR>(data[2 * i] | data[2 * i + 1] << 8);
  const Tellvane::Replacements replacements{{u"MODULE", u"/opt/Tellvane.so"}, {u"APPID", u"{57CBDE74}"}};
  Tellvane::runRegistryScript(text, replacements, false);
  return 0;
}
