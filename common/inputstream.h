// A source of bytes: sign tuples and certificate encodings are read back from
// it, files are digested through it.
#pragma once

#include <windows.h>

namespace Sys {

class InputStream {
 public:
  // Note the order: the end comes before the current position.
  enum Origin : LONG { Begin = 0, End = 1, Current = 2 };

  // What read returns when nothing could be read because the stream is at its end.
  static constexpr DWORD kEndOfStream = 0xFFFFFFFF;

  virtual ULONGLONG position() const = 0;
  virtual ULONGLONG size() const = 0;
  // Reads at most size bytes; returns the count read, which may be short, or
  // kEndOfStream (never 0) at the end.
  virtual DWORD read(void* buffer, DWORD size) = 0;
  // Reads count bytes and drops them; returns what that read returned.
  virtual DWORD skip(DWORD count) = 0;
  // Any origin other than Begin and End counts as Current.
  virtual void seek(LONGLONG distance, Origin origin) = 0;
  virtual ~InputStream();

  // One read of exactly size bytes: std::runtime_error "Broken stream (1)" at
  // the end of the stream, "Broken stream (2)" for a short read. No retry.
  void readExact(void* buffer, DWORD size);
};

}  // namespace Sys
