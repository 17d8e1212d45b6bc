// Runs the real Linux broker in a temporary root and talks to it over its real socket.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "pipe/named_pipe.h"
#include "platform/posix/pipe_transport.h"
#include "platform/posix/registry.h"
#include "platform/services.h"
#include "support/child_process.h"
#include "support/pipe_client.h"
#include "support/temp_dir.h"

namespace testsupport {

class BrokerFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { platform::InstallServices(nullptr); }

  void EnableLogging();  // for the next start
  // Starts `binary` on machines/`machine` (the default machine when empty) until its pipe answers.
  std::unique_ptr<ChildProcess> StartBroker(const std::string& machine = "",
                                            const std::string& binary = QUELLMARK_BINARY);
  std::optional<int> StopBroker(ChildProcess& broker, int signal_number = 15);

  std::string LogPath() const;
  std::string ReadLog() const { return ReadText(LogPath()); }
  bool WaitForLog(const std::string& text, size_t count = 1) const {
    return WaitForText(LogPath(), text, count);
  }
  CommandResult Cli(std::vector<std::string> args);
  // quellmark-cli's output; a failure unless it exits 0.
  std::string Named(std::vector<std::string> words);

  TempDir root_;
  std::unique_ptr<platform::posix::UnixStreamPipeTransport> pipes_;
  platform::Services services_;
};

}  // namespace testsupport
