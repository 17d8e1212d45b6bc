// The sticky-keys commands against the simulated session settings and a real log file, and the
// [accessibility] section of machine profiles that sets those settings up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "log/log_file.h"
#include "pipe/command_processor.h"
#include "pipe/protocol.h"
#include "platform/posix/file_system.h"
#include "platform/posix/host_services.h"
#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/sim_accessibility.h"
#include "support/temp_dir.h"

namespace {

using ironbark::CommandHandler;
using ironbark::IbClientCommandProcessor;
using Bytes = std::vector<uint8_t>;

const std::string kMachinesDir =
    (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "machines")
        .lexically_normal()
        .string();
constexpr const char* kLogPath = "C:\\Log\\sticky.log";
const std::string kSet = "[INFO] ironbark::IbClientCommandProcessor::set_stickykey | ";
const std::string kGet = "[INFO] ironbark::IbClientCommandProcessor::get_stickykey | ";

Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

sim::AccessibilityProfile Flags(uint32_t flags) { return {flags, false, false}; }

// A session whose store call throws, for the handler's exception path.
class ThrowingStore : public sim::SimAccessibility {
 public:
  using SimAccessibility::SimAccessibility;
  bool SetStickyKeys(uint32_t) override { throw std::runtime_error("store"); }
};

class StickyKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files_.MakeSureDirectoryPathExists(kLogPath));
    g_LogFile.store(&log_);
  }
  void TearDown() override {
    DetachLogFile();
    platform::InstallServices(nullptr);
  }

  sim::SimAccessibility& Session(const sim::AccessibilityProfile& profile) {
    session_ = std::make_unique<sim::SimAccessibility>(profile);
    Install(session_.get());
    return *session_;
  }
  void Install(platform::Accessibility* accessibility) {
    services_.accessibility = accessibility;
    platform::InstallServices(&services_);
  }

  // Runs one handler; returns its single response item, or {} with a failure.
  Bytes Call(CommandHandler handler, const std::vector<Bytes>& arguments) {
    const Bytes message = pipeproto::EncodeRequest(28, arguments);
    std::optional<pipeproto::CommandRequest> request;
    EXPECT_EQ(pipeproto::ParseRequest(message.data(), static_cast<uint32_t>(message.size()),
                                      &request),
              pipeproto::ParseStatus::kOk);
    pipeproto::CommandResponse response;
    handler(*request, response);
    std::vector<Bytes> items;
    EXPECT_TRUE(response.present);
    EXPECT_TRUE(pipeproto::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
    EXPECT_EQ(items.size(), 1u);
    return items.size() == 1 ? items[0] : Bytes{};
  }
  Bytes Set(const std::vector<Bytes>& arguments) {
    return Call(&IbClientCommandProcessor::set_stickykey, arguments);
  }
  Bytes Get() { return Call(&IbClientCommandProcessor::get_stickykey, {}); }

  // "[TAG] function | message" of every log line since the last call.
  std::vector<std::string> TakeLog() {
    std::stringstream content;
    content << std::ifstream(drive_.path() + "/C/Log/sticky.log", std::ios::binary).rdbuf();
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
  platform::posix::PosixFileSystem files_{drive_.path()};
  platform::Services services_{.files = &files_};
  LogFile log_{"Quellmark", kLogPath};
  std::unique_ptr<sim::SimAccessibility> session_;
  size_t consumed_ = 0;
};

TEST_F(StickyKeysTest, SetMovesBothFlagsTogetherAndKeepsTheOthers) {
  const struct {
    uint32_t flags;
    std::vector<Bytes> arguments;
    uint32_t answer;
    uint32_t flags_after;
    uint32_t stores;
  } cases[] = {
      // On: only when not fully on already.
      {0x1FF, {U32(1)}, 1, 0x1FF, 0},
      {0x1FE, {U32(1)}, 0, 0x1FF, 1},  // hot key alone
      {0x1FB, {U32(1)}, 0, 0x1FF, 1},  // sticky keys alone
      {0x000, {U32(1)}, 0, 0x005, 1},
      {0x1FE, {Bytes{1}}, 0, 0x1FF, 1},  // a short argument is zero-extended
      // Off: any other state, whenever either flag is set.
      {0x1FF, {U32(0)}, 0, 0x1FA, 1},
      {0x1FE, {U32(2)}, 0, 0x1FA, 1},
      {0x001, {U32(0)}, 0, 0x000, 1},
      {0xFFFFFFFF, {U32(0x101)}, 0, 0xFFFFFFFA, 1},
      {0x1FA, {U32(0)}, 1, 0x1FA, 0},
      {0x000, {U32(2)}, 1, 0x000, 0},
      // Too long for 32 bits, or missing: state 0.
      {0x1FF, {Bytes{1, 0, 0, 0, 0, 0, 0, 0}}, 0, 0x1FA, 1},
      {0x1FF, {Bytes{1, 0, 0, 0, 0}}, 0, 0x1FA, 1},
      {0x1FF, {}, 0, 0x1FA, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "flags 0x" << std::hex << c.flags << " argument bytes " << std::dec
                 << (c.arguments.empty() ? -1 : static_cast<int>(c.arguments[0].size())));
    sim::SimAccessibility& session = Session(Flags(c.flags));
    EXPECT_EQ(Set(c.arguments), U32(c.answer));
    EXPECT_EQ(session.sticky_keys(), c.flags_after);
    EXPECT_EQ(session.store_attempts(), c.stores);
  }
}

TEST_F(StickyKeysTest, GetWantsBothFlagsAndFailuresAnswerUnchanged) {
  for (const auto& [flags, answer] : std::vector<std::pair<uint32_t, uint32_t>>{
           {0x1FF, 1}, {0x005, 1}, {0xFFFFFFFF, 1}, {0x1FE, 0}, {0x1FB, 0}, {0x000, 0}}) {
    sim::SimAccessibility& session = Session(Flags(flags));
    EXPECT_EQ(Get(), U32(answer)) << std::hex << flags;
    EXPECT_EQ(session.store_attempts(), 0u);
  }

  sim::SimAccessibility& no_query = Session({0x1FE, true, false});
  EXPECT_EQ(Set({U32(1)}), U32(1));
  EXPECT_EQ(Set({U32(0)}), U32(1));
  EXPECT_EQ(no_query.store_attempts(), 0u);
  EXPECT_EQ(Get(), U32(0));

  sim::SimAccessibility& no_store = Session({0x1FA, false, true});
  EXPECT_EQ(Set({U32(1)}), U32(1));
  EXPECT_EQ(no_store.store_attempts(), 1u);
  EXPECT_EQ(no_store.sticky_keys(), 0x1FAu);
  EXPECT_EQ(Get(), U32(0));

  ThrowingStore throwing(Flags(0x1FF));
  Install(&throwing);
  TakeLog();
  EXPECT_EQ(Set({U32(0)}), U32(1));
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{kSet + "kSvcCmdSetStickyKey",
                                                 kSet + "Input sticky key state: 0",
                                                 kSet + "Rsponse data: 1"}));
}

TEST_F(StickyKeysTest, LogLines) {
  Session(Flags(0x1FE));
  Set({U32(1)});
  Get();
  Set({U32(0xFFFFFFFF)});  // the state is logged signed
  Set({U32(0xFFFFFFFF)});
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{
                           kSet + "kSvcCmdSetStickyKey",
                           kSet + "Input sticky key state: 1",
                           kSet + "Rsponse data: 0",
                           kGet + "kSvcCmdGetStickyKey",
                           kGet + "Rsponse data: 1",
                           kSet + "kSvcCmdSetStickyKey",
                           kSet + "Input sticky key state: -1",
                           kSet + "Rsponse data: 0",
                           kSet + "kSvcCmdSetStickyKey",
                           kSet + "Input sticky key state: -1",
                           kSet + "Rsponse data: 1",
                       }));
}

// Connections run handlers at the same time and the check-then-store is not atomic; every
// store still writes a whole record read before, so the pair never splits and the other
// flags survive.
TEST_F(StickyKeysTest, ConcurrentTogglesLeaveAConsistentRecord) {
  sim::SimAccessibility& session = Session(Flags(0x1FA));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) {
        Set({U32((i + t) % 2)});
        Get();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const uint32_t flags = session.sticky_keys();
  EXPECT_TRUE((flags & 5) == 0 || (flags & 5) == 5) << std::hex << flags;
  EXPECT_EQ(flags & ~5u, 0x1FAu);
  EXPECT_EQ(TakeLog().size(), 4u * 50u * 5u);
}

TEST(AccessibilityProfileTest, SectionSetsTheInitialSessionAndItsFaults) {
  const sim::MachineProfile absent = sim::ParseMachineProfile("[system]\nmodel = X\n", "t.profile");
  EXPECT_EQ(absent.accessibility.sticky_keys, 0x1FEu);
  EXPECT_FALSE(absent.accessibility.query_fails);
  EXPECT_FALSE(absent.accessibility.store_fails);

  const sim::MachineProfile p = sim::ParseMachineProfile(
      "[accessibility]\nsticky_keys = 0xFFFFFFFF\nquery_fails = yes\nstore_fails = true\n",
      "t.profile");
  EXPECT_EQ(p.accessibility.sticky_keys, 0xFFFFFFFFu);
  EXPECT_TRUE(p.accessibility.query_fails);
  EXPECT_TRUE(p.accessibility.store_fails);

  try {
    sim::ParseMachineProfile("[accessibility]\n\nsticky_keys = 0x100000000\n", "t.profile");
    ADD_FAILURE() << "parsed";
  } catch (const sim::ProfileError& e) {
    EXPECT_STREQ(e.what(), "t.profile:3: sticky_keys 0x100000000 is out of range 0..4294967295");
  }

  // The Linux broker's services carry the session of the profile it boots.
  testsupport::TempDir root;
  const std::string profile = root.path() + "/on.profile";
  std::ofstream(profile) << "[accessibility]\nsticky_keys = 0x7\nstore_fails = yes\n";
  platform::posix::HostServices host(root.path() + "/root", profile);
  ASSERT_NE(host.services().accessibility, nullptr);
  uint32_t flags = 0;
  EXPECT_TRUE(host.services().accessibility->GetStickyKeys(&flags));
  EXPECT_EQ(flags, 0x7u);
  EXPECT_FALSE(host.services().accessibility->SetStickyKeys(0));

  platform::posix::HostServices shipped(root.path() + "/root2",
                                        kMachinesDir + "/vexor-default.profile");
  EXPECT_EQ(shipped.accessibility().sticky_keys(), 0x1FEu);
}

}  // namespace
