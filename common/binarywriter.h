// Values onto an output stream as the system's binary records hold them:
// little-endian integers, strings and byte vectors after a 32-bit length.
#pragma once

#include "common/outputstream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Sys {

class BinaryWriter {
 public:
  explicit BinaryWriter(OutputStream& stream);
  ~BinaryWriter();

  // One write of the stream; returns what it returns.
  DWORD writeRaw(const void* data, DWORD size);

  void writeByte(BYTE value);
  void writeInt8(int8_t value);
  void writeUInt8(uint8_t value);
  void writeInt16(int16_t value);
  void writeUInt16(uint16_t value);
  void writeInt32(int32_t value);
  void writeUInt32(uint32_t value);
  void writeInt64(int64_t value);
  void writeUInt64(uint64_t value);
  // The 36 bytes at block, unchanged.
  void writeBlock36(const void* block);
  // A 32-bit length, then the bytes unless there are none. Texts and vectors
  // longer than a 32-bit length can say are refused with std::length_error.
  void writeString(const std::string& value);
  void writeBytes(const std::vector<BYTE>& value);

 private:
  void writeLittleEndian(uint64_t value, DWORD size);
  void writeCounted(const void* data, size_t size);

  OutputStream& stream_;
};

}  // namespace Sys
