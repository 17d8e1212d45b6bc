// The command processor: every command-pipe handler is one of its static operations, spread
// over the subsystem folders that own them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
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

  // Registry commands (codes 1-6) on any key the client names, answered with the Windows error
  // code (6 also with the data read); refused operations are forwarded once to the command
  // pipe. Arguments, answers and limits: survey/registry_commands.h.
  static void reg_create_key(const pipeproto::CommandRequest& request,
                             pipeproto::CommandResponse& response);
  static void reg_delete_key(const pipeproto::CommandRequest& request,
                             pipeproto::CommandResponse& response);
  static void reg_create_value(const pipeproto::CommandRequest& request,
                               pipeproto::CommandResponse& response);
  static void reg_delete_value(const pipeproto::CommandRequest& request,
                               pipeproto::CommandResponse& response);
  static void reg_set_value(const pipeproto::CommandRequest& request,
                            pipeproto::CommandResponse& response);
  static void reg_get_value(const pipeproto::CommandRequest& request,
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

  // Sticky keys of the user's session (codes 28, 29), no firmware involved; each answers 4
  // bytes. set_stickykey: argument 0 is the wanted state, 1 = on (sticky keys and their hot
  // key), anything else = off; answers 0 when the setting was changed, 1 when nothing changed
  // (already so, a system call failed, or an exception). get_stickykey: 1 when sticky keys and
  // their hot key are both on, else 0 (also when the query fails).
  static void set_stickykey(const pipeproto::CommandRequest& request,
                            pipeproto::CommandResponse& response);
  static void get_stickykey(const pipeproto::CommandRequest& request,
                            pipeproto::CommandResponse& response);

  // Boot logo (codes 36-38, survey/boot_logo.cpp). The image is staged as
  // "C:\ProgramData\oem\Calvane\BIOSLogo\CorlanLogo.gif" or "...\CorlanLogo.jpg" and
  // kept on the EFI system partition as V + "\EFI\OEM\CorlanLogo.gif" / ".jpg", V being the
  // name of the volume labelled "ESP" exactly as WMI reports it (empty without such a volume:
  // the current drive's "\EFI\OEM"). Each answers 4 bytes: 1 done, -1 failed.
  // apply_bios_logo: argument 0 the image's path (UTF-16LE with its NUL), argument 1 the
  // format (32-bit, 0 = GIF, anything else = JPEG; longer than 4 bytes counts as 0); stages the
  // image (old staged logos removed first), then copy_bios_logo. A request without both
  // arguments, or whose path has no NUL, is answered -1 and touches no file.
  // restore_bios_logo: del_bios_logo. get_bios_logo: the fetch-back get_bios_logo().
  // Arguments beyond those listed are ignored.
  static void apply_bios_logo(const pipeproto::CommandRequest& request,
                              pipeproto::CommandResponse& response);
  static void restore_bios_logo(const pipeproto::CommandRequest& request,
                                pipeproto::CommandResponse& response);
  static void get_bios_logo(const pipeproto::CommandRequest& request,
                            pipeproto::CommandResponse& response);

  // The boot-logo steps; each answers 1 on success and 0 on failure, and every one that needs
  // the partition fails (logging "GetLogoVolume fail!") when GetLogoVolume does.
  // GetLogoVolume: runs "SELECT * FROM Win32_Volume Where Label='ESP'" on ROOT\CIMV2 and
  // stores the first row's "Name" text in *volume (empty without a row or a text). 0 only
  // when the query could not be run (no connection, a failing query).
  static int GetLogoVolume(std::string* volume);
  // Staging to partition: removes both logos from the partition, then copies the staged
  // image of `format` there. 0 when the staged image is missing; a failed copy is only logged
  // ("copy GetLastError: %d") and still answers 1. The partition folder is never created.
  static int copy_bios_logo(int format);
  // Removes both staged logos and both partition logos; missing files are skipped.
  static int del_bios_logo();
  // The fetch-back (same name as the command; told apart by its empty parameter list):
  // removes both staged logos, creates the staging folder and copies the partition's GIF
  // there, or its JPEG when it has no GIF, or nothing.
  static int get_bios_logo();
  // Start-up survey helpers (run on the survey thread). check_BIOS_Logo_Folder_exist: 1 when
  // the partition's "\EFI\OEM" is a directory, else 0. GetDeviceResolution: the largest
  // CIM_VideoControllerResolution (horizontal first, then vertical) written as "%d,%d" to
  // HKLM "SOFTWARE\OEM\Calvane" "Resolution" (nothing without a non-zero one); 0 only when
  // WMI could not be queried.
  static int check_BIOS_Logo_Folder_exist();
  static int GetDeviceResolution();

  // The start-up capability survey (survey/capability_survey.cpp), run once per start on its
  // own thread: publishes what this notebook can do under HKLM "SOFTWARE\OEM\Calvane" and its
  // subkeys "LightSetting", "AdvanceSettings", "Overclock". Every step stands alone: a failing
  // source skips only the values that depend on it. Never throws.
  static void Initialize();
  // The agent-service driver's "DriverVersion" from its class key; empty when the device, its
  // driver key or the value is missing.
  static std::string get_driver_version_string();
  // 1 when SMBIOS type-172 function 15 has the value 1; else 0 (absent, no table, exception).
  static int OperationMode_support();
  // The survey's checks below write their own values; none throws.
  static void Get_BK_Hotkey_Number();
  static void get_ac_support_from_smbios();
  static void KeyboardType_support();
  static void check_overdrive_LCD_support();
  static void check_Discrete_GPU_support();
  // 1 when SMBIOS type-172 function 13 has the value 1 (the POST screen can be customised);
  // else 0. Writes nothing.
  static int get_customize_post_from_smbios();
  static void check_boot_sound_switch_support();
  // Asks the firmware for its system information (input 0); only logs.
  static void get_support_fan_amount();
};

using CommandTable = std::unordered_map<uint32_t, CommandHandler>;

// The dispatcher loop of one connection over `table` (process_pipe passes g_CommandHandlers):
// reads requests, answers them and returns when the connection ends. Does not close `pipe`.
void ServeCommands(NamedPipeServer& pipe, const CommandTable& table);

}  // namespace ironbark

// Command code (the 16-bit wire code zero-extended) to handler; filled at static
// initialisation, read-only afterwards.
extern const ironbark::CommandTable g_CommandHandlers;
