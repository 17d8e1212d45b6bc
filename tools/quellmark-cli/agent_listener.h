// quellmark-cli agent listen: the agent service's end of the agent pipe
// ("\\.\pipe\vexorhelm_agent_service_"), for watching what the broker reports.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace cli {

// One event message as the listener prints it: the event's name and its values by name,
//   kAgtTurboKeyPressed mode=1 enabled=1 turbo=0      (mode and turbo signed: -1 unavailable)
//   kAgtBrightnessHotkey hotkey=1                     (0 down, 1 up)
//   kAgtAdaptorChagned status=1
//   kAgtBatteryBoostChanged value=0
//   kAgtBrightness30Sec status=1                      (0 off, 1 on)
//   kAgtDisplayPortWithoutFunctionEvent value=1
// A message of another code, or whose arguments are not the event's (count or 4-byte width),
// is shown as "event CODE:" and its arguments in hex; one that does not parse as
// "malformed message:" and its bytes in hex.
std::string DescribeAgentEvent(std::span<const uint8_t> message);

// Serves the agent pipe through the installed platform pipes with the command pipe's accept
// loop: each connection's first message is read at once (events print in the order sent), any
// further ones on a thread of its own until its client closes it; each message is handed to
// `on_message` (calls are serialised). `on_ready` runs once, when the first instance listens.
// Runs until `stop` is set and a client connects once more (a connection wakes it; `stop` is
// cleared then); then 0. On a pipe that cannot be created (another listener serves it) or a
// failed wait for a client answers 1 with the reason in *error.
int ServeAgentPipe(const std::function<void(const std::vector<uint8_t>&)>& on_message,
                   const std::function<void()>& on_ready, std::atomic<bool>& stop,
                   std::string* error);

}  // namespace cli
