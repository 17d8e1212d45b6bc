// KeyboardHID: the notebook's USB keyboard, which comes from several makers under several
// vendor/product ID pairs. It is recognised from a built-in table (which the field file
// "C:\ProgramData\OEM\Calvane\Feature.ini" may extend), reports its language code to the
// start-up survey, and takes four vendor commands as 8-byte blocks in feature report 0 of its
// 9-byte command interface: the backlight-off-after-30-s switch and the Win/Menu key lock.
//
// Process-wide state: the found vendor and product ID (0 until a search found them), the
// language code (3 = no known keyboard), the cached handle. The command lock serialises the
// commands, the device lock guards the handle and the initialisation; order: command, then
// device. Every line goes through g_Logger under "corlan::QRN300::KeyboardHID::" + operation.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <utility>

#include "hid/ib_hid.h"

namespace corlan::QRN300 {

// (vendor ID, product ID) -> language code 0, 1 or 2 (3: none known).
using KeyboardTable = std::map<std::pair<uint16_t, uint16_t>, int32_t>;

inline constexpr int32_t kNoKeyboard = 3;
inline constexpr const char* kKeyboardFieldFile = "C:\\ProgramData\\OEM\\Calvane\\Feature.ini";

// The table for a field file naming (vendor, product) -> code: the built-in rows in their
// order, then the file's row and the three rows that always win over it.
KeyboardTable BuildKeyboardTable(uint16_t overrideVendor, uint16_t overrideProduct,
                                 int32_t overrideCode);

// The 8-byte command blocks, byte 7 the checksum 0xFF minus the sum of bytes 0..6.
using KeyboardBlock = std::array<uint8_t, 8>;
KeyboardBlock KeyboardBacklightOff30sSetBlock(uint32_t state);  // S = 1 for state 1, else 0
KeyboardBlock KeyboardBacklightOff30sGetBlock();
KeyboardBlock KeyboardWinMenuKeySetBlock(uint32_t state);  // K = 0x00 for state 1, else 0x03
KeyboardBlock KeyboardWinMenuKeyGetBlock();

class KeyboardHID {
 public:
  // Reads the field file, builds the table and searches; true when a keyboard was opened.
  static bool InitiallKeyboardHid();
  // The first interface of a listed keyboard whose feature reports are 9 bytes long.
  static HIDHandle SearchKeyboardHID(KeyboardTable table);
  // The cached handle, reopened by the found IDs when needed; invalid when there is none.
  static HIDHandle GetHIDDeviceHandle();
  static void CloseHIDDeviceHandle();
  // The language code, searching first when no keyboard is known yet.
  static int32_t GetKeyboardType();

  static bool SetKeyboardBacklightingOff30s(uint32_t state);
  static bool GetKeyboardBacklightingOff30s(uint32_t& state);
  static bool SetWinMenuKeyControl(uint32_t state);
  static bool GetWinMenuKeyControl(uint32_t& value);

  // Forgets the found IDs, the code and the handle (closed): for tests.
  static void ResetForTests();
};

}  // namespace corlan::QRN300
