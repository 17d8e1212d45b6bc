// The simulated notebook at run time: its machine profile and the gaming firmware's settings
// behind the WMI methods of CorlanGamingFunction and FwxAction (sim/firmware.h), as one piece of
// state that lives as long as the object (for the Linux broker: as long as the process). Every
// method is safe to call from any thread; one mutex guards the state.
//
// Output layout of every method (what the broker relies on): byte 0 is a status, 0 on success;
// the data starts at byte 1. Methods with a selector take it from the input's low byte; the
// setting methods take the new value from bits 8 and up. An unknown selector or a refused value
// answers status 1 and changes nothing.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/machine_profile.h"

namespace sim {

// A method's answer: `value` is the integer output (GetGamingLED: "gmReturn"); `bytes` is
// GetGamingLED's "gmOutput".
struct FirmwareReply {
  uint64_t value = 0;
  std::vector<uint8_t> bytes;
};

class SimulatedNotebook {
 public:
  explicit SimulatedNotebook(MachineProfile profile);
  SimulatedNotebook(const SimulatedNotebook&) = delete;
  SimulatedNotebook& operator=(const SimulatedNotebook&) = delete;

  // The profile the notebook was built from (never changes).
  const MachineProfile& profile() const { return profile_; }

  // Runs a firmware method with its input (ignored by methods without input). Faults of the
  // profile are not applied here: they belong to the WMI provider.
  //   GetGamingMiscSetting N    data = setting N (9 dGPU, 10 mode capability, 11 mode,
  //                             17 boot sound, others from [misc_settings])
  //   SetGamingMiscSetting      N = bits 0..7, new byte 1 of the setting = bits 8..15; 10 is
  //                             read-only; 11 refuses modes missing from the capability; 9
  //                             refuses when the no-switch bit is set; 17 refuses when 0xFF
  //   GetFunction 10            byte 1 = AC state: 0x01 (one adaptor) or 0x02 (two adaptors)
  //                             when AC is present, else 0; other N from [functions]
  //   SetFunction               N = bits 0..7, value = bits 8 and up; 10 is read-only
  //   GetGamingSysInfo 0        byte 1 = number of fan groups
  //   GetGamingSysInfo 2        byte 5 = 1 while battery boost is active
  //   GetGamingProfile 0        bits 8..63 = the gaming profile, byte 6 = LCD overdrive
  //   SetGamingProfile          profile 0 (bits 0..7) = bits 8..63; byte 6 stays 0xFF when
  //                             the panel has no overdrive
  //   Get/SetGamingFanBehavior, Get/SetGamingFanSpeed   group = bits 0..7, value = bits 8..63
  //   GetGamingFanTable (no input) / SetGamingFanTable  value = bits 8..63
  //   GetGamingLED 1            value = 0 (status), bytes = the LED state bytes, bits 0..1 of
  //                             byte 0 = turbo-key state
  // Set methods answer their status (0 or 1) as the whole output.
  FirmwareReply Invoke(FirmwareMethod method, uint64_t input);

  // Live state, for tests and the other simulated devices.
  uint8_t operation_mode() const;
  bool ac_present() const;
  bool battery_boost() const;
  uint8_t turbo_key_state() const;

  // What happens to the machine, as its firmware sees it. Each change raises one firmware event
  // (the WMI class FwxEvent of ROOT\WMI) whose "EventDetail" bytes are:
  //   PlugAdaptor / UnplugAdaptor   08 01 / 08 00   (nothing when the state does not change)
  //   SetBatteryBoost(on / off)     09 01 / 09 00   (likewise)
  //   PressTurboKey                 07 04, or 07 05 when the press brings the turbo-key state
  //                                 back to 0 (the state steps 0, 1, 2, 3, 0, ...)
  //   DisplayPortNotice             05 10 07: a USB-C display was attached to a port without
  //                                 display function
  // The state has changed when the call returns; the event follows on the event thread.
  void PlugAdaptor();
  void UnplugAdaptor();
  void SetBatteryBoost(bool active);
  void PressTurboKey();
  void DisplayPortNotice();

  // Firmware event subscribers. Events go to every subscriber on the notebook's own event
  // thread (started with the first subscription), one event at a time in the order they were
  // raised, as the WMI service delivers them on a thread of its own. Events raised while nobody
  // subscribes are lost, as they are on a machine where nobody listens. After Unsubscribe
  // returns no delivery to that subscriber begins (one under way may still finish).
  using EventHandler = std::function<void(const std::vector<uint8_t>& detail)>;
  uint64_t Subscribe(EventHandler handler);
  void Unsubscribe(uint64_t subscription);
  ~SimulatedNotebook();

 private:
  FirmwareReply InvokeLocked(FirmwareMethod method, uint64_t input);
  void Raise(std::vector<uint8_t> detail);
  void DeliverEvents();

  const MachineProfile profile_;
  mutable std::mutex mutex_;
  std::map<uint8_t, uint64_t> misc_;       // data bits of every misc setting
  std::map<uint8_t, uint64_t> functions_;  // FwxAction functions other than 10
  std::vector<uint64_t> fan_behavior_;     // per group
  std::vector<uint64_t> fan_speed_;
  uint64_t fan_table_;
  uint64_t gaming_profile_;  // bits 8..63 of the output, as data
  std::vector<uint8_t> led_;
  bool ac_present_;
  bool battery_boost_;

  // Event delivery, under its own lock (never held while a handler runs).
  std::mutex events_mutex_;
  std::condition_variable events_signal_;
  std::map<uint64_t, std::shared_ptr<const EventHandler>> subscribers_;
  uint64_t next_subscription_ = 1;
  std::deque<std::vector<uint8_t>> pending_;
  bool stopping_ = false;
  std::thread event_thread_;
};

}  // namespace sim
