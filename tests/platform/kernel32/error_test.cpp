// The last error belongs to the calling thread; POSIX failures arrive as
// the Win32 codes Windows would give; local memory round-trips.
#include <windows.h>

#include "kernel32/errno.h"
#include "kernel32/messagetable.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

TEST(LastError, BelongsToTheCallingThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOtherThread = 0xDEADBEEF;
  std::thread other([&] {
    seenByOtherThread = GetLastError();
    SetLastError(ERROR_SHARING_VIOLATION);
  });
  other.join();
  EXPECT_EQ(seenByOtherThread, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(ErrnoMapping, GivesWindowsCodesWithTexts) {
  const struct {
    int error;
    DWORD code;
  } cases[] = {
      {ENOENT, ERROR_FILE_NOT_FOUND},  {ENOTDIR, ERROR_PATH_NOT_FOUND},   {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},    {EISDIR, ERROR_ACCESS_DENIED},     {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES}, {EEXIST, ERROR_FILE_EXISTS},
      {EINVAL, ERROR_INVALID_PARAMETER}, {ENOSPC, ERROR_DISK_FULL},       {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
      {EIO, ERROR_IO_DEVICE},
  };
  for (const auto& c : cases) EXPECT_EQ(tv::win32FromErrno(c.error), c.code) << std::strerror(c.error);
  // Whatever errno arrives, the code has a message, so no failure is reported
  // with a missing text.
  for (int error = 1; error < 140; ++error)
    EXPECT_NE(tv::findMessage(tv::win32FromErrno(error)), nullptr) << std::strerror(error);
}

TEST(LocalMemory, ZeroInitAllocatesZeroedBlockAndLocalFreeReturnsNull) {
  auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(LocalFree(block), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  void* empty = LocalAlloc(LMEM_FIXED, 0);  // a zero-byte block is still a block
  EXPECT_NE(empty, nullptr);
  LocalFree(empty);
}

}  // namespace
