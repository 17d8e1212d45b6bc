// The Linux backends report failures in the core's vocabulary, Windows error codes. This is the
// one table from the Linux failure codes onto them.
#pragma once
#include <cstdint>

namespace platform::posix {

// The Windows error code for errno `error`; ERROR_GEN_FAILURE (31) for one without a closer
// counterpart. ENOENT answers ERROR_FILE_NOT_FOUND: a caller that knows its path tells a missing
// folder on the way (ERROR_PATH_NOT_FOUND) itself.
uint32_t WinErrorFromErrno(int error);

// The Windows error code for a SQLite result code, primary or extended (an extended code counts
// as its primary code); 0 for SQLITE_OK, SQLITE_ROW and SQLITE_DONE, ERROR_BADDB (1009) for a
// result without a closer counterpart.
uint32_t WinErrorFromSqlite(int result);

}  // namespace platform::posix
