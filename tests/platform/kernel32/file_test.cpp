// Files through the stand-in: Windows' seek results and error codes, and
// share mode 0 holding against every other opener, in this process or
// another. (Reading and seeking as the component does are tested with its
// file stream.)
#include "support/tempprefix.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class FileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (HANDLE h : open_) CloseHandle(h);
  }

  std::string path(const std::string& name) const { return folder_.path() + "/" + name; }

  std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

  // Opens and remembers the handle; the last error of the call goes to lastError_.
  HANDLE open(const std::string& file, DWORD access = GENERIC_READ, DWORD share = 0,
              DWORD disposition = OPEN_EXISTING) {
    SetLastError(0xDEADBEEF);
    const HANDLE h = CreateFileA(file.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    lastError_ = GetLastError();
    if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
    return h;
  }

  // The code of a failed open, ERROR_SUCCESS when it opened.
  DWORD openError(const std::string& file, DWORD access = GENERIC_READ, DWORD share = 0,
                  DWORD disposition = OPEN_EXISTING) {
    return open(file, access, share, disposition) == INVALID_HANDLE_VALUE ? lastError_ : ERROR_SUCCESS;
  }

  void close(HANDLE h) {
    EXPECT_TRUE(CloseHandle(h));
    open_.erase(std::find(open_.begin(), open_.end(), h));
  }

  static std::string read(HANDLE h, DWORD size) {
    std::string buffer(size, '\0');
    DWORD got = 0xDEADBEEF;
    EXPECT_TRUE(ReadFile(h, buffer.data(), size, &got, nullptr)) << GetLastError();
    return buffer.substr(0, got);
  }

  static int64_t seek(HANDLE h, int64_t distance, DWORD method) {
    LARGE_INTEGER move, now{};
    move.QuadPart = distance;
    return SetFilePointerEx(h, move, &now, method) ? now.QuadPart : -static_cast<int64_t>(GetLastError());
  }

  tvtest::TempFolder folder_{"tellvane-file-test"};
  std::vector<HANDLE> open_;
  DWORD lastError_ = 0;
};

TEST_F(FileTest, SetFilePointerTellsLowPartAllOnesFromFailureByLastError) {
  const HANDLE h = open(write("f", "x"));
  // With a high part: a 64-bit move, the new high part comes back.
  LONG high = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError() + high, 0u);  // success: position 0xFFFFFFFF
  high = 1;
  EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
  high = 0;
  EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_CURRENT), 5u);
  EXPECT_EQ(high, 1);

  // The 64-bit form refuses a move before the start and an unknown origin,
  // and a read past the end reads nothing without failing.
  EXPECT_EQ(seek(h, -0x100000006ll, FILE_CURRENT), -ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(seek(h, 0, 7), -ERROR_INVALID_PARAMETER);
  EXPECT_EQ(seek(h, 20, FILE_END), 21);
  EXPECT_EQ(read(h, 4), "");
}

TEST_F(FileTest, FailuresCarryWindowsCodes) {
  write("file", "x");
  mkdir(path("folder").c_str(), 0700);
  const struct {
    const char* name;
    std::string path;
    DWORD disposition;
    DWORD error;
  } cases[] = {
      {"missing file", path("missing"), OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"missing folder", path("nofolder/file"), CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"file used as folder", path("file/x"), OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"folder", path("folder"), OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"empty name", "", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"existing, create new", path("file"), CREATE_NEW, ERROR_FILE_EXISTS},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(openError(c.path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition), c.error) << c.name;
    if (c.disposition == CREATE_NEW) continue;
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA(c.path.c_str())) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << "delete, " << c.name;
  }
  // A flag the stand-in cannot honour (here delete-on-close) is refused, not ignored.
  EXPECT_EQ(CreateFileA(path("file").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0x04000000, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(FileTest, HandlesDoOnlyWhatTheyWereOpenedForAndDieWhenClosed) {
  const HANDLE w = open(path("w"), GENERIC_WRITE, 0, CREATE_NEW);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(w, "hello", 5, &count, nullptr));
  EXPECT_EQ(count, 5u);
  char buffer[8];
  EXPECT_FALSE(ReadFile(w, buffer, sizeof(buffer), &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  close(w);
  // A closed, null, pseudo or made-up handle is refused without harm.
  for (const HANDLE bad : {w, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x1234)}) {
    EXPECT_FALSE(ReadFile(bad, buffer, sizeof(buffer), &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  EXPECT_EQ(read(open(path("w")), 8), "hello");
}

TEST_F(FileTest, ExclusiveOpenShutsOutEveryOtherOpenerWithoutHarm) {
  const std::string file = write("held", "data");
  const HANDLE holder = open(file, GENERIC_READ, 0);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  for (const DWORD disposition : {OPEN_ALWAYS, CREATE_ALWAYS, TRUNCATE_EXISTING})
    EXPECT_EQ(openError(file, GENERIC_WRITE, FILE_SHARE_READ, disposition), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(read(holder, 10), "data");  // refused openers truncated nothing
  close(holder);
  ASSERT_NE(open(file, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_NE(open(file, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);  // sharers coexist
  EXPECT_EQ(openError(file, GENERIC_READ, 0), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(FileTest, ExclusiveOpenHoldsAgainstAnotherProcess) {
  const std::string file = write("cross", "data");
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  const pid_t child = fork();
  if (child == 0) {  // holds the file until the parent has tried it
    const HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char c = 'x';
    (void)!::write(ready[1], &c, 1);
    (void)!::read(done[0], &c, 1);
    _exit(h != INVALID_HANDLE_VALUE && CloseHandle(h) ? 0 : 1);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(openError(file, GENERIC_READ, FILE_SHARE_READ), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  (void)!::write(done[1], &c, 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_NE(open(file, GENERIC_READ, 0), INVALID_HANDLE_VALUE);  // released with the child's handle
  for (int fd : {ready[0], ready[1], done[0], done[1]}) ::close(fd);
}

TEST_F(FileTest, OpeningAPipeWithoutWriterNeitherHangsNorFails) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  const HANDLE h = open(path("fifo"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << lastError_;
  EXPECT_EQ(read(h, 4), "");
}

}  // namespace
