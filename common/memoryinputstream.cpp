#include "common/memoryinputstream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace Sys {

MemoryInputStream::MemoryInputStream(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}

ULONGLONG MemoryInputStream::position() const { return position_; }

ULONGLONG MemoryInputStream::size() const { return bytes_.size(); }

DWORD MemoryInputStream::read(void* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) throw std::invalid_argument("No data to read");
  if (position_ >= bytes_.size()) return kEndOfStream;
  const size_t count = std::min<size_t>(size, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  return static_cast<DWORD>(count);
}

DWORD MemoryInputStream::skip(DWORD count) {
  if (count == 0) return 0;
  if (position_ >= bytes_.size()) return kEndOfStream;
  const size_t skipped = std::min<size_t>(count, bytes_.size() - position_);
  position_ += skipped;
  return static_cast<DWORD>(skipped);
}

void MemoryInputStream::seek(LONGLONG distance, Origin origin) {
  const LONGLONG size = static_cast<LONGLONG>(bytes_.size());
  const LONGLONG base = origin == Begin ? 0 : origin == End ? size : static_cast<LONGLONG>(position_);
  LONGLONG target = base;
  if (distance > 0) target = distance > size - base ? size : base + distance;
  if (distance < 0) target = -distance > base ? 0 : base + distance;
  position_ = static_cast<size_t>(target);
}

}  // namespace Sys
