// The Win32 codes that POSIX failures stand for.
#pragma once

#include <windef.h>

namespace tv {

// The Win32 error code for an errno value (ENOENT -> ERROR_FILE_NOT_FOUND,
// EACCES -> ERROR_ACCESS_DENIED, ...). Values without a closer counterpart
// give ERROR_GEN_FAILURE; every result has a text in the message table.
DWORD win32FromErrno(int error);

// Throws Win32Failure with the code for the current errno.
[[noreturn]] void failFromErrno();

}  // namespace tv
