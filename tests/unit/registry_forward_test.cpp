// The registry commands' forward on ERROR_ACCESS_DENIED over real sockets: what is sent, what
// comes back, and the bound that keeps a forwarded request from being forwarded again.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/command_processor.h"
#include "pipe/connection_context.h"
#include "pipe/protocol.h"
#include "platform/posix/registry.h"
#include "support/handler_harness.h"
#include "support/pipe_fixture.h"
#include "support/temp_dir.h"

namespace {

using testsupport::CallCommand, testsupport::U32, testsupport::Wire;
using Bytes = std::vector<uint8_t>;
using Items = std::vector<Bytes>;
using win::RegRoot;

constexpr const char* kLocked = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked";
enum : uint16_t { kCreateKey = 1, kDeleteKey, kCreateValue, kDeleteValue, kSetValue, kGetValue };

// reg_get_value's request for a value the locked key lacks, with the client's buffer size.
Items GetMissing(uint32_t size) {
  return {Wire(kLocked), Wire("Missing"), U32(win::kRrfRtRegDword), U32(size), U32(5)};
}

uint32_t Code(uint16_t command, const Items& arguments) {
  const Items items = CallCommand(command, arguments);
  return !items.empty() && items[0].size() == 4 ? le::LoadU32(items[0].data()) : 0xDEADBEEF;
}

// A stand-in for the command pipe: each command of its table records the request and answers
// the items g_answers holds for its code.
std::mutex g_mutex;
Items g_recorded;
std::map<uint16_t, Items> g_answers;

void Answer(const ironbark::CommandRequest& request, ironbark::CommandResponse& response) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_recorded.emplace_back(request.bytes(), request.bytes() + request.size());
  const Items& answer = g_answers[request.code()];
  response.present = true;
  response.bytes = {static_cast<uint8_t>(answer.size())};
  for (const Bytes& item : answer) {
    le::Append(response.bytes, item.size(), 4);
    response.bytes.insert(response.bytes.end(), item.begin(), item.end());
  }
}

Items Recorded() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_recorded;
}

class RegistryForward : public testsupport::PipeServerFixture {
 protected:
  void SetUp() override {
    PipeServerFixture::SetUp();
    services_.registry = &registry_;  // the installed services are read through this object
    ASSERT_EQ(registry_.SetKeyValue(RegRoot::kLocalMachine, "SOFTWARE\\Locked", "Fixed", win::kRegDword,
                                    U32(1).data(), 4), 0u);
    ASSERT_EQ(registry_.SetKeyProtected(RegRoot::kLocalMachine, "SOFTWARE\\Locked", true), 0u);
  }

  // Serves the stand-in for the codes of `answers`.
  void ServeFake(std::map<uint16_t, Items> answers) {
    for (const auto& entry : answers) fake_[entry.first] = {&Answer, "answer"};
    g_answers = std::move(answers);
    g_recorded.clear();
    StartServer(fake_);
  }

  ironbark::CommandTable fake_;
  testsupport::TempDir registry_dir_;
  platform::posix::SqliteRegistry registry_{registry_dir_.path() + "/registry.db"};
};

Bytes Pattern(size_t size) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(i * 13 + 1);
  return out;
}

TEST_F(RegistryForward, OnceThereIsAPipeTheForwardSendsTheCommandAndKeepsTheAnswerWithinTheBuffer) {
  // No server yet: the connection fails, so the write has no handle.
  EXPECT_EQ(Code(kCreateKey, {Wire(kLocked)}), win::kErrorInvalidHandle);
  EXPECT_EQ(CallCommand(kGetValue, GetMissing(4)), (Items{U32(win::kErrorInvalidHandle), {}}));
  // A good answer, a code of its own, two broken answers and a long one.
  ServeFake({{3, {U32(0)}}, {4, {U32(1234)}}, {1, {Bytes(2, 0)}}, {2, {Bytes{}, U32(0)}}, {5, {U32(0)}},
             {6, {U32(0), Pattern(600)}}});

  // The type went out as 8 bytes (counting as 0) and comes through as the 4-byte 0; the
  // bytes after the path's NUL stay behind.
  Bytes path = Wire(kLocked);
  path.insert(path.end(), {'x', 0});
  EXPECT_EQ(Code(kCreateValue, {path, Wire("New"), Bytes(8, 4), Bytes{9, 8, 7}}), 0u);
  EXPECT_EQ(Code(kDeleteValue, {Wire(kLocked), Wire("Fixed")}), 1234u);
  EXPECT_EQ(Code(kCreateKey, {Wire(kLocked)}), win::kErrorInvalidData);
  // The code is the 32-bit word at byte 5 of the answer, whatever the answer's layout (here
  // the second item's length).
  EXPECT_EQ(Code(kDeleteKey, {Wire(kLocked)}), 4u);
  const Items set = {Wire(kLocked), Wire("Fixed"), U32(win::kRegDword), U32(3)};
  EXPECT_EQ(Code(kSetValue, set), 0u);

  const Bytes pattern = Pattern(600);
  const Items get = GetMissing(599);
  EXPECT_EQ(CallCommand(kGetValue, get), (Items{U32(0), Bytes(pattern.begin(), pattern.end() - 1)}))
      << "no more than the reserved buffer";
  EXPECT_EQ(CallCommand(kGetValue, GetMissing(4096)), (Items{U32(0), pattern}));

  const Items recorded = Recorded();
  ASSERT_EQ(recorded.size(), 7u);
  const Items sent = {
      ironbark::EncodeRequest(3, Items{Wire(kLocked), Wire("New"), U32(0), Bytes{9, 8, 7}}),
      ironbark::EncodeRequest(4, Items{Wire(kLocked), Wire("Fixed")}),
      ironbark::EncodeRequest(1, Items{Wire(kLocked)}),
      ironbark::EncodeRequest(2, Items{Wire(kLocked)}),
      ironbark::EncodeRequest(5, set), ironbark::EncodeRequest(6, get)};
  EXPECT_EQ(Items(recorded.begin(), recorded.end() - 1), sent);
}

TEST_F(RegistryForward, TextsBeyond255UnitsAreNotForwarded) {
  ServeFake({{3, {U32(0)}}});

  // kLocked is 34 units; with a backslash and a subkey name the path reaches 255 units.
  const std::string at_limit = std::string(kLocked) + "\\" + std::string(255 - 35, 'k');
  ASSERT_EQ(text::Utf8ToUtf16(at_limit).size(), 255u);
  const Items forwarded = {Wire(at_limit), Wire(std::string(255, 'n')), U32(4), U32(1)};
  EXPECT_EQ(Code(kCreateValue, forwarded), 0u);
  EXPECT_EQ(Code(kCreateValue, {Wire(at_limit + "k"), Wire("v"), U32(4), U32(1)}), 5u);
  EXPECT_EQ(Code(kCreateValue, {Wire(kLocked), Wire(std::string(256, 'n')), U32(4), U32(1)}), 5u);
  EXPECT_EQ(Recorded(), Items{ironbark::EncodeRequest(3, forwarded)});
}

TEST_F(RegistryForward, OnlyAnIdentifiedClientOfAnotherProcessHasItsRequestPassedOn) {
  ServeFake({{3, {U32(0)}}});
  const uint32_t self = pipes_->CurrentProcessId();
  const struct { std::optional<ironbark::ConnectionContext> connection; uint32_t code; } rows[] = {
      {std::nullopt, 0},      // a direct call counts as a client's
      {{{self + 1, false}}, 0},
      {{{0, true}}, 5},       // client unknown: it may be our own forward
      {{{self, true}}, 5},
  };
  size_t forwarded = 0;
  for (const auto& row : rows) {
    std::optional<ironbark::ScopedConnectionContext> scope;
    if (row.connection) scope.emplace(*row.connection);
    EXPECT_EQ(Code(kCreateValue, {Wire(kLocked), Wire("New"), U32(4), U32(1)}), row.code)
        << (row.connection ? row.connection->client_process_id : 1234567u);
    forwarded += row.code == 0;
    EXPECT_EQ(Recorded().size(), forwarded);
  }
}

}  // namespace
