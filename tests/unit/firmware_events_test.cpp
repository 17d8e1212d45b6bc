// The agent event client against agent listen's server, and the firmware event sink on the simulated notebook.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <tuple>

#include "input/firmware_event_sink.h"
#include "pipe/agent_client.h"
#include "pipe/named_pipe.h"
#include "pipe/pipe_server.h"
#include "pipe/protocol.h"
#include "platform/posix/pipe_transport.h"
#include "quellmark-cli/agent_listener.h"
#include "registry/registry_values.h"
#include "sim/control_channel.h"
#include "sim/simulated_notebook.h"
#include "support/handler_harness.h"

namespace {

using namespace namedpipe_agent_service_function;
using Lines = std::vector<std::string>;

std::vector<uint8_t> Unhex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// A delivered event object: "EventDetail" as the firmware filled it, or a failing read.
struct EventObject final : platform::WmiObject {
  EventObject(wmi::HRESULT hr, wmi::Variant v) : hr(hr), v(std::move(v)) {}
  wmi::HRESULT Get(std::string_view, wmi::Variant* value) override { return hr == wmi::kS_OK ? (*value = v, hr) : hr; }
  wmi::HRESULT Put(std::string_view, const wmi::Variant&) override { return wmi::kWbemE_Failed; }
  wmi::HRESULT GetMethod(std::string_view, std::unique_ptr<platform::WmiObject>*) override { return wmi::kWbemE_NotFound; }
  wmi::HRESULT hr;
  wmi::Variant v;
};
std::optional<EventObject> Detail(const std::string& hex) { return EventObject(wmi::kS_OK, wmi::Variant::Bytes(Unhex(hex))); }

class AgentEvents : public testsupport::HandlerTest {
 protected:
  void SetUp() override { HandlerTest::SetUp(), services_.pipes = &pipes_; }
  void TearDown() override {
    if (listener_.joinable()) stop_ = true, NamedPipeClient(kAgentPipeName).ConnectPipe(1000), listener_.join();
    // The listener's connection threads are detached: they use the transport and this fixture
    // until the last one has ended.
    for (int i = 0; i < 500 && ActivePipeConnections() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ActivePipeConnections(), 0);
    firmware_events::Release();
    HandlerTest::TearDown();
  }
  void Listen() {
    std::atomic<bool> ready{false};
    listener_ = std::thread([this, &ready, error = std::string()]() mutable {
      cli::ServeAgentPipe([this](const auto& m) { std::lock_guard l(mutex_); received_.push_back(m); }, [&] { ready = true; }, stop_, &error);
    });
    while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The messages received up to a 30-second backlight event with the value 77, sent now as a
  // marker: what arrived since the last call, in order.
  std::vector<std::vector<uint8_t>> Received() {
    SendBrightness30SecEvent(77);
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      std::lock_guard l(mutex_);
      if (!received_.empty() && received_.back() == Unhex("050001" "040000004d000000")) {
        received_.pop_back();
        return std::exchange(received_, {});
      }
    }
    ADD_FAILURE() << "the marker never arrived";
    return {};
  }
  Lines Shown() {
    Lines shown;
    for (const auto& m : Received()) shown.push_back(cli::DescribeAgentEvent(m));
    return shown;
  }
  // The log without the marker's line.
  Lines Log() {
    Lines lines = TakeLog();
    std::erase_if(lines, [](const std::string& l) { return l.find("Send status: 77 ") != std::string::npos; });
    return lines;
  }
  void BootMachine(const std::string& file, const std::string& extra = "") {
    std::stringstream text;
    text << std::ifstream(testsupport::MachineProfile(file)).rdbuf() << extra;
    BootWith(sim::ParseMachineProfile(text.str(), file));
    const sim::MachineProfile& p = notebook_->profile();
    hid_ = std::make_unique<sim::SimulatedHid>(p.hid_interfaces, p.ec, p.keyboard, notebook_);
    services_.hid = hid_.get();
  }

  platform::posix::UnixStreamPipeTransport pipes_{drive_.path()};
  std::unique_ptr<sim::SimulatedHid> hid_;
  std::thread listener_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::vector<uint8_t>> received_;
};

const std::string kAgent = "[INFO] namedpipe_agent_service_function::";

// Each sender's message as bytes on the wire, its log lines, and how the listener shows it.
TEST_F(AgentEvents, EachSenderDeliversItsMessageAndLogsItsLine) {
  Listen();
  const struct { std::function<void()> send; std::string wire; Lines log; std::string shown; } rows[] = {
      {[] { SendTurboKeyPressedEvent(1, 1, 0); }, "010003" "0400000001000000" "0400000001000000" "0400000000000000",
       {kAgent + "SendTurboKeyPressedEvent | Current OP mode = 1, Enabled = 1, Turbo key = 0",
        kAgent + "SendTurboKeyPressedEvent | Send Command: kAgtTurboKeyPressed error: 0"},
       "kAgtTurboKeyPressed mode=1 enabled=1 turbo=0"},
      {[] { SendTurboKeyPressedEvent(0xFFFFFFFF, 0, 0xFFFFFFFF); }, "010003" "04000000ffffffff" "0400000000000000" "04000000ffffffff",
       {kAgent + "SendTurboKeyPressedEvent | Current OP mode = -1, Enabled = 0, Turbo key = -1",
        kAgent + "SendTurboKeyPressedEvent | Send Command: kAgtTurboKeyPressed error: 0"},
       "kAgtTurboKeyPressed mode=-1 enabled=0 turbo=-1"},
      {[] { SendBrightnessHotkeyEvent(2); }, "020001" "0400000002000000",
       {kAgent + "SendBrightnessHotkeyEvent | Send pressed_hotkey: 2 error: 0"}, "kAgtBrightnessHotkey hotkey=2"},
      {[] { SendAdaptorChangedEvent(1); }, "030001" "0400000001000000",
       {kAgent + "SendAdaptorChangedEvent | Send Command: kAgtAdaptorChagned status: 1 error: 0"}, "kAgtAdaptorChagned status=1"},
      {[] { SendBatteryBoostChangedEvent(4000000000u); }, "040001" "0400000000286bee",
       {kAgent + "SendBatteryBoostChangedEvent | Send Command: kAgtBatteryBoostChanged value: 4000000000 error: 0"},
       "kAgtBatteryBoostChanged value=4000000000"},
      {[] { SendBrightness30SecEvent(0); }, "050001" "0400000000000000",
       {kAgent + "SendBrightness30SecEvent | Send status: 0 error: 0"}, "kAgtBrightness30Sec status=0"},
      {[] { SendDisplayPortFunctionEvent(); }, "060001" "0400000001000000",
       {kAgent + "SendDisplayPortFunctionEvent | Send Command: kAgtDisplayPortWithoutFunctionEvent 1 error: 0"},
       "kAgtDisplayPortWithoutFunctionEvent value=1"},
  };
  for (const auto& row : rows) {
    row.send();
    const auto got = Received();
    ASSERT_EQ(got.size(), 1u) << row.shown;
    EXPECT_EQ(got[0], Unhex(row.wire));
    EXPECT_EQ(cli::DescribeAgentEvent(got[0]), row.shown);
    EXPECT_EQ(Log(), row.log) << row.shown;
  }
  // Messages that are not one of the six events as the broker sends them.
  EXPECT_EQ(cli::DescribeAgentEvent(Unhex("030002" "0400000001000000" "0400000002000000")), "event 3: 01000000 02000000");
  EXPECT_EQ(cli::DescribeAgentEvent(Unhex("030001" "08000000")), "malformed message: 03000108000000");
}

// A connection's first message is taken before the next client is accepted, so one that has
// not written yet holds the later ones back; the client of the pipe's last instance is read on
// while the pipe has no room for another.
TEST_F(AgentEvents, FirstMessagesKeepTheirOrderAndTheLastInstanceIsReadOn) {
  Listen();
  const auto args = [](uint8_t n) { return std::vector<std::vector<uint8_t>>{{n, 0, 0, 0}}; };
  std::vector<std::unique_ptr<NamedPipeClient>> held;
  const auto connect = [&](std::optional<uint8_t> n) {
    held.push_back(std::make_unique<NamedPipeClient>(kAgentPipeName));
    EXPECT_EQ(held.back()->ConnectPipe(1000), 0u);
    if (n) {
      EXPECT_EQ(held.back()->WritePipeMessage(9, args(*n)), 0u);
    }
  };
  connect(std::nullopt), connect(1), held.pop_back();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE((std::lock_guard(mutex_), received_.empty()));
  EXPECT_EQ(held[0]->WritePipeMessage(9, args(0)), 0u);
  EXPECT_EQ(Received(), (std::vector{ironbark::EncodeRequest(9, args(0)), ironbark::EncodeRequest(9, args(1))}));
  // 254 clients held and the last instance's: its client's second message still arrives.
  while (held.size() < 255) connect(2);
  EXPECT_EQ(held.back()->WritePipeMessage(9, args(3)), 0u);
  const auto arrived = [&] { return std::lock_guard(mutex_), !received_.empty() && received_.back() == ironbark::EncodeRequest(9, args(3)); };
  for (int i = 0; i < 500 && !arrived(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(arrived());
}

TEST_F(AgentEvents, WithoutAnAgentEverySenderReturnsAtOnceWithoutALine) {
  const auto start = std::chrono::steady_clock::now();
  SendTurboKeyPressedEvent(1, 1, 0), SendBrightnessHotkeyEvent(1), SendAdaptorChangedEvent(1);
  SendBatteryBoostChangedEvent(1), SendBrightness30SecEvent(1), SendDisplayPortFunctionEvent();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_EQ(TakeLog(), Lines{});
}

const std::string kIndicate = "[INFO] ironbark::IbWmiEventSink::Indicate | ";
const std::string kFirmwareRefusesAc = "\n[fault GetFunction]\nstatus = 1\n";

// The decoding table, the AC and battery-boost sources, and Indicate's rules for a batch.
TEST_F(AgentEvents, TheSinkDecodesEachEventAndReadsTheStateFromItsSource) {
  Listen();
  const struct {
    std::string extra;                  // appended to the default machine's profile
    int ec_hid_support;                 // 0 absent, 1 the DWORD 1, 2 the text "1"
    std::vector<std::optional<EventObject>> batch;
    Lines shown;
    std::string logged;                 // a line the handling must log ("" none)
  } rows[] = {
      {"", 0, {Detail("0704")}, {"kAgtTurboKeyPressed mode=1 enabled=0 turbo=0"}, kIndicate + "Turbo_Key Triggered."},
      {"", 0, {Detail("0705")}, {"kAgtTurboKeyPressed mode=1 enabled=0 turbo=0"}, "[INFO] OperatingAction::GetTurboKeyStatus | WMI GetGamingLEDBehaviorFunction output 2.86: 0x0"},
      {"", 0, {Detail("0706")}, {}, ""},
      {"", 0, {Detail("051007")}, {"kAgtDisplayPortWithoutFunctionEvent value=1"}, kIndicate + "Type-C display port without Function."},
      {"", 0, {Detail("051008")}, {}, ""},
      {kFirmwareRefusesAc, 0, {Detail("0801")}, {"kAgtAdaptorChagned status=0"}, kIndicate + "WmiEvent::AC_Status: 1"},
      // From the EC, which has the adaptor while the firmware refuses to tell.
      {kFirmwareRefusesAc, 1, {Detail("0800")}, {"kAgtAdaptorChagned status=1"}, kIndicate + "WmiEvent::AC_Status: 0"},
      {kFirmwareRefusesAc, 2, {Detail("0801")}, {"kAgtAdaptorChagned status=0"}, ""},
      {"", 0, {Detail("0901")}, {"kAgtBatteryBoostChanged value=0"}, "[INFO] OperatingAction::check_battery_boost | WMI GetGamingSystemInformationFunction input: 0x2"},
      {"\n[fault GetGamingSysInfo]\nexec_error = 0x80041001\n", 1, {Detail("0901")}, {"kAgtBatteryBoostChanged value=1"},
       kIndicate + "WmiEvent::Battery_Boost: 1"},
      // A failed read stops the batch; a null object, a value of another type or one that is
      // not there only skip themselves.
      {"", 0, {EventObject(wmi::kWbemE_Failed, {}), Detail("0801"), Detail("051007")}, {}, ""},
      {"", 0, {std::nullopt, EventObject(wmi::kS_OK, wmi::Variant::UI4(0x071005)), EventObject(wmi::kWbemS_False, {}), Detail("051007")},
       {"kAgtDisplayPortWithoutFunctionEvent value=1"}, ""},
  };
  for (const auto& row : rows) {
    BootMachine("vexor-default.profile", row.extra);
    registry_.DeleteKeyValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane", "EC_HID_Support");
    // With the EC the boost is on: the EC says so while the firmware refuses to tell.
    if (row.ec_hid_support == 1) write_reg_dword("SOFTWARE\\OEM\\Calvane", "EC_HID_Support", 1), notebook_->SetBatteryBoost(true);
    if (row.ec_hid_support == 2) write_reg_string("SOFTWARE\\OEM\\Calvane", "EC_HID_Support", "1");
    auto batch = row.batch;
    std::vector<platform::WmiObject*> objects;
    for (auto& o : batch) objects.push_back(o ? &*o : nullptr);
    auto* sink = new ironbark::IbWmiEventSink();
    sink->AddRef();
    EXPECT_EQ(sink->Indicate(objects), wmi::kS_OK);
    sink->Release();
    const size_t at = &row - rows;
    EXPECT_EQ(Shown(), row.shown) << "row " << at;
    const Lines log = Log();
    EXPECT_TRUE(row.logged.empty() || std::find(log.begin(), log.end(), row.logged) != log.end()) << "row " << at;
    uint32_t type = 0;  // the text read as a DWORD was replaced by the DWORD 0
    registry_.GetValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane", "EC_HID_Support", 0xFFFF, &type, nullptr, nullptr);
    EXPECT_EQ(type, row.ec_hid_support == 0 ? 0u : 4u) << "row " << at;
  }
}

// Which bit means AC present: bit 8, or bit 9 where the machine is known to have two adaptors.
TEST_F(AgentEvents, AcPresenceFollowsTheAdaptorCount) {
  for (const auto& [machine, two_ac, present] : std::vector<std::tuple<std::string, std::optional<uint32_t>, bool>>{
           {"vexor-default.profile", std::nullopt, true}, {"vexor-default.profile", 1, false},
           {"two-adaptor.profile", 1, true}, {"two-adaptor.profile", 0, false}}) {
    BootMachine(machine);
    registry_.DeleteKeyValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane", "Two_AC_Support");
    if (two_ac) write_reg_dword("SOFTWARE\\OEM\\Calvane", "Two_AC_Support", *two_ac);
    EXPECT_EQ(OperatingAction::GetACStatus(), present) << machine << " " << two_ac.value_or(9);
  }
}

// The subscription on the simulated notebook: events flow until the teardown, which balances
// COM and gives the sink's references back; without WMI it fails quietly.
TEST_F(AgentEvents, SubscriptionDeliversUntilTornDown) {
  ironbark::IbWmiEventSink probe;  // QueryInterface adds a reference for what it hands out
  void* out = nullptr;
  EXPECT_EQ(probe.QueryInterface(ironbark::SinkInterface::kOther, &out), ironbark::kE_NoInterface);
  EXPECT_EQ(probe.QueryInterface(ironbark::SinkInterface::kIUnknown, &out), wmi::kS_OK);
  EXPECT_EQ(probe.AddRef(), 2u);

  firmware_events::Subscribe();  // no WMI service yet
  EXPECT_NE(firmware_events::SubscriptionResult(), wmi::kS_OK);
  firmware_events::Release();
  EXPECT_EQ(TakeLog(), (Lines{"[INFO] ironbark::IbWmiEventSink::Initialize | Start",
                              "[INFO] ironbark::IbWmiEventSink::Initialize | End"}));

  BootMachine("vexor-default.profile");
  Listen();
  firmware_events::Subscribe();
  EXPECT_EQ(firmware_events::SubscriptionResult(), wmi::kS_OK);
  notebook_->UnplugAdaptor();
  notebook_->PressTurboKey();
  for (int i = 0; i < 300 && (std::lock_guard(mutex_), received_.size() < 2); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(Shown(), (Lines{"kAgtAdaptorChagned status=0", "kAgtTurboKeyPressed mode=1 enabled=0 turbo=1"}));
  firmware_events::Release();
  EXPECT_EQ(wmi_->ComInitializations(), 0);
  notebook_->PlugAdaptor();
  // Delivery keeps the order events are raised in: once a fresh subscription's turbo event is
  // in, a subscription left behind would already have shown the plug.
  firmware_events::Subscribe();
  notebook_->PressTurboKey();
  for (int i = 0; i < 300 && (std::lock_guard(mutex_), received_.empty()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const Lines after = Shown();
  firmware_events::Release();
  ASSERT_EQ(after.size(), 1u) << testing::PrintToString(after);
  EXPECT_EQ(after[0].rfind("kAgtTurboKeyPressed ", 0), 0u) << after[0];
}

// The control channel's replies, which `quellmark-cli sim` prints as they are.
TEST_F(AgentEvents, TheControlChannelAnswersEachRequestWithOneLine) {
  BootMachine("vexor-default.profile");
  sim::ControlChannel channel;
  sim::AddFirmwareVerbs(channel, notebook_);
  const std::string known = "(known: ac plug|unplug, boost on|off, dp-notice, turbo)";
  for (const auto& [request, ok, text] : std::vector<std::tuple<std::string, bool, std::string>>{
           {"ac unplug", true, "AC adaptor unplugged"}, {" ac  unplug ", true, "AC adaptor unplugged already (no event)"},
           {"ac", false, "usage: ac plug|unplug"}, {"boost on", true, "battery boost on"},
           {"turbo", true, "turbo key pressed, state 1"}, {"dp-notice", true, "display-port notice raised"},
           {"kettle on", false, "unknown verb 'kettle' " + known}, {"", false, "empty request " + known}}) {
    const sim::ControlReply reply = channel.Handle(request);
    EXPECT_EQ(std::pair(reply.ok, reply.text), std::pair(ok, text)) << request;
  }
  EXPECT_EQ(std::tuple(notebook_->ac_present(), notebook_->battery_boost()), std::tuple(false, true));
}

}  // namespace
