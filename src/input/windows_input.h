// Raw-input hotkeys: the notebook's dedicated keys as the hidden window receives them. The Helm
// key starts the control application (input/helm_launch.h); the keyboard-backlight keys are
// reported to the agent service (pipe/agent_client.h). Everything here runs on the main thread,
// one raw-input message at a time. Lines go to the service log under
// "WindowsMessageLoop::WindowsInput".
#pragma once
#include <cstdint>

#include "platform/raw_input.h"

namespace WindowsMessageLoop {

// The devices registered at window creation, in this order, each with kRidevInputSink:
// keyboards (1, 6), the vendor collection carrying the special keys (0x88, 1), mice (1, 2).
inline constexpr platform::RawInputDevice kRawInputDevices[] = {
    {0x0001, 0x0006, platform::kRidevInputSink},
    {0x0088, 0x0001, platform::kRidevInputSink},
    {0x0001, 0x0002, platform::kRidevInputSink},
};

// Registers kRawInputDevices one call each with `window` as target; failures are not checked.
void RegisterRawInput(void* window);

// WM_INPUT: reads the record behind `raw_input_handle` (the message's lParam) and decodes it.
void WindowsInput(intptr_t raw_input_handle);

// The decoding of one record, by type: keyboard scan codes, vendor-HID reports; mouse input and
// other types are dropped.
void DecodeRawInput(const platform::RawInputRecord& record);

}  // namespace WindowsMessageLoop
