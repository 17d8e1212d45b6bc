#include "pipe/agent_client.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/named_pipe.h"

namespace namedpipe_agent_service_function {
namespace {

// Connects, writes the event and closes; the write's result, or nullopt when no agent could
// be reached (the event is then dropped without a line).
std::optional<uint32_t> Send(AgentEvent code, std::initializer_list<uint32_t> values,
                             const char* sender, const std::string& before = {}) {
  NamedPipeClient client(kAgentPipeName);
  if (client.ConnectPipe(kBusyWaitSliceMs) != 0) {
    client.Close();
    return std::nullopt;
  }
  if (!before.empty()) LogLine(kLogInfo, std::string("namedpipe_agent_service_function::") + sender, before);
  std::vector<std::vector<uint8_t>> arguments;
  for (const uint32_t v : values) arguments.push_back(le::Bytes(v, 4));
  const uint32_t result = client.WritePipeMessage(code, arguments);
  client.Close();
  return result;
}

void LogSent(const char* sender, const std::string& line) {
  LogLine(kLogInfo, std::string("namedpipe_agent_service_function::") + sender, line);
}

}  // namespace

const char* AgentEventName(uint16_t code) {
  switch (code) {
    case kAgtTurboKeyPressed: return "kAgtTurboKeyPressed";
    case kAgtBrightnessHotkey: return "kAgtBrightnessHotkey";
    case kAgtAdaptorChagned: return "kAgtAdaptorChagned";
    case kAgtBatteryBoostChanged: return "kAgtBatteryBoostChanged";
    case kAgtBrightness30Sec: return "kAgtBrightness30Sec";
    case kAgtDisplayPortWithoutFunctionEvent: return "kAgtDisplayPortWithoutFunctionEvent";
  }
  return nullptr;
}

void SendTurboKeyPressedEvent(uint32_t operating_mode, uint32_t enabled, uint32_t turbo_key_status) {
  constexpr const char* kSender = "SendTurboKeyPressedEvent";
  const std::string values =
      FormatMessageSized(256, "Current OP mode = %d, Enabled = %d, Turbo key = %d",
                         static_cast<int>(operating_mode), static_cast<int>(enabled),
                         static_cast<int>(turbo_key_status));
  if (const auto result = Send(kAgtTurboKeyPressed, {operating_mode, enabled, turbo_key_status}, kSender, values)) {
    LogSent(kSender, FormatMessageSized(256, "Send Command: kAgtTurboKeyPressed error: %d", static_cast<int>(*result)));
  }
}

void SendBrightnessHotkeyEvent(uint32_t pressed_hotkey) {
  constexpr const char* kSender = "SendBrightnessHotkeyEvent";
  if (const auto result = Send(kAgtBrightnessHotkey, {pressed_hotkey}, kSender)) {
    LogSent(kSender, FormatMessageSized(64, "Send pressed_hotkey: %d error: %d",
                                        static_cast<int>(pressed_hotkey), static_cast<int>(*result)));
  }
}

void SendBrightness30SecEvent(uint32_t status) {
  constexpr const char* kSender = "SendBrightness30SecEvent";
  if (const auto result = Send(kAgtBrightness30Sec, {status}, kSender)) {
    LogSent(kSender, FormatMessageSized(64, "Send status: %d error: %d", static_cast<int>(status),
                                        static_cast<int>(*result)));
  }
}

void SendAdaptorChangedEvent(uint32_t status) {
  constexpr const char* kSender = "SendAdaptorChangedEvent";
  if (const auto result = Send(kAgtAdaptorChagned, {status}, kSender)) {
    LogSent(kSender, FormatMessageSized(256, "Send Command: kAgtAdaptorChagned status: %u error: %d",
                                        status, static_cast<int>(*result)));
  }
}

void SendBatteryBoostChangedEvent(uint32_t value) {
  constexpr const char* kSender = "SendBatteryBoostChangedEvent";
  if (const auto result = Send(kAgtBatteryBoostChanged, {value}, kSender)) {
    LogSent(kSender, FormatMessageSized(256, "Send Command: kAgtBatteryBoostChanged value: %u error: %d",
                                        value, static_cast<int>(*result)));
  }
}

void SendDisplayPortFunctionEvent() {
  constexpr const char* kSender = "SendDisplayPortFunctionEvent";
  if (const auto result = Send(kAgtDisplayPortWithoutFunctionEvent, {1}, kSender)) {
    LogSent(kSender, FormatMessageSized(256, "Send Command: kAgtDisplayPortWithoutFunctionEvent %u error: %d",
                                        1u, static_cast<int>(*result)));
  }
}

}  // namespace namedpipe_agent_service_function
