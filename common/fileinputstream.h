// A read-only view of a file opened by name. The file is held exclusively
// (no sharing of any kind) while the stream lives.
#pragma once

#include "common/inputstream.h"

#include <string>

namespace Sys {

class FileInputStream : public InputStream {
 public:
  // Opens an existing file for reading; std::invalid_argument "file name is
  // empty" for an empty (or null) name, OsError with the platform's code when
  // the file cannot be opened.
  explicit FileInputStream(const std::string& fileName);
  explicit FileInputStream(const char* fileName);
  // Takes ownership of a handle that is already open.
  explicit FileInputStream(HANDLE handle);
  ~FileInputStream() override;
  FileInputStream(const FileInputStream&) = delete;
  FileInputStream& operator=(const FileInputStream&) = delete;

  ULONGLONG position() const override;
  ULONGLONG size() const override;
  // Refuses a null buffer or a size of 0 with std::invalid_argument "No data to read".
  DWORD read(void* buffer, DWORD size) override;
  DWORD skip(DWORD count) override;
  void seek(LONGLONG distance, Origin origin) override;

 private:
  HANDLE handle_;
};

}  // namespace Sys
