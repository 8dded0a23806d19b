// Values back from an input stream in the order a BinaryWriter wrote them.
// Every read gets exactly the bytes it asks for or throws; the bounded forms
// refuse a length above the caller's maximum before anything is allocated.
#pragma once

#include "common/inputstream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Sys {

class BinaryReader {
 public:
  explicit BinaryReader(InputStream& stream);
  ~BinaryReader();

  // Exactly size bytes, or OsError "Broken stream" (code 0). No retry.
  void readRaw(void* buffer, DWORD size);

  BYTE readByte();
  int8_t readInt8();
  uint8_t readUInt8();
  int16_t readInt16();
  uint16_t readUInt16();
  int32_t readInt32();
  uint32_t readUInt32();
  int64_t readInt64();
  uint64_t readUInt64();
  void readBlock36(void* block);

  // Clears out, then reads a 32-bit size and that many bytes into it. The
  // bounded form throws OsError "Permitted size exceeded" for a size above
  // maxSize, leaving the bytes unread.
  void readBytes(std::vector<BYTE>& out);
  void readBytes(std::vector<BYTE>& out, DWORD maxSize);
  std::vector<BYTE> readBytes();
  // Refuses a maxSize of 0 with std::invalid_argument "max size == 0".
  std::vector<BYTE> readBytes(DWORD maxSize);

  // A zero-terminated copy of a stored string, allocated with malloc and
  // released by the caller with free; null for a stored length of 0.
  char* readCString();
  char* readCString(DWORD maxSize);
  // The stored string up to its first zero byte; the whole stored length is
  // consumed all the same.
  std::string readString();
  std::string readString(DWORD maxSize);

 private:
  uint64_t readLittleEndian(DWORD size);
  void fill(std::vector<BYTE>& out, DWORD length);

  InputStream& stream_;
};

}  // namespace Sys
