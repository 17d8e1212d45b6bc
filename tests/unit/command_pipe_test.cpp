// The command pipe inside the process over real sockets: accept loop, dispatcher, stop protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/command_processor.h"
#include "pipe/connection_context.h"
#include "pipe/named_pipe.h"
#include "pipe/pipe_server.h"
#include "pipe/protocol.h"
#include "support/manual_clock.h"
#include "support/pipe_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::EchoText, testsupport::Exchange, testsupport::SendRaw,
      testsupport::PipeServerFixture;

using CommandPipe = PipeServerFixture;

TEST_F(CommandPipe, EchoIsByteExactAndSeveralRequestsShareAConnection) {
  StartServer();
  auto client = Connect();
  std::vector<uint8_t> response;
  ASSERT_EQ(Exchange(*client, Bytes{0, 0, 0}, &response), 0u);
  std::vector<uint8_t> expected = {1, 48, 0, 0, 0}, wire = text::ToWireText("Number of arguments: 0\n");
  expected.insert(expected.end(), wire.begin(), wire.end());
  EXPECT_EQ(response, expected);
  EXPECT_TRUE(WaitForLog("ironbark::IbClientCommandProcessor::process_pipe | Response namedpipe error: 0\r\n"));
  ASSERT_EQ(Exchange(*client, Bytes{0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0x01, 0xAB}, &response), 0u);
  EXPECT_EQ(EchoText(response),
            "Number of arguments: 2\narg0 size: 0, content: \narg1 size: 2, content: 01 ab \n");
  // 1 MiB is answered with 6 MiB, far beyond the kernel's default socket buffer sizes.
  std::vector<uint8_t> argument(1 << 20);
  for (size_t i = 0; i < argument.size(); ++i) argument[i] = static_cast<uint8_t>(i * 7);
  const auto request = ironbark::EncodeRequest(0, std::vector<std::vector<uint8_t>>{argument});
  ASSERT_EQ(Exchange(*client, request, &response), 0u);
  const std::string text = EchoText(response);
  EXPECT_EQ(text.rfind("Number of arguments: 1\narg0 size: 1048576, content: 00 07 0e ", 0), 0u);
  EXPECT_EQ(text.size(), 53 + 3 * argument.size()) << "every byte of the argument is described";
  ASSERT_EQ(Exchange(*client, Bytes{0, 0, 0}, &response), 0u);  // after the buffer grew
  EXPECT_EQ(EchoText(response), "Number of arguments: 0\n");
}

TEST_F(CommandPipe, ProtocolErrorsCloseTheConnectionWithoutAnswer) {
  StartServer();
  const std::vector<std::vector<uint8_t>> over_cap = {std::vector<uint8_t>(platform::kMaxPipeMessageBytes - 6)};
  const struct { std::vector<uint8_t> request; uint32_t error; } bad_requests[] = {
      {Bytes{0, 0}, win::kErrorBrokenPipe},  // shorter than a header
      {Bytes{0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 1}, win::kErrorBrokenPipe},  // length near 2^32
      {Bytes{0x27, 0, 0}, win::kErrorBrokenPipe},  // unknown code 39
      {Bytes{0, 1, 0}, win::kErrorBrokenPipe},     // unknown code 256, not the echo
      // One byte over the cap: refused from its length, so the writer never gets it all out.
      {ironbark::EncodeRequest(0, over_cap), win::kErrorNoData},
  };
  for (const auto& [request, error] : bad_requests) {
    auto client = Connect();
    std::vector<uint8_t> response;
    EXPECT_EQ(Exchange(*client, request, &response), error) << request.size();
  }
  EXPECT_EQ(ReadLog().find("code: 0"), std::string::npos) << "malformed requests of a known code log nothing";
}

// Each connection has its own thread: held (stalled) clients keep none of the others waiting.
TEST_F(CommandPipe, TheLastInstanceServesItsClientAndThePipeOutlivesItsInstances) {
  StartServer();
  // 254 clients served and held: with the listening instance, the pipe's 255 instances exist.
  std::vector<std::unique_ptr<NamedPipeClient>> held;
  std::vector<uint8_t> response;
  const auto hold = [&] {
    for (int i = 0; i < 254; ++i) {
      held.push_back(Connect());
      ASSERT_EQ(Exchange(*held.back(), Bytes{0, 0, 0}, &response), 0u);
    }
  };
  hold();
  // The client of the last instance is answered before the server waits for room.
  auto last = Connect();
  auto answer = std::async(std::launch::async,
                           [&] { return Exchange(*last, Bytes{0, 0, 0}, &response); });
  EXPECT_EQ(answer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  held.clear();  // gives a server that waits for room its room
  EXPECT_EQ(answer.get(), 0u);
  last.reset();
  // Every connection ended, likely before the next instance exists: the pipe stays reachable.
  while (ActivePipeConnections() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  NamedPipeClient next(kCommandPipeName);
  ASSERT_EQ(next.ConnectPipe(0), 0u);
  EXPECT_EQ(Exchange(next, Bytes{0, 0, 0}, &response), 0u);
  // Full once more: a stop is noticed while the server waits for room.
  hold();
  const bool stopped = StopPipeServer();
  EXPECT_TRUE(stopped);
  if (stopped) server_.join();
}

TEST_F(CommandPipe, StopIsAcknowledgedKeepsServingConnectedClientsThenRemovesThePipe) {
  StartServer();
  auto first = Connect();
  auto second = Connect();
  std::vector<uint8_t> response;
  // Both accepted before the stop: the listener takes the next connection for its wake-up.
  ASSERT_EQ(Exchange(*first, Bytes{0, 0, 0}, &response), 0u);
  ASSERT_EQ(Exchange(*second, Bytes{0, 0, 0}, &response), 0u);
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(StopPipeServer());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_FALSE(g_PipeServerStop.load());
  server_.join();
  ASSERT_EQ(Exchange(*first, Bytes{0, 0, 0}, &response), 0u);
  EXPECT_EQ(EchoText(response), "Number of arguments: 0\n");
  ASSERT_EQ(Exchange(*second, Bytes{0, 0, 1, 1, 0, 0, 0, 9}, &response), 0u);
  // The name ends with the last connection.
  first.reset();
  second.reset();
  while (ActivePipeConnections() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  NamedPipeClient late(kCommandPipeName);
  EXPECT_EQ(late.ConnectPipe(0), win::kErrorFileNotFound);
}

// A handler that throws ends only its own connection, without an answer.
using DispatcherTable = PipeServerFixture;

TEST_F(DispatcherTable, ThrowingHandlerEndsOnlyItsConnection) {
  static const ironbark::CommandTable table = {
      {7, {[](const ironbark::CommandRequest&, ironbark::CommandResponse&) {
             throw std::runtime_error("firmware fell over");
           },
           "throwing"}},
      {8, {[](const ironbark::CommandRequest& request, ironbark::CommandResponse& response) {
             const uint32_t value = request.ArgumentU32(0) + 1;
             ironbark::BuildResponse(response, {{&value, 4}});
           },
           "increment"}},
      {9, {[](const ironbark::CommandRequest&, ironbark::CommandResponse&) {}, "silent"}},
  };
  StartServer(table);
  std::vector<uint8_t> response;
  auto first = Connect();
  ASSERT_EQ(Exchange(*first, Bytes{8, 0, 1, 4, 0, 0, 0, 41, 0, 0, 0}, &response), 0u);
  EXPECT_EQ(response, (Bytes{1, 4, 0, 0, 0, 42, 0, 0, 0}));
  // Code 9 answers nothing and keeps the connection: the next request is still served.
  ASSERT_EQ(SendRaw(*first, Bytes{9, 0, 0}), 0u);
  ASSERT_EQ(Exchange(*first, Bytes{8, 0, 1, 4, 0, 0, 0, 1, 0, 0, 0}, &response), 0u);
  EXPECT_EQ(response, (Bytes{1, 4, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(Exchange(*first, Bytes{7, 0, 0}, &response), win::kErrorBrokenPipe);
  EXPECT_TRUE(WaitForLog("| ironbark::IbClientCommandProcessor::process_pipe | Command 7 failed: firmware fell over\r\n"));

  auto second = Connect();
  ASSERT_EQ(Exchange(*second, Bytes{8, 0, 0}, &response), 0u);
  EXPECT_EQ(response, (Bytes{1, 4, 0, 0, 0, 1, 0, 0, 0}));
}

// Hands out one message in reads of at most `piece` bytes (234 while bytes remain), then 109;
// each write takes all but `short_by` bytes.
class ScriptedPipe final : public platform::PipeHandle {
 public:
  ScriptedPipe(std::vector<uint8_t> message, uint32_t piece, uint32_t pid = 0, uint32_t short_by = 0)
      : message_(std::move(message)), piece_(piece), pid_(pid), short_by_(short_by) {}
  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t* read) override {
    *read = static_cast<uint32_t>(std::min<size_t>({capacity, piece_, message_.size() - at_}));
    if (done_) return win::kErrorBrokenPipe;
    std::copy_n(message_.begin() + at_, *read, buffer);
    done_ = (at_ += *read) == message_.size();
    return done_ ? 0 : win::kErrorMoreData;
  }
  uint32_t WaitForClient() override { return 0; }
  uint32_t Write(const uint8_t*, uint32_t size, uint32_t* written) override {
    *written = size - short_by_;
    return 0;
  }
  uint32_t SetMessageReadMode() override { return 0; }
  void Close() override {}
  uint32_t ClientProcessId() override { return pid_; }

 private:
  const std::vector<uint8_t> message_;
  const uint32_t piece_, pid_, short_by_;
  size_t at_ = 0;
  bool done_ = false;
};

bool g_from_this_process = false;

// A client the pipe cannot identify (pid 0) may be this process; a response written in part is
// an error, on either end.
TEST_F(DispatcherTable, UnidentifiedClientsAreThisProcessAndShortWritesFail) {
  const ironbark::CommandTable table = {
      {8, {[](const ironbark::CommandRequest&, ironbark::CommandResponse& response) {
             g_from_this_process = ironbark::CurrentConnection()->from_this_process;
             ironbark::BuildResponse(response, {});
           },
           "probe"}}};
  const struct { uint32_t pid, short_by; bool own; const char* line; } rows[] = {
      {0, 0, true, "Response namedpipe error: 0\r\n"},
      {0xFFFFFFFF, 1, false, "Response namedpipe error: 29\r\n"}};
  for (const auto& row : rows) {
    NamedPipeServer pipe(kCommandPipeName, 2, 1, 512, 512);
    pipe.handle = std::make_unique<ScriptedPipe>(Bytes{8, 0, 0}, 512, row.pid, row.short_by);
    ironbark::ServeCommands(pipe, table);
    EXPECT_EQ(g_from_this_process, row.own) << row.pid;
    EXPECT_TRUE(ReadLog().ends_with(row.line)) << ReadLog();
  }
  NamedPipeClient client(kCommandPipeName);
  client.handle = std::make_unique<ScriptedPipe>(Bytes{}, 512, 0, 1);
  EXPECT_EQ(client.WritePipeMessage(0, {}), win::kErrorWriteFault);
}

TEST(ReceivePipeMessage, AssemblesEveryPieceAndRefusesEmptyMessagesAndThoseOverTheCap) {
  constexpr size_t kCap = platform::kMaxPipeMessageBytes;
  const struct { size_t length; uint32_t piece, error; } rows[] = {
      {700, 100, 0}, {700, 512, 0}, {100000, 4096, 0}, {kCap, 1 << 20, 0},
      {0, 512, win::kErrorBrokenPipe}, {kCap + 1, 1 << 20, win::kErrorInvalidData},
      {kCap + 1000, 333, win::kErrorInvalidData}};
  for (const auto& row : rows) {
    std::vector<uint8_t> message(row.length);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i);
    ScriptedPipe pipe(std::move(message), row.piece);
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    ASSERT_EQ(ReceivePipeMessage(pipe, buffer, &size), row.error) << row.length;
    EXPECT_LE(buffer.size(), size_t{platform::kMaxPipeMessageBytes});
    if (row.error != 0) continue;
    ASSERT_EQ(size, row.length);
    for (size_t i = 0; i < size; i += 997) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i)) << i;
  }
}

// No look at all once no server is left to acknowledge.
TEST(StopProtocol, WaitLooksEveryFiftyMillisecondsForAtMostTenSeconds) {
  const struct { const char* name; bool server_running; int acknowledged_at_look; bool stopped;
                 size_t looks; } cases[] = {{"acknowledged", true, 3, true, 3},
      {"never acknowledged", true, 0, false, 200}, {"server already ended", false, 0, true, 0}};
  for (const auto& c : cases) {
    std::vector<std::chrono::milliseconds> sleeps;
    testsupport::ManualClock clock([&](std::chrono::milliseconds ms) {
      sleeps.push_back(ms);
      if (static_cast<int>(sleeps.size()) == c.acknowledged_at_look) g_PipeServerStop.store(false);
    });
    platform::Services services{.clock = &clock};
    platform::InstallServices(&services);
    g_PipeServerStop.store(true);
    g_PipeServerRunning.store(c.server_running);
    EXPECT_EQ(WaitPipeServerStopped(), c.stopped) << c.name;
    EXPECT_EQ(sleeps, decltype(sleeps)(c.looks, std::chrono::milliseconds(50))) << c.name;
  }
  g_PipeServerStop.store(false);
  g_PipeServerRunning.store(false);
  platform::InstallServices(nullptr);
}

}  // namespace
