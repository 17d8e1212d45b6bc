#include "agent_listener.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "base/little_endian.h"
#include "base/win_codes.h"
#include "pipe/agent_client.h"
#include "pipe/named_pipe.h"
#include "pipe/protocol.h"
#include "platform/services.h"

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
  char two[3];
  for (const uint8_t b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
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
                   const std::function<void()>& on_ready, const std::atomic<bool>& stop,
                   std::string* error) {
  // Shared with the connection threads, which may outlive this call by a moment.
  struct Shared {
    std::mutex mutex;
    std::function<void(const std::vector<uint8_t>&)> on_message;
  };
  auto shared = std::make_shared<Shared>();
  shared->on_message = on_message;
  std::unique_ptr<platform::PipeNameHold> name;
  bool ready = false;
  // The instance of the last round, kept until the next one exists: the pipe's name always has
  // an instance, so a sender arriving meanwhile waits for it instead of finding no pipe.
  std::unique_ptr<NamedPipeServer> previous;
  bool previous_connected = false;
  for (;;) {
    std::unique_ptr<NamedPipeServer> instance;
    try {
      if (!name) name = platform::Pipes().HoldName(PipePath(agent::kAgentPipeName));
      instance = std::make_unique<NamedPipeServer>(agent::kAgentPipeName, 2, 1, 512, 512);
    } catch (const std::exception& e) {
      *error = e.what();
      return 1;
    }
    if (previous_connected) {
      // A client that goes on writing is read on a thread of its own.
      std::thread([connection = std::shared_ptr<NamedPipeServer>(std::move(previous)), shared] {
        std::vector<uint8_t> buffer;
        uint32_t size = 0;
        while (ReceivePipeMessage(*connection->handle, buffer, &size) == 0) {
          std::lock_guard lock(shared->mutex);
          shared->on_message(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size));
        }
      }).detach();
    }
    previous.reset();
    if (!ready) {
      ready = true;
      on_ready();
    }
    const uint32_t accepted = instance->handle->WaitForClient();
    if (stop.load()) return 0;
    previous = std::move(instance);
    previous_connected = false;
    // A sender that connected, wrote and closed before the wait began is reported as
    // ERROR_NO_DATA; its message is still in the pipe.
    if (accepted != 0 && accepted != win::kErrorPipeConnected && accepted != win::kErrorNoData) continue;
    // The first message is read here, before the next instance exists, so that events are
    // printed in the order the broker sent them (a sender waits while the pipe is busy).
    std::vector<uint8_t> buffer;
    uint32_t size = 0;
    if (ReceivePipeMessage(*previous->handle, buffer, &size) != 0) continue;
    {
      std::lock_guard lock(shared->mutex);
      shared->on_message(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size));
    }
    previous_connected = true;
  }
}

}  // namespace cli
