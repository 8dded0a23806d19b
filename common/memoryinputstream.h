// An input stream over bytes held in memory: a record received as text (a
// sign tuple in Base64, say) is read back without a file.
#pragma once

#include "common/inputstream.h"

#include <vector>

namespace Sys {

class MemoryInputStream : public InputStream {
 public:
  explicit MemoryInputStream(std::vector<BYTE> bytes);

  ULONGLONG position() const override;
  ULONGLONG size() const override;
  // Up to size bytes; fewer at the end, 0xFFFFFFFF once nothing is left.
  DWORD read(void* buffer, DWORD size) override;
  DWORD skip(DWORD count) override;
  // Positions are kept within the bytes: before the start is the start,
  // beyond the end is the end.
  void seek(LONGLONG distance, Origin origin) override;

 private:
  std::vector<BYTE> bytes_;
  size_t position_ = 0;
};

}  // namespace Sys
