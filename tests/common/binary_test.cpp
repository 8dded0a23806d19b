#include "common/binaryreader.h"
#include "common/binarywriter.h"
#include "common/exceptions.h"
#include "common/memoryoutputstream.h"

#include "support/memoryinputstream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

// The largest single allocation made through operator new since the last
// reset: bounded reads must refuse a forged length before they allocate.
namespace {
std::atomic<size_t> largestAllocation{0};
}

void* operator new(size_t size) {
  size_t seen = largestAllocation.load();
  while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
// The replacement pair allocates with malloc, so free is its match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using Bytes = std::vector<BYTE>;

// Counts the write calls that reach the stream.
class CountingStream : public Sys::MemoryOutputStream {
 public:
  DWORD write(const void* data, DWORD size) override {
    ++writes;
    return MemoryOutputStream::write(data, size);
  }
  Bytes bytes() const { return data() ? Bytes(data(), data() + size()) : Bytes(); }
  int writes = 0;
};

Bytes written(const std::function<void(Sys::BinaryWriter&)>& write, int* calls = nullptr) {
  CountingStream stream;
  Sys::BinaryWriter writer(stream);
  write(writer);
  if (calls) *calls = stream.writes;
  return stream.bytes();
}

// The error a read throws, as text; empty when it throws none.
template <class Read>
std::string errorOf(Read read) {
  try {
    read();
  } catch (const std::exception& error) {
    return error.what();
  }
  return std::string();
}

const std::string kReaderError = "Exception has been thrown in file 'common/binaryreader.cpp' at line ";

TEST(BinaryWriter, WritesLittleEndianValuesWithOneCallEach) {
  struct Case {
    const char* name;
    std::function<void(Sys::BinaryWriter&)> write;
    Bytes bytes;
  } cases[] = {
      {"UInt32 1", [](auto& w) { w.writeUInt32(1); }, {1, 0, 0, 0}},
      {"UInt64 magic", [](auto& w) { w.writeUInt64(0x415441444E474953ull); }, {'S', 'I', 'G', 'N', 'D', 'A', 'T', 'A'}},
      {"Int16 -2", [](auto& w) { w.writeInt16(-2); }, {0xFE, 0xFF}},
      {"UInt16", [](auto& w) { w.writeUInt16(0x1234); }, {0x34, 0x12}},
      {"Int32 min", [](auto& w) { w.writeInt32(INT32_MIN); }, {0, 0, 0, 0x80}},
      {"Int64 -1", [](auto& w) { w.writeInt64(-1); }, Bytes(8, 0xFF)},
      {"Int8", [](auto& w) { w.writeInt8(-128); }, {0x80}},
      {"UInt8", [](auto& w) { w.writeUInt8(200); }, {200}},
      {"Byte", [](auto& w) { w.writeByte(7); }, {7}},
  };
  for (const Case& c : cases) {
    int calls = 0;
    EXPECT_EQ(written(c.write, &calls), c.bytes) << c.name;
    EXPECT_EQ(calls, 1) << c.name;
  }
}

TEST(BinaryWriter, PrefixesStringsAndVectorsWithTheirLength) {
  int calls = 0;
  EXPECT_EQ(written([](auto& w) { w.writeString(""); }, &calls), Bytes(4, 0));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(written([](auto& w) { w.writeBytes({}); }, &calls), Bytes(4, 0));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(written([](auto& w) { w.writeString(std::string("a\0b", 3)); }, &calls), (Bytes{3, 0, 0, 0, 'a', 0, 'b'}));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(written([](auto& w) { w.writeBytes({9, 8, 7}); }), (Bytes{3, 0, 0, 0, 9, 8, 7}));
  Bytes block(36);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i);
  EXPECT_EQ(written([&](auto& w) { w.writeBlock36(block.data()); }), block);
}

TEST(BinaryReader, ReadsBackWhatTheWriterWrote) {
  Bytes block(36, 0x5A);
  Bytes bytes = written([&](Sys::BinaryWriter& w) {
    w.writeByte(0xAB);
    w.writeInt8(INT8_MIN);
    w.writeUInt8(UINT8_MAX);
    w.writeInt16(INT16_MIN);
    w.writeUInt16(UINT16_MAX);
    w.writeInt32(-123456789);
    w.writeUInt32(0xDEADBEEF);
    w.writeInt64(INT64_MIN);
    w.writeUInt64(0x0123456789ABCDEFull);
    w.writeBlock36(block.data());
    w.writeString("Привет");
    w.writeBytes({1, 2, 3});
    w.writeString("");
  });
  tvtest::MemoryInputStream stream(bytes);
  Sys::BinaryReader reader(stream);
  EXPECT_EQ(reader.readByte(), 0xAB);
  EXPECT_EQ(reader.readInt8(), INT8_MIN);
  EXPECT_EQ(reader.readUInt8(), UINT8_MAX);
  EXPECT_EQ(reader.readInt16(), INT16_MIN);
  EXPECT_EQ(reader.readUInt16(), UINT16_MAX);
  EXPECT_EQ(reader.readInt32(), -123456789);
  EXPECT_EQ(reader.readUInt32(), 0xDEADBEEFu);
  EXPECT_EQ(reader.readInt64(), INT64_MIN);
  EXPECT_EQ(reader.readUInt64(), 0x0123456789ABCDEFull);
  Bytes readBlock(36);
  reader.readBlock36(readBlock.data());
  EXPECT_EQ(readBlock, block);
  EXPECT_EQ(reader.readString(), "Привет");
  EXPECT_EQ(reader.readBytes(3), (Bytes{1, 2, 3}));
  EXPECT_EQ(reader.readString(), "");
  EXPECT_EQ(stream.position(), bytes.size());
}

TEST(BinaryReader, AShortOrEmptyStreamIsABrokenStream) {
  for (const Bytes& bytes : {Bytes{1, 2, 3}, Bytes{}}) {
    tvtest::MemoryInputStream stream(bytes);
    Sys::BinaryReader reader(stream);
    try {
      reader.readUInt32();
      ADD_FAILURE() << "no throw";
    } catch (const Sys::OsError& error) {
      std::string text = error.what();
      EXPECT_EQ(text.rfind(kReaderError, 0), 0u) << text;
      EXPECT_EQ(text.substr(text.find(". The text is: ")), ". The text is: Broken stream") << text;
      EXPECT_EQ(error.code(), 0u);
    }
  }
  // A request as large as the end mark is still no exact read.
  tvtest::MemoryInputStream empty(Bytes{});
  char one;
  EXPECT_THROW(Sys::BinaryReader(empty).readRaw(&one, 0xFFFFFFFF), Sys::OsError);
}

TEST(BinaryReader, BoundedReadsAcceptUpToTheMaximumAndRefuseAbove) {
  const Bytes three{3, 0, 0, 0, 'a', 'b', 'c'};
  struct Case {
    const char* name;
    std::function<std::string(Sys::BinaryReader&)> read;
    std::string expected;  // the value read, or "!" for "Permitted size exceeded"
  } cases[] = {
      {"vector, 3", [](auto& r) { Bytes v{9}; r.readBytes(v, 3); return std::string(v.begin(), v.end()); }, "abc"},
      {"vector, 2", [](auto& r) { Bytes v; r.readBytes(v, 2); return std::string(); }, "!"},
      {"new vector, 3", [](auto& r) { Bytes v = r.readBytes(3); return std::string(v.begin(), v.end()); }, "abc"},
      {"new vector, 2", [](auto& r) { r.readBytes(2); return std::string(); }, "!"},
      {"string, 3", [](auto& r) { return r.readString(3); }, "abc"},
      {"string, 2", [](auto& r) { return r.readString(2); }, "!"},
      {"string, 0", [](auto& r) { return r.readString(0); }, "!"},
      {"C string, 2", [](auto& r) { std::free(r.readCString(2)); return std::string(); }, "!"},
      {"C string, 0", [](auto& r) { std::free(r.readCString(0)); return std::string(); }, "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tvtest::MemoryInputStream stream(three);
    Sys::BinaryReader reader(stream);
    if (std::string(c.expected) != "!") {
      EXPECT_EQ(c.read(reader), c.expected);
      continue;
    }
    std::string text = errorOf([&] { c.read(reader); });
    EXPECT_EQ(text.rfind(kReaderError, 0), 0u) << text;
    EXPECT_EQ(text.substr(text.find(". The text is: ")), ". The text is: Permitted size exceeded");
    EXPECT_EQ(stream.position(), 4u) << "only the length is consumed";
  }
}

TEST(BinaryReader, AStoredLengthOfZeroGivesAnEmptyResultWhateverTheMaximum) {
  tvtest::MemoryInputStream stream(Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Sys::BinaryReader reader(stream);
  Bytes v{1, 2};
  reader.readBytes(v, 0);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(reader.readCString(0), nullptr);
  EXPECT_EQ(reader.readString(0), "");
  EXPECT_EQ(reader.readCString(), nullptr);
  EXPECT_EQ(stream.position(), 16u);
}

TEST(BinaryReader, AMaximumOfZeroForANewVectorIsRefusedBeforeReading) {
  tvtest::MemoryInputStream stream(Bytes{0, 0, 0, 0});
  Sys::BinaryReader reader(stream);
  EXPECT_EQ(errorOf([&] { reader.readBytes(0); }), "max size == 0");
  EXPECT_EQ(stream.reads(), 0);
}

TEST(BinaryReader, StringsStopAtAZeroByteButConsumeTheirWholeLength) {
  tvtest::MemoryInputStream stream(Bytes{3, 0, 0, 0, 'a', 0, 'b', 2, 0, 0, 0, 'x', 'y'});
  Sys::BinaryReader reader(stream);
  EXPECT_EQ(reader.readString(), "a");
  EXPECT_EQ(stream.position(), 7u);
  char* text = reader.readCString();
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "xy");
  std::free(text);
}

// A forged length costs neither memory nor a read beyond the data present.
TEST(BinaryReader, ForgedLengthsAreRefusedWithoutAHugeAllocation) {
  const Bytes forged{0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'};
  struct Case {
    const char* name;
    std::function<void(Sys::BinaryReader&)> read;
    std::string endOfText;
  } cases[] = {
      {"bounded vector", [](auto& r) { Bytes v; r.readBytes(v, 100); }, "Permitted size exceeded"},
      {"bounded string", [](auto& r) { r.readString(100); }, "Permitted size exceeded"},
      {"unbounded vector", [](auto& r) { r.readBytes(); }, "Broken stream"},
      {"unbounded string", [](auto& r) { r.readString(); }, "Broken stream"},
  };
  for (const Case& c : cases) {
    tvtest::MemoryInputStream stream(forged);
    Sys::BinaryReader reader(stream);
    largestAllocation = 0;
    std::string text = errorOf([&] { c.read(reader); });
    EXPECT_LE(largestAllocation.load(), size_t{4} << 20) << c.name;
    ASSERT_GE(text.size(), c.endOfText.size()) << c.name;
    EXPECT_EQ(text.substr(text.size() - c.endOfText.size()), c.endOfText) << c.name;
  }
}

TEST(BinaryReader, TheLargestLengthCannotBeACString) {
  const std::function<void(Sys::BinaryReader&)> reads[] = {
      [](auto& r) { std::free(r.readCString()); },
      [](auto& r) { r.readString(); },
      [](auto& r) { std::free(r.readCString(0xFFFFFFFF)); },
  };
  for (const auto& read : reads) {
    tvtest::MemoryInputStream stream(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 'a'});
    Sys::BinaryReader reader(stream);
    EXPECT_THROW(read(reader), std::bad_alloc);
    EXPECT_EQ(stream.position(), 4u);
  }
}

}  // namespace
