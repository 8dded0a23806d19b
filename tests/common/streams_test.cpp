#include "common/exceptions.h"
#include "common/fileinputstream.h"
#include "common/memoryinputstream.h"
#include "common/memoryoutputstream.h"

#include "support/tempprefix.h"
#include "support/thrown.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using tvtest::thrownText;

TEST(MemoryOutputStream, HoldsEverythingWrittenInOrderAndRefusesEmptyWrites) {
  Sys::MemoryOutputStream stream;
  EXPECT_EQ(stream.write("abc", 3), 3u);
  EXPECT_EQ(stream.write("defgh", 5), 5u);
  EXPECT_EQ(thrownText([&] { stream.write("x", 0); }), "No data to write");
  EXPECT_EQ(stream.position(), 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.data()), stream.size()), "abcdefgh");
}

TEST(InputStream, MemoryStreamKeepsEveryPositionWithinItsBytes) {
  Sys::MemoryInputStream stream({'a', 'b', 'c', 'd', 'e', 'f'});
  char buffer[8];
  stream.seek(-2, Sys::InputStream::End);
  EXPECT_EQ(stream.read(buffer, 8), 2u);
  EXPECT_EQ(std::string(buffer, 2), "ef");
  EXPECT_EQ(stream.read(buffer, 1), Sys::InputStream::kEndOfStream);
  EXPECT_EQ(stream.skip(1), Sys::InputStream::kEndOfStream);
  stream.seek(-100, Sys::InputStream::Current);  // before the start is the start
  EXPECT_EQ(stream.position(), 0u);
  stream.seek(0x7FFFFFFFFFFFFFFF, Sys::InputStream::Current);  // beyond the end is the end
  EXPECT_EQ(stream.position(), 6u);
  stream.seek(1, static_cast<Sys::InputStream::Origin>(5));  // an unknown origin moves from here
  EXPECT_EQ(stream.position(), 6u);
  stream.seek(1, Sys::InputStream::Begin);
  EXPECT_EQ(stream.skip(2), 2u);
  EXPECT_EQ(stream.read(buffer, 1), 1u);
  EXPECT_EQ(buffer[0], 'd');
}

class FileInputStreamTest : public ::testing::Test {
 protected:
  std::string makeFile(const std::string& bytes) {
    std::string path = folder_ / "file";
    tvtest::writeFile(path, bytes);
    return path;
  }
  // The code of opening the stream on path, 0 when it opens.
  static DWORD codeOfStream(const std::string& path) {
    try {
      Sys::FileInputStream stream(path);
    } catch (const Sys::OsError& error) {
      return error.code();
    }
    return 0;
  }
  tvtest::TempPrefix folder_;
};

// A short last read, then the end mark; seeks from each origin, an unknown
// origin taken as the current position.
TEST_F(FileInputStreamTest, ReadsSkipsAndSeeksToTheEnd) {
  Sys::FileInputStream stream(makeFile("0123456789"));
  char buffer[4];
  EXPECT_EQ(stream.size(), 10u);
  EXPECT_EQ(stream.skip(4), 4u);
  EXPECT_EQ(stream.read(buffer, 4), 4u);
  EXPECT_EQ(stream.read(buffer, 4), 2u);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(stream.read(buffer, 4), 0xFFFFFFFFu);
  EXPECT_EQ(stream.skip(3), 0xFFFFFFFFu);
  EXPECT_EQ(thrownText([&] { stream.read(buffer, 0); }), "No data to read");
  const struct {
    LONGLONG distance;
    LONG origin;
    ULONGLONG position;
  } steps[] = {{3, 0, 3}, {2, 2, 5}, {-4, 1, 6}, {-2, 99, 4}};
  for (const auto& step : steps) {
    stream.seek(step.distance, static_cast<Sys::InputStream::Origin>(step.origin));
    EXPECT_EQ(stream.position(), step.position) << "origin " << step.origin;
  }
  EXPECT_THROW(stream.seek(-1, Sys::InputStream::Begin), Sys::OsError);
}

TEST_F(FileInputStreamTest, ReportsAnEmptyNameAndAMissingFile) {
  EXPECT_EQ(thrownText([] { Sys::FileInputStream stream(""); }), "file name is empty");
  EXPECT_EQ(tvtest::lineless(thrownText([&] { Sys::FileInputStream stream(folder_ / "absent"); })),
            "Exception has been thrown in file 'common/fileinputstream.cpp' at line #. The text is: "
            "The system cannot find the file specified.\r\n");
  EXPECT_EQ(codeOfStream(folder_ / "absent"), 2u);
}

// Nobody else opens the file while the stream holds it, nor does the stream
// open a file that another opener holds, sharing or not.
TEST_F(FileInputStreamTest, HoldsTheFileExclusivelyWhileOpen) {
  std::string path = makeFile("data");
  {
    Sys::FileInputStream stream(path);
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 32u);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(codeOfStream(path), 32u);
  }
  HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(codeOfStream(path), 32u);
  CloseHandle(other);
  EXPECT_EQ(codeOfStream(path), 0u);
}

}  // namespace
