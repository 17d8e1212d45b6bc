#include "pipe/pipe_server.h"

#include <chrono>
#include <memory>
#include <utility>

#include "base/win_codes.h"
#include "pipe/command_processor.h"
#include "pipe/named_pipe.h"
#include "platform/services.h"
#include "platform/thread.h"

std::atomic<bool> g_PipeServerStop{false};
std::atomic<bool> g_PipeServerRunning{false};

namespace {

constexpr uint32_t kInstanceBufferSize = 512;
constexpr auto kInstanceLimitRetry = std::chrono::milliseconds(50);

std::atomic<int> g_ActiveConnections{0};

// A connection on its way to, and in, its thread; counted while it exists.
struct HandedOff {
  explicit HandedOff(std::unique_ptr<NamedPipeServer> connected) : instance(std::move(connected)) {
    g_ActiveConnections.fetch_add(1);
  }
  ~HandedOff() { g_ActiveConnections.fetch_sub(1); }
  std::unique_ptr<NamedPipeServer> instance;
};

// Serves a connection on a detached thread of its own, which owns the instance. The thread's
// body is copied around before it starts, so the connection travels shared: it ends with the
// body's last copy, once `serve` has returned or when the thread could not start.
void HandOff(std::unique_ptr<NamedPipeServer> instance, const PipeConnectionBody& serve) {
  auto connection = std::make_shared<HandedOff>(std::move(instance));
  platform::StartDetachedThread([connection, serve] { serve(std::move(connection->instance)); });
}

}  // namespace

int ActivePipeConnections() { return g_ActiveConnections.load(); }

uint32_t ServePipe(const PipeServerOptions& options, const PipeConnectionBody& serve) {
  // The pipe's name stays reachable for as long as the loop runs, even while the pipe has no
  // instance: between handing a connection off and creating the next instance, that connection
  // may already have ended. It goes with the loop, so that once the server has stopped the name
  // ends with the last connection.
  auto name = platform::Pipes().HoldName(PipePath(options.pipe_name));
  // The last accepted instance until it is handed off, and whether it is to be served.
  std::unique_ptr<NamedPipeServer> kept;
  bool kept_serve = false;
  const auto release_kept = [&] {
    if (kept && kept_serve) HandOff(std::move(kept), serve);
    kept.reset();
  };
  bool listening = false;
  uint32_t accept_error = 0;
  for (;;) {
    // The next listening instance. While every instance the pipe may have is serving a client,
    // a new one cannot be created: wait for a connection to end instead of giving the service
    // up, and notice a stop request meanwhile.
    std::unique_ptr<NamedPipeServer> instance;
    while (!instance) {
      try {
        instance = std::make_unique<NamedPipeServer>(options.pipe_name, 2, 1, kInstanceBufferSize,
                                                     kInstanceBufferSize);
      } catch (const platform::PipeInstanceLimitError&) {
        if (options.stop->load()) break;
        release_kept();  // its client may be the one to make room
        platform::Time().SleepFor(kInstanceLimitRetry);
      }
    }
    release_kept();
    if (!instance) break;
    if (!std::exchange(listening, true) && options.on_listening) options.on_listening();
    const uint32_t error = instance->handle->WaitForClient();
    const bool connected = error == 0 || error == win::kErrorPipeConnected ||
                           (options.first_message && error == win::kErrorNoData);
    if (options.stop->load() || !connected) {
      accept_error = connected ? 0 : error;
      break;
    }
    kept_serve = true;
    if (options.first_message) {
      std::vector<uint8_t> buffer;
      uint32_t size = 0;
      kept_serve = ReceivePipeMessage(*instance->handle, buffer, &size) == 0;
      buffer.resize(size);
      if (kept_serve) options.first_message(buffer);
    }
    kept = std::move(instance);
    // Otherwise the connected client is served before anything else happens: creating the next
    // instance may have to wait until a connection ends, and may fail.
    if (!options.keep_until_next) release_kept();
  }
  name.reset();
  options.stop->exchange(false);
  return accept_error;
}

void RunPipeServer(const ironbark::CommandTable& table) {
  // Marks the loop as running until it returns, by a stop or by an exception alike.
  struct Running {
    Running() { g_PipeServerRunning.store(true); }
    ~Running() { g_PipeServerRunning.store(false); }
  } running;
  ServePipe({}, [&table](std::unique_ptr<NamedPipeServer> connection) {
    ironbark::PipeOperations::process_pipe(std::move(connection), table);
  });
}

void RequestPipeServerStop(const StopPipeServerOptions& options) {
  g_PipeServerStop.exchange(true);
  for (int attempt = 0; attempt < options.wake_attempts; ++attempt) {
    {
      NamedPipeClient client(kCommandPipeName);
      client.ConnectPipe(options.busy_wait_ms);
    }
    if (!g_PipeServerStop.load()) break;
  }
}

bool WaitPipeServerStopped(const StopPipeServerOptions& options) {
  platform::Clock& clock = platform::Time();
  const auto deadline = clock.Now() + std::chrono::milliseconds(options.acknowledge_limit_ms);
  while (g_PipeServerStop.load()) {
    if (!g_PipeServerRunning.load()) {
      g_PipeServerStop.store(false);
      return true;
    }
    if (clock.Now() >= deadline) return false;
    clock.SleepFor(std::chrono::milliseconds(options.poll_interval_ms));
  }
  return true;
}

bool StopPipeServer(const StopPipeServerOptions& options) {
  RequestPipeServerStop(options);
  return WaitPipeServerStopped(options);
}
