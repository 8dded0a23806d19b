#include "common/fileinputstream.h"

#include "common/exceptions.h"

#include <stdexcept>
#include <vector>

namespace Sys {

namespace {

HANDLE openExclusively(const char* fileName) {
  if (fileName == nullptr || *fileName == '\0') throw std::invalid_argument("file name is empty");
  HANDLE handle = CreateFileA(fileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  checkWin32(handle != INVALID_HANDLE_VALUE, __FILE__, __LINE__);
  return handle;
}

}  // namespace

FileInputStream::FileInputStream(const std::string& fileName) : FileInputStream(fileName.c_str()) {}

FileInputStream::FileInputStream(const char* fileName) : handle_(openExclusively(fileName)) {}

FileInputStream::FileInputStream(HANDLE handle) : handle_(handle) {}

FileInputStream::~FileInputStream() { CloseHandle(handle_); }

ULONGLONG FileInputStream::position() const {
  LONG high = 0;
  // A low part of 0xFFFFFFFF is a valid position unless the last error says
  // otherwise; clearing it first keeps an older error from being taken for this call's.
  SetLastError(ERROR_SUCCESS);
  DWORD low = SetFilePointer(handle_, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) throw OsError(__FILE__, __LINE__);
  return (static_cast<ULONGLONG>(static_cast<DWORD>(high)) << 32) | low;
}

ULONGLONG FileInputStream::size() const {
  LARGE_INTEGER size;
  size.QuadPart = 0;
  checkWin32(GetFileSizeEx(handle_, &size), __FILE__, __LINE__);
  return static_cast<ULONGLONG>(size.QuadPart);
}

DWORD FileInputStream::read(void* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) throw std::invalid_argument("No data to read");
  DWORD got = 0;
  checkWin32(ReadFile(handle_, buffer, size, &got, nullptr), __FILE__, __LINE__);
  return got == 0 ? kEndOfStream : got;
}

DWORD FileInputStream::skip(DWORD count) {
  if (count == 0) return 0;
  std::vector<BYTE> scratch(count);
  return read(scratch.data(), count);
}

void FileInputStream::seek(LONGLONG distance, Origin origin) {
  DWORD method = FILE_CURRENT;
  if (origin == Begin) method = FILE_BEGIN;
  if (origin == End) method = FILE_END;
  LARGE_INTEGER move;
  move.QuadPart = distance;
  checkWin32(SetFilePointerEx(handle_, move, nullptr, method), __FILE__, __LINE__);
}

}  // namespace Sys
