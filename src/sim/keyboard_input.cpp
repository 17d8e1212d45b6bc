#include "sim/keyboard_input.h"

#include <algorithm>
#include <utility>

namespace sim {
namespace {

// The six modifier keys: bit, virtual key, scan key.
constexpr struct { uint8_t bit; uint8_t virtual_key; ScanKey key; } kModifierKeys[] = {
    {kLeftShift, 0xA0, {0x2A, false}}, {kRightShift, 0xA1, {0x36, false}},
    {kLeftCtrl, 0xA2, {0x1D, false}},  {kRightCtrl, 0xA3, {0x1D, true}},
    {kLeftAlt, 0xA4, {0x38, false}},   {kRightAlt, 0xA5, {0x38, true}},
};

}  // namespace

void SimulatedInput::Connect(platform::MainThread* main,
                             std::function<void(intptr_t)> window_procedure) {
  std::lock_guard<std::mutex> lock(state_);
  main_ = main;
  window_procedure_ = std::move(window_procedure);
}

void SimulatedInput::PressKey(ScanKey key, uint8_t modifiers) {
  std::lock_guard<std::mutex> lock(produce_);
  ModifierRecords(modifiers, false);
  KeyRecord(key, false);
  KeyRecord(key, true);
  ModifierRecords(modifiers, true);
}

void SimulatedInput::HoldKey(ScanKey key, unsigned repeats, uint8_t modifiers) {
  std::lock_guard<std::mutex> lock(produce_);
  ModifierRecords(modifiers, false);
  for (unsigned i = 0; i <= repeats; ++i) KeyRecord(key, false);
}

void SimulatedInput::ReleaseKey(ScanKey key, uint8_t modifiers) {
  std::lock_guard<std::mutex> lock(produce_);
  KeyRecord(key, true);
  ModifierRecords(modifiers, true);
}

void SimulatedInput::VendorKey(uint8_t key, uint8_t modifiers) {
  std::lock_guard<std::mutex> lock(produce_);
  ModifierRecords(modifiers, false);
  platform::RawInputRecord record{.type = platform::kRimTypeHid};
  record.hid_bytes = {kVendorReportId, key, 0xFF, 0x00};
  Deliver(record, 0x0088, 0x0001);
  ModifierRecords(modifiers, true);
}

void SimulatedInput::VendorReport(std::array<uint8_t, 4> report) {
  std::lock_guard<std::mutex> lock(produce_);
  platform::RawInputRecord record{.type = platform::kRimTypeHid};
  record.hid_bytes = report;
  Deliver(record, 0x0088, 0x0001);
}

void SimulatedInput::MoveMouse() {
  std::lock_guard<std::mutex> lock(produce_);
  Deliver({.type = platform::kRimTypeMouse}, 0x0001, 0x0002);
}

void SimulatedInput::ModifierRecords(uint8_t modifiers, bool up) {
  for (const auto& modifier : kModifierKeys) {
    if (modifiers & modifier.bit) KeyRecord(modifier.key, up);
  }
}

void SimulatedInput::KeyRecord(ScanKey key, bool up) {
  platform::RawInputRecord record{.type = platform::kRimTypeKeyboard, .make_code = key.make_code};
  record.flags = static_cast<uint16_t>((key.e0 ? platform::kRiKeyE0 : 0) |
                                       (up ? platform::kRiKeyBreak : 0));
  Deliver(record, 0x0001, 0x0006);
}

void SimulatedInput::Deliver(const platform::RawInputRecord& record, uint16_t usage_page,
                             uint16_t usage) {
  platform::MainThread* main = nullptr;
  std::function<void(intptr_t)> procedure;
  intptr_t handle = 0;
  {
    std::lock_guard<std::mutex> lock(state_);
    const bool registered = std::find(registered_.begin(), registered_.end(),
                                      std::make_pair(usage_page, usage)) != registered_.end();
    if (!registered || main_ == nullptr) {
      ApplyKeyState(record);
      return;
    }
    handle = next_handle_++;
    waiting_.emplace(handle, record);
    main = main_;
    procedure = window_procedure_;
  }
  // Outside the state lock: a main thread that runs work at once reads the record right here.
  if (!main->Post([procedure, handle] { procedure(handle); })) {
    std::lock_guard<std::mutex> lock(state_);
    if (waiting_.erase(handle) != 0) ApplyKeyState(record);
  }
}

bool SimulatedInput::RegisterDevice(const platform::RawInputDevice& device, void* /*window*/) {
  std::lock_guard<std::mutex> lock(state_);
  const auto usage = std::make_pair(device.usage_page, device.usage);
  if (std::find(registered_.begin(), registered_.end(), usage) == registered_.end())
    registered_.push_back(usage);
  return true;
}

std::optional<platform::RawInputRecord> SimulatedInput::ReadInput(intptr_t handle) {
  std::lock_guard<std::mutex> lock(state_);
  const auto it = waiting_.find(handle);
  if (it == waiting_.end()) return std::nullopt;
  const platform::RawInputRecord record = it->second;
  waiting_.erase(it);
  ApplyKeyState(record);  // the modifiers move as the main thread reads their records
  return record;
}

bool SimulatedInput::IsKeyDown(uint8_t virtual_key) {
  std::lock_guard<std::mutex> lock(state_);
  for (const auto& modifier : kModifierKeys) {
    if (modifier.virtual_key == virtual_key) return (modifiers_down_ & modifier.bit) != 0;
  }
  return false;
}

void SimulatedInput::ApplyKeyState(const platform::RawInputRecord& record) {
  if (record.type != platform::kRimTypeKeyboard) return;
  const bool e0 = (record.flags & platform::kRiKeyE0) != 0;
  for (const auto& modifier : kModifierKeys) {
    if (modifier.key.make_code != record.make_code || modifier.key.e0 != e0) continue;
    if (record.flags & platform::kRiKeyBreak) {
      modifiers_down_ &= static_cast<uint8_t>(~modifier.bit);
    } else {
      modifiers_down_ |= modifier.bit;
    }
  }
}

}  // namespace sim
