// The registry commands' forward on ERROR_ACCESS_DENIED over real sockets: what is sent, what
// comes back, and the bound that keeps a forwarded request from being forwarded again. Also
// the connection context the dispatcher gives the handlers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/command_processor.h"
#include "pipe/connection_context.h"
#include "pipe/named_pipe.h"
#include "pipe/protocol.h"
#include "platform/posix/sqlite_registry.h"
#include "support/pipe_fixture.h"
#include "support/temp_dir.h"
#include "survey/registry_commands.h"

namespace {

using ironbark::CommandHandler;
using ironbark::IbClientCommandProcessor;
using Bytes = std::vector<uint8_t>;
using win::RegRoot;

Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes W(const std::string& s) { return text::ToWireText(s); }

size_t CountOf(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1))
    ++count;
  return count;
}

constexpr const char* kLocked = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked";

class RegistryForward : public testsupport::PipeServerFixture {
 protected:
  void SetUp() override {
    PipeServerFixture::SetUp();
    services_.registry = &registry_;  // the installed services are read through this object
    ASSERT_EQ(registry_.SetKeyValue(RegRoot::kLocalMachine, "SOFTWARE\\Locked", "Fixed",
                                    win::kRegDword, U32(1).data(), 4),
              0u);
    ASSERT_EQ(registry_.SetKeyProtected(RegRoot::kLocalMachine, "SOFTWARE\\Locked", true), 0u);
  }

  // Calls the handler on this thread, as a client's request would be handled (no connection
  // context here, so the handler may forward).
  std::vector<Bytes> Call(CommandHandler handler, const std::vector<Bytes>& arguments) {
    const Bytes message = pipeproto::EncodeRequest(1, arguments);
    std::optional<pipeproto::CommandRequest> request;
    EXPECT_EQ(pipeproto::ParseRequest(message.data(), static_cast<uint32_t>(message.size()),
                                      &request),
              pipeproto::ParseStatus::kOk);
    pipeproto::CommandResponse response;
    handler(*request, response);
    std::vector<Bytes> items;
    EXPECT_TRUE(pipeproto::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
    return items;
  }
  uint32_t Code(CommandHandler handler, const std::vector<Bytes>& arguments) {
    const auto items = Call(handler, arguments);
    return !items.empty() && items[0].size() == 4 ? pipeproto::LoadU32(items[0].data())
                                                  : 0xDEADBEEF;
  }

  // Waits until the log holds `count` copies of `text` (the server logs after it answered).
  bool WaitForCount(const std::string& text, size_t count) const {
    for (int i = 0; i < 300; ++i) {
      if (CountOf(ReadLog(), text) >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  testsupport::TempDir registry_dir_;
  platform::posix::SqliteRegistry registry_{registry_dir_.path() + "/registry.db"};
};

TEST_F(RegistryForward, RefusedCommandsAreForwardedOnceAndTheForwardAnswersFive) {
  StartServer();
  const Bytes locked = W(kLocked);
  const std::vector<std::pair<const char*, CommandHandler>> commands = {
      {"reg_create_key", &IbClientCommandProcessor::reg_create_key},
      {"reg_delete_key", &IbClientCommandProcessor::reg_delete_key},
      {"reg_create_value", &IbClientCommandProcessor::reg_create_value},
      {"reg_delete_value", &IbClientCommandProcessor::reg_delete_value},
      {"reg_set_value", &IbClientCommandProcessor::reg_set_value},
      {"reg_get_value", &IbClientCommandProcessor::reg_get_value},
  };
  const std::vector<Bytes> arguments[] = {
      {W(std::string(kLocked) + "\\Sub")},
      {locked},
      {locked, W("New"), U32(win::kRegDword), U32(2)},
      {locked, W("Fixed")},
      {locked, W("Fixed"), U32(win::kRegDword), U32(3)},
      {locked, W("Missing"), U32(win::kRrfRtRegDword), U32(4), U32(5)},
  };
  size_t forwards = 0;
  for (size_t i = 0; i < commands.size(); ++i) {
    const auto items = Call(commands[i].second, arguments[i]);
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items[0], U32(5)) << commands[i].first;
    if (i == 5) {
      ASSERT_EQ(items.size(), 2u);
      EXPECT_TRUE(items[1].empty());
    }
    // The handler's own line and that of the one forwarded request; the forward's connection
    // answered once.
    ++forwards;
    ASSERT_TRUE(WaitForCount("process_pipe | Response namedpipe error: 0\r\n", forwards));
    const std::string log = ReadLog();
    EXPECT_EQ(CountOf(log, std::string("::") + commands[i].first +
                               " | Rsponse error code: 0x5\r\n"),
              2u)
        << commands[i].first;
  }
  EXPECT_EQ(CountOf(ReadLog(), "Response namedpipe error"), commands.size());

  // Nothing changed under the protected key.
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(registry_.EnumValues(RegRoot::kLocalMachine, "SOFTWARE\\Locked", &values), 0u);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].data, U32(1));
  EXPECT_EQ(registry_.OpenKey(RegRoot::kLocalMachine, "SOFTWARE\\Locked\\Sub", win::kKeyRead), 2u);

  // Reading a protected key works and forwards nothing.
  const auto read = Call(&IbClientCommandProcessor::reg_get_value,
                         {locked, W("Fixed"), U32(win::kRrfRtRegDword), U32(4), U32(9)});
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0], U32(0));
  EXPECT_EQ(read[1], U32(1));
  EXPECT_EQ(CountOf(ReadLog(), "reg_get_value | Rsponse error code: 0x0\r\n"), 1u);
}

TEST_F(RegistryForward, AConnectionFromThisProcessIsTakenForAForwardAndNotPassedOn) {
  StartServer();
  // The test process is the server's own process: its connection looks exactly like a
  // forward, so the refused request is answered 5 there and then.
  auto client = Connect();
  Bytes response;
  ASSERT_EQ(Exchange(*client,
                     pipeproto::EncodeRequest(3, std::vector<Bytes>{W(kLocked), W("New"),
                                                                     U32(4), U32(2)}),
                     &response),
            0u);
  EXPECT_EQ(response, (Bytes{1, 4, 0, 0, 0, 5, 0, 0, 0}));
  ASSERT_TRUE(WaitForLog("Response namedpipe error: 0\r\n"));
  const std::string log = ReadLog();
  EXPECT_EQ(CountOf(log, "reg_create_value | Rsponse error code: 0x5\r\n"), 1u) << log;
  EXPECT_EQ(CountOf(log, "Response namedpipe error"), 1u);
}

TEST_F(RegistryForward, WithoutAPipeTheForwardAnswersTheWriteError) {
  // No server: the connection fails, so the write has no handle.
  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_create_key, {W(kLocked)}),
            win::kErrorInvalidHandle);
  const auto items = Call(&IbClientCommandProcessor::reg_get_value,
                          {W(kLocked), W("Missing"), U32(win::kRrfRtRegDword), U32(4), U32(5)});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], U32(win::kErrorInvalidHandle));
  EXPECT_TRUE(items[1].empty());
}

// A stand-in for the command pipe that records what reaches it and answers from a table.
std::mutex g_recorded_mutex;
std::vector<Bytes> g_recorded;

void Record(const pipeproto::CommandRequest& request) {
  std::lock_guard<std::mutex> lock(g_recorded_mutex);
  g_recorded.emplace_back(request.bytes(), request.bytes() + request.size());
}

class FakeCommandPipe {
 public:
  explicit FakeCommandPipe(const ironbark::CommandTable& table) : table_(table) {
    {
      std::lock_guard<std::mutex> lock(g_recorded_mutex);
      g_recorded.clear();
    }
    auto first = std::make_unique<NamedPipeServer>(kCommandPipeName, 2, 1, 512, 512);
    thread_ = std::thread([this, instance = std::move(first)]() mutable {
      for (;;) {
        if (instance->handle->WaitForClient() != 0 || stop_.load()) return;
        auto next = std::make_unique<NamedPipeServer>(kCommandPipeName, 2, 1, 512, 512);
        ironbark::ServeCommands(*instance, table_);
        instance = std::move(next);
      }
    });
  }
  ~FakeCommandPipe() {
    stop_.store(true);
    NamedPipeClient wake(kCommandPipeName);
    wake.ConnectPipe(1000);
    thread_.join();
  }
  static std::vector<Bytes> Recorded() {
    std::lock_guard<std::mutex> lock(g_recorded_mutex);
    return g_recorded;
  }

 private:
  const ironbark::CommandTable& table_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

Bytes Pattern(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 13 + 1);
  return out;
}

TEST_F(RegistryForward, TheForwardSendsTheCommandAndKeepsTheAnswerWithinTheBuffer) {
  static const ironbark::CommandTable table = {
      // A good answer, a code of its own, and two broken answers.
      {3, [](const pipeproto::CommandRequest& r, pipeproto::CommandResponse& response) {
         Record(r);
         const uint32_t ok = 0;
         pipeproto::BuildResponse(response, {{&ok, 4}});
       }},
      {4, [](const pipeproto::CommandRequest& r, pipeproto::CommandResponse& response) {
         Record(r);
         const uint32_t code = 1234;
         pipeproto::BuildResponse(response, {{&code, 4}});
       }},
      {1, [](const pipeproto::CommandRequest& r, pipeproto::CommandResponse& response) {
         Record(r);
         const uint16_t half = 0;
         pipeproto::BuildResponse(response, {{&half, 2}});
       }},
      {6, [](const pipeproto::CommandRequest& r, pipeproto::CommandResponse& response) {
         Record(r);
         const uint32_t ok = 0;
         static const Bytes data = Pattern(600);
         pipeproto::BuildResponse(response, {{&ok, 4}, {data.data(), 600}});
       }},
      {2, [](const pipeproto::CommandRequest& r, pipeproto::CommandResponse& response) {
         Record(r);
         const uint32_t missing = 0;
         pipeproto::BuildResponse(response, {{&missing, 0}, {&missing, 4}});
       }},
  };
  FakeCommandPipe fake(table);
  ASSERT_EQ(pipes_->WaitForInstance(PipePath(kCommandPipeName), 5000), 0u);

  // The type went out as 8 bytes (counting as 0) and comes through as the 4-byte 0; the
  // bytes after the path's NUL stay behind.
  Bytes path = W(kLocked);
  path.insert(path.end(), {'x', 0});
  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_create_value,
                 {path, W("New"), Bytes(8, 4), Bytes{9, 8, 7}}),
            0u);
  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_delete_value, {W(kLocked), W("Fixed")}), 1234u);
  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_create_key, {W(kLocked)}),
            win::kErrorInvalidData);
  // The code is the 32-bit word at byte 5 of the answer, whatever the answer's layout (here
  // the second item's length).
  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_delete_key, {W(kLocked)}), 4u);

  auto items = Call(&IbClientCommandProcessor::reg_get_value,
                    {W(kLocked), W("Missing"), U32(win::kRrfRtRegDword), U32(16), U32(5)});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0], U32(0));
  const Bytes pattern = Pattern(600);
  EXPECT_EQ(items[1], Bytes(pattern.begin(), pattern.begin() + 16))
      << "no more than the reserved buffer";
  items = Call(&IbClientCommandProcessor::reg_get_value,
               {W(kLocked), W("Missing"), U32(win::kRrfRtRegDword), U32(4096), U32(5)});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[1], Pattern(600));

  const std::vector<Bytes> recorded = FakeCommandPipe::Recorded();
  ASSERT_EQ(recorded.size(), 6u);
  EXPECT_EQ(recorded[0], pipeproto::EncodeRequest(3, std::vector<Bytes>{W(kLocked), W("New"),
                                                                        U32(0), Bytes{9, 8, 7}}));
  EXPECT_EQ(recorded[1], pipeproto::EncodeRequest(4, std::vector<Bytes>{W(kLocked), W("Fixed")}));
  EXPECT_EQ(recorded[2], pipeproto::EncodeRequest(1, std::vector<Bytes>{W(kLocked)}));
  EXPECT_EQ(recorded[3], pipeproto::EncodeRequest(2, std::vector<Bytes>{W(kLocked)}));
  EXPECT_EQ(recorded[4],
            pipeproto::EncodeRequest(6, std::vector<Bytes>{W(kLocked), W("Missing"),
                                                           U32(win::kRrfRtRegDword), U32(16),
                                                           U32(5)}));
}

TEST_F(RegistryForward, TextsBeyond255UnitsAreNotForwarded) {
  static const ironbark::CommandTable table = {
      {3, [](const pipeproto::CommandRequest& r, pipeproto::CommandResponse& response) {
         Record(r);
         const uint32_t ok = 0;
         pipeproto::BuildResponse(response, {{&ok, 4}});
       }},
  };
  FakeCommandPipe fake(table);
  ASSERT_EQ(pipes_->WaitForInstance(PipePath(kCommandPipeName), 5000), 0u);

  // kLocked is 34 units; with a backslash and a subkey name the path reaches 255 units.
  const std::string at_limit = std::string(kLocked) + "\\" + std::string(255 - 35, 'k');
  const std::string beyond = at_limit + "k";
  ASSERT_EQ(text::Utf8ToUtf16(at_limit).size(), 255u);
  const std::string long_name(256, 'n');

  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_create_value,
                 {W(at_limit), W(std::string(255, 'n')), U32(4), U32(1)}),
            0u);
  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_create_value, {W(beyond), W("v"), U32(4), U32(1)}),
            5u);
  EXPECT_EQ(Code(&IbClientCommandProcessor::reg_create_value,
                 {W(kLocked), W(long_name), U32(4), U32(1)}),
            5u);
  const std::vector<Bytes> recorded = FakeCommandPipe::Recorded();
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0], pipeproto::EncodeRequest(3, std::vector<Bytes>{
                                                         W(at_limit), W(std::string(255, 'n')),
                                                         U32(4), U32(1)}));
}

TEST_F(RegistryForward, TheDispatcherTellsHandlersWhoIsConnected) {
  struct Seen {
    bool present;
    uint32_t pid;
    bool from_this_process;
  };
  static std::mutex seen_mutex;
  static std::vector<Seen> seen;
  seen.clear();
  static const ironbark::CommandTable table = {
      {9, [](const pipeproto::CommandRequest&, pipeproto::CommandResponse& response) {
         const ironbark::ConnectionContext* c = ironbark::CurrentConnection();
         {
           std::lock_guard<std::mutex> lock(seen_mutex);
           seen.push_back({c != nullptr, c ? c->client_process_id : 0,
                           c ? c->from_this_process : false});
         }
         pipeproto::BuildResponse(response, {});
       }},
  };
  EXPECT_EQ(ironbark::CurrentConnection(), nullptr);
  EXPECT_EQ(pipes_->CurrentProcessId(), static_cast<uint32_t>(::getpid()));

  NamedPipeServer instance(kCommandPipeName, 2, 1, 512, 512);
  EXPECT_EQ(instance.handle->ClientProcessId(), 0u) << "no client yet";
  std::atomic<bool> cleared{false};
  std::thread server([&] {
    if (instance.handle->WaitForClient() != 0) return;
    ironbark::ServeCommands(instance, table);
    cleared = ironbark::CurrentConnection() == nullptr;
  });
  auto client = Connect();
  EXPECT_EQ(client->handle->ClientProcessId(), 0u) << "a client end reports no client";
  Bytes response;
  ASSERT_EQ(Exchange(*client, Bytes{9, 0, 0}, &response), 0u);
  ASSERT_EQ(Exchange(*client, Bytes{9, 0, 0}, &response), 0u);
  EXPECT_EQ(instance.handle->ClientProcessId(), static_cast<uint32_t>(::getpid()));
  client->Close();
  server.join();
  EXPECT_TRUE(cleared.load()) << "the context ends with its connection";
  ASSERT_EQ(seen.size(), 2u);
  for (const Seen& s : seen) {
    EXPECT_TRUE(s.present);
    EXPECT_EQ(s.pid, static_cast<uint32_t>(::getpid()));
    EXPECT_TRUE(s.from_this_process);
  }
  instance.handle->Close();
  EXPECT_EQ(instance.handle->ClientProcessId(), 0u);
}

TEST(ConnectionContext, ScopesNestAndRestore) {
  ironbark::ConnectionContext outer{100, false};
  ironbark::ConnectionContext inner{200, true};
  {
    ironbark::ScopedConnectionContext a(outer);
    EXPECT_EQ(ironbark::CurrentConnection(), &outer);
    {
      ironbark::ScopedConnectionContext b(inner);
      EXPECT_EQ(ironbark::CurrentConnection()->client_process_id, 200u);
      // Another thread sees none.
      std::thread([] { EXPECT_EQ(ironbark::CurrentConnection(), nullptr); }).join();
    }
    EXPECT_EQ(ironbark::CurrentConnection(), &outer);
  }
  EXPECT_EQ(ironbark::CurrentConnection(), nullptr);
}

}  // namespace
