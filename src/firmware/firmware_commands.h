// The firmware commands of the command pipe: the control application's way to the firmware's
// gaming settings (fan behaviour, fan speed and fan tables, gaming profiles, miscellaneous
// settings, the operation mode) and its two generic functions.
#pragma once
#include <cstdint>
#include <mutex>

#include "pipe/protocol.h"

namespace ironbark {

// Each passes argument 0 to one firmware wrapper (a reading command takes it as 32 bits, a
// writing one as 64 bits; longer counts as 0) and answers one item: 8 bytes for the reading
// commands, 4 bytes for the writing ones and set_operation_mode. A failed firmware call answers
// 0x00000000FFFFFFFF (reading) or 0xFFFFFFFF (writing). The operation-mode reads send their
// fixed setting number instead of the argument; set_operation_mode sends the mode above setting
// 11 and also sets the GPU overclock level of the requested mode, whatever the firmware says.
struct FirmwareCommands {
  static void wmi_get_gaming_system_information(const ironbark::CommandRequest& request,
                                                ironbark::CommandResponse& response);
  static void wmi_set_gaming_fan_group_behavior(const ironbark::CommandRequest& request,
                                                ironbark::CommandResponse& response);
  static void wmi_get_gaming_fan_group_behavior(const ironbark::CommandRequest& request,
                                                ironbark::CommandResponse& response);
  static void wmi_set_gaming_fan_group_speed(const ironbark::CommandRequest& request,
                                             ironbark::CommandResponse& response);
  static void wmi_get_gaming_fan_group_speed(const ironbark::CommandRequest& request,
                                             ironbark::CommandResponse& response);
  static void wmi_set_gaming_fan_table(const ironbark::CommandRequest& request,
                                       ironbark::CommandResponse& response);
  static void wmi_get_gaming_fan_table(const ironbark::CommandRequest& request,
                                       ironbark::CommandResponse& response);
  static void get_operation_mode_capability(const ironbark::CommandRequest& request,
                                            ironbark::CommandResponse& response);
  static void get_operation_mode(const ironbark::CommandRequest& request,
                                 ironbark::CommandResponse& response);
  static void set_operation_mode(const ironbark::CommandRequest& request,
                                 ironbark::CommandResponse& response);
  static void wmi_set_gaming_profile_configuration(const ironbark::CommandRequest& request,
                                                   ironbark::CommandResponse& response);
  static void wmi_get_gaming_profile_configuration(const ironbark::CommandRequest& request,
                                                   ironbark::CommandResponse& response);
  static void wmi_set_gaming_misc_setting(const ironbark::CommandRequest& request,
                                          ironbark::CommandResponse& response);
  static void wmi_get_gaming_misc_setting(const ironbark::CommandRequest& request,
                                          ironbark::CommandResponse& response);
  static void wmi_get_function(const ironbark::CommandRequest& request,
                               ironbark::CommandResponse& response);
  static void wmi_set_function(const ironbark::CommandRequest& request,
                               ironbark::CommandResponse& response);

  // wmi_get_gaming_system_information runs one at a time: its catalogue entry has the
  // dispatcher hold this lock from before the entry line until after the response line.
  static std::mutex gaming_system_information_lock;
};

// The GPU overclock level set_operation_mode applies for operation `mode`: 0 for modes 0 and 6,
// 2 for mode 4, 3 for mode 5, 1 for every other mode.
uint32_t OverclockLevelForMode(uint32_t mode);

}  // namespace ironbark
