// The agent event client: tells the agent service (the server of the pipe
// "\\.\pipe\vexorhelm_agent_service_") about hardware events. One connection per event, one
// message in the request layout of the command pipe (16-bit event code, argument count, each
// argument a 4-byte little-endian value), no answer read. With no agent listening the event is
// dropped silently. Log lines go to the service log under
// "namedpipe_agent_service_function::" + the sender's name.
#pragma once
#include <cstdint>
#include <vector>

namespace namedpipe_agent_service_function {

inline constexpr const char* kAgentPipeName = "vexorhelm_agent_service_";

enum AgentEvent : uint16_t {
  kAgtTurboKeyPressed = 1,
  kAgtBrightnessHotkey = 2,
  kAgtAdaptorChagned = 3,
  kAgtBatteryBoostChanged = 4,
  kAgtBrightness30Sec = 5,
  kAgtDisplayPortWithoutFunctionEvent = 6,
};

// The event's name as the agent knows it ("kAgtAdaptorChagned"); null for an unknown code.
const char* AgentEventName(uint16_t code);

// A busy agent pipe is waited for in slices of this length, again and again while the agent
// still serves the pipe: an event the agent can take is never given up, and a sender whose
// agent went away is free again within one slice.
inline constexpr uint32_t kBusyWaitSliceMs = 1000;

void SendTurboKeyPressedEvent(uint32_t operating_mode, uint32_t enabled, uint32_t turbo_key_status);
void SendBrightnessHotkeyEvent(uint32_t pressed_hotkey);
void SendBrightness30SecEvent(uint32_t status);
void SendAdaptorChangedEvent(uint32_t status);
void SendBatteryBoostChangedEvent(uint32_t value);
void SendDisplayPortFunctionEvent();

}  // namespace namedpipe_agent_service_function
