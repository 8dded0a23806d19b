// The Win32 calling convention in one place. Inside the stand-in, code is
// plain C++ that throws tv::Win32Failure (or std::bad_alloc); only the
// exported function turns that into a BOOL/HRESULT result and a last error.
#pragma once

#include <windows.h>

#include <cstring>
#include <new>

namespace tv {

struct Win32Failure {
  DWORD code;
};

[[noreturn]] inline void fail(DWORD code) { throw Win32Failure{code}; }

inline void require(bool condition, DWORD code = ERROR_INVALID_PARAMETER) {
  if (!condition) fail(code);
}

// Runs body; on success returns TRUE (the last error is left alone unless the
// body set it), on failure sets the last error and returns FALSE.
template <class Body>
BOOL win32Bool(Body&& body) noexcept {
  try {
    body();
    return TRUE;
  } catch (const Win32Failure& f) {
    SetLastError(f.code);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    SetLastError(ERROR_GEN_FAILURE);
  }
  return FALSE;
}

// Runs body, which returns a value; on failure sets the last error and
// returns the given failure value (null handle, 0 length, ...).
template <class T, class Body>
T win32Value(T failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const Win32Failure& f) {
    SetLastError(f.code);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    SetLastError(ERROR_GEN_FAILURE);
  }
  return failure;
}

// Runs body, which returns an HRESULT; a Win32Failure carries its code as an
// HRESULT (a Win32 code is wrapped with HRESULT_FROM_WIN32).
template <class Body>
HRESULT comCall(Body&& body) noexcept {
  try {
    return body();
  } catch (const Win32Failure& f) {
    return (f.code & 0x80000000u) ? (HRESULT)f.code : HRESULT_FROM_WIN32(f.code);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The two-call size protocol of output buffers: with a null buffer, report
// the size; with a buffer too small, report the size and fail with
// ERROR_MORE_DATA; otherwise copy and report the size.
inline void copyOut(const void* data, DWORD size, void* out, DWORD* ioSize) {
  require(ioSize != nullptr);
  if (out == nullptr) {
    *ioSize = size;
    return;
  }
  if (*ioSize < size) {
    *ioSize = size;
    fail(ERROR_MORE_DATA);
  }
  if (size != 0) std::memcpy(out, data, size);
  *ioSize = size;
}

}  // namespace tv
