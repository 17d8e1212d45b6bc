// Raw-input seam: the notebook's dedicated keys as the broker's hidden window receives them.
// Windows: RegisterRawInputDevices with the window as target, WM_INPUT, GetRawInputData and
// GetAsyncKeyState. Linux: the simulated notebook's keyboard, vendor collection and mouse
// (sim/keyboard_input.h), whose records reach the main loop one message each, in arrival order.
#pragma once
#include <array>
#include <cstdint>
#include <optional>

namespace platform {

// RAWINPUTDEVICE.dwFlags: input arrives even while the window is not in the foreground.
inline constexpr uint32_t kRidevInputSink = 0x100;

// RAWINPUTHEADER.dwType.
enum RawInputType : uint32_t {
  kRimTypeMouse = 0,
  kRimTypeKeyboard = 1,
  kRimTypeHid = 2,
};

// RAWKEYBOARD.Flags.
inline constexpr uint16_t kRiKeyBreak = 1;  // key up
inline constexpr uint16_t kRiKeyE0 = 2;     // the scan code had the E0 prefix

struct RawInputDevice {
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  uint32_t flags = 0;
};

// The fields of one raw-input record that the broker reads.
struct RawInputRecord {
  uint32_t type = kRimTypeMouse;
  uint16_t make_code = 0;              // keyboard: RAWKEYBOARD.MakeCode
  uint16_t flags = 0;                  // keyboard: RAWKEYBOARD.Flags
  std::array<uint8_t, 4> hid_bytes{};  // HID: the first four bytes of bRawData (0 beyond it)
};

class RawInput {
 public:
  virtual ~RawInput() = default;
  // RegisterRawInputDevices for the one `device`, delivering to `window` (null on Linux, where
  // the main loop stands for the window). False when the registration failed.
  virtual bool RegisterDevice(const RawInputDevice& device, void* window) = 0;
  // GetRawInputData(RID_INPUT) for the record `handle` (the raw-input message's lParam): the
  // size first, then the record into a buffer of that size from the process heap, freed before
  // returning. nullopt when the size is 0, the buffer cannot be had or nothing was read. Called
  // on the main thread while that message is handled; each record is read once.
  virtual std::optional<RawInputRecord> ReadInput(intptr_t handle) = 0;
  // GetAsyncKeyState(virtual_key) with its most significant bit set: the key is down now.
  virtual bool IsKeyDown(uint8_t virtual_key) = 0;
};

}  // namespace platform
