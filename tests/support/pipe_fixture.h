// The command-pipe server in the test process over the Linux transport, logging to ROOT/C/test.log.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "app/command_catalogue.h"
#include "log/log_file.h"
#include "pipe/named_pipe.h"
#include "platform/posix/file_system.h"
#include "platform/posix/pipe_transport.h"
#include "platform/services.h"
#include "support/pipe_client.h"
#include "support/temp_dir.h"

namespace testsupport {

class PipeServerFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the accept loop for `table` (kept until the test has ended) on a thread of its own (no
  // survey) until the pipe accepts connections.
  void StartServer(const ironbark::CommandTable& table = g_CommandHandlers);

  static std::unique_ptr<NamedPipeClient> Connect() { return ConnectCommandPipe(2000); }
  std::string LogPath() const { return root_.path() + "/C/test.log"; }
  std::string ReadLog() const { return ReadText(LogPath()); }
  bool WaitForLog(const std::string& text) const { return WaitForText(LogPath(), text); }

  TempDir root_;
  std::unique_ptr<platform::posix::UnixStreamPipeTransport> pipes_;
  std::unique_ptr<platform::posix::PosixFileSystem> files_;
  platform::Services services_;
  std::unique_ptr<LogFile> log_;
  std::thread server_;
};

}  // namespace testsupport
