#include "sim/simulated_notebook.h"

namespace sim {
namespace {

constexpr uint64_t kRefused = 1;  // status byte of a refused call
constexpr uint64_t kDataMask = 0x00FFFFFFFFFFFFFFull;

// The data bits (byte 1 and up) of an output.
uint64_t Data(uint64_t data) { return (data & kDataMask) << 8; }

FirmwareReply Out(uint64_t value) { return FirmwareReply{value, {}}; }

bool Selects(uint64_t input, size_t count) { return (input & 0xFF) < count; }

}  // namespace

SimulatedNotebook::SimulatedNotebook(MachineProfile profile)
    : profile_(std::move(profile)),
      misc_(profile_.firmware.misc_settings),
      functions_(profile_.firmware.functions),
      fan_behavior_(profile_.firmware.fan_groups, profile_.firmware.fan_behavior),
      fan_speed_(profile_.firmware.fan_groups, profile_.firmware.fan_speed),
      fan_table_(profile_.firmware.fan_table),
      gaming_profile_(profile_.firmware.gaming_profile),
      led_(profile_.firmware.led_bytes),
      ac_present_(profile_.firmware.ac_present),
      battery_boost_(profile_.firmware.battery_boost) {
  misc_[kMiscDiscreteGpu] = profile_.firmware.dgpu_setting;
  misc_[kMiscOperationModeCapability] = profile_.firmware.operation_mode_capability;
  misc_[kMiscOperationMode] = profile_.firmware.operation_mode;
  misc_[kMiscBootSound] = profile_.firmware.boot_sound;
  if (led_.empty()) led_.push_back(0);
  led_[0] = static_cast<uint8_t>((led_[0] & ~3u) | (profile_.firmware.turbo_key & 3u));
  // Byte 6 of the output is byte 5 of the data.
  gaming_profile_ = (gaming_profile_ & ~(0xFFull << 40)) |
                    (uint64_t{profile_.firmware.lcd_overdrive} << 40);
}

FirmwareReply SimulatedNotebook::Invoke(FirmwareMethod method, uint64_t input) {
  std::lock_guard lock(mutex_);
  return InvokeLocked(method, input);
}

FirmwareReply SimulatedNotebook::InvokeLocked(FirmwareMethod method, uint64_t input) {
  const uint8_t selector = static_cast<uint8_t>(input & 0xFF);
  const uint64_t argument = input >> 8;
  switch (method) {
    case FirmwareMethod::kGetGamingMiscSetting: {
      const auto it = misc_.find(selector);
      if (it == misc_.end()) return Out(kRefused);
      return Out(Data(it->second));
    }
    case FirmwareMethod::kSetGamingMiscSetting: {
      const auto it = misc_.find(selector);
      if (it == misc_.end()) return Out(kRefused);
      const uint8_t value = static_cast<uint8_t>(argument & 0xFF);
      switch (selector) {
        case kMiscOperationModeCapability:
          return Out(kRefused);
        case kMiscOperationMode:
          if (value >= 56 || (misc_[kMiscOperationModeCapability] & (uint64_t{1} << value)) == 0) {
            return Out(kRefused);
          }
          break;
        case kMiscDiscreteGpu:
          if ((it->second & 0x04) != 0) return Out(kRefused);  // no dGPU switch on this machine
          break;
        case kMiscBootSound:
          if (it->second == 0xFF || value == 0xFF) return Out(kRefused);
          break;
        default:
          break;
      }
      it->second = (it->second & ~uint64_t{0xFF}) | value;
      return Out(0);
    }
    case FirmwareMethod::kGetFunction: {
      if (selector == kFunctionAcAdaptor) {
        const uint64_t state = ac_present_ ? (profile_.firmware.adaptors == 2 ? 0x02 : 0x01) : 0;
        return Out(Data(state));
      }
      const auto it = functions_.find(selector);
      if (it == functions_.end()) return Out(kRefused);
      return Out(Data(it->second));
    }
    case FirmwareMethod::kSetFunction: {
      const auto it = functions_.find(selector);
      if (it == functions_.end()) return Out(kRefused);
      it->second = argument & kDataMask;
      return Out(0);
    }
    case FirmwareMethod::kGetGamingSysInfo:
      if (selector == 0) return Out(Data(profile_.firmware.fan_groups));
      if (selector == 2) return Out(Data(uint64_t{battery_boost_ ? 1u : 0u} << 32));
      return Out(kRefused);
    case FirmwareMethod::kGetGamingProfile:
      if (selector != 0) return Out(kRefused);
      return Out(Data(gaming_profile_));
    case FirmwareMethod::kSetGamingProfile: {
      if (selector != 0) return Out(kRefused);
      uint64_t updated = argument & kDataMask;
      if (profile_.firmware.lcd_overdrive == 0xFF) updated |= 0xFFull << 40;
      gaming_profile_ = updated;
      return Out(0);
    }
    case FirmwareMethod::kGetGamingLED:
      if (input != 1) return Out(kRefused);
      return {0, led_};
    case FirmwareMethod::kGetGamingFanBehavior:
      if (!Selects(input, fan_behavior_.size())) return Out(kRefused);
      return Out(Data(fan_behavior_[selector]));
    case FirmwareMethod::kSetGamingFanBehavior:
      if (!Selects(input, fan_behavior_.size())) return Out(kRefused);
      fan_behavior_[selector] = argument & kDataMask;
      return Out(0);
    case FirmwareMethod::kGetGamingFanSpeed:
      if (!Selects(input, fan_speed_.size())) return Out(kRefused);
      return Out(Data(fan_speed_[selector]));
    case FirmwareMethod::kSetGamingFanSpeed:
      if (!Selects(input, fan_speed_.size())) return Out(kRefused);
      fan_speed_[selector] = argument & kDataMask;
      return Out(0);
    case FirmwareMethod::kGetGamingFanTable:
      return Out(Data(fan_table_));
    case FirmwareMethod::kSetGamingFanTable:
      fan_table_ = argument & kDataMask;
      return Out(0);
  }
  return Out(kRefused);
}

uint8_t SimulatedNotebook::operation_mode() const {
  std::lock_guard lock(mutex_);
  return static_cast<uint8_t>(misc_.at(kMiscOperationMode) & 0xFF);
}

bool SimulatedNotebook::ac_present() const {
  std::lock_guard lock(mutex_);
  return ac_present_;
}

bool SimulatedNotebook::battery_boost() const {
  std::lock_guard lock(mutex_);
  return battery_boost_;
}

uint8_t SimulatedNotebook::turbo_key_state() const {
  std::lock_guard lock(mutex_);
  return led_[0] & 3u;
}

void SimulatedNotebook::PlugAdaptor() {
  {
    std::lock_guard lock(mutex_);
    if (ac_present_) return;
    ac_present_ = true;
  }
  Raise({0x08, 0x01});
}

void SimulatedNotebook::UnplugAdaptor() {
  {
    std::lock_guard lock(mutex_);
    if (!ac_present_) return;
    ac_present_ = false;
  }
  Raise({0x08, 0x00});
}

void SimulatedNotebook::SetBatteryBoost(bool active) {
  {
    std::lock_guard lock(mutex_);
    if (battery_boost_ == active) return;
    battery_boost_ = active;
  }
  Raise({0x09, static_cast<uint8_t>(active ? 1 : 0)});
}

void SimulatedNotebook::PressTurboKey() {
  uint8_t state = 0;
  {
    std::lock_guard lock(mutex_);
    state = static_cast<uint8_t>(((led_[0] & 3u) + 1) & 3u);
    led_[0] = static_cast<uint8_t>((led_[0] & ~3u) | state);
  }
  Raise({0x07, static_cast<uint8_t>(state == 0 ? 0x05 : 0x04)});
}

void SimulatedNotebook::DisplayPortNotice() { Raise({0x05, 0x10, 0x07}); }

uint64_t SimulatedNotebook::Subscribe(EventHandler handler) {
  std::lock_guard lock(events_mutex_);
  const uint64_t id = next_subscription_++;
  subscribers_[id] = std::make_shared<const EventHandler>(std::move(handler));
  if (!event_thread_.joinable()) event_thread_ = std::thread([this] { DeliverEvents(); });
  return id;
}

void SimulatedNotebook::Unsubscribe(uint64_t subscription) {
  std::lock_guard lock(events_mutex_);
  subscribers_.erase(subscription);
}

void SimulatedNotebook::Raise(std::vector<uint8_t> detail) {
  std::lock_guard lock(events_mutex_);
  if (subscribers_.empty()) return;
  pending_.push_back(std::move(detail));
  events_signal_.notify_one();
}

void SimulatedNotebook::DeliverEvents() {
  std::unique_lock lock(events_mutex_);
  for (;;) {
    events_signal_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (stopping_) return;
    const std::vector<uint8_t> detail = std::move(pending_.front());
    pending_.pop_front();
    for (uint64_t next = 0;;) {
      // The subscriber at or after `next` still subscribed, taken one at a time so that an
      // Unsubscribe meanwhile is honoured.
      const auto it = subscribers_.lower_bound(next);
      if (it == subscribers_.end()) break;
      next = it->first + 1;
      const std::shared_ptr<const EventHandler> handler = it->second;
      lock.unlock();
      (*handler)(detail);
      lock.lock();
    }
  }
}

SimulatedNotebook::~SimulatedNotebook() {
  {
    std::lock_guard lock(events_mutex_);
    stopping_ = true;
    events_signal_.notify_one();
  }
  if (event_thread_.joinable()) event_thread_.join();
}

}  // namespace sim
