// The Win32 named-pipe backend on real pipes: instance limits, connection states and their
// error codes, message boundaries and the chunked read, and the whole command pipe served in
// this process through the Win32 host services.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/command_catalogue.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "log/log_file.h"
#include "pipe/named_pipe.h"
#include "pipe/pipe_server.h"
#include "pipe/protocol.h"
#include "platform/services.h"
#include "platform/win32/file_system.h"
#include "platform/win32/host_services.h"
#include "platform/win32/pipe_transport.h"
#include "win32_test_support.h"

namespace {

using platform::PipeHandle;

constexpr uint32_t kReadWrite = win::kGenericRead | win::kGenericWrite;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 0) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
  return bytes;
}

class Win32PipeTest : public ::testing::Test {
 protected:
  Win32PipeTest() {
    params_.path = PipePath(win32test::UniqueName("quellmark_test").c_str());
    params_.open_mode = win::kPipeAccessDuplex;
    params_.pipe_mode = win::kPipeTypeMessage | win::kPipeReadmodeMessage;
    params_.max_instances = 1;
    params_.out_buffer_size = 512;
    params_.in_buffer_size = 512;
    params_.default_timeout_ms = 1000;
    params_.sddl = kCommandPipeSddl;
  }

  std::unique_ptr<PipeHandle> OpenClient(bool message_mode = true) {
    uint32_t error = 0xFFFFFFFFu;
    auto client = pipes_.Open(params_.path, kReadWrite, &error);
    EXPECT_EQ(error, 0u);
    if (client && message_mode) {
      EXPECT_EQ(client->SetMessageReadMode(), 0u);
    }
    return client;
  }

  // Writes `message` from `from` on a thread of its own: a message longer than the pipe's
  // buffer completes only while the other end reads it.
  std::thread WriteAsync(PipeHandle& from, std::vector<uint8_t> message,
                         std::atomic<uint32_t>* error) {
    return std::thread([&from, message = std::move(message), error] {
      uint32_t written = 0;
      uint32_t rc = from.Write(message.data(), static_cast<uint32_t>(message.size()), &written);
      if (rc == 0 && written != message.size()) rc = win::kErrorWriteFault;
      error->store(rc);
    });
  }

  platform::win32::Win32PipeTransport pipes_;
  platform::PipeInstanceParams params_;
};

TEST_F(Win32PipeTest, WithoutServerOpenAndWaitAnswerFileNotFound) {
  uint32_t error = 0;
  EXPECT_EQ(pipes_.Open(params_.path, kReadWrite, &error), nullptr);
  EXPECT_EQ(error, win::kErrorFileNotFound);
  EXPECT_EQ(pipes_.WaitForInstance(params_.path, 100), win::kErrorFileNotFound);
}

TEST_F(Win32PipeTest, CreationFailuresThrowTheBrokersMessages) {
  params_.max_instances = 2;
  auto first = pipes_.CreateInstance(params_);
  auto second = pipes_.CreateInstance(params_);
  try {
    pipes_.CreateInstance(params_);
    ADD_FAILURE() << "a third instance of a two-instance pipe was created";
  } catch (const platform::PipeInstanceLimitError& e) {
    EXPECT_STREQ(e.what(), "Named pipe creation failed.");
  }
  // A closed instance makes room again.
  second.reset();
  EXPECT_NE(pipes_.CreateInstance(params_), nullptr);

  platform::PipeInstanceParams bad = params_;
  bad.path = PipePath(win32test::UniqueName("quellmark_test_sddl").c_str());
  bad.sddl = "D:(nonsense";
  try {
    pipes_.CreateInstance(bad);
    ADD_FAILURE() << "an instance was created from a malformed descriptor";
  } catch (const platform::PipeInstanceLimitError&) {
    ADD_FAILURE() << "a descriptor failure reported as the instance limit";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "DACL creation failed.");
  }
  uint32_t error = 0;
  EXPECT_EQ(pipes_.Open(bad.path, kReadWrite, &error), nullptr);
  EXPECT_EQ(error, win::kErrorFileNotFound) << "nothing was created";
}

TEST_F(Win32PipeTest, ConnectionStatesAnswerTheirErrorCodes) {
  auto server = pipes_.CreateInstance(params_);
  // Free instance: a wait succeeds at once.
  EXPECT_EQ(pipes_.WaitForInstance(params_.path, 100), 0u);
  auto client = OpenClient();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(server->WaitForClient(), win::kErrorPipeConnected)
      << "the client came before ConnectNamedPipe";

  // The only instance is taken.
  uint32_t error = 0;
  EXPECT_EQ(pipes_.Open(params_.path, kReadWrite, &error), nullptr);
  EXPECT_EQ(error, win::kErrorPipeBusy);
  EXPECT_EQ(pipes_.WaitForInstance(params_.path, 100), win::kErrorSemTimeout);

  // The client leaves: the server end reads the broken pipe.
  client->Close();
  uint8_t buffer[16];
  uint32_t got = 99;
  EXPECT_EQ(server->Read(buffer, sizeof buffer, &got), win::kErrorBrokenPipe);
  EXPECT_EQ(got, 0u);
  uint32_t written = 99;
  const uint32_t write_error = server->Write(buffer, 1, &written);
  EXPECT_NE(write_error, 0u) << "nobody is left to read";
  EXPECT_EQ(written, 0u);

  // The server instance goes: the pipe is gone.
  server.reset();
  EXPECT_EQ(pipes_.WaitForInstance(params_.path, 100), win::kErrorFileNotFound);
}

// While its name is held, a pipe whose last instance closes after serving a client stays
// there, busy, until the next instance exists or the hold ends.
TEST_F(Win32PipeTest, AHeldNameOutlivesTheLastConnectedInstance) {
  // With room for the next instance, and where the kept handle must give way to it.
  for (const uint32_t max_instances : {2u, 1u}) {
    params_.path = PipePath(win32test::UniqueName("quellmark_test_hold").c_str());
    params_.max_instances = max_instances;
    auto hold = pipes_.HoldName(params_.path);
    uint32_t error = 0;
    pipes_.CreateInstance(params_).reset();  // nobody connected: not kept
    EXPECT_EQ(pipes_.Open(params_.path, kReadWrite, &error), nullptr);
    EXPECT_EQ(error, win::kErrorFileNotFound);

    auto server = pipes_.CreateInstance(params_);
    auto first = OpenClient();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(server->WaitForClient(), win::kErrorPipeConnected);
    server->Close();
    EXPECT_EQ(pipes_.Open(params_.path, kReadWrite, &error), nullptr);
    EXPECT_EQ(error, win::kErrorPipeBusy) << "the name is kept";
    // Only once the next instance exists does the client find nobody left to read.
    server = pipes_.CreateInstance(params_);
    uint8_t byte = 1;
    uint32_t written = 0;
    EXPECT_NE(first->Write(&byte, 1, &written), 0u) << max_instances;

    auto second = OpenClient();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(server->WaitForClient(), win::kErrorPipeConnected);
    server->Close();
    hold.reset();
    EXPECT_NE(second->Write(&byte, 1, &written), 0u) << max_instances;
    EXPECT_EQ(pipes_.Open(params_.path, kReadWrite, &error), nullptr);
    EXPECT_EQ(error, win::kErrorFileNotFound) << "the name ends with the hold";
  }
}

TEST_F(Win32PipeTest, EveryCallOnAClosedHandleAnswersInvalidHandle) {
  auto server = pipes_.CreateInstance(params_);
  auto client = OpenClient();
  ASSERT_NE(client, nullptr);
  for (PipeHandle* end : {server.get(), client.get()}) {
    end->Close();
    end->Close();  // a second close is harmless
    uint8_t byte = 1;
    uint32_t count = 99;
    EXPECT_EQ(end->Write(&byte, 1, &count), win::kErrorInvalidHandle);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(end->Read(&byte, 1, &count), win::kErrorInvalidHandle);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(end->WaitForClient(), win::kErrorInvalidHandle);
    EXPECT_EQ(end->SetMessageReadMode(), win::kErrorInvalidHandle);
  }
}

// The broker tells the connections it opened to its own pipe by this id.
TEST_F(Win32PipeTest, OnlyTheServerEndReportsTheClientsProcessId) {
  const uint32_t self = pipes_.CurrentProcessId();
  EXPECT_NE(self, 0u);
  auto server = pipes_.CreateInstance(params_);
  auto client = OpenClient();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(server->WaitForClient(), win::kErrorPipeConnected);
  EXPECT_EQ(server->ClientProcessId(), self);
  EXPECT_EQ(client->ClientProcessId(), 0u);
  server->Close();
  EXPECT_EQ(server->ClientProcessId(), 0u);
}

TEST_F(Win32PipeTest, MessagesKeepTheirBoundariesAndLongOnesReadInChunks) {
  auto server = pipes_.CreateInstance(params_);
  auto client = OpenClient();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(server->WaitForClient(), win::kErrorPipeConnected);

  // Two short messages are two reads, each ending its message.
  const auto first = Pattern(10, 1);
  const auto second = Pattern(20, 2);
  uint32_t written = 0;
  ASSERT_EQ(client->Write(first.data(), 10, &written), 0u);
  ASSERT_EQ(client->Write(second.data(), 20, &written), 0u);
  uint8_t chunk[512];
  uint32_t got = 0;
  ASSERT_EQ(server->Read(chunk, sizeof chunk, &got), 0u);
  EXPECT_EQ(std::vector<uint8_t>(chunk, chunk + got), first);
  ASSERT_EQ(server->Read(chunk, sizeof chunk, &got), 0u);
  EXPECT_EQ(std::vector<uint8_t>(chunk, chunk + got), second);

  // 700 bytes through 512-byte reads: 512 with more data, then the last 188.
  const auto message = Pattern(700);
  std::atomic<uint32_t> write_error{0xFFFFFFFFu};
  std::thread writer = WriteAsync(*client, message, &write_error);
  ASSERT_EQ(server->Read(chunk, 512, &got), win::kErrorMoreData);
  EXPECT_EQ(got, 512u);
  EXPECT_EQ(std::vector<uint8_t>(chunk, chunk + 512),
            std::vector<uint8_t>(message.begin(), message.begin() + 512));
  ASSERT_EQ(server->Read(chunk, 512, &got), 0u);
  EXPECT_EQ(got, 188u);
  EXPECT_EQ(std::vector<uint8_t>(chunk, chunk + 188),
            std::vector<uint8_t>(message.begin() + 512, message.end()));
  writer.join();
  EXPECT_EQ(write_error.load(), 0u);

  // The client end reads in message mode too once switched: the server's answer in parts.
  ASSERT_EQ(server->Write(first.data(), 10, &written), 0u);
  ASSERT_EQ(client->Read(chunk, 4, &got), win::kErrorMoreData);
  EXPECT_EQ(got, 4u);
  ASSERT_EQ(client->Read(chunk + 4, 16, &got), 0u);
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::vector<uint8_t>(chunk, chunk + 10), first);
}

TEST_F(Win32PipeTest, ReceivePipeMessageAssemblesLongMessagesAndKeepsTheGrownBuffer) {
  auto server = pipes_.CreateInstance(params_);
  auto client = OpenClient();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(server->WaitForClient(), win::kErrorPipeConnected);

  std::vector<uint8_t> buffer;
  uint32_t size = 0;
  for (const size_t length : {size_t{700}, size_t{100 * 1024}, size_t{3}}) {
    const auto message = Pattern(length, static_cast<uint8_t>(length));
    std::atomic<uint32_t> write_error{0xFFFFFFFFu};
    std::thread writer = WriteAsync(*client, message, &write_error);
    ASSERT_EQ(ReceivePipeMessage(*server, buffer, &size), 0u) << length;
    writer.join();
    EXPECT_EQ(write_error.load(), 0u);
    ASSERT_EQ(size, length);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size), message) << length;
  }
  EXPECT_GE(buffer.size(), size_t{100 * 1024}) << "the buffer keeps its grown size";

  client->Close();
  EXPECT_EQ(ReceivePipeMessage(*server, buffer, &size), win::kErrorBrokenPipe);

  // One byte over the cap: refused once that shows, without the buffer growing past the cap.
  // Closing the server end releases the writer.
  server.reset();
  server = pipes_.CreateInstance(params_);
  client = OpenClient();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(server->WaitForClient(), win::kErrorPipeConnected);
  std::atomic<uint32_t> write_error{0xFFFFFFFFu};
  std::thread writer =
      WriteAsync(*client, Pattern(platform::kMaxPipeMessageBytes + 1), &write_error);
  EXPECT_EQ(ReceivePipeMessage(*server, buffer, &size), win::kErrorInvalidData);
  EXPECT_LE(buffer.size(), size_t{platform::kMaxPipeMessageBytes});
  server->Close();
  writer.join();
}

// The command pipe as the broker serves it, with the Win32 host services installed: the
// service thread, a client of the core, command 0, and the stop protocol.
class Win32CommandPipeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Connection threads are detached; the services and the log they may still touch live
    // until the process ends.
    static platform::win32::HostServices host;
    platform::InstallServices(&host.services());
  }

  void SetUp() override {
    uint32_t error = 0;
    auto other = platform::Pipes().Open(PipePath(kCommandPipeName), kReadWrite, &error);
    if (other || error != win::kErrorFileNotFound) {
      GTEST_SKIP() << "a command pipe is served on this machine already";
    }
    log_ = new LogFile("Quellmark", temp_.File("test_Quellmark.log"));
    g_LogFile.store(log_);
    g_PipeServerStop.store(false);
    server_ = std::thread([] { RunPipeServer(g_CommandHandlers); });
    // WaitNamedPipeW answers 2 at once while the pipe does not exist yet: poll until the
    // service thread has created its first instance.
    uint32_t wait = win::kErrorFileNotFound;
    for (int i = 0; i < 500 && wait == win::kErrorFileNotFound; ++i) {
      wait = platform::Pipes().WaitForInstance(PipePath(kCommandPipeName), 5000);
      if (wait == win::kErrorFileNotFound) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(wait, 0u);
  }

  void TearDown() override {
    if (server_.joinable()) {
      EXPECT_TRUE(StopPipeServer());
      server_.join();
    }
    g_LogFile.store(nullptr);
    // log_ stays: a connection thread may still be ending.
  }

  bool WaitForLog(const std::string& text) const {
    for (int i = 0; i < 500; ++i) {
      if (win32test::ReadWholeFile(log_->path()).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  static std::string EchoText(const std::vector<uint8_t>& response) {
    std::vector<std::vector<uint8_t>> items;
    if (!ironbark::ParseResponse(response.data(), response.size(), &items) || items.size() != 1) {
      return "<bad answer>";
    }
    return text::FromWireText(items[0].data(), items[0].size());
  }

  win32test::TempDir temp_;
  LogFile* log_ = nullptr;
  std::thread server_;
};

TEST_F(Win32CommandPipeTest, EchoRoundTripAndStop) {
  NamedPipeClient client(kCommandPipeName);
  ASSERT_EQ(client.ConnectPipe(2000), 0u);

  const std::vector<std::vector<uint8_t>> args = {{0x01, 0xAB}};
  ASSERT_EQ(client.WritePipeMessage(0, args), 0u);
  std::vector<uint8_t> response;
  ASSERT_EQ(client.ReadPipeMessage(&response), 0u);
  EXPECT_EQ(EchoText(response), "Number of arguments: 1\narg0 size: 2, content: 01 ab \n");

  // A request longer than one 512-byte read, on the same connection; its answer (three
  // characters per byte, UTF-16) is longer still.
  const std::vector<std::vector<uint8_t>> long_args = {Pattern(693)};
  ASSERT_EQ(client.WritePipeMessage(0, long_args), 0u);
  ASSERT_EQ(client.ReadPipeMessage(&response), 0u);
  const std::string text = EchoText(response);
  EXPECT_EQ(text.rfind("Number of arguments: 1\narg0 size: 693, content: 00 07 0e ", 0), 0u);
  EXPECT_EQ(text.size(), std::string("Number of arguments: 1\narg0 size: 693, content: \n").size() + 3 * 693);

  EXPECT_TRUE(WaitForLog(" | Quellmark | ironbark::IbClientCommandProcessor::process_pipe | "
                         "Response namedpipe error: 0\r\n"));
  EXPECT_EQ(win32test::ReadWholeFile(log_->path()).rfind("[INFO]      2", 0), 0u);
  client.Close();

  EXPECT_TRUE(StopPipeServer());
  server_.join();
  EXPECT_FALSE(g_PipeServerStop.load()) << "the server acknowledged";
  NamedPipeClient late(kCommandPipeName);
  EXPECT_EQ(late.ConnectPipe(0), win::kErrorFileNotFound) << "no instance is left";
}

}  // namespace
