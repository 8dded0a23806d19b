// An input stream over bytes held in memory, for tests of what reads streams.
// It keeps the file stream's conventions: short reads at the end, 0xFFFFFFFF
// once nothing is left, and it counts the read calls it served.
#pragma once

#include "common/inputstream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace tvtest {

class MemoryInputStream : public Sys::InputStream {
 public:
  explicit MemoryInputStream(std::vector<BYTE> bytes) : bytes_(std::move(bytes)) {}
  explicit MemoryInputStream(const std::string& bytes) : bytes_(bytes.begin(), bytes.end()) {}

  ULONGLONG position() const override { return position_; }
  ULONGLONG size() const override { return bytes_.size(); }
  DWORD read(void* buffer, DWORD size) override {
    ++reads_;
    if (buffer == nullptr || size == 0) throw std::invalid_argument("No data to read");
    if (position_ >= bytes_.size()) return kEndOfStream;
    size_t count = std::min<size_t>(size, bytes_.size() - position_);
    std::memcpy(buffer, bytes_.data() + position_, count);
    position_ += count;
    return static_cast<DWORD>(count);
  }
  DWORD skip(DWORD count) override {
    if (count == 0) return 0;
    std::vector<BYTE> scratch(count);
    return read(scratch.data(), count);
  }
  void seek(LONGLONG distance, Origin origin) override {
    LONGLONG base = origin == Begin ? 0 : origin == End ? static_cast<LONGLONG>(bytes_.size()) : position_;
    position_ = static_cast<size_t>(base + distance);
  }

  // The number of read calls so far.
  int reads() const { return reads_; }

 private:
  std::vector<BYTE> bytes_;
  size_t position_ = 0;
  int reads_ = 0;
};

}  // namespace tvtest
