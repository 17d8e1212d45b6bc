// The registry commands' forward on ERROR_ACCESS_DENIED over real sockets: what is sent, what
// comes back, and the bound that keeps a forwarded request from being forwarded again.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "base/little_endian.h"
#include "base/registry_roots.h"
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
      {{{self, true}}, 5},    // our own forward (or a client unknown, as the dispatcher counts it)
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

// The whole registry: each key's path (root name, then its subkeys) with its values.
using Snapshot = std::map<std::string, std::vector<std::tuple<std::string, uint32_t, Bytes>>>;

void Walk(platform::Registry& reg, RegRoot root, const std::string& subkey, const std::string& path,
          Snapshot* out) {
  std::vector<platform::RegValueInfo> values;
  reg.EnumValues(root, subkey, &values);
  auto& entry = (*out)[path];
  for (auto& v : values) entry.emplace_back(v.name, v.type, v.data);
  std::vector<std::string> names;
  reg.EnumSubkeys(root, subkey, &names);
  for (const auto& n : names) Walk(reg, root, subkey.empty() ? n : subkey + "\\" + n, path + "\\" + n, out);
}

Snapshot Take(platform::Registry& reg) {
  Snapshot out;
  for (const auto& r : win::kRegRootNames) Walk(reg, r.root, "", r.name, &out);
  return out;
}

// The non-empty components of a path, upper-cased.
std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; start <= path.size(); start = end + 1) {
    end = std::min(path.find('\\', start), path.size());
    if (end > start) parts.push_back(text::AsciiUpper(path.substr(start, end - start)));
  }
  return parts;
}

// Whether `key` lies on the named key's line: the key itself, a parent a create makes, or a
// subkey a delete removes. Nothing is on the line of an empty name.
bool OnLine(const std::string& key, const std::string& named) {
  const auto a = Parts(key), b = Parts(named);
  if (b.empty()) return false;
  const size_t n = std::min(a.size(), b.size());
  return std::equal(a.begin(), a.begin() + n, b.begin());
}

// Texts a client may send: raw UTF-16LE units, with or without their NUL.
Bytes Units(std::initializer_list<uint16_t> units) {
  Bytes out;
  for (uint16_t u : units) le::Append(out, u, 2);
  return out;
}
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Hostile requests through the real handlers, on an open key and on the protected one, whose
// requests take the forward through the real pipe server to the same handlers: each is
// answered with a code, and the registry changes at most on the named key's line.
TEST_F(RegistryForward, HostileRequestsAreAnsweredAndTouchNoKeyButTheNamedOne) {
  StartServer();
  // Before each request: neighbours on every side of the keys it names, and the locked key.
  const auto seed = [&] {
    const Bytes keep = Wire("keep");
    registry_.SetKeyProtected(RegRoot::kLocalMachine, "SOFTWARE\\Locked", false);
    for (const auto& r : win::kRegRootNames)
      for (const char* key : {"SOFTWARE\\Open", "SYSTEM\\Setup", "Other", "SOFTWARE\\Locked"})
        ASSERT_EQ(registry_.SetKeyValue(r.root, key, "Keep", win::kRegSz, keep.data(), 10), 0u);
    ASSERT_EQ(registry_.SetKeyProtected(RegRoot::kLocalMachine, "SOFTWARE\\Locked", true), 0u);
  };

  const Bytes surrogate = Units({'H', 0xD800, 'x', 0});
  const Bytes nul = Units({0});
  std::vector<Bytes> keys;
  for (const char* base : {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Open", kLocked}) {
    const std::string b = base;
    for (const std::string& tail : std::vector<std::string>{
             "\\..\\..\\SYSTEM\\Setup", "\\..", "\\.\\x", "\\\\\\y\\", "\\" + std::string(300, 'k'),
             "\\" + std::string(70000, 'k'), "/../x", ""})
      keys.push_back(Wire(b + tail));
    const Bytes wire = Wire(b);
    keys.push_back(Join(Bytes(wire.begin(), wire.end() - 2), Join(Units({'\\', 'a', 0}), Wire("\\SYSTEM"))));
    keys.push_back(Join(Bytes(wire.begin(), wire.end() - 2), Join(Units({'\\'}), surrogate)));
    keys.push_back(Bytes(wire.begin(), wire.end() - 2));  // no NUL
  }
  for (const auto& r : win::kRegRootNames) {
    keys.push_back(Wire(std::string(r.name) + "\\Hostile"));
    keys.push_back(Wire(r.name));
  }
  for (const char* other : {"HKLM\\SOFTWARE\\Open", "HKEY_PERFORMANCE_DATA\\x", "..\\HKEY_CURRENT_USER\\Other", ""})
    keys.push_back(Wire(other));

  const std::vector<Bytes> names = {Wire("Keep"), Wire("v"), Wire(""), nul, surrogate,
                                    Wire(std::string(300, 'n')), Wire("..\\..\\Keep")};
  std::vector<Items> requests;  // code first
  for (const Bytes& key : keys)
    for (uint16_t code = kCreateKey; code <= kGetValue; ++code)
      requests.push_back({U32(code), key, names[code % names.size()], U32(win::kRegSz), Wire("x"),
                          U32(0xFFFF), U32(64), U32(5)});
  for (const Bytes& name : names)
    for (uint32_t type : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 0xFFFFFFFFu})
      for (size_t size : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{8}, size_t{65536}})
        for (const char* key : {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Open", kLocked})
          requests.push_back({U32(type % 2 ? kSetValue : kCreateValue), Wire(key), name, U32(type),
                              Bytes(size, 0x5A)});

  for (const Items& row : requests) {
    const uint16_t code = static_cast<uint16_t>(le::LoadU32(row[0].data()));
    Items arguments(row.begin() + 1, row.end());
    if (code == kGetValue) arguments.erase(arguments.begin() + 2, arguments.begin() + 4);
    else arguments.resize(code == kCreateValue || code == kSetValue ? 4 : code == kDeleteValue ? 2 : 1);
    seed();
    const Snapshot before = Take(registry_);
    const Items answer = CallCommand(code, arguments);
    const Snapshot after = Take(registry_);
    bool terminated = false;
    const std::string named = text::FromWireText(arguments[0].data(), arguments[0].size(), &terminated);
    const std::string where = std::to_string(code) + " " + named.substr(0, 80);
    ASSERT_EQ(answer.size(), code == kGetValue ? 2u : 1u) << where;
    ASSERT_EQ(answer[0].size(), 4u) << where;
    for (const auto* map : {&before, &after})
      for (const auto& [key, values] : *map) {
        const auto* other = map == &before ? &after : &before;
        const auto found = other->find(key);
        if (found == other->end() || found->second != values) {
          EXPECT_TRUE(terminated && OnLine(key, named)) << where << ": changed " << key.substr(0, 80);
        }
      }
  }
}

}  // namespace
