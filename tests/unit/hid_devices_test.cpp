// The HID layer, the embedded controller and the keyboard against the simulated notebook's
// HID interfaces (real firmware simulations, real named-mutex files), with the exact lines the
// log gets: lookups and their skip rules, the EC's handle life, and the six pipe commands.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <string>

#include "hid/ec_hid.h"
#include "hid/hid_commands.h"
#include "hid/ib_hid.h"
#include "hid/keyboard_hid.h"
#include "log/logger.h"
#include "registry/registry_values.h"
#include "sim/hid.h"
#include "support/handler_harness.h"

namespace {

using namespace corlan::QRN300;
using Lines = std::vector<std::string>;
using testsupport::U32;

// A [hid] section: the EC's interface, with `extra` keys added (or, for usage and the report
// length, replacing its own).
std::string Ec(const std::string& extra = "") {
  std::string s = "[hid]\nvendor_id = 0x2E5C\nproduct_id = 0x174B\nusage_page = 0xFF05\ndevice = ec\n";
  if (extra.find("usage =") == std::string::npos) s += "usage = 1\n";
  if (extra.find("length") == std::string::npos) s += "feature_report_length = 65\n";
  return s + (extra.empty() ? "" : extra + "\n");
}
const std::string kEc = Ec();
constexpr const char* kKeyboard =
    "[hid]\nvendor_id = 0x0D62\nproduct_id = 0x0B9D\nusage_page = 0xFF02\nusage = 1\n"
    "feature_report_length = 9\ndevice = keyboard\n";

class HidTest : public testsupport::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    SetLogger(std::make_shared<IbLogAdapter>(&log_));
    Machine("");
  }
  void TearDown() override {
    EcHID::ResetForTests();
    KeyboardHID::ResetForTests();
    if (hid_) {
      EXPECT_EQ(hid_->OpenHandles(), 0u) << "handles left open";
    }
    SetLogger(nullptr);
    HandlerTest::TearDown();
  }
  void Machine(const std::string& profile_text) {
    EcHID::ResetForTests();
    KeyboardHID::ResetForTests();
    sim::MachineProfile profile = sim::ParseMachineProfile(profile_text, "test.profile");
    hid_ = std::make_unique<sim::SimulatedHid>(profile.hid_interfaces, profile.ec, profile.keyboard);
    services_.hid = hid_.get();
    TakeLog();
  }
  // The log lines since the last call, "corlan::QRN300::" and the processor prefix dropped.
  Lines Log() {
    Lines lines;
    for (std::string line : TakeLog()) {
      for (const std::string prefix : {"corlan::QRN300::", "ironbark::IbClientCommandProcessor::"}) {
        if (const size_t at = line.find(prefix); at != std::string::npos) line.erase(at, prefix.size());
      }
      lines.push_back(line);
    }
    return lines;
  }

  std::unique_ptr<sim::SimulatedHid> hid_;
};

TEST_F(HidTest, LookupsSkipFailingInterfacesInEnumerationOrder) {
  Machine(Ec("fail = detail") + Ec("fail = no_memory") + Ec("fail = open") + Ec("fail = attributes") +
          Ec("fail = preparsed") + Ec("fail = caps") + kKeyboard + Ec("usage = 2") + kEc + kEc);
  const auto ec_caps = [](HIDP_CAPS& c) { return c.usage_page == 0xFF05 && c.usage == 1; };
  const HIDHandle first = IbHID::GetHIDDeviceHandle(0x2E5C, 0x174B, ec_caps);
  EXPECT_NE(first, kInvalidHIDHandle);
  EXPECT_EQ(hid_->OpenHandles(), 1u) << "the other interfaces are closed, the last never opened";
  const std::string e = "[ERROR] IbHID::GetHIDDeviceHandle | Error ";
  EXPECT_EQ(Log(), (Lines{e + "getting device interface detail data",
                          e + "allocating memory for device interface detail data",
                          e + "getting device attributes", e + "getting device preparsed data",
                          e + "getting device capabilities",
                          "[INFO] IbHID::GetHIDDeviceHandle | HID device UsagePage find: FF05, 0001"}));
  std::vector<HIDDeviceInfo> all{{"kept"}};
  const auto any_id = [](uint16_t vendor, uint16_t) { return vendor == 0x2E5C; };
  ASSERT_TRUE(IbHID::GetHIDDeviceHandle(any_id, ec_caps, all));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(std::pair(all[1].devicePath, all[2].devicePath), std::pair(hid_->Path(8), hid_->Path(9)));
  EXPECT_EQ(Log().back(), "[INFO] IbHID::GetHIDDeviceHandle | HID device(2E5C, 174B) UsagePage find: FF05:0001");
  for (const HIDHandle h : {first, all[1].handle, all[2].handle}) platform::HidDevices().Close(h);
  hid_->FailEnumeration(true);
  std::vector<HIDDeviceInfo> none;
  EXPECT_FALSE(IbHID::GetHIDDeviceHandle(any_id, ec_caps, none));
  EXPECT_EQ(Log(), Lines{e + "getting device information set"});
}

TEST_F(HidTest, FeatureOperationsRefuseAZeroLengthAndReportRefusals) {
  Machine(Ec("feature_report_length = 0") + Ec("fail = write, read"));
  uint8_t out[4] = {7, 7, 7, 7};
  for (const size_t index : {0u, 1u}) {
    const HIDHandle h = platform::HidDevices().Open(hid_->Path(index));
    EXPECT_FALSE(IbHID::SetHIDFeature(h, 0xA0, out, 4));
    EXPECT_FALSE(IbHID::GetHIDFeature(h, 0xA0, out, 4));
    platform::HidDevices().Close(h);
  }
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(Log(), (Lines{"[ERROR] IbHID::SetHIDFeature | Error Feature Report Byte Length: 0",
                          "[ERROR] IbHID::GetHIDFeature | Error Feature Report Byte Length: 0",
                          "[ERROR] IbHID::SetHIDFeature | Error setting feature on HID device: 31",
                          "[ERROR] IbHID::GetHIDFeature | Error getting feature from HID device"}));
}

TEST_F(HidTest, EcKeepsItsHandleReopensItsPathAndEnumeratesOnlyWhenThatFails) {
  Machine(kEc + kEc);
  uint32_t status = 0;
  ASSERT_TRUE(EcHID::GetACStatus(status));
  EXPECT_EQ(status, 1u);
  EXPECT_EQ(hid_->OpenHandles(), 1u) << "the second EC's handle is closed at once";
  EXPECT_EQ(EcHID::CachedDataVersion(), 0x0600u);
  hid_->SetFail(0, {sim::HidStep::kWrite});
  EXPECT_FALSE(EcHID::GetSystemStatus(3, status));
  hid_->SetFail(0, {});
  EXPECT_TRUE(EcHID::GetSystemStatus(3, status));
  EXPECT_EQ(hid_->Enumerations(), 1u) << "reopened by its path";
  hid_->Unplug(0);
  EXPECT_FALSE(EcHID::GetSystemStatus(3, status));  // the cached handle fails and is dropped
  EXPECT_TRUE(EcHID::GetSystemStatus(3, status));   // the path no longer opens: the other EC
  EXPECT_EQ(hid_->Enumerations(), 2u);
  const Lines log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "[ERROR] EcHID::GetSystemStatus | Error setting feature on HID device"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), "[ERROR] EcHID::CreateGlobalMutex | Global\\ECHIDFeatureVID_2E5C&PID_174B"), 3);
}

// The EC's answers through the pipe commands: what the client gets, how long it took (20 ms per
// exchange, 20 ms after each failed attempt), and for the plain case every line.
TEST_F(HidTest, BacklightCommandsThroughTheEmbeddedController) {
  struct Case {
    const char* what;
    std::string machine;
    std::vector<std::vector<uint8_t>> set_args;  // command 66; then 65
    std::vector<uint32_t> answers;               // 66's code, then 65's three values
    int64_t get_ms;
  };
  const std::string fault = kEc + "[ec_fault]\nrequest = device_get\n";
  const Case cases[] = {
      {"stored", kEc, {U32(70), U32(15)}, {0, 70, 15, 0}, 20},
      {"long arguments", kEc, {std::vector<uint8_t>(5)}, {0, 100, 30, 0}, 20},
      {"no values", fault + "return_code = 0xE001\n", {U32(1)}, {0, 50, 30, 0}, 20},
      {"two wrong echoes", fault + "echo_device = 3\ntimes = 2\n", {U32(9), U32(9)}, {0, 9, 9, 0}, 100},
      {"no EC", "", {U32(1), U32(2)}, {1, 50, 30, 1}, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine(c.machine);
    std::vector<uint32_t> answers;
    for (const auto& item : testsupport::CallCommand(66, c.set_args)) answers.push_back(le::LoadU32(item.data()));
    const auto before = clock_.Now();
    for (const auto& item : testsupport::CallCommand(65, {})) answers.push_back(le::LoadU32(item.data()));
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ((clock_.Now() - before).count(), c.get_ms);
    const Lines log = Log();
    if (c.what == cases[0].what) {
      const std::string set = "[INFO] hid_set_keyborad_backlight30s | ", get = "[INFO] hid_get_keyborad_backlight30s | ";
      EXPECT_EQ(log, (Lines{set + "kSvcCmdHIDSetKBBLoff30sControl", set + "Input Keyboard backlighting off 15 s brightness: 70",
                            "[INFO] IbHID::GetHIDDeviceHandle | HID device(2E5C, 174B) UsagePage find: FF05:0001",
                            "[ERROR] EcHID::CreateGlobalMutex | Global\\ECHIDFeatureVID_2E5C&PID_174B",
                            set + "Rsponse errcode: 0", get + "kSvcCmdHIDGetKBBLoff30sControl",
                            get + "Get Keyboard backlighting off 30s status",
                            get + "Output Keyboard backlighting brightness: 70 timeout: 15", get + "Rsponse errcode: 0"}));
    }
  }
}

// The four keyboard commands on a known keyboard whose first interface is not its command
// interface; a failed write makes the next command search again by the found IDs.
TEST_F(HidTest, KeyboardCommandsAndTheSearchAgainAfterAFailedWrite) {
  Machine(std::string("[hid]\nvendor_id = 0x0D62\nproduct_id = 0x0B9D\nfeature_report_length = 2\n") +
          kKeyboard);
  testsupport::WriteFile(At("C/ProgramData/OEM/Calvane/Feature.ini"),
                         "[usbkeyboard]\r\nVID_INI_ON = 3426\r\nPid_ini_ON=2973\r\nKeyboard_ini_ON=2\r\n");
  EXPECT_EQ(KeyboardHID::GetKeyboardType(), 2);
  const std::tuple<uint16_t, uint32_t, uint32_t> steps[] = {  // code, argument, answer
      {33, 1, 0}, {32, 0, 1}, {33, 2, 0}, {32, 0, 0}, {34, 1, 0}, {35, 0, 0x00}, {34, 2, 0}, {35, 0, 0x03}};
  for (const auto& [code, argument, answer] : steps) {
    const auto args = code == 33 || code == 34 ? std::vector<std::vector<uint8_t>>{U32(argument)}
                                               : std::vector<std::vector<uint8_t>>{};
    EXPECT_EQ(le::LoadU32(testsupport::CallForItem(code, args).data()), answer) << code;
  }
  EXPECT_EQ(hid_->Enumerations(), 1u);
  hid_->SetFail(1, {sim::HidStep::kWrite});
  TakeLog();
  EXPECT_EQ(testsupport::CallForItem(33, {U32(1)}), U32(1));
  hid_->SetFail(1, {});
  EXPECT_EQ(testsupport::CallForItem(33, {U32(1)}), U32(0));
  EXPECT_EQ(hid_->Enumerations(), 2u);
  const std::string set = "[INFO] usb_set_keyborad_backlight30s | ";
  EXPECT_EQ(Log(), (Lines{set + "kSvcCmdSetKBBLoff30sControl", set + "Input Keyboard backlighting off 30s state: 1",
                          "[ERROR] IbHID::SetHIDFeature | Error setting feature on HID device: 31",
                          "[ERROR] KeyboardHID::SetKeyboardBacklightingOff30s | Error setting feature on HID device",
                          set + "Rsponse errcode: 1", set + "kSvcCmdSetKBBLoff30sControl",
                          set + "Input Keyboard backlighting off 30s state: 1",
                          "[INFO] IbHID::GetHIDDeviceHandle | HID device UsagePage find: FF02, 0001",
                          set + "Rsponse errcode: 0"}));
}

TEST_F(HidTest, NoKnownKeyboardAndNoEc) {
  Machine("[hid]\nvendor_id = 0x1234\nproduct_id = 0x5678\nfeature_report_length = 9\ndevice = keyboard\n"
          "[hid]\nvendor_id = 0x0D62\nproduct_id = 0x0ABA\nfeature_report_length = 8\ndevice = keyboard\n");
  EXPECT_EQ(testsupport::CallForItem(34, {U32(1)}), U32(1));
  EXPECT_EQ(testsupport::CallForItem(35, {}), U32(0));
  EXPECT_EQ(KeyboardHID::GetKeyboardType(), kNoKeyboard);
  const Lines log = Log();
  EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.begin() + 4),
            (Lines{"[INFO] usb_set_win_menu_key_control | Input Win Menu key state: 1",
                   "[INFO] KeyboardHID::GetHIDDeviceHandle | Invalid VID PID",
                   "[ERROR] KeyboardHID::SetWinMenuKeyControl | GetHIDDeviceHandle fail"}));
  // The survey's probe: fifteen failed attempts, 10 ms apart, and three zeros.
  const auto before = clock_.Now();
  ironbark::HidCommands::check_EC_HID_support();
  EXPECT_EQ((clock_.Now() - before).count(), 150);
  for (const char* name : {"EC_HID_Version", "EC_HID_OC_Capability", "EC_HID_Support"}) {
    EXPECT_EQ(registry_.GetValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane", name,
                                 win::kRrfRtRegDword, nullptr, nullptr, nullptr), 0u) << name;
    EXPECT_EQ(read_reg_dword_default("SOFTWARE\\OEM\\Calvane", name), 0u) << name;
  }
}

TEST_F(HidTest, ProbeReadsTheEcVersionCapabilityAndProfile) {
  struct Case { std::string machine; uint32_t version, capability, support; const char* line; };
  const Case cases[] = {
      {kEc + "[ec]\ndata_version = 0x0106\n", 0x0106, 1, 1, "EC_HID_Version: 6.1"},
      {kEc + "[ec]\ndata_version = 0x0500\noc_capability = 0\noc_profile = no\n", 0x0500, 0, 0, "EC_HID_Version: 0.5"},
      {kEc + "[ec]\noc_capability = 0\n", 0x0600, 0, 1, "EC_HID_Version: 0.6"}};
  for (const Case& c : cases) {
    Machine(c.machine);
    ironbark::HidCommands::check_EC_HID_support();
    EXPECT_EQ(read_reg_dword_default("SOFTWARE\\OEM\\Calvane", "EC_HID_Version"), c.version);
    EXPECT_EQ(read_reg_dword_default("SOFTWARE\\OEM\\Calvane", "EC_HID_OC_Capability"), c.capability);
    EXPECT_EQ(read_reg_dword_default("SOFTWARE\\OEM\\Calvane", "EC_HID_Support"), c.support) << c.line;
    const Lines log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), std::string("[INFO] check_EC_HID_support | ") + c.line), log.end());
  }
}

// Pipe threads share the cached handles and locks: every command of every thread is answered
// (a lock left out shows under ThreadSanitizer).
TEST_F(HidTest, CommandsFromSeveralThreadsShareTheDevices) {
  Machine(kEc + kKeyboard);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.emplace_back([&failures, t] {
      for (uint32_t i = 0; i < 10; ++i)
        failures += testsupport::CallForItem(t % 2 ? 66 : 33, {U32(i), U32(i)}) != U32(0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
