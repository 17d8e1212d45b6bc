// Named pipes of the Linux build: AF_UNIX stream sockets under ROOT/pipe/.
//
// Every pipe message travels as a 32-bit little-endian length followed by that many bytes, so
// message boundaries hold as in message mode, and a message of any size up to
// kMaxPipeMessageBytes goes through whatever the kernel's socket buffer limits are: it is
// streamed, never held whole by the transport. A reader refuses a longer length before it reads
// the message and shuts the connection down.
//
// Access rule (the counterpart of the command pipe's security descriptor): the socket file is
// created with mode 0666 in a directory of mode 0755, so every local account may connect, as
// authenticated users may on Windows; a peer running as the overflow account "nobody"
// (uid 65534, the Linux counterpart of guests and anonymous logons) is refused at accept time
// from the kernel's peer credentials. Everything else in the SDDL has no Linux counterpart.
//
// The listening socket exists while any instance of the pipe, or a hold on its name, exists in
// this process, as a Windows pipe name exists while any instance handle is open. A client that
// connects while no instance is waiting queues in the socket's backlog and is served by the
// next instance.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/pipe_transport.h"

namespace platform::posix {

class UnixStreamPipeTransport : public PipeTransport {
 public:
  explicit UnixStreamPipeTransport(std::string root);
  ~UnixStreamPipeTransport() override;

  std::unique_ptr<PipeHandle> CreateInstance(const PipeInstanceParams& params) override;
  // Keeps the listening socket bound (binding it if no instance has yet).
  std::unique_ptr<PipeNameHold> HoldName(std::string_view path) override;
  std::unique_ptr<PipeHandle> Open(std::string_view path, uint32_t desired_access,
                                   uint32_t* error) override;
  uint32_t WaitForInstance(std::string_view path, uint32_t timeout_ms) override;
  // getpid(); a server instance reports its client's pid from the kernel's peer credentials
  // (SO_PEERCRED), taken when the connection is accepted.
  uint32_t CurrentProcessId() override;

  // The socket file a pipe path maps to.
  std::string SocketPath(std::string_view pipe_path) const;

  struct Listener;

 private:
  friend class ServerInstance;
  friend class NameHold;
  // The listener of `socket_path`, bound and listening; created when there is none. Called
  // with mutex_ held.
  Listener& ListenerFor(const std::string& socket_path);
  // Drops one instance or one hold; the last of them closes the socket and removes its file.
  void Release(const std::string& socket_path, bool instance);

  std::string root_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<Listener>> listeners_;
};

// The broker's own check at start of the folder its pipe sockets live in (ROOT/pipe), made
// before any socket is bound: the folder is created when missing (mode 0755) and must then be a
// real folder, not a symbolic link, owned by this process's account and writable by nobody
// else; its parent (the root) must be owned by this account or by root and writable by nobody
// else unless its sticky bit keeps others from renaming what they do not own. Otherwise
// another account could put a socket of its own, or a whole folder, where clients look for the
// broker. Throws std::runtime_error naming the folder and what is wrong with it.
void SecurePipeDirectory(const std::string& root);

}  // namespace platform::posix
