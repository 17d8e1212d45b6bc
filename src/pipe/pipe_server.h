// The command pipe's accept loop and its stop protocol. The service thread that runs the loop
// belongs to the process's start-up (app/lifecycle.h).
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

#include "pipe/command_processor.h"
#include "pipe/named_pipe.h"

// Stop request of the accept loop: set by StopPipeServer, cleared by the server thread when it
// leaves its loop (the clearing is the acknowledgement).
extern std::atomic<bool> g_PipeServerStop;

// True while RunPipeServer runs. Lets the stop protocol tell "not yet acknowledged" apart from
// "no server left to acknowledge" (it ended on an accept error or an exception).
extern std::atomic<bool> g_PipeServerRunning;

// Connection threads currently serving a client (each runs process_pipe and then ends).
int ActivePipeConnections();

// The accept loop: one listening instance at a time; each connected instance goes to its own
// detached thread running process_pipe over `table` before the next instance is created.
// `table` must outlive every connection. Holds the pipe's name (PipeTransport::HoldName) while
// it runs. Returns when a stop request is seen or on the first accept error. Instance-creation
// errors propagate as exceptions. Sets g_PipeServerRunning while it runs.
void RunPipeServer(const ironbark::CommandTable& table);

// How an accept loop serves its pipe; the defaults are the command pipe's.
struct PipeServerOptions {
  const char* pipe_name = kCommandPipeName;
  // The stop request the loop watches; it clears it when it leaves (the acknowledgement).
  std::atomic<bool>* stop = &g_PipeServerStop;
  // When set, each connection's first message is read on the loop's thread and handed to this
  // before the next instance is created, so first messages are taken in the order their
  // clients connected (a client waits while the pipe is busy). A client that connected, wrote
  // and closed before the wait (232, ERROR_NO_DATA) still counts as connected: its message is
  // in the pipe. A connection whose first read fails is closed without being served.
  std::function<void(const std::vector<uint8_t>&)> first_message;
  // Hand each accepted instance to its thread (or close it) only once the next instance
  // exists, so that the pipe never lacks an instance between two clients. While the pipe has
  // no room for another instance, the kept one is handed off first.
  bool keep_until_next = false;
  // Runs once, when the first instance listens.
  std::function<void()> on_listening;
};

// The accept loop of RunPipeServer over any pipe: each connection is served by `serve` on a
// detached thread of its own, which owns the instance (counted by ActivePipeConnections).
// Returns 0 when a stop request is seen, else the first accept error. Instance-creation errors
// propagate as exceptions.
using PipeConnectionBody = std::function<void(std::unique_ptr<NamedPipeServer> connection)>;
uint32_t ServePipe(const PipeServerOptions& options, const PipeConnectionBody& serve);

struct StopPipeServerOptions {
  int wake_attempts = 5;
  uint32_t busy_wait_ms = 1000;  // bound on waiting for a busy pipe in one wake-up attempt
  // Measured on platform::Time().
  uint32_t poll_interval_ms = 50;
  uint32_t acknowledge_limit_ms = 10000;  // the shutdown never waits longer than this
};

// Sets the stop request and wakes the listener by connecting to the command pipe (up to
// `wake_attempts` times, every error ignored). Does not wait; see WaitPipeServerStopped.
void RequestPipeServerStop(const StopPipeServerOptions& options = {});

// Polls every poll_interval_ms until the server thread has acknowledged the stop request, the
// server is no longer running, or acknowledge_limit_ms passed. True when it stopped.
bool WaitPipeServerStopped(const StopPipeServerOptions& options = {});

// RequestPipeServerStop then WaitPipeServerStopped.
bool StopPipeServer(const StopPipeServerOptions& options = {});
