// The registry commands (codes 1-6) called directly, against a real registry database and a
// real log file; their forward on ERROR_ACCESS_DENIED runs over pipes in registry_forward_test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/little_endian.h"
#include "base/win_codes.h"
#include "support/handler_harness.h"

namespace {

using testsupport::Le, testsupport::U32;
using Bytes = std::vector<uint8_t>;
using Items = std::vector<Bytes>;
using win::RegRoot;
using Typed = std::pair<uint32_t, Bytes>;
using testsupport::kMissing;

Bytes Wire(const std::string& s) { return testsupport::Wire(s); }

using Command = uint16_t;
enum : Command { kCreateKey = 1, kDeleteKey, kCreateValue, kDeleteValue, kSetValue, kGetValue };
constexpr const char* kNames[] = {nullptr,           "reg_create_key",   "reg_delete_key",
                                  "reg_create_value", "reg_delete_value", "reg_set_value",
                                  "reg_get_value"};

// Every command writes exactly one log line, its answer's code; each test's log is compared
// with those of the answers it got when it ends.
class RegistryCommandsTest : public testsupport::HandlerTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(TakeLog(), expected_log_);
    HandlerTest::TearDown();
  }

  Items Run(Command command, const Items& arguments) {
    auto items = testsupport::CallCommand(command, arguments);
    if (!items.empty() && items[0].size() == 4)
      expected_log_.push_back(testsupport::ProcessorLine(kNames[command]) + "Rsponse error code: 0x" +
                              std::to_string(le::LoadU32(items[0].data())));
    return items;
  }
  // The result code of a command answering one 4-byte item.
  uint32_t Code(Command command, const std::vector<Bytes>& arguments) {
    const auto items = Run(command, arguments);
    EXPECT_EQ(items.size(), 1u);
    return items.size() == 1 && items[0].size() == 4 ? le::LoadU32(items[0].data()) : 0xDEADBEEF;
  }

  // reg_get_value's answer: the code, then the data.
  Items Get(const std::string& key, const std::string& name, const Bytes& flags,
            const Bytes& size, const Bytes& default_data) {
    return Run(kGetValue, {Wire(key), Wire(name), flags, size, default_data});
  }

  bool KeyExists(RegRoot root, const std::string& key) {
    return registry_.OpenKey(root, key, win::kKeyRead) == 0;
  }

  std::vector<std::string> expected_log_;
};

TEST_F(RegistryCommandsTest, RootNamesAreFullNamesInAnyCaseAndNothingElseAndMayStandAlone) {
  const std::pair<const char*, RegRoot> roots[] = {{"hkey_local_machine", RegRoot::kLocalMachine},
                                                   {"HKEY_CURRENT_USER", RegRoot::kCurrentUser},
                                                   {"hKeY_uSeRs", RegRoot::kUsers}};
  for (const auto& [name, root] : roots) {
    EXPECT_EQ(Code(kCreateKey, {Wire(std::string(name) + "\\Quellmark\\Sub")}), 0u) << name;
    // Each name reaches its own root only.
    for (const auto& [other_name, other] : roots)
      EXPECT_EQ(KeyExists(other, "QUELLMARK\\sub"), other == root) << name << " " << other_name;
    ASSERT_EQ(registry_.DeleteTree(root, "Quellmark"), 0u);
  }

  // Abbreviations, near misses and an empty root answer 2 and reach no registry at all.
  for (const char* path : {"HKLM\\SOFTWARE\\Quellmark", "HKEY_LOCAL_MACHINE_\\Quellmark",
                           "HKEY_LOCAL\\Quellmark", "\\Quellmark", "", "HKCU"}) {
    EXPECT_EQ(Code(kCreateKey, {Wire(path)}), 2u) << path;
    EXPECT_EQ(Get(path, "v", U32(win::kRrfRtRegDword), U32(4), U32(1)).at(0), U32(2)) << path;
  }
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\Quellmark"));
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "Quellmark"));

  // A root alone addresses the root itself.
  EXPECT_EQ(Code(kCreateValue, {Wire("HKEY_CURRENT_CONFIG"), Wire("Top"), U32(win::kRegDword), U32(9)}), 0u);
  EXPECT_EQ(Stored(RegRoot::kCurrentConfig, "", "Top"), Typed(win::kRegDword, U32(9)));
  // A trailing backslash leaves an empty subkey path as well.
  EXPECT_EQ(Code(kDeleteValue, {Wire("HKEY_CURRENT_CONFIG\\"), Wire("Top")}), 0u);
  EXPECT_EQ(Stored(RegRoot::kCurrentConfig, "", "Top").first, kMissing);
}

TEST_F(RegistryCommandsTest, KeysAndValuesAreCreatedChangedAndDeleted) {
  const std::string key = "HKEY_CURRENT_USER\\Software\\Quellmark";
  const auto stored = [&](const char* name) {
    return Stored(RegRoot::kCurrentUser, "Software\\Quellmark", name);
  };
  // reg_set_value only changes what exists: a missing value answers 2, creating not even its key.
  EXPECT_EQ(Code(kSetValue, {Wire(key), Wire("Mode"), U32(win::kRegDword), U32(3)}), 2u);
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Software"));

  // reg_create_value creates the whole path and the value, with exactly the bytes given.
  EXPECT_EQ(Code(kCreateValue, {Wire(key + "\\Deep"), Wire("Mode"), U32(win::kRegDword), U32(3)}), 0u);
  EXPECT_EQ(Code(kCreateValue, {Wire(key), Wire("Mode"), U32(win::kRegDword), U32(3)}), 0u);
  EXPECT_EQ(stored("Mode"), Typed(win::kRegDword, U32(3)));

  // Now reg_set_value overwrites it, type included; string data carry their own NUL.
  EXPECT_EQ(Code(kSetValue, {Wire(key), Wire("MODE"), U32(win::kRegSz), Wire("turbo")}), 0u);
  EXPECT_EQ(stored("Mode"), Typed(win::kRegSz, Wire("turbo")));

  EXPECT_EQ(Code(kCreateKey, {Wire(key), U32(1)}), 0u) << "an existing key opens; extras ignored";
  EXPECT_EQ(Code(kDeleteValue, {Wire(key), Wire("mode")}), 0u);
  EXPECT_EQ(Code(kDeleteValue, {Wire(key), Wire("mode")}), 2u);

  // reg_delete_key takes the subkeys and values with it.
  EXPECT_EQ(Code(kDeleteKey, {Wire(key)}), 0u);
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Software\\Quellmark"));
  EXPECT_TRUE(KeyExists(RegRoot::kCurrentUser, "Software"));
  EXPECT_EQ(Code(kDeleteKey, {Wire(key)}), 2u);

  // A registry error other than 5 is passed on (an empty path component: 161, logged "0x161").
  EXPECT_EQ(Code(kCreateKey, {Wire("HKEY_CURRENT_USER\\a\\\\b")}), win::kErrorBadPathname);
}

TEST_F(RegistryCommandsTest, GetValueWritesTheDefaultOnlyForARestrictedReadOfAMissingValue) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Calvane";
  const std::string sub = "SOFTWARE\\OEM\\Calvane";

  // RRF_RT_ANY: the read's error, nothing written, not even the key.
  EXPECT_EQ(Get(key, "Lamp", U32(win::kRrfRtAny), U32(4), U32(7)).at(0), U32(2));
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\OEM"));

  for (const auto& [name, type, data] : {std::tuple{"Mixed", win::kRegSz, Wire("x")},
                                         std::tuple{"Wide", win::kRegDword, Bytes(8, 1)}}) {
    ASSERT_EQ(registry_.SetKeyValue(RegRoot::kLocalMachine, sub, name, type, data.data(),
                                    uint32_t(data.size())), 0u);
  }
  // The request (flags, size, default), the answer (code, data), what is stored (type, bytes).
  const struct { const char* name; uint32_t flags, size; Bytes default_data; uint32_t code; Bytes data;
                 uint32_t type; Bytes stored; } cases[] = {
      // RRF_RT_REG_DWORD: the default becomes a REG_DWORD and is read back.
      {"Lamp", win::kRrfRtRegDword, 4, U32(7), 0, U32(7), win::kRegDword, U32(7)},
      // Read again: the stored value, not the new default, as long as stored, not as the buffer.
      {"Lamp", win::kRrfRtRegDword, 64, U32(8), 0, U32(7), win::kRegDword, U32(7)},
      {"Name", win::kRrfRtRegSz, 100, Wire("Vexor"), 0, Wire("Vexor"), win::kRegSz, Wire("Vexor")},
      // Any other restriction is itself the type written: RRF_RT_REG_BINARY (8) writes type 8,
      // which that restriction does not admit, so the read back fails with its error.
      {"Blob", win::kRrfRtRegBinary, 16, Bytes{1, 2, 3}, win::kErrorUnsupportedType, {}, 8,
       Bytes{1, 2, 3}},
      // A restricted read of a value of another type fails too: the default replaces it.
      {"Mixed", win::kRrfRtRegDword, 4, U32(0x0304), 0, U32(0x0304), win::kRegDword, U32(0x0304)},
      // So does one of a REG_DWORD that is not 4 bytes long, whatever the buffer.
      {"Wide", win::kRrfRtRegDword, 8, U32(6), 0, U32(6), win::kRegDword, U32(6)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Get(key, c.name, U32(c.flags), U32(c.size), c.default_data),
              (Items{U32(c.code), c.data})) << c.name;
    EXPECT_EQ(Stored(RegRoot::kLocalMachine, sub, c.name), Typed(c.type, c.stored)) << c.name;
  }
}

TEST_F(RegistryCommandsTest, GetValueWithTooSmallABufferLeavesTheValueAlone) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellmark";
  ASSERT_EQ(registry_.SetKeyValue(RegRoot::kLocalMachine, "SOFTWARE\\Quellmark", "Model", win::kRegSz,
                                  Wire("Vexor 17").data(), 18), 0u);
  for (const uint32_t flags : {win::kRrfRtRegSz, win::kRrfRtAny}) {
    for (const uint32_t size : {0u, 1u, 17u}) {
      EXPECT_EQ(Get(key, "Model", U32(flags), U32(size), Wire("default")),
                (Items{U32(win::kErrorMoreData), {}})) << flags << " " << size;
    }
  }
  EXPECT_EQ(Get(key, "Model", U32(win::kRrfRtRegSz), U32(18), {}).at(1), Wire("Vexor 17"));

  // Any SIZE that holds the value reads it, however large: nothing that size is reserved.
  EXPECT_EQ(Get(key, "Model", U32(win::kRrfRtAny), U32(0x1000001), {}).at(1), Wire("Vexor 17"));
  EXPECT_EQ(Get(key, "New", U32(win::kRrfRtRegDword), U32(0xFFFFFFFF), U32(5)).at(1), U32(5));
}

TEST_F(RegistryCommandsTest, RequestsWithMissingOrUnterminatedArgumentsAnswer87) {
  const Bytes key = Wire("HKEY_CURRENT_USER\\Quellmark");
  const Bytes name = Wire("v");
  const std::pair<Command, std::vector<Bytes>> short_requests[] = {
      {kCreateKey, {}}, {kDeleteKey, {}}, {kCreateValue, {key, name, U32(4)}},
      {kDeleteValue, {key}}, {kSetValue, {key, name, U32(4)}}};
  for (const auto& [command, arguments] : short_requests)
    EXPECT_EQ(Code(command, arguments), 87u) << kNames[command];
  // A text without its NUL, as key or as name.
  const Bytes bad = {'H', 0, 'K', 0};
  EXPECT_EQ(Code(kCreateValue, {bad, name, U32(4), U32(1)}), 87u);
  EXPECT_EQ(Code(kDeleteValue, {key, bad}), 87u);
  // reg_get_value needs all five arguments (DEFAULT may be empty, but present).
  const std::vector<Bytes> get = {key, name, U32(win::kRrfRtRegDword), U32(4), U32(1)};
  for (size_t count = 0; count < 5; ++count) {
    const std::vector<Bytes> shorter(get.begin(), get.begin() + count);
    EXPECT_EQ(Run(kGetValue, shorter), (std::vector<Bytes>{U32(87), {}})) << count;
  }
  EXPECT_EQ(Run(kGetValue, {key, bad, U32(win::kRrfRtRegDword), U32(4), U32(1)})[0], U32(87));
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Quellmark")) << "nothing was written";
}

}  // namespace
