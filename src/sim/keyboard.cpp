#include "sim/keyboard.h"

namespace sim {
using namespace profile_format;

Section KeyboardSection(KeyboardProfile& keyboard) {
  return Keys("keyboard", {
      {"backlight_off_30s",
       [&](std::string_view v) { keyboard.backlight_off_30s = static_cast<uint8_t>(Number(v, kMax8)); }},
      {"win_key_byte",
       [&](std::string_view v) { keyboard.win_key_byte = static_cast<uint8_t>(Number(v, kMax8)); }},
  });
}

uint8_t KeyboardChecksum(std::span<const uint8_t> block) {
  uint8_t sum = 0;
  for (size_t i = 0; i < 7 && i < block.size(); ++i) sum = static_cast<uint8_t>(sum + block[i]);
  return static_cast<uint8_t>(0xFF - sum);
}

SimulatedKeyboard::SimulatedKeyboard(const KeyboardProfile& profile)
    : backlight_off_30s_(profile.backlight_off_30s), win_key_byte_(profile.win_key_byte) {}

bool SimulatedKeyboard::Write(std::span<const uint8_t> report) {
  std::array<uint8_t, kKeyboardBlockBytes> block{};
  CopyPadded(report.subspan(1), block);
  if (block[7] != KeyboardChecksum(block)) return false;

  std::array<uint8_t, kKeyboardBlockBytes> reply{};
  reply[0] = block[0];
  switch (block[0]) {
    case 0x30:
      if (block[1] != 0x01) return false;
      backlight_off_30s_ = block[2];
      reply = block;
      break;
    case 0xB0:
      reply[1] = 0x01;
      reply[2] = backlight_off_30s_;
      break;
    case 0x03:
      win_key_byte_ = block[1];
      reply = block;
      break;
    case 0x83:
      reply[1] = win_key_byte_;
      break;
    default:
      return false;
  }
  reply[7] = KeyboardChecksum(reply);
  reply_ = reply;
  return true;
}

void SimulatedKeyboard::Read(std::span<uint8_t> report) { CopyPadded(reply_, report.subspan(1)); }

}  // namespace sim
