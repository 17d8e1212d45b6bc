// The keyboard commands of the command pipe and the embedded controller's capability probe of
// the start-up survey. Four commands act on the USB keyboard (KeyboardHID), two on the keyboard
// backlight through the embedded controller (EcHID, device 2). Each logs its lines to the
// service log under "ironbark::IbClientCommandProcessor::" + its name.
//
// An argument is used when it is at most 4 bytes long (little-endian); a longer or missing one
// counts as absent. Error codes: 0 success, 1 failure.
#pragma once
#include "pipe/protocol.h"

namespace ironbark {

struct HidCommands {
  // 32: the backlight-off-after-30-s state (0 when the keyboard cannot be read).
  static void usb_get_keyborad_backlight30s(const ironbark::CommandRequest& request,
                                            ironbark::CommandResponse& response);
  // 33: argument 0 the state (absent: 0); answers the error code.
  static void usb_set_keyborad_backlight30s(const ironbark::CommandRequest& request,
                                            ironbark::CommandResponse& response);
  // 34: argument 0 the Win/Menu key state (1 locks; absent: 0); answers the error code.
  static void usb_set_win_menu_key_control(const ironbark::CommandRequest& request,
                                           ironbark::CommandResponse& response);
  // 35: the key-lock byte as the keyboard reports it (0 when it cannot be read).
  static void usb_get_win_menu_key_control(const ironbark::CommandRequest& request,
                                           ironbark::CommandResponse& response);
  // 65: brightness, timeout, error code; 50, 30 when the EC delivers none.
  static void hid_get_keyborad_backlight30s(const ironbark::CommandRequest& request,
                                            ironbark::CommandResponse& response);
  // 66: argument 0 brightness (absent: 100), 1 timeout in seconds (absent: 30); error code.
  static void hid_set_keyborad_backlight30s(const ironbark::CommandRequest& request,
                                            ironbark::CommandResponse& response);

  // The survey's probe: writes "EC_HID_Version", "EC_HID_OC_Capability" and "EC_HID_Support"
  // under HKLM "SOFTWARE\OEM\Calvane" after up to 5 attempts of each query, 10 ms apart.
  static void check_EC_HID_support();
};

}  // namespace ironbark
