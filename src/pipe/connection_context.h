// What a command handler may know about the connection its request arrived on.
//
// The dispatcher (ServeCommands) publishes one ConnectionContext per connection, for the time
// it serves that connection, in a thread-local slot: every handler of a connection runs on the
// connection's own thread, so a handler reads the context of exactly the connection whose
// request it is handling, and no lock is needed. A handler called on any other thread (a test
// or a tool calling it directly) sees no context.
#pragma once
#include <cstdint>

namespace ironbark {

struct ConnectionContext {
  // The client's process id as the pipe reports it; 0 when unknown.
  uint32_t client_process_id = 0;
  // True when the client is this very process, or cannot be identified: such a connection may
  // carry a request that one of our own handlers passed on to the pipe (see the registry
  // commands' forward), and its handlers must not pass it on again.
  bool from_this_process = false;
};

// The context of the connection served on the calling thread; null when none is.
const ConnectionContext* CurrentConnection();

// Publishes `context` for the calling thread until destroyed; the previous one (if any) is
// restored then. `context` must outlive the scope.
class ScopedConnectionContext {
 public:
  explicit ScopedConnectionContext(const ConnectionContext& context);
  ~ScopedConnectionContext();
  ScopedConnectionContext(const ScopedConnectionContext&) = delete;
  ScopedConnectionContext& operator=(const ScopedConnectionContext&) = delete;

 private:
  const ConnectionContext* previous_;
};

}  // namespace ironbark
