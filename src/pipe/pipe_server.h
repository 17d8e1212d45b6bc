// The command pipe's accept loop and its stop protocol. The service thread that runs the loop
// belongs to the process's start-up (app/lifecycle.h).
#pragma once
#include <atomic>
#include <cstdint>

#include "pipe/command_processor.h"

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
