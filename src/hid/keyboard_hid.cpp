#include "hid/keyboard_hid.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <string>

#include "base/text.h"
#include "log/log_file.h"
#include "log/logger.h"
#include "log/message_format.h"
#include "platform/services.h"

namespace corlan::QRN300 {
namespace {

constexpr size_t kMessageChars = 256;
constexpr size_t kFieldChars = 260;
constexpr uint16_t kCommandReportLength = 9;  // report ID 0 and an 8-byte block
constexpr uint8_t kCommandReportId = 0;
constexpr std::chrono::milliseconds kReplyPause{20};

void Log(int level, std::string_view operation, const std::string& message) {
  g_Logger->Log(level, "corlan::QRN300::KeyboardHID::" + std::string(operation), message);
}

struct State {
  std::mutex command_lock;
  std::mutex device_lock;
  HIDHandle handle = kInvalidHIDHandle;
  // Written only by a search, under the device lock; read without it.
  std::atomic<uint16_t> vendor{0}, product{0};
  std::atomic<int32_t> code{kNoKeyboard};
};

State& Keyboard() {
  static State state;
  return state;
}

// The built-in rows, in the order they are inserted: each vendor with its product IDs and
// their codes.
struct Rows {
  uint16_t vendor;
  std::initializer_list<std::pair<uint16_t, int32_t>> products;
};

const Rows kBuiltIn[] = {
    {0x0D62, {{0xFABC, 0}, {0xFABE, 1}, {0x0ABA, 0}, {0x0ABB, 1}, {0x0ABC, 2}, {0x0ABD, 3},
              {0x6A0C, 0}, {0x6A0D, 1}, {0x6666, 0}, {0x9A1A, 0}, {0x9A1B, 1}, {0x7CB0, 0},
              {0x7CB1, 1}, {0x9CBA, 0}, {0x9CBB, 1}, {0x0B9D, 0}, {0x0B9E, 1}, {0x0B9F, 0},
              {0x0BA0, 1}}},
    {0x04F2, {{0x0117, 0}, {0x011A, 1}, {0x0119, 2}}},
    {0x05AF, {{0x766D, 0}, {0x766A, 1}, {0x766B, 2}, {0x766C, 0}, {0x766E, 1}}},
    {0x05AF, {{0x866A, 0}, {0x866B, 1}, {0x866C, 2}, {0x866D, 0}, {0x866E, 1}}},
    {0x05AF, {{0x666A, 0}, {0x666B, 1}, {0x666C, 2}, {0x666D, 0}, {0x666E, 1}}},
    {0x05AF, {{0x867A, 0}, {0x867B, 1}, {0x867C, 2}, {0x867D, 0}, {0x867E, 1}}},
    {0x05AF, {{0x667A, 0}, {0x667B, 1}, {0x667C, 2}, {0x667D, 0}, {0x667E, 1}}},
    {0x05AF, {{0x767A, 0}, {0x767B, 1}, {0x767C, 2}, {0x767D, 0}, {0x767E, 1}}},
    {0x05AF, {{0x868A, 0}, {0x868B, 1}, {0x868C, 2}, {0x868D, 0}, {0x868E, 1}}},
    {0x05AF, {{0x668A, 0}, {0x668B, 1}, {0x668C, 2}, {0x668D, 0}, {0x668E, 1}}},
};

KeyboardBlock Block(std::initializer_list<uint8_t> first_seven) {
  KeyboardBlock block{};
  std::copy(first_seven.begin(), first_seven.end(), block.begin());
  block[7] = static_cast<uint8_t>(0xFF - std::accumulate(block.begin(), block.begin() + 7, 0u));
  return block;
}

int32_t FieldValue(const char* key) {
  return text::LeadingDecimal(platform::Files().GetPrivateProfileStringW(
      "USBKeyboard", key, "", kFieldChars, kKeyboardFieldFile));
}

// Called with the device lock held.
void CloseHIDDeviceHandleLocked() {
  State& kb = Keyboard();
  if (kb.handle != kInvalidHIDHandle) {
    platform::HidDevices().Close(kb.handle);
    kb.handle = kInvalidHIDHandle;
  }
}

bool IsCommandInterface(HIDP_CAPS& caps) { return caps.feature_report_length == kCommandReportLength; }

// One keyboard command under the command lock: the block sent, and for a get the reply read
// back into it after the pause.
bool Command(KeyboardBlock& block, bool read_reply, std::string_view operation) {
  State& kb = Keyboard();
  std::lock_guard<std::mutex> lock(kb.command_lock);
  const HIDHandle handle = KeyboardHID::GetHIDDeviceHandle();
  if (handle == kInvalidHIDHandle) {
    Log(kLogError, operation, "GetHIDDeviceHandle fail");
    return false;
  }
  if (!IbHID::SetHIDFeature(handle, kCommandReportId, block.data(), block.size())) {
    KeyboardHID::CloseHIDDeviceHandle();
    Log(kLogError, operation, "Error setting feature on HID device");
    return false;
  }
  if (!read_reply) return true;
  platform::Time().SleepFor(kReplyPause);
  if (!IbHID::GetHIDFeature(handle, kCommandReportId, block.data(), block.size())) {
    KeyboardHID::CloseHIDDeviceHandle();
    Log(kLogError, operation, "Error getting feature from HID device");
    return false;
  }
  return true;
}

}  // namespace

KeyboardTable BuildKeyboardTable(uint16_t overrideVendor, uint16_t overrideProduct,
                                 int32_t overrideCode) {
  KeyboardTable table;
  // A later row replaces an earlier one with the same key.
  const auto put = [&table](uint16_t vendor, uint16_t product, int32_t code) {
    table[{vendor, product}] = code;
  };
  for (const Rows& rows : kBuiltIn) {
    for (const auto& [product, code] : rows.products) put(rows.vendor, product, code);
  }
  put(overrideVendor, overrideProduct, overrideCode);
  put(overrideVendor, 0x0B9E, 1);
  put(0x0D62, 0x0B9F, 0);
  put(0x0D62, 0x0BA0, 1);
  return table;
}

KeyboardBlock KeyboardBacklightOff30sSetBlock(uint32_t state) {
  return Block({0x30, 0x01, static_cast<uint8_t>(state == 1 ? 1 : 0)});
}
KeyboardBlock KeyboardBacklightOff30sGetBlock() { return Block({0xB0}); }
KeyboardBlock KeyboardWinMenuKeySetBlock(uint32_t state) {
  return Block({0x03, static_cast<uint8_t>(state == 1 ? 0x00 : 0x03)});
}
KeyboardBlock KeyboardWinMenuKeyGetBlock() { return Block({0x83}); }

bool KeyboardHID::InitiallKeyboardHid() {
  State& kb = Keyboard();
  std::lock_guard<std::mutex> lock(kb.device_lock);
  const int32_t vendor = FieldValue("Vid_ini_ON");
  const int32_t product = FieldValue("Pid_ini_ON");
  const int32_t code = FieldValue("Keyboard_ini_ON");
  CloseHIDDeviceHandleLocked();
  // The IDs keep their low 16 bits.
  kb.handle = SearchKeyboardHID(BuildKeyboardTable(static_cast<uint16_t>(vendor),
                                                   static_cast<uint16_t>(product), code));
  if (kb.handle == kInvalidHIDHandle) return false;
  Log(kLogInfo, "InitiallKeyboardHid",
      FormatMessageSized(kMessageChars, "SearchKeyboardHID vid:%04X pid:%04X handle:%p",
                         unsigned{kb.vendor.load()}, unsigned{kb.product.load()},
                         reinterpret_cast<const void*>(kb.handle)));
  return true;
}

HIDHandle KeyboardHID::SearchKeyboardHID(KeyboardTable table) {
  State& kb = Keyboard();
  return IbHID::GetHIDDeviceHandle(
      [&table, &kb](uint16_t vendor, uint16_t product) {
        const auto row = table.find({vendor, product});
        if (row == table.end()) return false;
        kb.vendor = vendor;
        kb.product = product;
        kb.code = row->second;
        return true;
      },
      [&kb](HIDP_CAPS& caps) {
        if (IsCommandInterface(caps)) return true;
        // Another interface of the same keyboard: forget it until the command interface comes.
        kb.code = kNoKeyboard;
        kb.vendor = 0;
        kb.product = 0;
        return false;
      });
}

HIDHandle KeyboardHID::GetHIDDeviceHandle() {
  State& kb = Keyboard();
  if (kb.vendor.load() == 0 || kb.product.load() == 0) {
    Log(kLogInfo, "GetHIDDeviceHandle", "Invalid VID PID");
    if (!InitiallKeyboardHid()) return kInvalidHIDHandle;
  }
  std::lock_guard<std::mutex> lock(kb.device_lock);
  if (kb.handle == kInvalidHIDHandle) {
    kb.handle = IbHID::GetHIDDeviceHandle(kb.vendor.load(), kb.product.load(), IsCommandInterface);
  }
  return kb.handle;
}

void KeyboardHID::CloseHIDDeviceHandle() {
  std::lock_guard<std::mutex> lock(Keyboard().device_lock);
  CloseHIDDeviceHandleLocked();
}

int32_t KeyboardHID::GetKeyboardType() {
  State& kb = Keyboard();
  if (kb.vendor.load() != 0 && kb.product.load() != 0) return kb.code.load();
  Log(kLogInfo, "GetKeyboardType", "Invalid VID PID");
  InitiallKeyboardHid();
  return kb.code.load();
}

bool KeyboardHID::SetKeyboardBacklightingOff30s(uint32_t state) {
  KeyboardBlock block = KeyboardBacklightOff30sSetBlock(state);
  return Command(block, false, "SetKeyboardBacklightingOff30s");
}

bool KeyboardHID::GetKeyboardBacklightingOff30s(uint32_t& state) {
  KeyboardBlock block = KeyboardBacklightOff30sGetBlock();
  if (!Command(block, true, "GetKeyboardBacklightingOff30s")) return false;
  state = block[2];
  return true;
}

bool KeyboardHID::SetWinMenuKeyControl(uint32_t state) {
  KeyboardBlock block = KeyboardWinMenuKeySetBlock(state);
  return Command(block, false, "SetWinMenuKeyControl");
}

bool KeyboardHID::GetWinMenuKeyControl(uint32_t& value) {
  KeyboardBlock block = KeyboardWinMenuKeyGetBlock();
  if (!Command(block, true, "GetWinMenuKeyControl")) return false;
  value = block[1];
  return true;
}

void KeyboardHID::ResetForTests() {
  CloseHIDDeviceHandle();
  State& kb = Keyboard();
  kb.vendor = 0;
  kb.product = 0;
  kb.code = kNoKeyboard;
}

}  // namespace corlan::QRN300
