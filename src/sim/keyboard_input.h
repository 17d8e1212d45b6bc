// The simulated notebook's input devices as raw input: the keyboard (scan codes, the six
// modifier keys), the vendor collection that reports the special keys, and the mouse. This is
// the in-process API that acts on them while the broker runs (the `quellmark-cli sim` channel
// maps each verb onto one call here):
//
//   PressKey(kHelmKey, kLeftCtrl)    Ctrl down, Helm down, Helm up, Ctrl up
//   HoldKey(kHelmKey, 3)             Helm down, then three auto-repeat key-downs; no key-up
//   ReleaseKey(kHelmKey)             Helm up (and any modifiers given, up)
//   VendorKey(kVendorBrightnessUp)   one vendor report: report id, key, 0xFF, 0
//   VendorReport({...})              any four-byte vendor report
//   MoveMouse()                      one mouse record
//
// Each record becomes one raw-input message: once its device class is registered
// (RegisterDevice), the record waits under a handle of its own and the window procedure given
// to Connect runs on the main thread with that handle, one message at a time in the order the
// records were made; ReadInput hands the record over once. Records of a class nobody registered
// are dropped, as Windows drops them.
//
// The modifier keys' state (IsKeyDown, GetAsyncKeyState on Windows) follows the keyboard
// records as the main thread reads them, so the broker sees the modifiers exactly as they were
// held around the key press it is handling, however late it handles it. Records that are
// dropped change the state at once.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/main_thread.h"
#include "platform/raw_input.h"

namespace sim {

// A key as the keyboard reports it: its scan code and whether it carries the E0 prefix.
struct ScanKey {
  uint16_t make_code = 0;
  bool e0 = false;
};

// The dedicated keys on the keyboard path.
inline constexpr ScanKey kHelmKey{0x75, true};
inline constexpr ScanKey kBrightnessUpKey{0x6F, true};
inline constexpr ScanKey kBrightnessDownKey{0x70, true};
inline constexpr ScanKey kBrightnessCycleKey{0x77, true};

// Byte 1 of the vendor collection's reports for the special keys (byte 2 is 0xFF).
inline constexpr uint8_t kVendorHelm = 0x81;
inline constexpr uint8_t kVendorBrightnessUp = 0x7C;
inline constexpr uint8_t kVendorBrightnessDown = 0x7D;
inline constexpr uint8_t kVendorOperationMode = 0x85;
inline constexpr uint8_t kVendorBacklight30sOff = 0x89;
inline constexpr uint8_t kVendorBacklight30sOn = 0x8A;
inline constexpr uint8_t kVendorReportId = 0x05;

// The modifier keys held around a key, as a bit set.
enum Modifier : uint8_t {
  kLeftShift = 0x01,
  kRightShift = 0x02,
  kLeftCtrl = 0x04,
  kRightCtrl = 0x08,
  kLeftAlt = 0x10,
  kRightAlt = 0x20,
};

class SimulatedInput final : public platform::RawInput {
 public:
  // Where raw-input messages go: `window_procedure(handle)` is posted to `main` for every
  // record. Until then records wait in no queue and are dropped.
  void Connect(platform::MainThread* main, std::function<void(intptr_t)> window_procedure);

  void PressKey(ScanKey key, uint8_t modifiers = 0);
  // The key goes down and stays down; `repeats` more key-down records follow, as the keyboard's
  // auto-repeat sends them.
  void HoldKey(ScanKey key, unsigned repeats, uint8_t modifiers = 0);
  void ReleaseKey(ScanKey key, uint8_t modifiers = 0);
  // One report of a special key on the vendor collection, the modifiers held around it.
  void VendorKey(uint8_t key, uint8_t modifiers = 0);
  void VendorReport(std::array<uint8_t, 4> report);
  void MoveMouse();

  bool RegisterDevice(const platform::RawInputDevice& device, void* window) override;
  std::optional<platform::RawInputRecord> ReadInput(intptr_t handle) override;
  bool IsKeyDown(uint8_t virtual_key) override;

 private:
  void ModifierRecords(uint8_t modifiers, bool up);
  void KeyRecord(ScanKey key, bool up);
  // Makes one record into a message, or drops it; call with produce_ held.
  void Deliver(const platform::RawInputRecord& record, uint16_t usage_page, uint16_t usage);
  void ApplyKeyState(const platform::RawInputRecord& record);  // call with state_ held

  std::mutex produce_;  // one producer at a time: records keep their order up to the main thread
  std::mutex state_;    // guards everything below
  platform::MainThread* main_ = nullptr;
  std::function<void(intptr_t)> window_procedure_;
  std::vector<std::pair<uint16_t, uint16_t>> registered_;  // usage page, usage
  std::map<intptr_t, platform::RawInputRecord> waiting_;
  intptr_t next_handle_ = 1;
  uint8_t modifiers_down_ = 0;
};

}  // namespace sim
