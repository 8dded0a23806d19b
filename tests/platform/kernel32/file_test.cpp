// Files through the stand-in: Windows' read and seek results, its error
// codes, and share mode 0 holding against every other opener, in this
// process or another.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tellvane-file-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }

  void TearDown() override {
    for (HANDLE h : open_) CloseHandle(h);
    std::system(("rm -rf '" + folder_ + "'").c_str());
  }

  std::string path(const std::string& name) const { return folder_ + "/" + name; }

  std::string write(const std::string& name, const std::string& bytes) {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

  std::string contents(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  // Opens and remembers the handle for closing; INVALID_HANDLE_VALUE and
  // the last error on failure.
  HANDLE open(const std::string& file, DWORD access = GENERIC_READ, DWORD share = 0,
              DWORD disposition = OPEN_EXISTING) {
    SetLastError(0xDEADBEEF);
    const HANDLE h = CreateFileA(file.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    lastError_ = GetLastError();
    if (h != INVALID_HANDLE_VALUE) open_.push_back(h);
    return h;
  }

  void close(HANDLE h) {
    ASSERT_TRUE(CloseHandle(h));
    open_.erase(std::find(open_.begin(), open_.end(), h));
  }

  // The Win32 code of a failed open.
  DWORD openError(const std::string& file, DWORD access = GENERIC_READ, DWORD share = 0,
                  DWORD disposition = OPEN_EXISTING) {
    return open(file, access, share, disposition) == INVALID_HANDLE_VALUE ? lastError_ : ERROR_SUCCESS;
  }

  static std::string read(HANDLE h, DWORD size, BOOL* ok = nullptr) {
    std::string buffer(size, '\0');
    DWORD got = 0xDEADBEEF;
    const BOOL result = ReadFile(h, buffer.data(), size, &got, nullptr);
    if (ok != nullptr) *ok = result;
    EXPECT_TRUE(result) << GetLastError();
    return buffer.substr(0, result ? got : 0);
  }

  static int64_t position(HANDLE h) {
    LARGE_INTEGER zero{}, now{};
    EXPECT_TRUE(SetFilePointerEx(h, zero, &now, FILE_CURRENT));
    return now.QuadPart;
  }

  std::string folder_;
  std::vector<HANDLE> open_;
  DWORD lastError_ = 0;
};

TEST_F(FileTest, ReadGivesShortCountAtEndThenZeroBytesWithSuccess) {
  const HANDLE h = open(write("ten", "0123456789"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lastError_, 0u);
  EXPECT_EQ(read(h, 4), "0123");
  EXPECT_EQ(read(h, 4), "4567");
  EXPECT_EQ(read(h, 4), "89");
  EXPECT_EQ(read(h, 4), "");  // TRUE with 0 bytes, as Windows reports the end
  EXPECT_EQ(read(h, 4), "");
  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, 10);
}

TEST_F(FileTest, SeekOriginsMoveFromBeginCurrentAndEnd) {
  const HANDLE h = open(write("abc", "abcdefghij"));
  const struct {
    int64_t distance;
    DWORD method;
    int64_t expected;
  } moves[] = {{3, FILE_BEGIN, 3}, {2, FILE_CURRENT, 5}, {-1, FILE_END, 9}, {-9, FILE_CURRENT, 0},
               {20, FILE_END, 30}};
  for (const auto& m : moves) {
    LARGE_INTEGER distance, now{};
    distance.QuadPart = m.distance;
    ASSERT_TRUE(SetFilePointerEx(h, distance, &now, m.method));
    EXPECT_EQ(now.QuadPart, m.expected);
  }
  EXPECT_EQ(read(h, 4), "");  // past the end: nothing to read, no failure
  LARGE_INTEGER distance;
  distance.QuadPart = 9;
  ASSERT_TRUE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
  EXPECT_EQ(read(h, 4), "j");
}

TEST_F(FileTest, SeekBeforeTheStartFailsAndLeavesPositionAlone) {
  const HANDLE h = open(write("f", "abcdefghij"));
  LARGE_INTEGER distance;
  distance.QuadPart = 4;
  ASSERT_TRUE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
  distance.QuadPart = -5;
  SetLastError(0);
  EXPECT_FALSE(SetFilePointerEx(h, distance, nullptr, FILE_CURRENT));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  distance.QuadPart = 0;
  EXPECT_FALSE(SetFilePointerEx(h, distance, nullptr, 7));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(position(h), 4);
}

TEST_F(FileTest, SetFilePointerTellsLowPartAllOnesFromFailureByLastError) {
  const HANDLE h = open(write("f", "x"));
  // With a high part: a 64-bit move, the new high part comes back.
  LONG high = 0;
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), 0u);  // success: position 0xFFFFFFFF
  EXPECT_EQ(high, 0);
  EXPECT_EQ(position(h), 0xFFFFFFFFll);
  high = 1;
  EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(position(h), 0x100000005ll);
  high = 0;
  EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_CURRENT), 5u);
  EXPECT_EQ(high, 1);

  // Without: a signed 32-bit distance; a position past 32 bits is refused.
  EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
  EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(position(h), 0xFFFFFFFFll);
  EXPECT_EQ(SetFilePointer(h, -0x10, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
}

TEST_F(FileTest, OpenFailuresCarryWindowsCodes) {
  write("file", "x");
  mkdir(path("folder").c_str(), 0700);
  const struct {
    const char* name;
    std::string path;
    DWORD disposition;
    DWORD error;
  } cases[] = {
      {"missing file", path("missing"), OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"missing file, truncate", path("missing"), TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND},
      {"missing folder", path("nofolder/file"), OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"missing folder, create", path("nofolder/file"), CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"file used as folder", path("file/x"), OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"folder", path("folder"), OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"empty name", "", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"existing, create new", path("file"), CREATE_NEW, ERROR_FILE_EXISTS},
      {"bad disposition", path("file"), 9, ERROR_INVALID_PARAMETER},
  };
  for (const auto& c : cases)
    EXPECT_EQ(openError(c.path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition), c.error) << c.name;
  // A flag the stand-in cannot honour is refused, not ignored.
  const DWORD deleteOnClose = 0x04000000;
  SetLastError(0);
  EXPECT_EQ(CreateFileA(path("file").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, deleteOnClose, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (geteuid() != 0) {
    write("private", "x");
    chmod(path("private").c_str(), 0);
    EXPECT_EQ(openError(path("private")), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
}

TEST_F(FileTest, DispositionsCreateTruncateOrKeepAsWindowsDoes) {
  const struct {
    const char* name;
    bool exists;
    DWORD disposition;
    DWORD lastError;
    const char* contentAfter;
  } cases[] = {
      {"create new", false, CREATE_NEW, ERROR_SUCCESS, ""},
      {"create always, new", false, CREATE_ALWAYS, ERROR_SUCCESS, ""},
      {"create always, existing", true, CREATE_ALWAYS, ERROR_ALREADY_EXISTS, ""},
      {"open always, new", false, OPEN_ALWAYS, ERROR_SUCCESS, ""},
      {"open always, existing", true, OPEN_ALWAYS, ERROR_ALREADY_EXISTS, "old"},
      {"open existing", true, OPEN_EXISTING, ERROR_SUCCESS, "old"},
      {"truncate existing", true, TRUNCATE_EXISTING, ERROR_SUCCESS, ""},
  };
  int i = 0;
  for (const auto& c : cases) {
    const std::string name = "d" + std::to_string(i++);
    if (c.exists) write(name, "old");
    const HANDLE h = open(path(name), GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.name << ": " << lastError_;
    EXPECT_EQ(lastError_, c.lastError) << c.name;
    close(h);
    EXPECT_EQ(contents(name), c.contentAfter) << c.name;
  }
}

TEST_F(FileTest, WrittenBytesReadBackAndAccessIsChecked) {
  const HANDLE w = open(path("w"), GENERIC_WRITE, 0, CREATE_NEW);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(w, "hello", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  DWORD got = 7;
  char buffer[8];
  SetLastError(0);
  EXPECT_FALSE(ReadFile(w, buffer, sizeof(buffer), &got, nullptr));  // not opened for reading
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(got, 0u);
  close(w);
  const HANDLE r = open(path("w"));
  EXPECT_EQ(read(r, 100), "hello");
  EXPECT_FALSE(WriteFile(r, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(FileTest, ClosingAnUnknownHandleFailsWithoutHarm) {
  const HANDLE h = open(write("f", "x"));
  close(h);
  for (const HANDLE bad : {h, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x1234)}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  DWORD got = 0;
  char buffer[4];
  EXPECT_FALSE(ReadFile(h, buffer, 4, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  LARGE_INTEGER size;
  EXPECT_FALSE(GetFileSizeEx(h, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(FileTest, ExclusiveOpenShutsOutEveryOtherOpenerAndDelete) {
  const std::string file = write("held", "data");
  const HANDLE holder = open(file, GENERIC_READ, 0);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const struct {
    DWORD access;
    DWORD share;
    DWORD disposition;
  } others[] = {
      {GENERIC_READ, 0, OPEN_EXISTING},
      {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING},
      {GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS},
      {GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS},
      {GENERIC_WRITE, 0, TRUNCATE_EXISTING},
  };
  for (const auto& o : others)
    EXPECT_EQ(openError(file, o.access, o.share, o.disposition), static_cast<DWORD>(ERROR_SHARING_VIOLATION))
        << std::hex << o.access << " " << o.share << " " << o.disposition;
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(read(holder, 10), "data");  // refused openers truncated nothing

  close(holder);
  const HANDLE again = open(file, GENERIC_READ, 0);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  close(again);
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_EQ(openError(file), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileTest, SharedOpenersCoexistButExclusiveOpenerCannotJoin) {
  const std::string file = write("shared", "data");
  ASSERT_NE(open(file, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_NE(open(file, GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
  EXPECT_EQ(openError(file, GENERIC_READ, 0), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(FileTest, OpeningAPipeWithoutWriterNeitherHangsNorFails) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  const HANDLE h = open(path("fifo"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << lastError_;
  EXPECT_EQ(read(h, 4), "");
}

TEST_F(FileTest, DeleteReportsMissingFilesAndFolders) {
  mkdir(path("folder").c_str(), 0700);
  const struct {
    std::string path;
    DWORD error;
  } cases[] = {{path("missing"), ERROR_FILE_NOT_FOUND},
               {path("nofolder/x"), ERROR_PATH_NOT_FOUND},
               {path("folder"), ERROR_ACCESS_DENIED}};
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA(c.path.c_str())) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
}

// A child process holds or tries the file; the pipe orders the two sides.
class SecondProcess {
 public:
  // Runs body in a child; body's result becomes the child's exit status.
  template <class Body>
  explicit SecondProcess(Body body) {
    if (pipe(toChild_) != 0 || pipe(toParent_) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      ::close(toChild_[1]);
      ::close(toParent_[0]);
      _exit(body(*this));
    }
    ::close(toChild_[0]);
    ::close(toParent_[1]);
  }
  ~SecondProcess() {
    if (pid_ > 0) wait();
  }

  // Child side.
  void tellParent() { (void)!::write(toParent_[1], "x", 1); }
  void waitForParent() {
    char c;
    (void)!::read(toChild_[0], &c, 1);
  }
  // Parent side.
  void waitForChild() {
    char c;
    (void)!::read(toParent_[0], &c, 1);
  }
  void tellChild() { (void)!::write(toChild_[1], "x", 1); }
  int wait() {
    int status = 0;
    ::close(toChild_[1]);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int toChild_[2];
  int toParent_[2];
  pid_t pid_ = -1;
};

TEST_F(FileTest, FileHeldInAnotherProcessGivesSharingViolation) {
  const std::string file = write("cross", "data");
  SecondProcess child([&](SecondProcess& self) {
    const HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    self.tellParent();
    self.waitForParent();
    return h != INVALID_HANDLE_VALUE && CloseHandle(h) ? 0 : 1;
  });
  child.waitForChild();
  EXPECT_EQ(openError(file), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  child.tellChild();
  EXPECT_EQ(child.wait(), 0);
  EXPECT_NE(open(file), INVALID_HANDLE_VALUE);  // released when the other process let go
}

TEST_F(FileTest, AnotherProcessCannotOpenWhatThisProcessHolds) {
  const std::string file = write("mine", "data");
  ASSERT_NE(open(file, GENERIC_READ, 0), INVALID_HANDLE_VALUE);
  SecondProcess child([&](SecondProcess&) {
    const HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
  });
  EXPECT_EQ(child.wait(), ERROR_SHARING_VIOLATION);
}

}  // namespace
