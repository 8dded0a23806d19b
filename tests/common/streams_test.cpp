#include "common/exceptions.h"
#include "common/fileinputstream.h"
#include "common/memoryoutputstream.h"

#include "support/memoryinputstream.h"
#include "support/tempprefix.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string bytesOf(const Sys::MemoryOutputStream& stream) {
  const BYTE* data = stream.data();
  return data == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(data), stream.size());
}

TEST(MemoryOutputStream, HoldsEverythingWrittenInOrder) {
  Sys::MemoryOutputStream stream;
  EXPECT_EQ(stream.size(), 0u);
  EXPECT_EQ(stream.position(), 0u);
  EXPECT_EQ(stream.data(), nullptr);

  EXPECT_EQ(stream.write("abc", 3), 3u);
  EXPECT_EQ(stream.write("defgh", 5), 5u);
  stream.flush();
  EXPECT_EQ(stream.size(), 8u);
  EXPECT_EQ(stream.position(), 8u);
  EXPECT_EQ(bytesOf(stream), "abcdefgh");

  std::string big(1 << 20, 'z');
  stream.write(big.data(), static_cast<DWORD>(big.size()));
  EXPECT_EQ(bytesOf(stream), "abcdefgh" + big);
}

TEST(MemoryOutputStream, RefusesEmptyWritesAndStaysUnchanged) {
  Sys::MemoryOutputStream stream;
  stream.write("ab", 2);
  for (auto write : {+[](Sys::MemoryOutputStream& s) { s.write("x", 0); },
                     +[](Sys::MemoryOutputStream& s) { s.write(nullptr, 4); }}) {
    try {
      write(stream);
      ADD_FAILURE() << "no throw";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), "No data to write");
    }
    EXPECT_EQ(bytesOf(stream), "ab");
    EXPECT_EQ(stream.position(), 2u);
  }
}

TEST(InputStream, ReadExactTellsTheEndFromAShortRead) {
  tvtest::MemoryInputStream stream(std::string("abc"));
  char buffer[4];
  try {
    stream.readExact(buffer, 4);
    ADD_FAILURE() << "no throw";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Broken stream (2)");
  }
  try {
    stream.readExact(buffer, 1);
    ADD_FAILURE() << "no throw";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Broken stream (1)");
  }
  tvtest::MemoryInputStream exact(std::string("abcd"));
  exact.readExact(buffer, 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
}

class FileInputStreamTest : public ::testing::Test {
 protected:
  std::string makeFile(const std::string& name, const std::string& bytes) {
    std::string path = folder_ / name;
    tvtest::writeFile(path, bytes);
    return path;
  }

  // The platform's code for an attempt to open the file while it is held.
  static DWORD codeOfOpening(const std::string& path, DWORD access) {
    HANDLE handle = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(handle);
    return 0;
  }

  tvtest::TempPrefix folder_;
};

TEST_F(FileInputStreamTest, ReadsToTheEndWithAShortLastReadThenTheEndMark) {
  Sys::FileInputStream stream(makeFile("ten", "0123456789"));
  EXPECT_EQ(stream.size(), 10u);
  char buffer[4];
  EXPECT_EQ(stream.read(buffer, 4), 4u);
  EXPECT_EQ(stream.read(buffer, 4), 4u);
  EXPECT_EQ(stream.position(), 8u);
  EXPECT_EQ(stream.read(buffer, 4), 2u);
  EXPECT_EQ(std::string(buffer, 2), "89");
  EXPECT_EQ(stream.read(buffer, 4), 0xFFFFFFFFu);
  EXPECT_EQ(stream.read(buffer, 4), 0xFFFFFFFFu);
  EXPECT_EQ(stream.skip(3), 0xFFFFFFFFu);
  EXPECT_EQ(stream.position(), 10u);
}

TEST_F(FileInputStreamTest, RefusesEmptyReadsButSkipsNothingQuietly) {
  Sys::FileInputStream stream(makeFile("three", "abc"));
  char buffer[1];
  for (int atEnd = 0; atEnd < 2; ++atEnd) {
    try {
      stream.read(buffer, 0);
      ADD_FAILURE() << "no throw";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), "No data to read");
    }
    EXPECT_THROW(stream.read(nullptr, 1), std::invalid_argument);
    EXPECT_EQ(stream.skip(0), 0u);
    stream.seek(0, Sys::InputStream::End);
  }
  stream.seek(0, Sys::InputStream::Begin);
  EXPECT_EQ(stream.skip(2), 2u);
  EXPECT_EQ(stream.read(buffer, 1), 1u);
  EXPECT_EQ(buffer[0], 'c');
}

TEST_F(FileInputStreamTest, SeeksFromEachOriginAndTakesUnknownOnesAsCurrent) {
  Sys::FileInputStream stream(makeFile("digits", "0123456789"));
  struct Step {
    LONGLONG distance;
    LONG origin;
    ULONGLONG position;
  } steps[] = {
      {3, 0, 3},    // Begin
      {2, 2, 5},    // Current
      {-4, 1, 6},   // End comes before Current in the enumeration
      {1, 5, 7},    // anything else moves from the current position
      {-2, 99, 5},  //
      {0, 1, 10},   //
  };
  for (const Step& step : steps) {
    stream.seek(step.distance, static_cast<Sys::InputStream::Origin>(step.origin));
    EXPECT_EQ(stream.position(), step.position) << "origin " << step.origin;
  }
  stream.seek(4, Sys::InputStream::Begin);
  char c;
  ASSERT_EQ(stream.read(&c, 1), 1u);
  EXPECT_EQ(c, '4');
  EXPECT_THROW(stream.seek(-1, Sys::InputStream::Begin), Sys::OsError);
}

TEST_F(FileInputStreamTest, RefusesAnEmptyName) {
  for (const char* name : {"", static_cast<const char*>(nullptr)}) {
    try {
      Sys::FileInputStream stream(name);
      ADD_FAILURE() << "no throw";
    } catch (const std::invalid_argument& error) {
      EXPECT_STREQ(error.what(), "file name is empty");
    }
  }
  EXPECT_THROW(Sys::FileInputStream(std::string()), std::invalid_argument);
}

TEST_F(FileInputStreamTest, AMissingFileIsCodeTwoWithItsMessage) {
  try {
    Sys::FileInputStream stream(folder_ / "absent");
    ADD_FAILURE() << "no throw";
  } catch (const Sys::OsError& error) {
    EXPECT_EQ(error.code(), 2u);
    std::string text = error.what();
    EXPECT_EQ(text.rfind("Exception has been thrown in file 'common/fileinputstream.cpp' at line ", 0), 0u) << text;
    EXPECT_NE(text.find(". The text is: The system cannot find the file specified.\r\n"), std::string::npos) << text;
  }
}

TEST_F(FileInputStreamTest, HoldsTheFileExclusivelyWhileOpen) {
  std::string path = makeFile("held", "data");
  {
    Sys::FileInputStream stream(path);
    EXPECT_EQ(codeOfOpening(path, GENERIC_READ), 32u);
    EXPECT_EQ(codeOfOpening(path, GENERIC_WRITE), 32u);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), 32u);
    try {
      Sys::FileInputStream second(path);
      ADD_FAILURE() << "no throw";
    } catch (const Sys::OsError& error) {
      EXPECT_EQ(error.code(), 32u);
      EXPECT_NE(std::string(error.what()).find("being used by another process.\r\n"), std::string::npos);
    }
  }
  EXPECT_EQ(codeOfOpening(path, GENERIC_READ), 0u);

  // Nor does the stream open a file another opener holds, even one that shares.
  HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  try {
    Sys::FileInputStream stream(path);
    ADD_FAILURE() << "no throw";
  } catch (const Sys::OsError& error) {
    EXPECT_EQ(error.code(), 32u);
  }
  CloseHandle(other);
  Sys::FileInputStream reopened(path);
  EXPECT_EQ(reopened.size(), 4u);
}

// The exclusive hold reaches across processes: one side holds the file while
// the other tries to open it.
TEST_F(FileInputStreamTest, HoldsTheFileExclusivelyAgainstAnotherProcess) {
  std::string path = makeFile("shared", "data");
  for (bool childHolds : {true, false}) {
    SCOPED_TRACE(childHolds ? "the child holds" : "the parent holds");
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    std::unique_ptr<Sys::FileInputStream> held;
    if (!childHolds) held = std::make_unique<Sys::FileInputStream>(path);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int status = 0;
      if (childHolds) {
        Sys::FileInputStream mine(path);
        char c = 1;
        (void)!write(ready[1], &c, 1);
        (void)!read(done[0], &c, 1);
      } else {
        try {
          Sys::FileInputStream mine(path);
        } catch (const Sys::OsError& error) {
          status = static_cast<int>(error.code());
        }
      }
      _exit(status);
    }
    if (childHolds) {
      char c;
      ASSERT_EQ(read(ready[0], &c, 1), 1);
      try {
        Sys::FileInputStream mine(path);
        ADD_FAILURE() << "no throw";
      } catch (const Sys::OsError& error) {
        EXPECT_EQ(error.code(), 32u);
      }
      (void)!write(done[1], &c, 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), childHolds ? 0 : 32);
    held.reset();
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
    EXPECT_NO_THROW(Sys::FileInputStream again(path));
  }
}

}  // namespace
