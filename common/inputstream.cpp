#include "common/inputstream.h"

#include <stdexcept>

namespace Sys {

InputStream::~InputStream() {}

void InputStream::readExact(void* buffer, DWORD size) {
  DWORD got = read(buffer, size);
  if (got == kEndOfStream) throw std::runtime_error("Broken stream (1)");
  if (got != size) throw std::runtime_error("Broken stream (2)");
}

}  // namespace Sys
