#include "agent_listener.h"

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "pipe/agent_client.h"
#include "pipe/named_pipe.h"
#include "pipe/pipe_server.h"
#include "pipe/protocol.h"

namespace cli {
namespace {

namespace agent = namedpipe_agent_service_function;

struct EventLayout {
  uint16_t code;
  std::vector<const char*> values;  // the value names, in argument order
  std::vector<bool> is_signed;
};

const std::vector<EventLayout>& Layouts() {
  static const std::vector<EventLayout> layouts{
      {agent::kAgtTurboKeyPressed, {"mode", "enabled", "turbo"}, {true, false, true}},
      {agent::kAgtBrightnessHotkey, {"hotkey"}, {false}},
      {agent::kAgtAdaptorChagned, {"status"}, {false}},
      {agent::kAgtBatteryBoostChanged, {"value"}, {false}},
      {agent::kAgtBrightness30Sec, {"status"}, {false}},
      {agent::kAgtDisplayPortWithoutFunctionEvent, {"value"}, {false}},
  };
  return layouts;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string out;
  for (const uint8_t b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
  return out;
}

}  // namespace

std::string DescribeAgentEvent(std::span<const uint8_t> message) {
  std::optional<ironbark::CommandRequest> request;
  if (ironbark::ParseRequest(message.data(), static_cast<uint32_t>(message.size()), &request) !=
      ironbark::ParseStatus::kOk) {
    return "malformed message: " + Hex(message);
  }
  const EventLayout* layout = nullptr;
  for (const EventLayout& l : Layouts()) {
    if (l.code == request->code()) layout = &l;
  }
  bool fits = layout != nullptr && request->argument_count() == layout->values.size();
  for (size_t i = 0; fits && i < request->argument_count(); ++i) fits = request->ArgumentLength(i) == 4;
  std::string line;
  if (!fits) {
    line = "event " + std::to_string(request->code()) + ":";
    for (size_t i = 0; i < request->argument_count(); ++i) line += " " + Hex(request->Argument(i));
    return line;
  }
  line = agent::AgentEventName(layout->code);
  for (size_t i = 0; i < layout->values.size(); ++i) {
    const uint32_t v = request->ArgumentU32(i);
    line += std::string(" ") + layout->values[i] + "=" +
            (layout->is_signed[i] ? std::to_string(static_cast<int32_t>(v)) : std::to_string(v));
  }
  return line;
}

int ServeAgentPipe(const std::function<void(const std::vector<uint8_t>&)>& on_message,
                   const std::function<void()>& on_ready, std::atomic<bool>& stop,
                   std::string* error) {
  // Calls are serialised across listeners and the connection threads, which may outlive this
  // call by a moment (each holds its own copy of `on_message`).
  static std::mutex mutex;
  const auto deliver = [on_message](const std::vector<uint8_t>& message) {
    std::lock_guard lock(mutex);
    on_message(message);
  };
  // Events print in the order the broker sent them; a sender that wrote and closed at once
  // is read all the same, and one arriving meanwhile always finds an instance to wait for.
  const PipeServerOptions options{.pipe_name = agent::kAgentPipeName, .stop = &stop,
                                  .first_message = deliver, .keep_until_next = true,
                                  .on_listening = on_ready};
  try {
    // A client that goes on writing is read on its connection's thread.
    const auto read_on = [deliver](std::unique_ptr<NamedPipeServer> pipe) {
      std::vector<uint8_t> buffer;
      uint32_t size = 0;
      while (ReceivePipeMessage(*pipe->handle, buffer, &size) == 0) {
        deliver(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size));
      }
    };
    const uint32_t accept_error = ServePipe(options, read_on);
    if (accept_error == 0) return 0;
    *error = "waiting for a client failed with error " + std::to_string(accept_error);
  } catch (const std::exception& e) {
    *error = e.what();
  }
  return 1;
}

}  // namespace cli
