// kernel32: the calling thread's last error and the errno mapping.
#include "kernel32/errno.h"
#include "internal/win32call.h"

#include <windows.h>

#include <cerrno>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

namespace tv {

DWORD win32FromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSYS: return ERROR_CALL_NOT_IMPLEMENTED;
    case EIO: return ERROR_IO_DEVICE;
    default: return ERROR_GEN_FAILURE;
  }
}

void failFromErrno() {
  // A failure is never reported as success, even if errno was not set.
  const int error = errno;
  fail(error != 0 ? win32FromErrno(error) : ERROR_GEN_FAILURE);
}

}  // namespace tv

WINBASEAPI DWORD WINAPI GetLastError(void) { return lastError; }

WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }
