#include "support/pipe_fixture.h"

#include <filesystem>

#include "pipe/pipe_server.h"

namespace testsupport {

void PipeServerFixture::SetUp() {
  pipes_ = std::make_unique<platform::posix::UnixStreamPipeTransport>(root_.path());
  files_ = std::make_unique<platform::posix::PosixFileSystem>(root_.path());
  services_.pipes = pipes_.get();
  services_.files = files_.get();
  platform::InstallServices(&services_);
  std::filesystem::create_directories(root_.path() + "/C");
  log_ = std::make_unique<LogFile>("Quellmark", "C:\\test.log");
  g_LogFile.store(log_.get());
}

void PipeServerFixture::TearDown() {
  if (server_.joinable()) {
    StopPipeServer();
    server_.join();
  }
  // Connection threads are detached: the services and the log they use stay until the last one
  // has ended (the clients of a test are closed by now).
  for (int i = 0; i < 500 && ActivePipeConnections() > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(ActivePipeConnections(), 0);
  DetachLogFile();
  platform::InstallServices(nullptr);
}

void PipeServerFixture::StartServer(const ironbark::CommandTable& table) {
  g_PipeServerStop.store(false);
  server_ = std::thread([&table] { RunPipeServer(table); });
  ASSERT_EQ(pipes_->WaitForInstance(PipePath(kCommandPipeName), 5000), 0u);
}

}  // namespace testsupport
