#include "sim/control_channel.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "sim/simulated_notebook.h"

namespace sim {
namespace {

constexpr size_t kMaxRequest = 4096;

// Reads one line (up to "\n", the end of the stream, or kMaxRequest bytes).
std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  while (line.size() < kMaxRequest) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  return line;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

ControlReply Ok(std::string text) { return {true, std::move(text)}; }
ControlReply Usage(const std::string& usage) { return {false, "usage: " + usage}; }

}  // namespace

ControlChannel::~ControlChannel() {
  if (listener_ >= 0) {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
  }
  if (thread_.joinable()) thread_.join();
  if (!socket_path_.empty()) ::unlink(socket_path_.c_str());
}

void ControlChannel::Add(std::string noun, std::string usage, ControlHandler handler) {
  rows_[std::move(noun)] = Row{std::move(usage), std::move(handler)};
}

ControlReply ControlChannel::Handle(std::string_view line) const {
  std::istringstream in{std::string(line)};
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  std::string known;
  for (const auto& [noun, row] : rows_) {
    known += (known.empty() ? "" : ", ") + noun + (row.usage.empty() ? "" : " " + row.usage);
  }
  if (words.empty()) return {false, "empty request (known: " + known + ")"};
  const auto it = rows_.find(words[0]);
  if (it == rows_.end()) return {false, "unknown verb '" + words[0] + "' (known: " + known + ")"};
  try {
    return it->second.handler(std::span<const std::string>(words).subspan(1));
  } catch (const std::exception& e) {
    return {false, words[0] + " failed: " + e.what()};
  }
}

void ControlChannel::Serve(const std::string& socket_path) {
  sockaddr_un address{};
  if (socket_path.size() >= sizeof address.sun_path) {
    throw std::runtime_error("control socket path too long: " + socket_path);
  }
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(socket_path).parent_path(), ignored);
  ::unlink(socket_path.c_str());
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size());
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 8) != 0) {
    throw std::runtime_error("cannot serve " + socket_path + ": " + std::strerror(errno));
  }
  socket_path_ = socket_path;
  thread_ = std::thread([this] { AcceptLoop(); });
}

void ControlChannel::AcceptLoop() {
  for (;;) {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // the listener was shut down
    }
    const ControlReply reply = Handle(ReadLine(client));
    WriteAll(client, (reply.ok ? "ok " : "error ") + reply.text + "\n");
    ::close(client);
  }
}

void AddFirmwareVerbs(ControlChannel& channel, std::shared_ptr<SimulatedNotebook> notebook) {
  channel.Add("ac", "plug|unplug", [notebook](std::span<const std::string> a) {
    if (a.size() != 1 || (a[0] != "plug" && a[0] != "unplug")) return Usage("ac plug|unplug");
    const bool was = notebook->ac_present();
    a[0] == "plug" ? notebook->PlugAdaptor() : notebook->UnplugAdaptor();
    return Ok(std::string("AC adaptor ") + (a[0] == "plug" ? "plugged in" : "unplugged") +
              (was == notebook->ac_present() ? " already (no event)" : ""));
  });
  channel.Add("boost", "on|off", [notebook](std::span<const std::string> a) {
    if (a.size() != 1 || (a[0] != "on" && a[0] != "off")) return Usage("boost on|off");
    const bool was = notebook->battery_boost();
    notebook->SetBatteryBoost(a[0] == "on");
    return Ok("battery boost " + a[0] + (was == notebook->battery_boost() ? " already (no event)" : ""));
  });
  channel.Add("turbo", "", [notebook](std::span<const std::string> a) {
    if (!a.empty()) return Usage("turbo");
    notebook->PressTurboKey();
    return Ok("turbo key pressed, state " + std::to_string(notebook->turbo_key_state()));
  });
  channel.Add("dp-notice", "", [notebook](std::span<const std::string> a) {
    if (!a.empty()) return Usage("dp-notice");
    notebook->DisplayPortNotice();
    return Ok("display-port notice raised");
  });
}

}  // namespace sim
