// A command-pipe server running in the test process over the Linux transport in a temporary
// root, with the log switched on into ROOT/C/test.log.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/log_file.h"
#include "pipe/named_pipe.h"
#include "platform/posix/file_system.h"
#include "platform/posix/pipe_transport.h"
#include "platform/services.h"
#include "support/temp_dir.h"

namespace testsupport {

class PipeServerFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the accept loop on a thread of its own (no survey) and waits until the pipe accepts
  // connections.
  void StartServer();
  // Runs the stop protocol; true when the server acknowledged.
  bool StopServer();

  // A connected client of the command pipe (asserts on failure).
  std::unique_ptr<NamedPipeClient> Connect();
  // Writes raw bytes as one message.
  static uint32_t SendRaw(NamedPipeClient& client, const std::vector<uint8_t>& message);
  // Sends a raw message and reads the answer; error 109 when the server closed the connection.
  static uint32_t Exchange(NamedPipeClient& client, const std::vector<uint8_t>& message,
                           std::vector<uint8_t>* response);
  std::string ReadLog() const;
  // Waits (up to 2 s) until the log holds `text`: the server logs after it answered.
  bool WaitForLog(const std::string& text) const;

  TempDir root_;
  std::unique_ptr<platform::posix::UnixStreamPipeTransport> pipes_;
  std::unique_ptr<platform::posix::PosixFileSystem> files_;
  platform::Services services_;
  std::unique_ptr<LogFile> log_;
  std::thread server_;
};

}  // namespace testsupport
