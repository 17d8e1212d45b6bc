// The registry commands (codes 1-6) called directly, against a real registry database and a
// real log file. The forward on ERROR_ACCESS_DENIED is covered over real pipes in
// registry_forward_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "log/log_file.h"
#include "pipe/command_processor.h"
#include "pipe/protocol.h"
#include "platform/posix/file_system.h"
#include "platform/posix/sqlite_registry.h"
#include "platform/services.h"
#include "support/temp_dir.h"
#include "survey/registry_commands.h"

namespace {

using ironbark::CommandHandler;
using ironbark::IbClientCommandProcessor;
using Bytes = std::vector<uint8_t>;
using win::RegRoot;

constexpr const char* kLogPath = "C:\\Log\\registry.log";
constexpr const char* kPrefix = "[INFO] ironbark::IbClientCommandProcessor::";

Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes U64(uint64_t v) {
  Bytes out(8);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
  return out;
}
Bytes W(const std::string& s) { return text::ToWireText(s); }

constexpr auto kCreateKey = &IbClientCommandProcessor::reg_create_key;
constexpr auto kDeleteKey = &IbClientCommandProcessor::reg_delete_key;
constexpr auto kCreateValue = &IbClientCommandProcessor::reg_create_value;
constexpr auto kDeleteValue = &IbClientCommandProcessor::reg_delete_value;
constexpr auto kSetValue = &IbClientCommandProcessor::reg_set_value;
constexpr auto kGetValue = &IbClientCommandProcessor::reg_get_value;

class RegistryCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstallServices(&services_);
    ASSERT_TRUE(files_.MakeSureDirectoryPathExists(kLogPath));
    g_LogFile.store(&log_);
  }
  void TearDown() override {
    DetachLogFile();
    platform::InstallServices(nullptr);
  }

  // Runs `handler` on a request holding exactly the encoded bytes (a heap block of that size,
  // so that a read past the request is caught by the address sanitizer); returns the items.
  std::vector<Bytes> Call(CommandHandler handler, const std::vector<Bytes>& arguments) {
    return CallRaw(handler, pipeproto::EncodeRequest(1, arguments));
  }
  std::vector<Bytes> CallRaw(CommandHandler handler, const Bytes& message) {
    std::optional<pipeproto::CommandRequest> request;
    EXPECT_EQ(pipeproto::ParseRequest(message.data(), static_cast<uint32_t>(message.size()),
                                      &request),
              pipeproto::ParseStatus::kOk);
    pipeproto::CommandResponse response;
    handler(*request, response);
    EXPECT_TRUE(response.present);
    std::vector<Bytes> items;
    EXPECT_TRUE(pipeproto::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
    return items;
  }
  // The result code of a command answering one 4-byte item.
  uint32_t Code(CommandHandler handler, const std::vector<Bytes>& arguments) {
    const auto items = Call(handler, arguments);
    EXPECT_EQ(items.size(), 1u);
    EXPECT_EQ(items.empty() ? 0 : items[0].size(), 4u);
    return items.size() == 1 && items[0].size() == 4 ? pipeproto::LoadU32(items[0].data())
                                                     : 0xDEADBEEF;
  }

  // reg_get_value's answer: code and data.
  struct Value {
    uint32_t code;
    Bytes data;
  };
  Value Get(const std::string& key, const std::string& name, const Bytes& flags,
            const Bytes& size, const Bytes& default_data) {
    const auto items = Call(kGetValue, {W(key), W(name), flags, size, default_data});
    EXPECT_EQ(items.size(), 2u);
    if (items.size() != 2 || items[0].size() != 4) return {0xDEADBEEF, {}};
    return {pipeproto::LoadU32(items[0].data()), items[1]};
  }

  // The stored value (type and bytes), or nullopt when it is missing.
  std::optional<platform::RegValueInfo> Stored(RegRoot root, const std::string& key,
                                               const std::string& name) {
    std::vector<platform::RegValueInfo> values;
    if (registry_.EnumValues(root, key, &values) != 0) return std::nullopt;
    for (auto& v : values)
      if (text::AsciiUpper(v.name) == text::AsciiUpper(name)) return v;
    return std::nullopt;
  }
  bool KeyExists(RegRoot root, const std::string& key) {
    return registry_.OpenKey(root, key, win::kKeyRead) == 0;
  }

  // "[LEVEL] function | message" of every log line since the last call.
  std::vector<std::string> TakeLog() {
    std::stringstream content;
    content << std::ifstream(drive_.path() + "/C/Log/registry.log", std::ios::binary).rdbuf();
    const std::string all = content.str();
    std::vector<std::string> lines;
    for (size_t start = consumed_, end; (end = all.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      const std::string line = all.substr(start, end - start);
      lines.push_back(line.substr(0, line.find(' ')) + " " +
                      line.substr(line.find(" | Quellmark | ") + 15));
      consumed_ = end + 2;
    }
    return lines;
  }

  testsupport::TempDir drive_;
  testsupport::TempDir registry_dir_;
  platform::posix::SqliteRegistry registry_{registry_dir_.path() + "/registry.db"};
  platform::posix::PosixFileSystem files_{drive_.path()};
  platform::Services services_{.registry = &registry_, .files = &files_};
  LogFile log_{"Quellmark", kLogPath};
  size_t consumed_ = 0;
};

TEST_F(RegistryCommandsTest, RootNamesAreFullNamesInAnyCaseAndNothingElse) {
  const struct {
    const char* name;
    RegRoot root;
  } roots[] = {{"hkey_local_machine", RegRoot::kLocalMachine},
               {"HKEY_CURRENT_USER", RegRoot::kCurrentUser},
               {"Hkey_Current_Config", RegRoot::kCurrentConfig},
               {"HKEY_CLASSES_ROOT", RegRoot::kClassesRoot},
               {"hKeY_uSeRs", RegRoot::kUsers}};
  for (const auto& r : roots) {
    EXPECT_EQ(Code(kCreateKey, {W(std::string(r.name) + "\\Quellmark\\Sub")}), 0u) << r.name;
    EXPECT_TRUE(KeyExists(r.root, "QUELLMARK\\sub")) << r.name;
    // Each name reaches its own root only.
    for (const auto& other : roots) {
      if (other.root == r.root) continue;
      EXPECT_FALSE(KeyExists(other.root, "Quellmark")) << r.name;
    }
    ASSERT_EQ(registry_.DeleteTree(r.root, "Quellmark"), 0u);
  }
  TakeLog();

  // Abbreviations, near misses and an empty root answer 2 and reach no registry at all.
  for (const char* path : {"HKLM\\SOFTWARE\\Quellmark", "HKEY_LOCAL_MACHINE_\\Quellmark",
                           "HKEY_LOCAL\\Quellmark", "\\Quellmark", "", "HKCU"}) {
    EXPECT_EQ(Code(kCreateKey, {W(path)}), 2u) << path;
    EXPECT_EQ(Code(kCreateValue, {W(path), W("v"), U32(4), U32(1)}), 2u) << path;
    EXPECT_EQ(Get(path, "v", U32(win::kRrfRtRegDword), U32(4), U32(1)).code, 2u) << path;
  }
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\Quellmark"));
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "Quellmark"));
  const auto lines = TakeLog();
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0], std::string(kPrefix) + "reg_create_key | Rsponse error code: 0x2");
  EXPECT_EQ(lines[1], std::string(kPrefix) + "reg_create_value | Rsponse error code: 0x2");
  EXPECT_EQ(lines[2], std::string(kPrefix) + "reg_get_value | Rsponse error code: 0x2");
}

TEST_F(RegistryCommandsTest, RootOnlyPathAddressesTheRootItself) {
  EXPECT_EQ(Code(kCreateKey, {W("HKEY_CURRENT_CONFIG")}), 0u);
  EXPECT_EQ(Code(kCreateValue, {W("HKEY_CURRENT_CONFIG"), W("Top"), U32(win::kRegDword), U32(9)}),
            0u);
  const auto stored = Stored(RegRoot::kCurrentConfig, "", "Top");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, win::kRegDword);
  EXPECT_EQ(stored->data, U32(9));
  const Value read = Get("HKEY_CURRENT_CONFIG", "Top", U32(win::kRrfRtAny), U32(4), {});
  EXPECT_EQ(read.code, 0u);
  EXPECT_EQ(read.data, U32(9));
  // A trailing backslash leaves an empty subkey path as well.
  EXPECT_EQ(Code(kDeleteValue, {W("HKEY_CURRENT_CONFIG\\"), W("Top")}), 0u);
  EXPECT_FALSE(Stored(RegRoot::kCurrentConfig, "", "Top").has_value());
}

TEST_F(RegistryCommandsTest, KeysAndValuesAreCreatedChangedAndDeleted) {
  const std::string key = "HKEY_CURRENT_USER\\Software\\Quellmark";
  // reg_set_value only changes what exists: a missing value answers 2 and creates nothing,
  // not even its key.
  EXPECT_EQ(Code(kSetValue, {W(key), W("Mode"), U32(win::kRegDword), U32(3)}), 2u);
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Software\\Quellmark"));
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Software"));

  // reg_create_value creates the whole path and the value, with exactly the bytes given.
  EXPECT_EQ(Code(kCreateValue, {W(key + "\\Deep"), W("Mode"), U32(win::kRegDword), U32(3)}), 0u);
  EXPECT_EQ(Code(kCreateValue, {W(key), W("Mode"), U32(win::kRegDword), U32(3)}), 0u);
  auto stored = Stored(RegRoot::kCurrentUser, "Software\\Quellmark", "Mode");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, win::kRegDword);
  EXPECT_EQ(stored->data, U32(3));

  // Now reg_set_value overwrites it, type included; string data carry their own NUL.
  EXPECT_EQ(Code(kSetValue, {W(key), W("MODE"), U32(win::kRegSz), W("turbo")}), 0u);
  stored = Stored(RegRoot::kCurrentUser, "Software\\Quellmark", "Mode");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, win::kRegSz);
  EXPECT_EQ(stored->data, W("turbo"));
  // Zero-byte data and an unusual type number are stored as given.
  EXPECT_EQ(Code(kCreateValue, {W(key), W("Empty"), U32(0x1234), {}}), 0u);
  stored = Stored(RegRoot::kCurrentUser, "Software\\Quellmark", "Empty");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, 0x1234u);
  EXPECT_TRUE(stored->data.empty());

  EXPECT_EQ(Code(kCreateKey, {W(key)}), 0u) << "an existing key opens";
  EXPECT_EQ(Code(kDeleteValue, {W(key), W("mode")}), 0u);
  EXPECT_EQ(Code(kDeleteValue, {W(key), W("mode")}), 2u);
  EXPECT_EQ(Code(kDeleteValue, {W(key + "\\Missing"), W("mode")}), 2u);
  EXPECT_TRUE(Stored(RegRoot::kCurrentUser, "Software\\Quellmark", "Empty").has_value());

  // reg_delete_key takes the subkeys and values with it.
  EXPECT_EQ(Code(kDeleteKey, {W(key)}), 0u);
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Software\\Quellmark"));
  EXPECT_TRUE(KeyExists(RegRoot::kCurrentUser, "Software"));
  EXPECT_EQ(Code(kDeleteKey, {W(key)}), 2u);

  // A registry error other than 5 is passed on unchanged (an empty path component: 161).
  EXPECT_EQ(Code(kCreateKey, {W("HKEY_CURRENT_USER\\a\\\\b")}), win::kErrorBadPathname);

  const std::string p = kPrefix;
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                           p + "reg_set_value | Rsponse error code: 0x2",
                           p + "reg_create_value | Rsponse error code: 0x0",
                           p + "reg_create_value | Rsponse error code: 0x0",
                           p + "reg_set_value | Rsponse error code: 0x0",
                           p + "reg_create_value | Rsponse error code: 0x0",
                           p + "reg_create_key | Rsponse error code: 0x0",
                           p + "reg_delete_value | Rsponse error code: 0x0",
                           p + "reg_delete_value | Rsponse error code: 0x2",
                           p + "reg_delete_value | Rsponse error code: 0x2",
                           p + "reg_delete_key | Rsponse error code: 0x0",
                           p + "reg_delete_key | Rsponse error code: 0x2",
                           p + "reg_create_key | Rsponse error code: 0x161",
                       }));
}

TEST_F(RegistryCommandsTest, GetValueWritesTheDefaultOnlyForARestrictedReadOfAMissingValue) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\OEM\\Calvane";
  const std::string sub = "SOFTWARE\\OEM\\Calvane";

  // RRF_RT_ANY: the read's error, nothing written, not even the key.
  Value v = Get(key, "Lamp", U32(win::kRrfRtAny), U32(4), U32(7));
  EXPECT_EQ(v.code, 2u);
  EXPECT_TRUE(v.data.empty());
  EXPECT_FALSE(KeyExists(RegRoot::kLocalMachine, "SOFTWARE\\OEM"));

  // RRF_RT_REG_DWORD: the default becomes a REG_DWORD and is read back.
  v = Get(key, "Lamp", U32(win::kRrfRtRegDword), U32(4), U32(7));
  EXPECT_EQ(v.code, 0u);
  EXPECT_EQ(v.data, U32(7));
  auto stored = Stored(RegRoot::kLocalMachine, sub, "Lamp");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, win::kRegDword);
  // Read again: the stored value, not the new default.
  v = Get(key, "Lamp", U32(win::kRrfRtRegDword), U32(64), U32(8));
  EXPECT_EQ(v.code, 0u);
  EXPECT_EQ(v.data, U32(7)) << "as many bytes as the read reported, not the buffer size";

  // RRF_RT_REG_SZ: written as REG_SZ.
  v = Get(key, "Name", U32(win::kRrfRtRegSz), U32(100), W("Vexor"));
  EXPECT_EQ(v.code, 0u);
  EXPECT_EQ(v.data, W("Vexor"));
  EXPECT_EQ(Stored(RegRoot::kLocalMachine, sub, "Name")->type, win::kRegSz);

  // Any other restriction is itself the type written: RRF_RT_REG_BINARY (8) writes type 8
  // (REG_RESOURCE_LIST), which that restriction does not admit, so the read back fails and its
  // error is the answer. The value stays as written.
  v = Get(key, "Blob", U32(win::kRrfRtRegBinary), U32(16), Bytes{1, 2, 3});
  EXPECT_EQ(v.code, win::kErrorUnsupportedType);
  EXPECT_TRUE(v.data.empty());
  stored = Stored(RegRoot::kLocalMachine, sub, "Blob");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, 8u);
  EXPECT_EQ(stored->data, (Bytes{1, 2, 3}));

  // A restricted read of a value of another type fails too: the default replaces it.
  ASSERT_EQ(registry_.SetKeyValue(RegRoot::kLocalMachine, sub, "Mixed", win::kRegSz,
                                  W("x").data(), 4),
            0u);
  v = Get(key, "Mixed", U32(win::kRrfRtRegDword), U32(4), U32(0x01020304));
  EXPECT_EQ(v.code, 0u);
  EXPECT_EQ(v.data, U32(0x01020304));
  EXPECT_EQ(Stored(RegRoot::kLocalMachine, sub, "Mixed")->type, win::kRegDword);

  // A DWORD default that is not 4 bytes is written as given; reading it back as a DWORD
  // fails with the registry's size check.
  v = Get(key, "Short", U32(win::kRrfRtRegDword), U32(4), {});
  EXPECT_EQ(v.code, win::kErrorDatatypeMismatch);
  EXPECT_TRUE(v.data.empty());
  EXPECT_TRUE(Stored(RegRoot::kLocalMachine, sub, "Short")->data.empty());
}

TEST_F(RegistryCommandsTest, GetValueWithTooSmallABufferLeavesTheValueAlone) {
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellmark";
  ASSERT_EQ(registry_.SetKeyValue(RegRoot::kLocalMachine, "SOFTWARE\\Quellmark", "Model",
                                  win::kRegSz, W("Vexor 17").data(), 18),
            0u);
  for (const uint32_t flags : {win::kRrfRtRegSz, win::kRrfRtAny}) {
    for (const uint32_t size : {0u, 1u, 17u}) {
      const Value v = Get(key, "Model", U32(flags), U32(size), W("default"));
      EXPECT_EQ(v.code, win::kErrorMoreData) << flags << " " << size;
      EXPECT_TRUE(v.data.empty());
    }
  }
  const Value exact = Get(key, "Model", U32(win::kRrfRtRegSz), U32(18), W("default"));
  EXPECT_EQ(exact.code, 0u);
  EXPECT_EQ(exact.data, W("Vexor 17"));
  const auto stored = Stored(RegRoot::kLocalMachine, "SOFTWARE\\Quellmark", "Model");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->data, W("Vexor 17"));

  // A buffer beyond the service's bound is refused before the registry is asked.
  const Value huge = Get(key, "Missing", U32(win::kRrfRtRegDword),
                         U32(regcmd::kMaxGetValueBuffer + 1), U32(1));
  EXPECT_EQ(huge.code, win::kErrorNotEnoughMemory);
  EXPECT_FALSE(Stored(RegRoot::kLocalMachine, "SOFTWARE\\Quellmark", "Missing").has_value());
  EXPECT_EQ(Get(key, "Model", U32(win::kRrfRtAny), U32(regcmd::kMaxGetValueBuffer), {}).code, 0u);
}

TEST_F(RegistryCommandsTest, NumbersWiderThanFourBytesCountAsZero) {
  const std::string key = "HKEY_CURRENT_USER\\Quellmark";
  // Type 4 sent as 8 bytes: REG_NONE (0).
  EXPECT_EQ(Code(kCreateValue, {W(key), W("Wide"), U64(win::kRegDword), U32(5)}), 0u);
  EXPECT_EQ(Stored(RegRoot::kCurrentUser, "Quellmark", "Wide")->type, win::kRegNone);
  EXPECT_EQ(Code(kSetValue, {W(key), W("Wide"), U64(win::kRegSz), U32(6)}), 0u);
  EXPECT_EQ(Stored(RegRoot::kCurrentUser, "Quellmark", "Wide")->type, win::kRegNone);
  // A shorter number is zero-extended.
  EXPECT_EQ(Code(kSetValue, {W(key), W("Wide"), Bytes{4}, U32(6)}), 0u);
  EXPECT_EQ(Stored(RegRoot::kCurrentUser, "Quellmark", "Wide")->type, win::kRegDword);

  // Buffer size as 8 bytes: 0, so the 4-byte value does not fit.
  Value v = Get(key, "Wide", U32(win::kRrfRtAny), U64(4), {});
  EXPECT_EQ(v.code, win::kErrorMoreData);
  // Flags as 8 bytes: 0, which no read accepts (87); as flags other than RRF_RT_ANY the
  // default is then written with type 0, and the read back fails the same way.
  v = Get(key, "Flagless", U64(win::kRrfRtAny), U32(4), U32(1));
  EXPECT_EQ(v.code, win::kErrorInvalidParameter);
  const auto stored = Stored(RegRoot::kCurrentUser, "Quellmark", "Flagless");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->type, win::kRegNone);
}

TEST_F(RegistryCommandsTest, RequestsWithMissingOrUnterminatedArgumentsAnswer87) {
  const Bytes key = W("HKEY_CURRENT_USER\\Quellmark");
  const Bytes name = W("v");
  const std::vector<std::pair<CommandHandler, std::vector<Bytes>>> short_requests = {
      {kCreateKey, {}},
      {kDeleteKey, {}},
      {kCreateValue, {key, name, U32(4)}},
      {kDeleteValue, {key}},
      {kSetValue, {key, name, U32(4)}},
  };
  for (const auto& [handler, arguments] : short_requests) {
    EXPECT_EQ(Code(handler, arguments), 87u) << arguments.size();
  }
  // Texts without their NUL: none at all, one only in an odd trailing byte, an odd length
  // whose last byte would complete the NUL.
  const Bytes unterminated[] = {Bytes{'H', 0, 'K', 0}, Bytes{'H', 0, 0}, Bytes{}, Bytes{0}};
  for (const Bytes& bad : unterminated) {
    EXPECT_EQ(Code(kCreateKey, {bad}), 87u);
    EXPECT_EQ(Code(kCreateValue, {key, bad, U32(4), U32(1)}), 87u);
    EXPECT_EQ(Code(kCreateValue, {bad, name, U32(4), U32(1)}), 87u);
    EXPECT_EQ(Code(kDeleteValue, {key, bad}), 87u);
  }
  // reg_get_value needs all five arguments (DEFAULT may be empty, but present).
  for (size_t count = 0; count < 5; ++count) {
    std::vector<Bytes> arguments = {key, name, U32(win::kRrfRtRegDword), U32(4), U32(1)};
    arguments.resize(count);
    const auto items = Call(kGetValue, arguments);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0], U32(87));
    EXPECT_TRUE(items[1].empty());
  }
  EXPECT_EQ(Call(kGetValue, {key, Bytes{'v', 0}, U32(win::kRrfRtRegDword), U32(4), U32(1)})[0],
            U32(87));
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Quellmark")) << "nothing was written";

  // Bytes after a text's NUL are ignored; arguments beyond the listed ones too.
  Bytes trailing = W("HKEY_CURRENT_USER\\Quellmark");
  trailing.insert(trailing.end(), {'x', 0, 'y'});
  EXPECT_EQ(Code(kCreateKey, {trailing, U32(1), U32(2)}), 0u);
  EXPECT_TRUE(KeyExists(RegRoot::kCurrentUser, "Quellmark"));
  EXPECT_FALSE(KeyExists(RegRoot::kCurrentUser, "Quellmarkx"));

  // The argument count promises more than the message holds: the dispatcher never gets that
  // far, so a well-formed count of zero on a longer message is what a handler can meet.
  const auto items = CallRaw(kCreateKey, Bytes{1, 0, 0, 0xAA, 0xBB});
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0], U32(87));

  const auto lines = TakeLog();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], std::string(kPrefix) + "reg_create_key | Rsponse error code: 0x87");
  for (const auto& line : lines) EXPECT_NE(line.find("| Rsponse error code: 0x"), std::string::npos);
}

}  // namespace
