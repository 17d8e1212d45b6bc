// The Linux backends' one table of failure codes, and the pipe open that overrides it.
#include "platform/posix/os_error.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <fstream>

#include "base/win_codes.h"
#include "platform/posix/pipe_transport.h"
#include "support/temp_dir.h"

namespace {

using platform::posix::WinErrorFromErrno;
using platform::posix::WinErrorFromSqlite;

TEST(PosixOsErrorTest, ErrnoBecomesTheWindowsCode) {
  const struct {
    int error;
    uint32_t expected;
  } cases[] = {
      {ENOENT, win::kErrorFileNotFound},    {ECONNREFUSED, win::kErrorFileNotFound},
      {ENOTDIR, win::kErrorPathNotFound},   {EACCES, win::kErrorAccessDenied},
      {EPERM, win::kErrorAccessDenied},     {EISDIR, win::kErrorAccessDenied},
      {EROFS, win::kErrorAccessDenied},     {EEXIST, win::kErrorAlreadyExists},
      {ENOSPC, win::kErrorDiskFull},        {EAGAIN, win::kErrorPipeBusy},
      {EPIPE, win::kErrorNoData},           {ECONNRESET, win::kErrorNoData},
      {EBADF, win::kErrorInvalidHandle},    {ENOMEM, win::kErrorNotEnoughMemory},
      {ENOBUFS, win::kErrorNotEnoughMemory}, {EMSGSIZE, win::kErrorInvalidParameter},
      {EIO, win::kErrorGenFailure},         {ELOOP, win::kErrorGenFailure},
  };
  for (const auto& c : cases) EXPECT_EQ(WinErrorFromErrno(c.error), c.expected) << c.error;
}

TEST(PosixOsErrorTest, SqliteResultsCountByTheirPrimaryCode) {
  const struct {
    int result;
    uint32_t expected;
  } cases[] = {
      {SQLITE_OK, win::kErrorSuccess},          {SQLITE_ROW, win::kErrorSuccess},
      {SQLITE_DONE, win::kErrorSuccess},        {SQLITE_BUSY, win::kErrorBusy},
      {SQLITE_BUSY_SNAPSHOT, win::kErrorBusy},  {SQLITE_LOCKED_SHAREDCACHE, win::kErrorBusy},
      {SQLITE_FULL, win::kErrorDiskFull},       {SQLITE_READONLY_DBMOVED, win::kErrorAccessDenied},
      {SQLITE_PERM, win::kErrorAccessDenied},   {SQLITE_AUTH, win::kErrorAccessDenied},
      {SQLITE_NOMEM, win::kErrorNotEnoughMemory}, {SQLITE_TOOBIG, win::kErrorNotEnoughMemory},
      {SQLITE_IOERR_FSYNC, win::kErrorRegistryIoFailed},
      {SQLITE_CANTOPEN_ISDIR, win::kErrorCantOpen},
      {SQLITE_CORRUPT, win::kErrorBadDb},       {SQLITE_NOTADB, win::kErrorBadDb},
      {SQLITE_CONSTRAINT_UNIQUE, win::kErrorBadDb},
  };
  for (const auto& c : cases) EXPECT_EQ(WinErrorFromSqlite(c.result), c.expected) << c.result;
}

// Pipe names are flat on Windows: a path that cannot lead to a socket means no such pipe, not
// a missing folder.
TEST(PosixOsErrorTest, AMissingPipeIsFileNotFoundWhateverTheSocketPathLacks) {
  testsupport::TempDir root;
  platform::posix::UnixStreamPipeTransport pipes(root.path());
  uint32_t error = 0;
  EXPECT_EQ(pipes.Open("\\\\.\\pipe\\none", win::kGenericRead, &error), nullptr);
  EXPECT_EQ(error, win::kErrorFileNotFound) << "no pipe folder";
  std::ofstream(root.path() + "/pipe") << "a file where the pipe folder belongs";
  EXPECT_EQ(pipes.Open("\\\\.\\pipe\\none", win::kGenericRead, &error), nullptr);
  EXPECT_EQ(error, win::kErrorFileNotFound) << "ENOTDIR";
}

}  // namespace
