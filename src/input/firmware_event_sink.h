// The firmware event sink: the broker's subscription to the notebook firmware's WMI events
// (class FwxEvent in ROOT\WMI: turbo key, AC adaptor, battery boost, a display on a USB-C port
// without display function), and their forwarding to the agent service (pipe/agent_client.h)
// with the machine's current state, read from the firmware (OperatingAction) or the embedded
// controller (hid/ec_hid.h).
//
// The subscription is made on the main thread at window creation and torn down at window
// destruction (app/lifecycle.cpp). Events arrive on a delivery thread of the WMI service, not
// on the main thread; deliveries may overlap, and the sink keeps no state between them.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <span>

#include "base/variant.h"
#include "platform/wmi.h"

namespace ironbark {

inline constexpr wmi::HRESULT kE_NoInterface = static_cast<wmi::HRESULT>(0x80004002);
inline constexpr int32_t kWbemFlagSendStatus = 0x80;
inline constexpr const char* kFirmwareEventQuery = "SELECT * FROM FwxEvent";

// The interfaces the sink may be asked for.
enum class SinkInterface { kIUnknown, kIWbemObjectSink, kOther };

// The COM object that receives the firmware's events. Its reference count starts at 0; the
// object deletes itself when Release brings it back to 0.
class IbWmiEventSink : public platform::WmiObjectSink {
 public:
  IbWmiEventSink() = default;
  ~IbWmiEventSink() override = default;
  IbWmiEventSink(const IbWmiEventSink&) = delete;
  IbWmiEventSink& operator=(const IbWmiEventSink&) = delete;

  // kIUnknown and kIWbemObjectSink: *out = this, one reference added, S_OK. Otherwise
  // E_NOINTERFACE and *out untouched.
  wmi::HRESULT QueryInterface(SinkInterface id, void** out);
  uint32_t AddRef() override;
  uint32_t Release() override;
  // Handles each object's "EventDetail" in order (see firmware_event_sink.cpp); always S_OK.
  wmi::HRESULT Indicate(std::span<platform::WmiObject* const> objects) override;
  // Ignored; S_OK.
  wmi::HRESULT SetStatus(int32_t flags, wmi::HRESULT result) override;

  // The first 8 bytes of an event's "EventDetail" (zeros where it is shorter), acted on as the
  // firmware's event table says: 07 04 / 07 05 turbo key, 08 AC adaptor, 09 battery boost,
  // 05 10 07 display port without function; anything else is ignored.
  static void HandleEvent(const std::array<uint8_t, 8>& detail);

 private:
  std::atomic<int32_t> refs_{0};
};

}  // namespace ironbark

// The firmware queries the event handling reads the machine's state with. Failures give the
// fall-back values; each logs under "OperatingAction::" and its own name.
namespace OperatingAction {
int32_t GetOperatingMode();   // the operation mode, or -1
int32_t GetTurboKeyStatus();  // the turbo-key state 0..3, or -1
bool GetACStatus();           // AC power present (bit 8, or bit 9 with two adaptors)
bool check_battery_boost();   // battery boost active
// The AC status value of function 10 (its byte 1), 0 when the firmware refuses.
uint32_t GetACStatusValue();
}  // namespace OperatingAction

namespace firmware_events {
// Window creation: opens the event connection on ROOT\WMI, creates the sink and subscribes it
// through an unsecured apartment's object stub to "SELECT * FROM FwxEvent". A failing step
// ends the attempt silently; the process then simply receives no firmware events.
void Subscribe();
// Window destruction: closes the event connection (its services, locator and the stub's sink;
// COM balanced), then releases the sink.
void Release();
// The result of the subscription's last step (S_OK when events are flowing); for diagnostics.
wmi::HRESULT SubscriptionResult();
}  // namespace firmware_events
