// A growable in-memory byte buffer: what the signing operations fill and then
// encode as Base64.
#pragma once

#include "common/outputstream.h"

#include <vector>

namespace Sys {

class MemoryOutputStream : public OutputStream {
 public:
  MemoryOutputStream();

  // Appends the bytes; refuses null data or a size of 0 with
  // std::invalid_argument "No data to write", leaving the stream unchanged.
  DWORD write(const void* data, DWORD size) override;
  ULONGLONG position() const override;
  ULONGLONG size() const override;
  void flush() override;
  virtual ~MemoryOutputStream();

  // The first byte held, or null while the stream is empty. Valid until the
  // next write or the stream's end.
  const BYTE* data() const;

 private:
  std::vector<BYTE> buffer_;
  ULONGLONG written_;
};

}  // namespace Sys
