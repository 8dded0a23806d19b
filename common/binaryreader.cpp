#include "common/binaryreader.h"

#include "common/exceptions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

namespace Sys {

namespace {

// Stored lengths are read in slices of this size, so the room for a forged
// length grows only with the bytes that really arrive.
constexpr DWORD kSlice = 1u << 20;

void refuseAbove(DWORD length, DWORD maxSize) {
  if (length > maxSize) throw OsError(__FILE__, __LINE__, "Permitted size exceeded");
}

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

BinaryReader::BinaryReader(InputStream& stream) : stream_(stream) {}

BinaryReader::~BinaryReader() {}

void BinaryReader::readRaw(void* buffer, DWORD size) {
  DWORD got = stream_.read(buffer, size);
  // The end-of-stream mark is no count, even for a request of as many bytes.
  if (got != size || got == InputStream::kEndOfStream) throw OsError(__FILE__, __LINE__, "Broken stream");
}

uint64_t BinaryReader::readLittleEndian(DWORD size) {
  BYTE bytes[8] = {};
  readRaw(bytes, size);
  uint64_t value = 0;
  for (DWORD i = 0; i < size; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  return value;
}

BYTE BinaryReader::readByte() { return static_cast<BYTE>(readLittleEndian(1)); }
int8_t BinaryReader::readInt8() { return static_cast<int8_t>(readLittleEndian(1)); }
uint8_t BinaryReader::readUInt8() { return static_cast<uint8_t>(readLittleEndian(1)); }
int16_t BinaryReader::readInt16() { return static_cast<int16_t>(readLittleEndian(2)); }
uint16_t BinaryReader::readUInt16() { return static_cast<uint16_t>(readLittleEndian(2)); }
int32_t BinaryReader::readInt32() { return static_cast<int32_t>(readLittleEndian(4)); }
uint32_t BinaryReader::readUInt32() { return static_cast<uint32_t>(readLittleEndian(4)); }
int64_t BinaryReader::readInt64() { return static_cast<int64_t>(readLittleEndian(8)); }
uint64_t BinaryReader::readUInt64() { return readLittleEndian(8); }

void BinaryReader::readBlock36(void* block) { readRaw(block, 36); }

void BinaryReader::fill(std::vector<BYTE>& out, DWORD length) {
  size_t done = 0;
  while (done < length) {
    DWORD slice = static_cast<DWORD>(std::min<size_t>(length - done, kSlice));
    out.resize(done + slice);
    readRaw(out.data() + done, slice);
    done += slice;
  }
}

void BinaryReader::readBytes(std::vector<BYTE>& out) { readBytes(out, 0xFFFFFFFF); }

void BinaryReader::readBytes(std::vector<BYTE>& out, DWORD maxSize) {
  out.clear();
  DWORD length = readUInt32();
  if (length == 0) return;
  refuseAbove(length, maxSize);
  fill(out, length);
}

std::vector<BYTE> BinaryReader::readBytes() {
  std::vector<BYTE> out;
  readBytes(out);
  return out;
}

std::vector<BYTE> BinaryReader::readBytes(DWORD maxSize) {
  if (maxSize == 0) throw std::invalid_argument("max size == 0");
  std::vector<BYTE> out;
  readBytes(out, maxSize);
  return out;
}

char* BinaryReader::readCString() { return readCString(0xFFFFFFFF); }

char* BinaryReader::readCString(DWORD maxSize) {
  DWORD length = readUInt32();
  if (length == 0) return nullptr;
  refuseAbove(length, maxSize);
  // The largest length leaves no room for the terminating zero of a buffer
  // whose size is a 32-bit number: refused as an allocation that cannot be made.
  if (length == 0xFFFFFFFF) throw std::bad_alloc();
  std::vector<BYTE> bytes;
  fill(bytes, length);
  std::unique_ptr<char, FreeDeleter> room(static_cast<char*>(std::calloc(size_t{length} + 1, 1)));
  if (!room) throw std::bad_alloc();
  std::memcpy(room.get(), bytes.data(), length);
  return room.release();
}

std::string BinaryReader::readString() { return readString(0xFFFFFFFF); }

std::string BinaryReader::readString(DWORD maxSize) {
  std::unique_ptr<char, FreeDeleter> text(readCString(maxSize));
  if (!text) return std::string();
  return std::string(text.get());
}

}  // namespace Sys
