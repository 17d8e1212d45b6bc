// The simulated notebook's USB keyboard firmware behind its command interface (a [hid] section
// with device = keyboard, normally 9-byte feature reports): report ID 0 followed by an 8-byte
// command block whose byte 7 is 0xFF minus the sum of bytes 0 to 6 (modulo 256).
//
//   0x30 0x01 S     set the backlight-off-after-30-seconds state to S
//   0xB0            get it: the reply block holds 0xB0, 0x01, the state
//   0x03 K          set the Win/Menu key byte to K (bit 0 the Windows key, bit 1 the Menu key
//                   work; 0x03 both, 0x00 both locked)
//   0x83            get it: the reply block holds 0x83, the key byte
// The keyboard stalls (the write fails) on a block with a wrong checksum or a command it does
// not know, and changes nothing. Each accepted command leaves its reply block in the keyboard's
// reply buffer, which every read answers: a get's reply, or for a set the command block itself.
// Reply blocks carry their own checksum; the buffer is zero until the first command. The
// state lasts as long as the keyboard runs (the process).
//
// Profile section (defaults in parentheses; machines/README.md has the long form):
//   [keyboard]  backlight_off_30s = 8-bit (0): the state at power-on
//               win_key_byte = 8-bit (0x03): the key byte at power-on
#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "sim/hid_firmware.h"
#include "sim/profile_format.h"

namespace sim {

inline constexpr size_t kKeyboardBlockBytes = 8;

struct KeyboardProfile {
  uint8_t backlight_off_30s = 0;
  uint8_t win_key_byte = 0x03;
};

profile_format::Section KeyboardSection(KeyboardProfile& keyboard);

// Byte 7 of a command block: 0xFF minus the sum of bytes 0 to 6.
uint8_t KeyboardChecksum(std::span<const uint8_t> block);

class SimulatedKeyboard : public HidFirmware {
 public:
  explicit SimulatedKeyboard(const KeyboardProfile& profile);

  bool KnowsReport(uint8_t report_id) const override { return report_id == 0; }
  bool Write(std::span<const uint8_t> report) override;
  void Read(std::span<uint8_t> report) override;

 private:
  uint8_t backlight_off_30s_;
  uint8_t win_key_byte_;
  std::array<uint8_t, kKeyboardBlockBytes> reply_{};
};

}  // namespace sim
