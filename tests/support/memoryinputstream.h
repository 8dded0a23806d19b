// The runtime's memory input stream, also made from the bytes of a string.
#pragma once

#include "common/memoryinputstream.h"

#include <string>
#include <vector>

namespace tvtest {

class MemoryInputStream : public Sys::MemoryInputStream {
 public:
  using Sys::MemoryInputStream::MemoryInputStream;
  explicit MemoryInputStream(const std::string& bytes)
      : Sys::MemoryInputStream(std::vector<BYTE>(bytes.begin(), bytes.end())) {}
};

}  // namespace tvtest
