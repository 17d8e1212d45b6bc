// The DTS sound mode through the real dynamic loader and the simulated notebook's substitute
// library, placed in a temporary drive as the Linux broker places it, on the real clock.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/library_loader.h"
#include "sim/dts.h"
#include "support/handler_harness.h"
#include "support/pipe_client.h"

namespace {

using testsupport::U32;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string kGet = testsupport::ProcessorLine("get_dts_sound_mode");
const std::string kSet = testsupport::ProcessorLine("set_dts_sound_mode");
const std::string kGetError = "[ERROR] DtsApoAppLib::DTSAudioInterface::GetSoundMode | ";
const std::string kSetError = "[ERROR] DtsApoAppLib::DTSAudioInterface::SetSoundMode | ";
const std::string kLibrary = "C/Windows/System32/DtsApoAppWin32DLL.dll";

class DtsSoundModeTest : public testsupport::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    // A detached worker still uses the loader after it wrote its last call (it frees the
    // library): the loader outlives the test, as the broker's lives as long as the process.
    static auto* loaders = new std::vector<std::unique_ptr<platform::posix::PosixLibraryLoader>>;
    services_.libraries =
        loaders->emplace_back(std::make_unique<platform::posix::PosixLibraryLoader>(drive_.path(), "")).get();
    services_.clock = nullptr;  // the worker's wait runs on real time
  }
  void Install(const sim::DtsProfile& dts) {
    sim::PlaceDtsLibrary(dts, sim::DtsSubstituteFolder(""), At(kLibrary));
  }
  std::string Calls() { return testsupport::ReadFile(At(kLibrary) + ".calls").value_or(""); }
  static Bytes Get() { return testsupport::CallForItem(22, {}); }
  // Runs command 23 as the dispatcher does; it must leave the response absent.
  static void Set(const Bytes& argument) {
    const std::vector<Bytes> arguments{argument};
    const Bytes message = ironbark::EncodeRequest(23, arguments);
    std::optional<ironbark::CommandRequest> request;
    ASSERT_EQ(ironbark::ParseRequest(message.data(), static_cast<uint32_t>(message.size()), &request),
              ironbark::ParseStatus::kOk);
    ironbark::CommandResponse response;
    ironbark::RunCommand(g_CommandHandlers.at(23), *request, response);
    EXPECT_FALSE(response.present);
  }
};

TEST_F(DtsSoundModeTest, EachFailingStepIsLoggedAndTheSlotsAreCalledInOrder) {
  const std::string kCreated = "create_DtsApoInterface\n";
  const struct {
    const char* what;
    sim::DtsProfile dts;
    uint32_t answer;
    std::string error;  // the failing step's message; empty: none
    std::string get_calls, set_calls;
  } cases[] = {
      {"working", {.library = "x", .mode = 7}, 7, "",
       kCreated + "InitializeConnection\nGetSoundMode\nCloseConnection\nRelease\n",
       kCreated + "InitializeConnection\nSetSoundMode 0\nCloseConnection\nRelease\n"},
      {"absent", {}, 0xFFFFFFFF, "LoadLibraryEx fail", "", ""},
      {"no export", {.library = "x", .exported = false}, 0xFFFFFFFF, "GetProcAddress fail", "", ""},
      {"no interface", {.library = "x", .interface = false}, 0xFFFFFFFF,
       "create_DtsApoInterface fail", kCreated, kCreated},
      {"no connection", {.library = "x", .connect = false}, 0xFFFFFFFF,
       "InitializeConnection fail", kCreated + "InitializeConnection\nRelease\n",
       kCreated + "InitializeConnection\nRelease\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(At("C/Windows"));
    if (!c.dts.library.empty()) Install(c.dts);
    TakeLog();
    const auto start = Clock::now();
    EXPECT_EQ(Get(), U32(c.answer));
    // A worker that ends at once is seen after the first 100 ms step, not after 3 s.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    std::vector<std::string> get_lines{kGet + "kSvcCmdGetDTSSoundMode"};
    if (!c.error.empty()) get_lines.push_back(kGetError + c.error);
    get_lines.push_back(kGet + "Rsponse data: " + std::to_string(static_cast<int32_t>(c.answer)));
    EXPECT_EQ(TakeLog(), get_lines);
    EXPECT_EQ(Calls(), c.get_calls);

    std::filesystem::remove(At(kLibrary) + ".calls");
    Set(testsupport::Le(9, 8));  // longer than 32 bits: mode 0
    std::vector<std::string> set_lines{kSet + "kSvcCmdSetDTSSoundMode",
                                       kSet + "Input change sound mode: 0"};
    if (!c.error.empty()) set_lines.push_back(kSetError + c.error);
    EXPECT_EQ(TakeLog(), set_lines);
    EXPECT_EQ(Calls(), c.set_calls);
  }
}

TEST_F(DtsSoundModeTest, SetModeIsReadBackAndASignedModeLogsSigned) {
  Install({.library = "x", .mode = 2});
  Set(U32(0xFFFFFFFE));
  EXPECT_EQ(Get(), U32(0xFFFFFFFE));
  const auto lines = TakeLog();
  EXPECT_EQ(lines[1], kSet + "Input change sound mode: -2");
}

TEST_F(DtsSoundModeTest, AHangingReadTimesOutAndItsWorkerFinishesOnItsOwn) {
  Install({.library = "x", .mode = 3, .hang = true});
  TakeLog();
  const auto start = Clock::now();
  EXPECT_EQ(Get(), U32(0xFFFFFFFF));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(2900));
  EXPECT_LT(waited, std::chrono::milliseconds(4500));
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{kGet + "kSvcCmdGetDTSSoundMode", kGet + "Timeout!",
                                                 kGet + "Rsponse data: -1"}));
  // Released, the detached worker finishes its sequence; a later read starts a fresh one.
  testsupport::WriteFile(At(kLibrary) + ".conf", sim::DtsSettingsText({.library = "x", .mode = 3}));
  EXPECT_EQ(Get(), U32(3));
  for (int i = 0; i < 100 && testsupport::Occurrences(Calls(), "Release") < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(testsupport::Occurrences(Calls(), "Release"), 2u) << Calls();
}

}  // namespace
