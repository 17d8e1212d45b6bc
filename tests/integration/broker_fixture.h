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

  std::unique_ptr<NamedPipeClient> Connect();
  static uint32_t Exchange(NamedPipeClient& client, const std::vector<uint8_t>& message,
                           std::vector<uint8_t>* response);

  std::string LogPath() const;
  std::string ReadLog() const;
  bool WaitForLog(const std::string& text) const;
  CommandResult Cli(std::vector<std::string> args);
  // Runs quellmark-cli with `words` and returns its output; a failure unless it exits 0.
  std::string Named(std::vector<std::string> words);
  // Waits until the log holds `count` copies of `text`.
  bool WaitForCount(const std::string& text, size_t count) const;

  TempDir root_;
  std::unique_ptr<platform::posix::UnixStreamPipeTransport> pipes_;
  platform::Services services_;
};

}  // namespace testsupport
