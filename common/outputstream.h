// A sink of bytes: the sign tuple and certificate encodings are written onto it.
#pragma once

#include <windows.h>

namespace Sys {

class OutputStream {
 public:
  // Takes size bytes from data and returns how many were taken.
  virtual DWORD write(const void* data, DWORD size) = 0;
  // The count of bytes written so far.
  virtual ULONGLONG position() const = 0;
  // The count of bytes the stream holds.
  virtual ULONGLONG size() const = 0;
  virtual void flush() = 0;

 protected:
  // Never destroyed through the base, hence no virtual destructor; the
  // protected one makes the compiler refuse such a deletion.
  ~OutputStream() = default;
};

}  // namespace Sys
