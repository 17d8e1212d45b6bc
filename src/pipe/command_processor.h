// The command processor: every command-pipe handler is one of its static operations, spread
// over the subsystem folders that own them.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "pipe/protocol.h"

class NamedPipeServer;

namespace ironbark {


// A command handler: reads its arguments from the request and sets the response (leaving it
// absent writes nothing back).
using CommandHandler = void (*)(const pipeproto::CommandRequest& request,
                                pipeproto::CommandResponse& response);

class IbClientCommandProcessor {
 public:
  // Serves one connection of the command pipe until it ends; owns and destroys `pipe`.
  static void process_pipe(std::unique_ptr<NamedPipeServer> pipe);

  // Command 0: answers a text describing the arguments, for diagnostics.
  static void dump_arguments(const pipeproto::CommandRequest& request,
                             pipeproto::CommandResponse& response);

  // Firmware commands (codes 7, 13-21, 24-27, 30, 31): each passes argument 0 to one firmware
  // wrapper and answers one item, 8 bytes for the reading commands, 4 bytes for the writing
  // ones and set_operation_mode. A failed firmware call answers 0x00000000FFFFFFFF (reading)
  // or 0xFFFFFFFF (writing). wmi_get_gaming_system_information is serialised by its own mutex;
  // set_operation_mode also sets the GPU overclock level of the requested mode.
  static void wmi_get_gaming_system_information(const pipeproto::CommandRequest& request,
                                                pipeproto::CommandResponse& response);
  static void wmi_set_gaming_fan_group_behavior(const pipeproto::CommandRequest& request,
                                                pipeproto::CommandResponse& response);
  static void wmi_get_gaming_fan_group_behavior(const pipeproto::CommandRequest& request,
                                                pipeproto::CommandResponse& response);
  static void wmi_set_gaming_fan_group_speed(const pipeproto::CommandRequest& request,
                                             pipeproto::CommandResponse& response);
  static void wmi_get_gaming_fan_group_speed(const pipeproto::CommandRequest& request,
                                             pipeproto::CommandResponse& response);
  static void wmi_set_gaming_fan_table(const pipeproto::CommandRequest& request,
                                       pipeproto::CommandResponse& response);
  static void wmi_get_gaming_fan_table(const pipeproto::CommandRequest& request,
                                       pipeproto::CommandResponse& response);
  static void get_operation_mode_capability(const pipeproto::CommandRequest& request,
                                            pipeproto::CommandResponse& response);
  static void get_operation_mode(const pipeproto::CommandRequest& request,
                                 pipeproto::CommandResponse& response);
  static void set_operation_mode(const pipeproto::CommandRequest& request,
                                 pipeproto::CommandResponse& response);
  static void wmi_set_gaming_profile_configuration(const pipeproto::CommandRequest& request,
                                                   pipeproto::CommandResponse& response);
  static void wmi_get_gaming_profile_configuration(const pipeproto::CommandRequest& request,
                                                   pipeproto::CommandResponse& response);
  static void wmi_set_gaming_misc_setting(const pipeproto::CommandRequest& request,
                                          pipeproto::CommandResponse& response);
  static void wmi_get_gaming_misc_setting(const pipeproto::CommandRequest& request,
                                          pipeproto::CommandResponse& response);
  static void wmi_get_function(const pipeproto::CommandRequest& request,
                               pipeproto::CommandResponse& response);
  static void wmi_set_function(const pipeproto::CommandRequest& request,
                               pipeproto::CommandResponse& response);
};

using CommandTable = std::unordered_map<uint32_t, CommandHandler>;

// The dispatcher loop of one connection over `table` (process_pipe passes g_CommandHandlers):
// reads requests, answers them and returns when the connection ends. Does not close `pipe`.
void ServeCommands(NamedPipeServer& pipe, const CommandTable& table);

}  // namespace ironbark

// Command code (the 16-bit wire code zero-extended) to handler; filled at static
// initialisation, read-only afterwards.
extern const ironbark::CommandTable g_CommandHandlers;
