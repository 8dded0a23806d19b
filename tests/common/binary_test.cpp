#include "common/binaryreader.h"
#include "common/binarywriter.h"
#include "common/exceptions.h"
#include "common/memoryinputstream.h"
#include "common/memoryoutputstream.h"

#include "support/thrown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

// The largest single allocation through operator new since the last reset:
// a forged length must not be allocated before the data behind it arrives.
namespace {
std::atomic<size_t> largestAllocation{0};
}
void* operator new(size_t size) {
  for (size_t seen = largestAllocation; size > seen && !largestAllocation.compare_exchange_weak(seen, size);) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // the pair allocates with malloc
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using Bytes = std::vector<BYTE>;
using Read = std::function<std::string(Sys::BinaryReader&)>;

// What the read returns, or the text of what it throws (line numbers as '#').
std::string outcome(const Bytes& bytes, const Read& read, ULONGLONG* position = nullptr) {
  Sys::MemoryInputStream stream(bytes);
  Sys::BinaryReader reader(stream);
  std::string result;
  try {
    result = read(reader);
  } catch (const std::exception& error) {
    result = tvtest::lineless(error.what());
  }
  if (position) *position = stream.position();
  return result;
}

const std::string kRefused = "Exception has been thrown in file 'common/binaryreader.cpp' at line #. The text is: ";

// Each value's bytes on the stream, and the value read back from them.
TEST(BinaryRecords, ValuesAreLittleEndianAndReadBack) {
  Bytes block(36);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i);
  struct Case {
    std::function<void(Sys::BinaryWriter&)> write;
    Bytes bytes;
    Read read;
    std::string value;
  } cases[] = {
      {[](auto& w) { w.writeUInt32(1); }, {1, 0, 0, 0}, [](auto& r) { return std::to_string(r.readUInt32()); }, "1"},
      {[](auto& w) { w.writeUInt64(0x415441444E474953ull); }, {'S', 'I', 'G', 'N', 'D', 'A', 'T', 'A'},
       [](auto& r) { return std::to_string(r.readUInt64()); }, std::to_string(0x415441444E474953ull)},
      {[](auto& w) { w.writeInt16(-2); }, {0xFE, 0xFF}, [](auto& r) { return std::to_string(r.readInt16()); }, "-2"},
      {[](auto& w) { w.writeInt32(INT32_MIN); }, {0, 0, 0, 0x80},
       [](auto& r) { return std::to_string(r.readInt32()); }, std::to_string(INT32_MIN)},
      {[](auto& w) { w.writeInt64(-1); }, Bytes(8, 0xFF), [](auto& r) { return std::to_string(r.readInt64()); }, "-1"},
      {[](auto& w) { w.writeByte(7); }, {7}, [](auto& r) { return std::to_string(r.readByte()); }, "7"},
      {[](auto& w) { w.writeString(""); }, {0, 0, 0, 0}, [](auto& r) { return r.readString(); }, ""},
      {[](auto& w) { w.writeString("Привет"); }, {12, 0, 0, 0, 0xD0, 0x9F, 0xD1, 0x80, 0xD0, 0xB8, 0xD0, 0xB2, 0xD0, 0xB5, 0xD1, 0x82},
       [](auto& r) { return r.readString(); }, "Привет"},
      {[](auto& w) { w.writeBytes({9, 8, 7}); }, {3, 0, 0, 0, 9, 8, 7},
       [](auto& r) { Bytes v = r.readBytes(3); return std::string(v.begin(), v.end()); }, "\x09\x08\x07"},
      {[&](auto& w) { w.writeBlock36(block.data()); }, block,
       [](auto& r) { std::string b(36, ' '); r.readBlock36(b.data()); return b; }, std::string(block.begin(), block.end())},
  };
  for (const Case& c : cases) {
    Sys::MemoryOutputStream stream;
    Sys::BinaryWriter writer(stream);
    c.write(writer);
    EXPECT_EQ(Bytes(stream.data(), stream.data() + stream.size()), c.bytes) << c.value;
    ULONGLONG position = 0;
    EXPECT_EQ(outcome(c.bytes, c.read, &position), c.value);
    EXPECT_EQ(position, c.bytes.size()) << c.value;
  }
}

TEST(BinaryReader, RefusesWhatItCannotReadExactlyOrWithinBounds) {
  const Bytes three{3, 0, 0, 0, 'a', 'b', 'c'};
  const Bytes empty{0, 0, 0, 0};
  auto vectorWithin = [](DWORD max) {
    return [max](Sys::BinaryReader& r) { Bytes v{1}; r.readBytes(v, max); return std::string(v.begin(), v.end()); };
  };
  auto cString = [](Sys::BinaryReader& r) {
    char* text = r.readCString(3);
    std::string result = text ? text : "(null)";
    std::free(text);
    return result;
  };
  struct Case {
    Bytes bytes;
    Read read;
    std::string expected;
    ULONGLONG position;
  } cases[] = {
      {three, vectorWithin(3), "abc", 7},
      {three, vectorWithin(2), kRefused + "Permitted size exceeded", 4},
      {three, [](auto& r) { return r.readString(2); }, kRefused + "Permitted size exceeded", 4},
      {three, cString, "abc", 7},
      {empty, cString, "(null)", 4},
      {empty, [](auto& r) { r.readBytes(0); return std::string(); }, "max size == 0", 0},
      {{1, 2, 3}, [](auto& r) { return std::to_string(r.readUInt32()); }, kRefused + "Broken stream", 3},
      {{}, [](auto& r) { char c; r.readRaw(&c, 0xFFFFFFFF); return std::string(); }, kRefused + "Broken stream", 0},
      {{3, 0, 0, 0, 'a', 0, 'b'}, [](auto& r) { return r.readString(); }, std::string("a"), 7},
      {{0xFF, 0xFF, 0xFF, 0xFF, 'a'}, [](auto& r) { return r.readString(); }, "std::bad_alloc", 4},
  };
  for (const Case& c : cases) {
    ULONGLONG position = 0;
    EXPECT_EQ(outcome(c.bytes, c.read, &position), c.expected);
    EXPECT_EQ(position, c.position) << c.expected;
  }
}

// A forged length costs neither memory nor a read beyond the data present.
TEST(BinaryReader, ForgedLengthsAreRefusedWithoutAHugeAllocation) {
  const Bytes forged{0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'};
  const std::pair<Read, std::string> reads[] = {
      {[](auto& r) { Bytes v; r.readBytes(v, 100); return std::string(); }, "Permitted size exceeded"},
      {[](auto& r) { return r.readString(100); }, "Permitted size exceeded"},
      {[](auto& r) { r.readBytes(); return std::string(); }, "Broken stream"},
      {[](auto& r) { return r.readString(); }, "Broken stream"},
  };
  for (const auto& [read, error] : reads) {
    largestAllocation = 0;
    EXPECT_EQ(outcome(forged, read), kRefused + error);
    EXPECT_LE(largestAllocation.load(), size_t{4} << 20) << error;
  }
}

}  // namespace
