#include "input/firmware_event_sink.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>

#include "firmware/wmi_access.h"
#include "hid/ec_hid.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/agent_client.h"
#include "platform/services.h"
#include "registry/registry_values.h"

namespace {

constexpr size_t kLine = 256;  // every line of the sink is formatted into 256 wide characters
constexpr const char* kIndicate = "ironbark::IbWmiEventSink::Indicate";
constexpr std::string_view kCalvaneKey = "SOFTWARE\\OEM\\Calvane";
constexpr uint32_t kAcFunction = 10;

void Log(const char* function, const std::string& message) { LogLine(kLogInfo, function, message); }

// "EC_HID_Support" = 1: the embedded controller answers over HID and is asked for AC and
// battery-boost state; otherwise (absent, another value, rewritten as 0) the firmware is.
bool EcAnswersPowerState() { return read_reg_dword_default(kCalvaneKey, "EC_HID_Support") == 1; }

uint64_t FunctionTen(const char* function) {
  Log(function, FormatMessageSized(kLine, "WMI GetFunction input: 0x%I32X", kAcFunction));
  uint64_t output = 0;
  if (!GetFunction(kAcFunction, &output)) output = 0;
  Log(function, FormatMessageSized(kLine, "WMI GetFunction output: 0x%I64X", output));
  return output;
}

void TurboKey() {
  Log(kIndicate, "Turbo_Key Triggered.");
  Log(kIndicate, "Check ACStatus and Battery boost");
  const uint32_t enabled = OperatingAction::GetACStatus() && OperatingAction::check_battery_boost() ? 1 : 0;
  const int32_t mode = OperatingAction::GetOperatingMode();
  const int32_t turbo = OperatingAction::GetTurboKeyStatus();
  namedpipe_agent_service_function::SendTurboKeyPressedEvent(static_cast<uint32_t>(mode), enabled,
                                                             static_cast<uint32_t>(turbo));
}

void AdaptorChanged(uint8_t state) {
  try {
    Log(kIndicate, FormatMessageSized(kLine, "WmiEvent::AC_Status: %u", unsigned{state}));
    uint32_t value = 0;
    if (EcAnswersPowerState()) {
      corlan::QRN300::EcHID::GetACStatus(value);
    } else {
      value = OperatingAction::GetACStatusValue();
    }
    namedpipe_agent_service_function::SendAdaptorChangedEvent(value);
  } catch (const std::exception&) {
    Log(kIndicate, "WmiEvent::AC_Status: exception");
  }
}

void BatteryBoostChanged(uint8_t state) {
  try {
    Log(kIndicate, FormatMessageSized(kLine, "WmiEvent::Battery_Boost: %u", unsigned{state}));
    uint32_t value = 0;
    if (EcAnswersPowerState()) {
      corlan::QRN300::EcHID::GetBatteryBoostStatus(value);
    } else {
      value = OperatingAction::check_battery_boost() ? 1 : 0;
    }
    namedpipe_agent_service_function::SendBatteryBoostChangedEvent(value);
  } catch (const std::exception&) {
    Log(kIndicate, "WmiEvent::Battery_Boost: exception");
  }
}

}  // namespace

namespace ironbark {

wmi::HRESULT IbWmiEventSink::QueryInterface(SinkInterface id, void** out) {
  if (id != SinkInterface::kIUnknown && id != SinkInterface::kIWbemObjectSink) return kE_NoInterface;
  *out = static_cast<platform::WmiObjectSink*>(this);
  AddRef();
  return wmi::kS_OK;
}

// The count lives in the object: COM's rules, so a reference is given back exactly once.
uint32_t IbWmiEventSink::AddRef() { return static_cast<uint32_t>(++refs_); }

uint32_t IbWmiEventSink::Release() {
  const int32_t left = --refs_;
  if (left == 0) delete this;
  return static_cast<uint32_t>(left);
}

wmi::HRESULT IbWmiEventSink::SetStatus(int32_t /*flags*/, wmi::HRESULT /*result*/) { return wmi::kS_OK; }

wmi::HRESULT IbWmiEventSink::Indicate(std::span<platform::WmiObject* const> objects) {
  wmi::HRESULT read = wmi::kS_OK;  // the last "EventDetail" read of this call
  for (platform::WmiObject* object : objects) {
    // After a failed read the rest of the batch is not trusted.
    if (object == nullptr || wmi::Failed(read)) continue;
    wmi::Variant value;
    read = object->Get("EventDetail", &value);
    if (read != wmi::kS_OK || value.type != wmi::VarType::kUI1Array) continue;
    std::array<uint8_t, 8> detail{};
    std::copy_n(value.bytes.begin(), std::min(value.bytes.size(), detail.size()), detail.begin());
    wmi::VariantClear(value);
    try {
      HandleEvent(detail);
    } catch (...) {
      // Nothing may leave a COM callback; the next object is handled as usual.
    }
  }
  return wmi::kS_OK;
}

void IbWmiEventSink::HandleEvent(const std::array<uint8_t, 8>& detail) {
  switch (detail[0]) {
    case 5:
      if (detail[1] == 0x10 && detail[2] == 0x07) {
        Log(kIndicate, "Type-C display port without Function.");
        namedpipe_agent_service_function::SendDisplayPortFunctionEvent();
      }
      break;
    case 7:
      if (detail[1] == 4 || detail[1] == 5) TurboKey();
      break;
    case 8: AdaptorChanged(detail[1]); break;
    case 9: BatteryBoostChanged(detail[1]); break;
    default: break;  // type 1 and unknown types: nothing to tell the agent
  }
}

}  // namespace ironbark

namespace OperatingAction {

int32_t GetOperatingMode() {
  constexpr const char* kFunction = "OperatingAction::GetOperatingMode";
  try {
    uint64_t output = 0;
    if (!GetGamingMiscSettingFunction(11, &output)) return -1;
    Log(kFunction, FormatMessageSized(kLine, "WMI GetGamingMiscSettingFunction output: 0x%I64X", output));
    if ((output & 0xFF) != 0) return -1;
    return static_cast<int32_t>((output >> 8) & 0xFF);
  } catch (...) {
    Log(kFunction, "GetOperating mode failed");
    return -1;
  }
}

int32_t GetTurboKeyStatus() {
  constexpr const char* kFunction = "OperatingAction::GetTurboKeyStatus";
  try {
    std::array<uint8_t, kGamingLedResultSize> result{};
    if (!GetGamingLEDBehaviorFunction(&result)) return -1;
    Log(kFunction, FormatMessageSized(kLine, "WMI GetGamingLEDBehaviorFunction output 2.86: 0x%X",
                                      unsigned{result[1]}));
    if (result[0] != 0) return -1;
    return result[1] & 3;
  } catch (...) {
    Log(kFunction, "GetTurboKeyStatus failed");
    return -1;
  }
}

bool GetACStatus() {
  constexpr const char* kFunction = "OperatingAction::GetACStatus";
  const uint32_t adaptors = read_reg_dword_default(kCalvaneKey, "Two_AC_Support");
  Log(kFunction, FormatMessageSized(kLine, "Two_AC_Support: %d", static_cast<int>(adaptors)));
  const uint64_t output = FunctionTen(kFunction);
  if ((output & 0xFF) != 0) return false;
  return (output & (adaptors == 1 ? 0x200u : 0x100u)) != 0;
}

bool check_battery_boost() {
  constexpr const char* kFunction = "OperatingAction::check_battery_boost";
  constexpr uint32_t kInput = 2;
  Log(kFunction, FormatMessageSized(kLine, "WMI GetGamingSystemInformationFunction input: 0x%I32X", kInput));
  uint64_t output = 0;
  if (!GetGamingSystemInformationFunction(kInput, &output)) output = 0;
  Log(kFunction, FormatMessageSized(kLine, "WMI GetGamingSystemInformationFunction output: 0x%I64X", output));
  return (output & 0xFF) == 0 && ((output >> 40) & 0xFF) == 1;
}

uint32_t GetACStatusValue() {
  const uint64_t output = FunctionTen("OperatingAction::GetACStatusValue");
  return (output & 0xFF) == 0 ? static_cast<uint32_t>((output >> 8) & 0xFF) : 0;
}

}  // namespace OperatingAction

namespace firmware_events {
namespace {

// Process-wide, touched on the main thread only (window creation and destruction).
WmiConnection* g_EventConnection = nullptr;
ironbark::IbWmiEventSink* g_EventSink = nullptr;
bool g_SinkReferenced = false;  // the subscription added the reference the teardown gives back
wmi::HRESULT g_Result = wmi::kS_OK;

void Attach(WmiConnection& connection) {
  std::unique_ptr<platform::WmiUnsecuredApartment> apartment;
  connection.hr = platform::Wmi().CreateUnsecuredApartment(&apartment);
  if (wmi::Failed(connection.hr)) return;
  g_EventSink->AddRef();
  g_SinkReferenced = true;
  std::unique_ptr<platform::WmiObjectStub> stub;
  connection.hr = apartment->CreateObjectStub(g_EventSink, &stub);
  if (wmi::Failed(connection.hr)) return;
  std::unique_ptr<platform::WmiStubSink> stub_sink;
  connection.hr = stub->QuerySink(&stub_sink);
  if (wmi::Failed(connection.hr)) return;
  platform::WmiStubSink* delivered_to = stub_sink.get();
  connection.extra = WmiHold(std::move(stub_sink));
  if (connection.services == nullptr) return;  // the connection failed; its hr says why
  connection.hr = connection.services->ExecNotificationQueryAsync(
      ironbark::kFirmwareEventQuery, ironbark::kWbemFlagSendStatus, delivered_to);
  // The apartment and the stub's IUnknown are released here; the stub lives on in its sink.
}

}  // namespace

void Subscribe() {
  g_EventConnection = new WmiConnection();
  const bool connected = wmi_connect(*g_EventConnection, "ROOT\\WMI");
  const wmi::HRESULT connect_result = g_EventConnection->hr;
  Log("ironbark::IbWmiEventSink::Initialize", "Start");
  g_EventSink = new ironbark::IbWmiEventSink();
  Log("ironbark::IbWmiEventSink::Initialize", "End");
  Attach(*g_EventConnection);
  g_Result = connected ? g_EventConnection->hr : connect_result;
}

void Release() {
  if (g_EventConnection != nullptr) {
    wmi_close(*g_EventConnection);
    delete g_EventConnection;
    g_EventConnection = nullptr;
  }
  if (g_EventSink != nullptr) {
    if (g_SinkReferenced) {
      g_EventSink->Release();
    } else {
      delete g_EventSink;  // never handed out: no reference to give back
    }
    g_EventSink = nullptr;
    g_SinkReferenced = false;
  }
}

wmi::HRESULT SubscriptionResult() { return g_Result; }

}  // namespace firmware_events
