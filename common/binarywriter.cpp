#include "common/binarywriter.h"

#include <stdexcept>

namespace Sys {

BinaryWriter::BinaryWriter(OutputStream& stream) : stream_(stream) {}

BinaryWriter::~BinaryWriter() {}

DWORD BinaryWriter::writeRaw(const void* data, DWORD size) { return stream_.write(data, size); }

// Composed byte by byte so that the record is little-endian on any host.
void BinaryWriter::writeLittleEndian(uint64_t value, DWORD size) {
  BYTE bytes[8];
  for (DWORD i = 0; i < size; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
  writeRaw(bytes, size);
}

void BinaryWriter::writeByte(BYTE value) { writeRaw(&value, 1); }
void BinaryWriter::writeInt8(int8_t value) { writeRaw(&value, 1); }
void BinaryWriter::writeUInt8(uint8_t value) { writeRaw(&value, 1); }
void BinaryWriter::writeInt16(int16_t value) { writeLittleEndian(static_cast<uint16_t>(value), 2); }
void BinaryWriter::writeUInt16(uint16_t value) { writeLittleEndian(value, 2); }
void BinaryWriter::writeInt32(int32_t value) { writeLittleEndian(static_cast<uint32_t>(value), 4); }
void BinaryWriter::writeUInt32(uint32_t value) { writeLittleEndian(value, 4); }
void BinaryWriter::writeInt64(int64_t value) { writeLittleEndian(static_cast<uint64_t>(value), 8); }
void BinaryWriter::writeUInt64(uint64_t value) { writeLittleEndian(value, 8); }

void BinaryWriter::writeBlock36(const void* block) { writeRaw(block, 36); }

// A length that does not fit the 32-bit prefix would make a record whose
// prefix disagrees with its bytes.
void BinaryWriter::writeCounted(const void* data, size_t size) {
  if (size > 0xFFFFFFFFu) throw std::length_error("Data too long for a 32-bit length");
  writeUInt32(static_cast<uint32_t>(size));
  if (size != 0) writeRaw(data, static_cast<DWORD>(size));
}

void BinaryWriter::writeString(const std::string& value) { writeCounted(value.data(), value.size()); }

void BinaryWriter::writeBytes(const std::vector<BYTE>& value) { writeCounted(value.data(), value.size()); }

}  // namespace Sys
