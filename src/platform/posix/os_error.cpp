#include "platform/posix/os_error.h"

#include <sqlite3.h>

#include <cerrno>

#include "base/win_codes.h"

namespace platform::posix {

uint32_t WinErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ECONNREFUSED:  // a socket file nobody listens on: the pipe is not there
      return win::kErrorFileNotFound;
    case ENOTDIR:  // a file where the path needs a folder: the folder is missing
      return win::kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return win::kErrorAccessDenied;
    case EEXIST:
      return win::kErrorAlreadyExists;
    case ENOSPC:
      return win::kErrorDiskFull;
    case EAGAIN:  // a listening socket's backlog is full: every pipe instance is busy
      return win::kErrorPipeBusy;
    case EPIPE:
    case ECONNRESET:  // the other end has gone: the pipe is being closed
      return win::kErrorNoData;
    case EBADF:
      return win::kErrorInvalidHandle;
    case ENOMEM:
    case ENOBUFS:
      return win::kErrorNotEnoughMemory;
    case EMSGSIZE:
      return win::kErrorInvalidParameter;
    default:
      return win::kErrorGenFailure;
  }
}

uint32_t WinErrorFromSqlite(int result) {
  switch (result & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return win::kErrorSuccess;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return win::kErrorBusy;
    case SQLITE_FULL:
      return win::kErrorDiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return win::kErrorAccessDenied;
    case SQLITE_NOMEM:
    case SQLITE_TOOBIG:
      return win::kErrorNotEnoughMemory;
    case SQLITE_IOERR:
      return win::kErrorRegistryIoFailed;
    case SQLITE_CANTOPEN:
      return win::kErrorCantOpen;
    default:  // CORRUPT, NOTADB, SCHEMA, CONSTRAINT, MISMATCH, ...
      return win::kErrorBadDb;
  }
}

}  // namespace platform::posix
