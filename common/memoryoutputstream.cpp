#include "common/memoryoutputstream.h"

#include <stdexcept>

namespace Sys {

MemoryOutputStream::MemoryOutputStream() : written_(0) {}

MemoryOutputStream::~MemoryOutputStream() = default;

DWORD MemoryOutputStream::write(const void* data, DWORD size) {
  if (data == nullptr || size == 0) throw std::invalid_argument("No data to write");
  const BYTE* bytes = static_cast<const BYTE*>(data);
  // Appending at the end either succeeds or leaves the buffer as it was.
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  written_ += size;
  return size;
}

ULONGLONG MemoryOutputStream::position() const { return written_; }

ULONGLONG MemoryOutputStream::size() const { return buffer_.size(); }

void MemoryOutputStream::flush() {}

const BYTE* MemoryOutputStream::data() const { return buffer_.empty() ? nullptr : buffer_.data(); }

}  // namespace Sys
