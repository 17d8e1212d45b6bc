#include "pipe/pipe_server.h"

#include <chrono>
#include <memory>

#include "base/win_codes.h"
#include "pipe/command_processor.h"
#include "pipe/named_pipe.h"
#include "platform/services.h"
#include "platform/thread.h"

std::atomic<bool> g_PipeServerStop{false};
std::atomic<bool> g_PipeServerRunning{false};

namespace {

constexpr uint32_t kInstanceBufferSize = 512;

std::atomic<int> g_ActiveConnections{0};

// Body of a connection thread.
void ServeConnection(std::unique_ptr<NamedPipeServer> instance,
                     const ironbark::CommandTable* table) {
  ironbark::PipeOperations::process_pipe(std::move(instance), *table);
  g_ActiveConnections.fetch_sub(1);
}

constexpr auto kInstanceLimitRetry = std::chrono::milliseconds(50);

// The next listening instance. While every instance the pipe may have is serving a client, a
// new one cannot be created: wait for a connection to end instead of giving the service up.
// Null when a stop request arrives meanwhile.
std::unique_ptr<NamedPipeServer> CreateListeningInstance() {
  for (;;) {
    try {
      return std::make_unique<NamedPipeServer>(kCommandPipeName, 2, 1, kInstanceBufferSize,
                                               kInstanceBufferSize);
    } catch (const platform::PipeInstanceLimitError&) {
      if (g_PipeServerStop.load()) return nullptr;
      platform::Time().SleepFor(kInstanceLimitRetry);
    }
  }
}

}  // namespace

int ActivePipeConnections() { return g_ActiveConnections.load(); }

void RunPipeServer(const ironbark::CommandTable& table) {
  // Marks the loop as running until it returns, by a stop or by an exception alike.
  struct Running {
    Running() { g_PipeServerRunning.store(true); }
    ~Running() { g_PipeServerRunning.store(false); }
  } running;
  // The pipe's name stays reachable for as long as the loop runs, even while the pipe has no
  // instance: between handing a connection off and creating the next instance, that connection
  // may already have ended. It goes with the loop, so that once the server has stopped the name
  // ends with the last connection.
  std::unique_ptr<platform::PipeNameHold> name =
      platform::Pipes().HoldName(PipePath(kCommandPipeName));
  // Null when a stop request arrives while the instance waits for room.
  auto instance = CreateListeningInstance();
  while (instance) {
    const uint32_t error = instance->handle->WaitForClient();
    const bool accept_error = error != 0 && error != win::kErrorPipeConnected;
    if (g_PipeServerStop.load() || accept_error) {
      instance->Close();
      instance.reset();
      break;
    }
    // The connected client is served before anything else happens: creating the next instance
    // may have to wait until a connection ends, and may fail.
    g_ActiveConnections.fetch_add(1);
    // The thread's body is copied around before it starts, so it carries the instance as a
    // plain pointer and takes ownership when it runs.
    NamedPipeServer* connected = instance.release();
    try {
      platform::StartDetachedThread([connected, &table] {
        ServeConnection(std::unique_ptr<NamedPipeServer>(connected), &table);
      });
    } catch (...) {
      delete connected;
      g_ActiveConnections.fetch_sub(1);
      throw;
    }
    instance = CreateListeningInstance();
  }
  name.reset();
  g_PipeServerStop.exchange(false);
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
