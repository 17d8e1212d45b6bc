// The simulated notebook's control channel: how a person (through `quellmark-cli sim ...`) or a
// test acts on the machine while the Linux broker runs on it — plugs the adaptor in, presses
// the turbo key — so that the machine's events happen for real.
//
// Transport: an AF_UNIX stream socket, ROOT/sim/control, served by the broker for as long as it
// runs. One request per connection: one line of words separated by blanks, ended by "\n"; one
// reply line, "ok TEXT\n" or "error TEXT\n"; then the broker closes the connection. The first
// word is the noun that picks the handler, the rest are its arguments.
//
// Nouns are rows of a registry (Add): each with its usage text and a handler. An unknown noun
// answers "error unknown verb 'NOUN' (known: ...)".
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sim {

class SimulatedNotebook;

struct ControlReply {
  bool ok = false;
  std::string text;
};

using ControlHandler = std::function<ControlReply(std::span<const std::string> arguments)>;

class ControlChannel {
 public:
  ControlChannel() = default;
  ~ControlChannel();
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  // Registers `noun`; `usage` describes its arguments ("plug|unplug"). Replaces an earlier row.
  void Add(std::string noun, std::string usage, ControlHandler handler);

  // The reply to one request line (without its "\n"), as the socket would send it, without
  // the "ok "/"error " prefix.
  ControlReply Handle(std::string_view line) const;

  // Serves `socket_path` (an existing socket file there is replaced) on a thread of its own
  // until the object is destroyed. Throws std::runtime_error when the socket cannot be made.
  void Serve(const std::string& socket_path);

 private:
  void AcceptLoop();

  struct Row {
    std::string usage;
    ControlHandler handler;
  };
  std::map<std::string, Row> rows_;
  int listener_ = -1;
  std::string socket_path_;
  std::thread thread_;
};

// The machine's firmware verbs:
//   ac plug|unplug     the AC adaptor     (SimulatedNotebook::PlugAdaptor / UnplugAdaptor)
//   boost on|off       battery boost      (SetBatteryBoost)
//   turbo              a turbo-key press  (PressTurboKey)
//   dp-notice          a display on a USB-C port without display function (DisplayPortNotice)
void AddFirmwareVerbs(ControlChannel& channel, std::shared_ptr<SimulatedNotebook> notebook);

}  // namespace sim
