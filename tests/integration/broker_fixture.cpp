#include "integration/broker_fixture.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/handler_harness.h"

namespace testsupport {

void BrokerFixture::SetUp() {
  pipes_ = std::make_unique<platform::posix::UnixStreamPipeTransport>(root_.path());
  services_.pipes = pipes_.get();
  platform::InstallServices(&services_);
}

void BrokerFixture::EnableLogging() {
  platform::posix::SqliteRegistry registry(root_.path() + "/registry.db");
  const uint32_t one = 1;
  ASSERT_EQ(registry.SetKeyValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane\\Log", "Quellmark",
                                 win::kRegDword, &one, 4), 0u);
}

std::unique_ptr<ChildProcess> BrokerFixture::StartBroker(const std::string& machine,
                                                         const std::string& binary) {
  std::vector<std::string> command{binary, "--root", root_.path()};
  if (!machine.empty()) command.insert(command.end(), {"--machine", MachineProfile(machine)});
  auto broker = std::make_unique<ChildProcess>(command);
  // A socket file may be left by a killed broker: the new one is up once a connection works.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    uint32_t error = 0;
    if (pipes_->Open(PipePath(kCommandPipeName), 0xC0000000u, &error)) return broker;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "the broker's pipe did not appear";
  return broker;
}

std::optional<int> BrokerFixture::StopBroker(ChildProcess& broker, int signal_number) {
  broker.Signal(signal_number);
  return broker.WaitExit(15000);
}

std::string BrokerFixture::LogPath() const {
  const passwd* pw = getpwuid(geteuid());
  const std::string account = pw != nullptr ? pw->pw_name : std::to_string(geteuid());
  return root_.path() + "/C/ProgramData/OEM/Calvane/Log/" + account + "_Quellmark.log";
}

CommandResult BrokerFixture::Cli(std::vector<std::string> args) {
  args.insert(args.begin(), {QUELLMARK_CLI_BINARY, "--root", root_.path()});
  return RunCommand(args);
}

std::string BrokerFixture::Named(std::vector<std::string> words) {
  const auto result = Cli(std::move(words));
  EXPECT_EQ(result.exit_code, 0) << result.output;
  return result.output;
}

}  // namespace testsupport
