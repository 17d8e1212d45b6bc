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
  void TearDown() override;

  // Switches logging on for the next start (the registry value "Quellmark" under
  // HKLM\SOFTWARE\OEM\Calvane\Log).
  void EnableLogging();
  // Starts the broker `binary` (on the machine profile `machine` of the repository's machines/
  // folder, e.g. "bare.profile"; the default machine when empty) and waits until its pipe
  // accepts connections.
  std::unique_ptr<ChildProcess> StartBroker(const std::string& machine = "",
                                            const std::string& binary = QUELLMARK_BINARY);
  // Sends SIGTERM and returns the exit code (nullopt when it did not exit in time).
  std::optional<int> StopBroker(ChildProcess& broker, int signal_number = 15);

  // The log file of a broker started by this user.
  std::string LogPath() const;
  std::string ReadLog() const { return ReadText(LogPath()); }
  bool WaitForLog(const std::string& text, size_t count = 1) const {
    return WaitForText(LogPath(), text, count);
  }
  CommandResult Cli(std::vector<std::string> args);
  // Runs quellmark-cli with `words` and returns its output; a failure unless it exits 0.
  std::string Named(std::vector<std::string> words);

  TempDir root_;
  std::unique_ptr<platform::posix::UnixStreamPipeTransport> pipes_;
  platform::Services services_;
};

}  // namespace testsupport
