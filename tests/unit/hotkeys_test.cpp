// The raw-input hotkeys and the control-application launch, end to end on the Linux build: key
// presses and vendor reports of the simulated notebook travel as raw-input messages through the
// real main loop, events reach an agent listening on the real agent pipe (the agent client logs
// each delivery with its value), and launched programs
// are executable scripts at the mapped Windows paths that note how they were started.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "base/win_codes.h"
#include "input/helm_launch.h"
#include "input/windows_input.h"
#include "platform/posix/console_launcher.h"
#include "platform/posix/main_loop.h"
#include "platform/posix/pipe_transport.h"
#include "sim/input_verbs.h"
#include "sim/keyboard_input.h"
#include "support/handler_harness.h"
#include "support/pipe_client.h"

namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;
constexpr const char* kCalvane = "SOFTWARE\\OEM\\Calvane";
const std::string kInput = "[INFO] WindowsMessageLoop::WindowsInput | ";
const std::string kHelm = "[INFO] WindowsMessageLoop::HelmKeyPressed | ";
const std::string kLaunch = "[INFO] WindowsMessageLoop::LaunchAPP | ";
const std::string kVexorPath = WindowsMessageLoop::kVexorHelmLauncher;

class HotkeyTest : public testsupport::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    services_.pipes = &pipes_;
    services_.raw_input = &input_;
    services_.launcher = &launcher_;
    WindowsMessageLoop::RegisterRawInput(nullptr);
    agent_ = std::thread([this] { ServeAgent(); });
    ASSERT_EQ(pipes_.WaitForInstance(kAgentPath, 5000), 0u);
  }
  static constexpr const char* kAgentPath = "\\\\.\\pipe\\vexorhelm_agent_service_";
  void TearDown() override {
    stop_agent_ = true;
    uint32_t error = 0;
    pipes_.Open(kAgentPath, 3, &error);  // wakes the listener
    agent_.join();
    HandlerTest::TearDown();
  }

  // Makes the records of `act` and runs the main loop until it has handled them all.
  void Keys(const std::function<void()>& act) {
    platform::posix::MainLoop loop;
    input_.Connect(&loop, [](intptr_t handle) { WindowsMessageLoop::WindowsInput(handle); });
    act();
    loop.Post([] { pthread_kill(pthread_self(), SIGTERM); });
    loop.Run();
    input_.Connect(nullptr, {});
  }
  void Install(const std::string& windows_path) {
    const std::string host = launcher_.HostPath(windows_path);
    testsupport::WriteFile(host, "#!/bin/sh\n{ printf '/%s' \"${0##*/}\"; for a; do printf ' [%s]' \"$a\"; done; echo; } >> '" + At("launched") + "'\n");
    std::filesystem::permissions(host, std::filesystem::perms::owner_all);
  }
  void SetDword(const char* key, const char* name, uint32_t value) {
    registry_.SetKeyValue(win::RegRoot::kLocalMachine, key, name, win::kRegDword, &value, 4);
  }
  void SetBrand(const std::string& brand) {
    const auto wire = text::ToWireText(brand);
    registry_.SetKeyValue(win::RegRoot::kLocalMachine, kCalvane, "Model_Name_1st_brand", win::kRegSz, wire.data(), static_cast<uint32_t>(wire.size()));
  }
  // The lines the started scripts wrote, sorted.
  Lines Launched() {
    std::istringstream marker(testsupport::ReadText(At("launched")));
    Lines seen;
    for (std::string line; std::getline(marker, line);) seen.push_back(line);
    std::sort(seen.begin(), seen.end());
    return seen;
  }

  platform::posix::UnixStreamPipeTransport pipes_{drive_.path()};
  sim::SimulatedInput input_;
  // Nobody at the console until a test logs a user on.
  sim::ConsoleSession console_{sim::ParseMachineProfile("[session]\nuser_logged_on = no\n", "hotkeys.profile").session};
  platform::posix::ConsoleLauncher launcher_{drive_.path(), console_};

 private:
  // The agent service: takes each event message (the client logs its delivery).
  void ServeAgent() {
    const auto hold = pipes_.HoldName(kAgentPath);
    while (!stop_agent_) {
      auto instance = pipes_.CreateInstance({.path = kAgentPath, .open_mode = 3, .pipe_mode = 6,
                                             .max_instances = 255});
      uint8_t message[64];
      uint32_t read = 0;
      if (instance->WaitForClient() == 0) instance->Read(message, sizeof message, &read);
    }
  }
  std::atomic<bool> stop_agent_{false};
  std::thread agent_;
};

// One row per entry of the keyboard and vendor tables, and the records that must be dropped.
TEST_F(HotkeyTest, DecodesTheDedicatedKeysIntoLinesAndAgentEvents) {
  const std::string agent = "[INFO] namedpipe_agent_service_function::";
  const auto hotkey = [&](int v) { return agent + "SendBrightnessHotkeyEvent | Send pressed_hotkey: " + std::to_string(v) + " error: 0"; };
  const auto thirty = [&](int v) { return agent + "SendBrightness30SecEvent | Send status: " + std::to_string(v) + " error: 0"; };
  const struct { std::function<void(sim::SimulatedInput&)> act; Lines lines; } cases[] = {
      {[](auto& in) { in.PressKey(sim::kBrightnessUpKey); }, {kInput + "Message: 0x6F", hotkey(1)}},
      {[](auto& in) { in.PressKey(sim::kBrightnessDownKey); }, {kInput + "Message: 0x70", hotkey(0)}},
      {[](auto& in) { in.PressKey(sim::kBrightnessCycleKey); }, {kInput + "Message: 0x77", hotkey(2)}},
      {[](auto& in) { in.PressKey({0x6F, false}); in.PressKey({0x70, false}); in.PressKey({0x77, false}); }, {}},
      {[](auto& in) { in.VendorKey(sim::kVendorBrightnessUp); }, {kInput + "Keyboard Backlight brightness up", hotkey(1)}},
      {[](auto& in) { in.VendorKey(sim::kVendorBrightnessDown); }, {kInput + "Keyboard Backlight brightness down", hotkey(0)}},
      {[](auto& in) { in.VendorKey(sim::kVendorOperationMode); }, {kInput + "Operation Mode Switch"}},
      {[](auto& in) { in.VendorKey(sim::kVendorBacklight30sOff); }, {kInput + "Keyboard Backlight 30 sec OFF", thirty(0)}},
      {[](auto& in) { in.VendorKey(sim::kVendorBacklight30sOn); }, {kInput + "Keyboard Backlight 30 sec ON", thirty(1)}},
      {[](auto& in) { in.VendorReport({5, 0x7C, 0xFE, 0}); in.VendorReport({5, 0x81, 0x00, 0}); in.MoveMouse(); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines.empty() ? "dropped" : c.lines[0]);
    Keys([&] { c.act(input_); });
    EXPECT_EQ(TakeLog(), c.lines);
  }
}

// The pressed flag on a held Helm key, and the EC HID test on both Helm paths: an unreadable
// value is rewritten as 0, the value 1 leaves the Helm key alone but not the backlight keys.
TEST_F(HotkeyTest, HeldHelmKeyLaunchesOnceAndEcHidTransitionModeIgnoresIt) {
  console_.SetUserLoggedOn(true);
  Install(kVexorPath);
  const std::string brand = kHelm + "Model_Name_1st_brand: Vexor", mods = kHelm + "ctrl:0 shift:0 alt:0 keys:0",
                    started = kLaunch + "Launch File path(success): " + kVexorPath, m75 = kInput + "Message: 0x75",
                    again = kInput + "Helm key already pressed.", release = kInput + "Helm key release.",
                    vendor = kInput + "Keyboard VexorHelm Key", ignored = kInput + "EC HID transition mode ignore helm key action";
  const uint32_t text_value = 0x31;
  registry_.SetKeyValue(win::RegRoot::kLocalMachine, kCalvane, "EC_HID_Support", win::kRegSz, &text_value, 4);
  Keys([&] { input_.HoldKey(sim::kHelmKey, 2); input_.ReleaseKey(sim::kHelmKey); });
  EXPECT_EQ(TakeLog(), (Lines{m75, brand, mods, started, m75, again, m75, again, release}));
  uint32_t stored = 7, size = 4;
  EXPECT_EQ(registry_.GetValue(win::RegRoot::kLocalMachine, kCalvane, "EC_HID_Support", win::kRrfRtRegDword, nullptr, &stored, &size), 0u);
  EXPECT_EQ(stored, 0u);
  // Every vendor report launches: there is no pressed flag on that path.
  Keys([&] { input_.VendorKey(sim::kVendorHelm); input_.VendorKey(sim::kVendorHelm); });
  EXPECT_EQ(TakeLog(), (Lines{vendor, brand, mods, started, vendor, brand, mods, started}));

  // Pressed, then released while the EC HID mode is on: the release still clears the flag.
  Keys([&] { input_.HoldKey(sim::kHelmKey, 0); });
  TakeLog();
  SetDword(kCalvane, "EC_HID_Support", 1);
  Keys([&] {
    input_.HoldKey(sim::kHelmKey, 0);
    input_.ReleaseKey(sim::kHelmKey);
    input_.VendorKey(sim::kVendorHelm);
    input_.VendorKey(sim::kVendorBrightnessUp);
  });
  EXPECT_EQ(TakeLog(), (Lines{ignored, release, ignored, kInput + "Keyboard Backlight brightness up",
                              "[INFO] namedpipe_agent_service_function::SendBrightnessHotkeyEvent | Send pressed_hotkey: 1 error: 0"}));
  SetDword(kCalvane, "EC_HID_Support", 2);
  Keys([&] { input_.PressKey(sim::kHelmKey); });
  EXPECT_EQ(TakeLog(), (Lines{m75, brand, mods, started, release}));
}

// The launch failures with no user at the console, then one row per rule of the decision.
TEST_F(HotkeyTest, HelmKeyStartsWhatTheBrandAndModifiersSelect) {
  using namespace WindowsMessageLoop;
  const std::string omni = kOmniHelmLauncher;
  const std::string store = "/c \"start ms-windows-store://pdp/?productid=";
  const std::string starter = launcher_.ModuleDirectory() + "\\LaunchUWPApp.exe";
  const auto ok = [](const std::string& path) { return kLaunch + "Launch File path(success): " + path; };
  const std::string control = kHelm + "Get Keyboard Input : CONTROL";
  const struct { const char* brand; uint8_t keys; bool s_mode, logged_on; const char* mods_line;
                 Lines rule; std::string launched; } rows[] = {
      {"Vexor", 0, 0, 0, "0 shift:0 alt:0 keys:0", {kLaunch + "Launch File path(fail): " + kVexorPath, kLaunch + "Launch file fail: " + kVexorPath, kLaunch + "Launch store fail: "}, ""},
      {"Acme", 0, 0, 0, "0 shift:0 alt:0 keys:0", {kLaunch + "File not exist", kLaunch + "Launch file fail: " + omni, kLaunch + "Open ms store(fail): " + store + "9KV7PL3HDN5C\"", kLaunch + "Launch store fail: 9KV7PL3HDN5C"}, ""},
      {"Zephan", sim::kRightCtrl, 0, 1, "1 shift:0 alt:0 keys:1", {control, ok(kZephanHelmLauncher)}, "ZephanHelmLauncher.exe [/widget]"},
      {nullptr, sim::kRightCtrl, 0, 1, "1 shift:0 alt:0 keys:1", {control, ok(kVexorPath)}, "VexorHelmLauncher.exe [/widget]"},
      {"Acme", sim::kLeftCtrl, 0, 1, "1 shift:0 alt:0 keys:1", {control, kLaunch + "Launch file fail: ", kLaunch + "Launch store fail: "}, ""},
      {"Acme", sim::kLeftShift, 0, 1, "0 shift:1 alt:0 keys:1", {kHelm + "Get Keyboard Input : SHIFT", ok(kQuickPanelLauncher)}, "CorlanTrayDeckLauncher.exe"},
      {"Corlan", sim::kLeftShift, 1, 1, "0 shift:1 alt:0 keys:1", {"[INFO] WindowsMessageLoop::IsWindowsSMode | Policy: Windows run in s mode", kLaunch + "File not exist", kLaunch + "Launch file fail: " + starter, kLaunch + "Launch store fail: "}, ""},
      {"Zephan", sim::kLeftCtrl | sim::kLeftShift, 0, 1, "1 shift:1 alt:0 keys:2", {ok(kZephanHelmLauncher)}, "ZephanHelmLauncher.exe"},
      {"Vexor", sim::kLeftCtrl | sim::kRightAlt, 1, 1, "1 shift:0 alt:1 keys:2", {ok(kVexorPath)}, "VexorHelmLauncher.exe"},
      {"Rovanta", sim::kLeftShift, 0, 1, "0 shift:1 alt:0 keys:1", {kLaunch + "File not exist", kLaunch + "Launch file fail: " + omni, kLaunch + "Open ms store(success): " + store + "9XQ4ZR2MWT8B\""}, "cmd.exe [/c] [start ms-windows-store://pdp/?productid=9XQ4ZR2MWT8B]"},
      {"vexor", 0, 1, 1, "0 shift:0 alt:0 keys:0", {ok(omni)}, "HelmLauncher.exe"},
  };
  for (const char* path : {kZephanHelmLauncher, kVexorHelmLauncher, kQuickPanelLauncher, "cmd.exe"}) Install(path);
  Lines launched;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.brand == nullptr ? "(missing)" : row.brand);
    if (row.brand == nullptr) {
      registry_.DeleteKeyValue(win::RegRoot::kLocalMachine, kCalvane, "Model_Name_1st_brand");
    } else {
      SetBrand(row.brand);
    }
    if (std::string(row.brand == nullptr ? "" : row.brand) == "vexor") Install(omni);
    SetDword("SYSTEM\\CurrentControlSet\\Control\\CI\\Policy", "SkuPolicyRequired", row.s_mode);
    if (row.logged_on) console_.SetUserLoggedOn(true);  // the first rows: as the profile has it
    Keys([&] { input_.PressKey(sim::kHelmKey, row.keys); });
    const std::string brand = row.brand == nullptr ? "Vexor" : row.brand;
    Lines expected = {kInput + "Message: 0x75", kHelm + "Model_Name_1st_brand: " + brand,
                      kHelm + "ctrl:" + row.mods_line};
    expected.insert(expected.end(), row.rule.begin(), row.rule.end());
    expected.push_back(kInput + "Helm key release.");
    EXPECT_EQ(TakeLog(), expected);
    if (!row.launched.empty()) {
      // The program's name with the '/' before it, so that no name matches inside another.
      launched.push_back("/" + row.launched);
      const auto times = std::count(launched.begin(), launched.end(), launched.back());
      EXPECT_TRUE(testsupport::WaitForText(At("launched"), launched.back() + "\n", static_cast<size_t>(times), 20000));
    }
  }
  std::sort(launched.begin(), launched.end());
  EXPECT_EQ(Launched(), launched);
}

// Whatever another account or a local client can put in the values the decision reads, in the
// raw-input records or at the launchers' mapped paths: each Helm press starts nothing, or one
// program of the fixed table with its fixed arguments. Every start through the launch seam is
// recorded, and the started scripts note their own name and arguments.
TEST_F(HotkeyTest, HostileInputsStartNothingButAFixedProgramWithItsArguments) {
  using namespace WindowsMessageLoop;
  struct Recorder final : platform::ProcessLauncher {
    explicit Recorder(platform::ProcessLauncher& real) : real(real) {}
    bool FileExists(std::string_view path) override { return real.FileExists(path); }
    std::string ModuleDirectory() override { return real.ModuleDirectory(); }
    bool StartAsConsoleUser(const platform::ConsoleLaunch& launch) override {
      const bool started = real.StartAsConsoleUser(launch);
      if (started) seen.push_back(launch.application + "|" + launch.command_line);
      return started;
    }
    platform::ProcessLauncher& real;
    Lines seen;
  } recorder(launcher_);
  services_.launcher = &recorder;
  console_.SetUserLoggedOn(true);

  using Bytes = std::vector<uint8_t>;
  const auto units = [](std::u16string text) {
    Bytes out;
    for (const char16_t unit : text) out.insert(out.end(), {uint8_t(unit & 0xFF), uint8_t(unit >> 8)});
    return out;
  };
  const auto value = [&](const char* name, const char* key, uint32_t type, const Bytes& data) {
    registry_.SetKeyValue(win::RegRoot::kLocalMachine, key, name, type, data.data(), uint32_t(data.size()));
  };
  const auto brand = [&](uint32_t type, const Bytes& data) { value("Model_Name_1st_brand", kCalvane, type, data); };
  const auto sku = [&](uint32_t type, const Bytes& data) {
    value("SkuPolicyRequired", "SYSTEM\\CurrentControlSet\\Control\\CI\\Policy", type, data);
  };
  namespace fs = std::filesystem;
  const auto host = [&](const char* path) { return launcher_.HostPath(path); };
  const std::string vexor = host(kVexorHelmLauncher), omni = host(kOmniHelmLauncher), cmd = host("cmd.exe");
  const auto replace = [&](const std::string& path, const std::function<void()>& make) { fs::remove_all(path); make(); };
  const auto link = [&](const std::string& path, const std::string& target) {
    replace(path, [&] { fs::create_symlink(target, path); });
  };

  const std::string product = "/c \"start ms-windows-store://pdp/?productid=9KV7PL3HDN5C\"";
  const std::string store = "cmd.exe|" + product, store_ran = "/cmd.exe [/c] [start ms-windows-store://pdp/?productid=9KV7PL3HDN5C]";
  const std::string vexor_started = std::string(kVexorHelmLauncher) + "|", omni_started = std::string(kOmniHelmLauncher) + "|";
  const platform::RawInputRecord helm{platform::kRimTypeKeyboard, 0x75, platform::kRiKeyE0};
  const struct { const char* what; std::function<void()> arrange; platform::RawInputRecord record; std::string started, ran; } rows[] = {
      {"NUL inside the brand", [&] { brand(win::kRegSz, units(u"Vexor\0Zephan"s)); }, helm, vexor_started, "/VexorHelmLauncher.exe"},
      {"odd length", [&] { brand(win::kRegSz, Bytes{'Z', 0, 'e', 0, 'p', 0, 'h', 0, 'a', 0, 'n', 0, 0}); }, helm,
       std::string(kZephanHelmLauncher) + "|", "/ZephanHelmLauncher.exe"},
      {"blank after", [&] { brand(win::kRegSz, text::ToWireText("Vexor ")); }, helm, omni_started, "/HelmLauncher.exe"},
      {"long", [&] { brand(win::kRegSz, text::ToWireText(std::string(70000, 'V'))); }, helm, omni_started, "/HelmLauncher.exe"},
      {"surrogate", [&] { brand(win::kRegSz, units(u"Vexor\xD800"s)); }, helm, omni_started, "/HelmLauncher.exe"},
      {"multi-string", [&] { brand(win::kRegMultiSz, units(u"Zephan\0\0"s)); }, helm, omni_started, "/HelmLauncher.exe"},
      {"empty", [&] { brand(win::kRegSz, {}); }, helm, omni_started, "/HelmLauncher.exe"},
      // S mode only from a 4-byte REG_DWORD of 1; Corlan otherwise takes the last row.
      {"S mode as text", [&] { brand(win::kRegSz, text::ToWireText("Corlan")); sku(win::kRegSz, text::ToWireText("1")); }, helm, omni_started, "/HelmLauncher.exe"},
      {"S mode as QWORD", [&] { brand(win::kRegSz, text::ToWireText("Corlan")); sku(win::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0}); }, helm, omni_started, "/HelmLauncher.exe"},
      {"S mode wide", [&] { brand(win::kRegSz, text::ToWireText("Corlan")); sku(win::kRegDword, {1, 0, 0, 0, 0, 0, 0, 0}); }, helm, omni_started, "/HelmLauncher.exe"},
      // The mapped paths: only an executable file (a link to one counts) is started.
      {"not executable", [&] { fs::permissions(vexor, fs::perms::owner_read | fs::perms::owner_write); }, helm, "", ""},
      {"a folder", [&] { replace(vexor, [&] { fs::create_directories(vexor); }); }, helm, "", ""},
      {"dangling link", [&] { link(vexor, vexor + ".gone"); }, helm, "", ""},
      {"link to a launcher", [&] { link(vexor, host(kZephanHelmLauncher)); }, helm, vexor_started, "/VexorHelmLauncher.exe"},
      {"launcher a folder", [&] { brand(win::kRegSz, text::ToWireText("Acme")); replace(omni, [&] { fs::create_directories(omni); }); }, helm, store, store_ran},
      {"no store", [&] { brand(win::kRegSz, text::ToWireText("Acme")); fs::remove(omni); link(cmd, cmd); }, helm, "", ""},
      // Records that are not a Helm press, whatever else they carry.
      {"no E0", {}, {platform::kRimTypeKeyboard, 0x75, 0}, "", ""},
      {"E1 too", {}, {platform::kRimTypeKeyboard, 0x75, 6}, "", ""},
      {"wide code", {}, {platform::kRimTypeKeyboard, 0xFF75, platform::kRiKeyE0}, "", ""},
      {"unknown type", {}, {3, 0x75, platform::kRiKeyE0, {5, 0x81, 0xFF, 0}}, "", ""},
      {"any report id", {}, {platform::kRimTypeHid, 0, 0, {0, 0x81, 0xFF, 0}}, vexor_started, "/VexorHelmLauncher.exe"},
  };
  Lines ran;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    for (const char* path : {kZephanHelmLauncher, kVexorHelmLauncher, kQuickPanelLauncher, kOmniHelmLauncher, "cmd.exe"}) {
      fs::remove_all(host(path));
      Install(path);
    }
    brand(win::kRegSz, text::ToWireText("Vexor"));
    SetDword("SYSTEM\\CurrentControlSet\\Control\\CI\\Policy", "SkuPolicyRequired", 0);
    SetDword(kCalvane, "EC_HID_Support", 0);
    if (row.arrange) row.arrange();
    recorder.seen.clear();
    DecodeRawInput(row.record);
    DecodeRawInput({platform::kRimTypeKeyboard, 0x75, platform::kRiKeyE0 | platform::kRiKeyBreak});
    EXPECT_EQ(recorder.seen, row.started.empty() ? Lines{} : Lines{row.started});
    if (!row.ran.empty()) ran.push_back(row.ran);
    EXPECT_TRUE(testsupport::WaitForText(At("launched"), "\n", ran.size(), 20000));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for a stray start
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ(Launched(), ran);
  TakeLog();
}

// The control channel's verbs: each reaches the devices as its words say, or changes nothing.
TEST_F(HotkeyTest, SimVerbsActOnTheInputDevicesAndTheConsole) {
  SetBrand("Acme");
  const std::string up = "[INFO] namedpipe_agent_service_function::SendBrightnessHotkeyEvent | Send pressed_hotkey: ";
  using Verb = sim::VerbResult (*)(sim::SimulatedInput&, std::span<const std::string>);
  const struct { Verb verb; std::vector<std::string> words; std::string reply; Lines lines; } cases[] = {
      {sim::KeyVerb, {"brightness-up"}, "brightness-up pressed", {kInput + "Message: 0x6F", up + "1 error: 0"}},
      {sim::KeyVerb, {"0x77", "--e0"}, "0x77 pressed", {kInput + "Message: 0x77", up + "2 error: 0"}},
      {sim::KeyVerb, {"0x77"}, "0x77 pressed", {}},
      {sim::KeyVerb, {"helm", "--rctrl"}, "helm pressed with rctrl", {kInput + "Message: 0x75", kHelm + "Model_Name_1st_brand: Acme", kHelm + "ctrl:1 shift:0 alt:0 keys:1",
          kHelm + "Get Keyboard Input : CONTROL", kLaunch + "Launch file fail: ", kLaunch + "Launch store fail: ", kInput + "Helm key release."}},
      {sim::KeyVerb, {"helm", "--release", "--shift"}, "helm released with shift", {kInput + "Helm key release."}},
      {sim::VendorKeyVerb, {"30s-on"}, "vendor report 30s-on", {kInput + "Keyboard Backlight 30 sec ON", "[INFO] namedpipe_agent_service_function::SendBrightness30SecEvent | Send status: 1 error: 0"}},
      {sim::VendorReportVerb, {"5", "0x7C", "0xFF", "0"}, "vendor report sent", {kInput + "Keyboard Backlight brightness up", up + "1 error: 0"}},
      {sim::MouseVerb, {}, "mouse moved", {}},
      {sim::KeyVerb, {"helm", "--hold", "x"}, "", {}}, {sim::KeyVerb, {"helm", "--bogus"}, "", {}}, {sim::KeyVerb, {}, "", {}},
      {sim::VendorKeyVerb, {"0x100"}, "", {}}, {sim::VendorReportVerb, {"1", "2", "3"}, "", {}}, {sim::MouseVerb, {"x"}, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words.empty() ? "-" : c.words[0]);
    sim::VerbResult result;
    Keys([&] { result = c.verb(input_, c.words); });
    EXPECT_EQ(result.ok, !c.reply.empty());
    if (result.ok) {
      EXPECT_EQ(result.text, c.reply);
    }
    EXPECT_EQ(TakeLog(), c.lines);
  }
  EXPECT_FALSE(sim::ConsoleVerb(console_, std::vector<std::string>{"maybe"}).ok);
  EXPECT_EQ(sim::ConsoleVerb(console_, std::vector<std::string>{"logon"}).text, "user logged on at the console");
  EXPECT_TRUE(console_.user_logged_on());
}

}  // namespace
