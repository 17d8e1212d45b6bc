// The broker's services for the fuzz targets that run commands: the Linux backends over a
// fresh scratch root (registry database, drive C:, pipes, mutexes) and the built-in simulated
// notebook, with a clock whose pauses take no time, installed once for the whole process.
#pragma once
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_catalogue.h"
#include "pipe/protocol.h"
#include "platform/clock.h"
#include "platform/posix/host_services.h"
#include "platform/services.h"

namespace fuzzhost {

class InstantClock final : public platform::Clock {
 public:
  std::chrono::milliseconds Now() override { return std::chrono::milliseconds(now_.load()); }
  void SleepFor(std::chrono::milliseconds d) override { now_.fetch_add(std::max<int64_t>(d.count(), 0)); }

 private:
  std::atomic<int64_t> now_{0};
};

inline platform::posix::HostServices& Install() {
  static platform::posix::HostServices* host = [] {
    static char root[] = "/tmp/quellmark-fuzz-XXXXXX";
    if (mkdtemp(root) == nullptr) abort();
    atexit([] { std::filesystem::remove_all(root); });
    auto* h = new platform::posix::HostServices(root);
    auto* services = new platform::Services(h->services());
    services->clock = new InstantClock;
    platform::InstallServices(services);
    return h;
  }();
  return *host;
}

// Runs one request message as the dispatcher does: parsed from a heap block of exactly its
// size, then, for a known code, its handler; an answer it gives must parse as a response.
inline void Dispatch(const std::vector<uint8_t>& message) {
  std::vector<uint8_t> block(message);
  block.shrink_to_fit();
  std::optional<ironbark::CommandRequest> request;
  if (ironbark::ParseRequest(block.data(), static_cast<uint32_t>(block.size()), &request) !=
      ironbark::ParseStatus::kOk)
    return;
  const auto entry = g_CommandHandlers.find(request->code());
  if (entry == g_CommandHandlers.end()) return;
  ironbark::CommandResponse response;
  ironbark::RunCommand(entry->second, *request, response);
  std::vector<std::vector<uint8_t>> items;
  if (response.present && !ironbark::ParseResponse(response.bytes.data(), response.bytes.size(), &items))
    abort();
}

}  // namespace fuzzhost
