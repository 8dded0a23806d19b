// kernel32: files. A handle is an entry in a table of open files, so a
// stale or foreign handle is refused rather than followed. Share modes hold
// between every opener that goes through the stand-in, in any process:
// each open file carries a flock() lock, exclusive for share mode 0 and
// shared otherwise; flock locks belong to the open file description, so
// two opens in one process conflict as two processes do.
#include "internal/descriptor.h"
#include "kernel32/errno.h"
#include "internal/win32call.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

// Specific access rights and flags of CreateFile that the stand-in knows.
const DWORD kFileReadData = 0x0001;
const DWORD kFileWriteData = 0x0002;
const DWORD kFileAppendData = 0x0004;
const DWORD kAttributeMask = 0x0000FFFF;
const DWORD kFileFlagRandomAccess = 0x10000000;
const DWORD kFileFlagSequentialScan = 0x08000000;

// One open file: the descriptor and what the handle may do with it.
class OpenFile {
 public:
  OpenFile(int fd, bool canRead, bool canWrite, bool regular)
      : fd_(fd), canRead_(canRead), canWrite_(canWrite), regular_(regular) {}
  ~OpenFile() { close(fd_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  int fd() const { return fd_; }
  bool canRead() const { return canRead_; }
  bool canWrite() const { return canWrite_; }
  // A disk file, which gives or takes all bytes asked for unless its end
  // comes first; a pipe or device gives what it has.
  bool regular() const { return regular_; }

 private:
  int fd_;
  bool canRead_;
  bool canWrite_;
  bool regular_;
};

// The open files by handle. An operation holds its file by shared_ptr, so a
// CloseHandle on another thread never closes a descriptor still in use.
class HandleTable {
 public:
  HANDLE add(std::shared_ptr<OpenFile> file) {
    std::lock_guard<std::mutex> guard(lock_);
    next_ += 4;  // handle values look like Windows' (multiples of 4), never null or -1
    const HANDLE handle = reinterpret_cast<HANDLE>(next_);
    files_.emplace(handle, std::move(file));
    return handle;
  }

  std::shared_ptr<OpenFile> find(HANDLE handle) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = files_.find(handle);
    if (found == files_.end()) tv::fail(ERROR_INVALID_HANDLE);
    return found->second;
  }

  void remove(HANDLE handle) {
    std::shared_ptr<OpenFile> file;  // released after the lock
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = files_.find(handle);
    if (found == files_.end()) tv::fail(ERROR_INVALID_HANDLE);
    file = std::move(found->second);
    files_.erase(found);
  }

 private:
  std::mutex lock_;
  uintptr_t next_ = 0x100;
  std::unordered_map<HANDLE, std::shared_ptr<OpenFile>> files_;
};

HandleTable& handles() {
  static HandleTable* table = new HandleTable;  // outlives every static destructor
  return *table;
}

// Windows tells a missing folder (3) from a missing file (2).
[[noreturn]] void failOpen(const std::string& path, int error) {
  if (error == ENOENT) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) tv::fail(ERROR_PATH_NOT_FOUND);
  }
  if (error == ENOTDIR) tv::fail(ERROR_PATH_NOT_FOUND);
  tv::fail(tv::win32FromErrno(error));
}

// Opens the file as the disposition says; existed tells whether it was
// there before. Truncation waits for the share lock (see CreateFileA).
int openForDisposition(const std::string& path, int accessFlags, DWORD disposition, bool& existed) {
  // Non-blocking, so that opening a FIFO never hangs; cleared after open.
  const int flags = accessFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  for (;;) {
    if (disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
      const int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
      if (fd >= 0) {
        existed = false;
        return fd;
      }
      if (errno != EEXIST) failOpen(path, errno);
      if (disposition == CREATE_NEW) tv::fail(ERROR_FILE_EXISTS);
    }
    const int fd = open(path.c_str(), flags);
    if (fd >= 0) {
      existed = true;
      return fd;
    }
    // Removed between the two opens: try again to create it.
    if (errno == ENOENT && disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING) continue;
    failOpen(path, errno);
  }
}

HANDLE createFile(const char* name, DWORD access, DWORD shareMode, DWORD disposition, DWORD flags) {
  tv::require(name != nullptr);
  // Attributes and caching hints change nothing here; a flag that would
  // change behaviour (delete on close, overlapped, ...) is refused rather
  // than ignored.
  tv::require((flags & ~(kAttributeMask | kFileFlagRandomAccess | kFileFlagSequentialScan)) == 0);
  const std::string path = name;
  if (path.empty()) tv::fail(ERROR_PATH_NOT_FOUND);
  const bool canRead = access & (GENERIC_READ | GENERIC_ALL | kFileReadData);
  const bool canWrite = access & (GENERIC_WRITE | GENERIC_ALL | kFileWriteData | kFileAppendData);
  tv::require(disposition >= CREATE_NEW && disposition <= TRUNCATE_EXISTING);
  tv::require(disposition != TRUNCATE_EXISTING || canWrite);
  const int accessFlags = canWrite ? (canRead ? O_RDWR : O_WRONLY) : O_RDONLY;

  bool existed = false;
  tv::Descriptor fd(openForDisposition(path, accessFlags, disposition, existed));
  struct stat info;
  if (fstat(fd.get(), &info) != 0) tv::failFromErrno();
  if (S_ISDIR(info.st_mode)) tv::fail(ERROR_ACCESS_DENIED);  // a folder is not opened as a file
  if (fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) tv::failFromErrno();
  if (flock(fd.get(), (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0)
    tv::fail(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : tv::win32FromErrno(errno));
  if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && ftruncate(fd.get(), 0) != 0)
    tv::failFromErrno();

  const HANDLE handle = handles().add(std::make_shared<OpenFile>(fd.release(), canRead, canWrite, S_ISREG(info.st_mode)));
  // Windows reports whether CREATE_ALWAYS / OPEN_ALWAYS found the file.
  const bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

// The new position of a move, or a failure that leaves the position alone.
int64_t targetPosition(const OpenFile& file, int64_t distance, DWORD method) {
  int64_t origin;
  switch (method) {
    case FILE_BEGIN: origin = 0; break;
    case FILE_CURRENT: origin = lseek(file.fd(), 0, SEEK_CUR); break;
    case FILE_END: {
      struct stat info;
      if (fstat(file.fd(), &info) != 0) tv::failFromErrno();
      origin = info.st_size;
      break;
    }
    default: tv::fail(ERROR_INVALID_PARAMETER);
  }
  if (origin < 0) tv::failFromErrno();
  int64_t position;
  if (__builtin_add_overflow(origin, distance, &position)) tv::fail(ERROR_INVALID_PARAMETER);
  if (position < 0) tv::fail(ERROR_NEGATIVE_SEEK);
  return position;
}

int64_t moveTo(const OpenFile& file, int64_t position) {
  if (lseek(file.fd(), position, SEEK_SET) < 0) tv::failFromErrno();
  return position;
}

}  // namespace

WINBASEAPI HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                     DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  UNREFERENCED_PARAMETER(lpSecurityAttributes);
  UNREFERENCED_PARAMETER(hTemplateFile);
  return tv::win32Value<HANDLE>(INVALID_HANDLE_VALUE, [&] {
    return createFile(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
  });
}

WINBASEAPI BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, void* lpOverlapped) {
  return tv::win32Bool([&] {
    tv::require(lpOverlapped == nullptr && lpNumberOfBytesRead != nullptr);
    *lpNumberOfBytesRead = 0;
    const auto file = handles().find(hFile);
    tv::require(file->canRead(), ERROR_ACCESS_DENIED);
    tv::require(lpBuffer != nullptr || nNumberOfBytesToRead == 0, ERROR_NOACCESS);
    // At the end of a file the call succeeds with 0 bytes.
    auto* buffer = static_cast<char*>(lpBuffer);
    DWORD total = 0;
    while (total < nNumberOfBytesToRead) {
      const ssize_t n = read(file->fd(), buffer + total, nNumberOfBytesToRead - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) tv::failFromErrno();
      total += static_cast<DWORD>(n);
      *lpNumberOfBytesRead = total;
      if (n == 0 || !file->regular()) break;
    }
  });
}

WINBASEAPI BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                 LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) {
  return tv::win32Bool([&] {
    tv::require(lpOverlapped == nullptr && lpNumberOfBytesWritten != nullptr);
    *lpNumberOfBytesWritten = 0;
    const auto file = handles().find(hFile);
    tv::require(file->canWrite(), ERROR_ACCESS_DENIED);
    tv::require(lpBuffer != nullptr || nNumberOfBytesToWrite == 0, ERROR_NOACCESS);
    const auto* buffer = static_cast<const char*>(lpBuffer);
    DWORD total = 0;
    while (total < nNumberOfBytesToWrite) {
      const ssize_t n = write(file->fd(), buffer + total, nNumberOfBytesToWrite - total);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) tv::failFromErrno();
      total += static_cast<DWORD>(n);
      *lpNumberOfBytesWritten = total;
    }
  });
}

WINBASEAPI BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  return tv::win32Bool([&] {
    const auto file = handles().find(hFile);
    tv::require(lpFileSize != nullptr);
    struct stat info;
    if (fstat(file->fd(), &info) != 0) tv::failFromErrno();
    lpFileSize->QuadPart = info.st_size;
  });
}

WINBASEAPI DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                       DWORD dwMoveMethod) {
  return tv::win32Value<DWORD>(INVALID_SET_FILE_POINTER, [&]() -> DWORD {
    const auto file = handles().find(hFile);
    // With a high part the distance is 64-bit; without, a signed 32-bit one
    // and the new position must fit in 32 bits.
    const int64_t distance =
        lpDistanceToMoveHigh != nullptr
            ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                   static_cast<uint32_t>(lDistanceToMove))
            : lDistanceToMove;
    const int64_t position = targetPosition(*file, distance, dwMoveMethod);
    if (lpDistanceToMoveHigh == nullptr && position > static_cast<int64_t>(UINT32_MAX))
      tv::fail(ERROR_INVALID_PARAMETER);
    moveTo(*file, position);
    if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
    const DWORD low = static_cast<DWORD>(position);
    // A position whose low part equals the failure value is told apart by a
    // last error of 0.
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return low;
  });
}

WINBASEAPI BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                        PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod) {
  return tv::win32Bool([&] {
    const auto file = handles().find(hFile);
    const int64_t position = moveTo(*file, targetPosition(*file, liDistanceToMove.QuadPart, dwMoveMethod));
    if (lpNewFilePointer != nullptr) lpNewFilePointer->QuadPart = position;
  });
}

WINBASEAPI BOOL WINAPI CloseHandle(HANDLE hObject) {
  return tv::win32Bool([&] { handles().remove(hObject); });
}

WINBASEAPI BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  return tv::win32Bool([&] {
    tv::require(lpFileName != nullptr);
    const std::string path = lpFileName;
    if (path.empty()) tv::fail(ERROR_PATH_NOT_FOUND);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) failOpen(path, errno);
    if (S_ISDIR(info.st_mode)) tv::fail(ERROR_ACCESS_DENIED);
    // A file that an opener holds cannot be deleted. A file this user may
    // not read cannot be held through the stand-in either.
    tv::Descriptor fd(S_ISREG(info.st_mode) ? open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK) : -1);
    if (fd.get() >= 0 && flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
      tv::fail(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : tv::win32FromErrno(errno));
    if (unlink(path.c_str()) != 0) failOpen(path, errno);
  });
}
