#include "platform/posix/pipe_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "base/win_codes.h"
#include "platform/clock.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_mapping.h"

namespace platform::posix {

namespace {

constexpr uid_t kRefusedPeerUid = 65534;  // "nobody": guests and anonymous logons
constexpr size_t kLengthPrefixBytes = 4;
// Bytes a connection takes from its socket in one recv when it needs any: a request or an answer
// of the usual sizes, its length prefix included, arrives in one call.
constexpr size_t kReadAheadBytes = 4096;

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A connected socket: one end of a pipe connection, in message read mode.
class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection() { Close(); }

  // Up to `capacity` bytes of the current message (the next one when none is under way); 234
  // (ERROR_MORE_DATA) while bytes of the message remain. The bytes come from the read-ahead
  // buffer first (see ReceiveAll), so a whole short message costs one recv.
  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t* read) {
    *read = 0;
    if (fd_ < 0) return win::kErrorInvalidHandle;
    if (!in_message_) {
      uint8_t prefix[kLengthPrefixBytes];
      size_t got = 0;
      if (const uint32_t error = ReceiveAll(prefix, sizeof prefix, &got); error != 0) return error;
      const uint32_t length = static_cast<uint32_t>(prefix[0]) |
                              (static_cast<uint32_t>(prefix[1]) << 8) |
                              (static_cast<uint32_t>(prefix[2]) << 16) |
                              (static_cast<uint32_t>(prefix[3]) << 24);
      if (length > kMaxPipeMessageBytes) {
        // Past a refused message the stream has no boundaries left to find: end the connection
        // both ways, so that a writer still sending it learns at once.
        ::shutdown(fd_, SHUT_RDWR);
        return win::kErrorInvalidData;
      }
      remaining_ = length;
      in_message_ = true;
    }
    size_t got = 0;
    const uint32_t error = ReceiveAll(buffer, remaining_ < capacity ? remaining_ : capacity, &got);
    *read = static_cast<uint32_t>(got);
    remaining_ -= static_cast<uint32_t>(got);
    if (error != 0) return error;
    if (remaining_ > 0) return win::kErrorMoreData;
    // A message of zero bytes, too, reads as one read of zero bytes.
    in_message_ = false;
    return 0;
  }

  // The length prefix and the message in as many sends as the socket buffer needs.
  uint32_t Write(const uint8_t* data, uint32_t size, uint32_t* written) {
    *written = 0;
    if (fd_ < 0) return win::kErrorInvalidHandle;
    uint8_t prefix[kLengthPrefixBytes];
    for (size_t i = 0; i < kLengthPrefixBytes; ++i) {
      prefix[i] = static_cast<uint8_t>(size >> (8 * i));
    }
    iovec parts[2] = {{prefix, sizeof prefix}, {const_cast<uint8_t*>(data), size}};
    size_t part = 0;
    while (part < 2) {
      msghdr message{};
      message.msg_iov = parts + part;
      message.msg_iovlen = 2 - part;
      const ssize_t sent = sendmsg(fd_, &message, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        return WinErrorFromErrno(errno);
      }
      size_t left = static_cast<size_t>(sent);
      while (part < 2 && left >= parts[part].iov_len) left -= parts[part++].iov_len;
      if (part < 2) {
        parts[part].iov_base = static_cast<uint8_t*>(parts[part].iov_base) + left;
        parts[part].iov_len -= left;
      }
    }
    *written = size;
    return 0;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }

 private:
  // Exactly `size` bytes, *got of them before a failure; the end of the connection, before or
  // inside a message, reads as 109 (ERROR_BROKEN_PIPE). Bytes already read ahead go first. What
  // is still missing is received into the read-ahead buffer, which takes whatever the socket
  // holds (the rest of the message and the start of the next one alike), unless it is at least
  // a buffer's worth: that goes straight to `buffer`, without the extra copy.
  uint32_t ReceiveAll(uint8_t* buffer, size_t size, size_t* got) {
    while (*got < size) {
      if (ahead_begin_ < ahead_end_) {
        const size_t take = std::min(size - *got, ahead_end_ - ahead_begin_);
        std::memcpy(buffer + *got, ahead_ + ahead_begin_, take);
        ahead_begin_ += take;
        *got += take;
        continue;
      }
      const bool direct = size - *got >= kReadAheadBytes;
      const ssize_t n = direct ? recv(fd_, buffer + *got, size - *got, 0)
                               : recv(fd_, ahead_, kReadAheadBytes, 0);
      if (n > 0) {
        if (direct) {
          *got += static_cast<size_t>(n);
        } else {
          ahead_begin_ = 0;
          ahead_end_ = static_cast<size_t>(n);
        }
      } else if (n == 0 || errno == ECONNRESET) {
        return win::kErrorBrokenPipe;
      } else if (errno != EINTR) {
        return WinErrorFromErrno(errno);
      }
    }
    return 0;
  }

  int fd_;
  // Bytes received from the socket but not yet read: ahead_[ahead_begin_, ahead_end_).
  uint8_t ahead_[kReadAheadBytes];
  size_t ahead_begin_ = 0;
  size_t ahead_end_ = 0;
  bool in_message_ = false;
  uint32_t remaining_ = 0;  // bytes of the current message not read yet
};

class ClientHandle : public PipeHandle {
 public:
  explicit ClientHandle(int fd) : connection_(fd) {}
  uint32_t WaitForClient() override { return win::kErrorInvalidParameter; }
  uint32_t Read(uint8_t* b, uint32_t c, uint32_t* r) override { return connection_.Read(b, c, r); }
  uint32_t Write(const uint8_t* d, uint32_t s, uint32_t* w) override {
    return connection_.Write(d, s, w);
  }
  uint32_t SetMessageReadMode() override {
    return connection_.fd() >= 0 ? 0 : win::kErrorInvalidHandle;
  }
  void Close() override { connection_.Close(); }
  uint32_t ClientProcessId() override { return 0; }

 private:
  Connection connection_;
};

}  // namespace

struct UnixStreamPipeTransport::Listener {
  int fd = -1;
  uint32_t instances = 0;
  uint32_t holds = 0;
};

// A server instance: waits on the shared listening socket, then serves one connection.
class ServerInstance : public PipeHandle {
 public:
  ServerInstance(UnixStreamPipeTransport* transport, std::string socket_path, int listen_fd)
      : transport_(transport), socket_path_(std::move(socket_path)), listen_fd_(listen_fd) {}
  ~ServerInstance() override { Close(); }

  uint32_t WaitForClient() override {
    if (released_) return win::kErrorInvalidHandle;
    if (connection_) return win::kErrorPipeConnected;
    for (;;) {
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return WinErrorFromErrno(errno);
      }
      ucred peer{};
      socklen_t length = sizeof(peer);
      if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
          peer.uid == kRefusedPeerUid) {
        ::close(fd);
        continue;
      }
      connection_ = std::make_unique<Connection>(fd);
      // The kernel records the peer's process at connect() time; a descriptor passed on to
      // another process keeps reporting the one that connected.
      client_pid_ = peer.pid > 0 ? static_cast<uint32_t>(peer.pid) : 0;
      return 0;
    }
  }

  uint32_t Read(uint8_t* b, uint32_t c, uint32_t* r) override {
    *r = 0;
    return connection_ ? connection_->Read(b, c, r) : win::kErrorPipeNotConnected;
  }
  uint32_t Write(const uint8_t* d, uint32_t s, uint32_t* w) override {
    *w = 0;
    return connection_ ? connection_->Write(d, s, w) : win::kErrorPipeNotConnected;
  }
  uint32_t SetMessageReadMode() override { return 0; }

  uint32_t ClientProcessId() override { return connection_ ? client_pid_ : 0; }

  void Close() override {
    connection_.reset();
    if (!released_) {
      released_ = true;
      transport_->Release(socket_path_, true);
    }
  }

 private:
  UnixStreamPipeTransport* transport_;
  std::string socket_path_;
  int listen_fd_;
  std::unique_ptr<Connection> connection_;
  uint32_t client_pid_ = 0;
  bool released_ = false;
};

class NameHold : public PipeNameHold {
 public:
  NameHold(UnixStreamPipeTransport* transport, std::string socket_path)
      : transport_(transport), socket_path_(std::move(socket_path)) {}
  ~NameHold() override { transport_->Release(socket_path_, false); }

 private:
  UnixStreamPipeTransport* transport_;
  std::string socket_path_;
};

UnixStreamPipeTransport::UnixStreamPipeTransport(std::string root) : root_(std::move(root)) {}

UnixStreamPipeTransport::~UnixStreamPipeTransport() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [path, listener] : listeners_) {
    ::close(listener->fd);
    ::unlink(path.c_str());
  }
}

std::string UnixStreamPipeTransport::SocketPath(std::string_view pipe_path) const {
  return MapWindowsPath(root_, pipe_path);
}

UnixStreamPipeTransport::Listener& UnixStreamPipeTransport::ListenerFor(
    const std::string& socket_path) {
  if (const auto it = listeners_.find(socket_path); it != listeners_.end()) return *it->second;
  const std::string dir = socket_path.substr(0, socket_path.rfind('/'));
  ::mkdir(dir.c_str(), 0755);
  sockaddr_un addr;
  if (!FillAddress(socket_path, &addr)) throw std::runtime_error("Named pipe creation failed.");
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("Named pipe creation failed.");
  // The socket is bound under a name of this process's own and renamed into place once it
  // listens: a client that sees the pipe's name can connect at once (bound under its final name,
  // it would be refused between bind and listen). The rename also replaces a socket file left by
  // a process that died: this process owns the name now. A folder path too long for the private
  // name binds under the final one.
  const std::string bound = dir + "/." + std::to_string(::getpid()) + "." + std::to_string(fd);
  sockaddr_un bound_addr;
  const bool renamed = FillAddress(bound, &bound_addr);
  if (!renamed) bound_addr = addr;
  const std::string& bound_path = renamed ? bound : socket_path;
  ::unlink(bound_path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&bound_addr), sizeof(bound_addr)) != 0 ||
      ::chmod(bound_path.c_str(), 0666) != 0 || listen(fd, SOMAXCONN) != 0 ||
      (renamed && ::rename(bound.c_str(), socket_path.c_str()) != 0)) {
    ::close(fd);
    ::unlink(bound.c_str());
    throw std::runtime_error("Named pipe creation failed.");
  }
  auto listener = std::make_unique<Listener>();
  listener->fd = fd;
  return *(listeners_[socket_path] = std::move(listener));
}

std::unique_ptr<PipeHandle> UnixStreamPipeTransport::CreateInstance(
    const PipeInstanceParams& params) {
  const std::string socket_path = SocketPath(params.path);
  std::lock_guard<std::mutex> lock(mutex_);
  Listener& listener = ListenerFor(socket_path);
  const uint32_t limit = params.max_instances == 0 ? win::kPipeUnlimitedInstances
                                                   : params.max_instances;
  if (listener.instances >= limit) throw PipeInstanceLimitError();
  ++listener.instances;
  return std::make_unique<ServerInstance>(this, socket_path, listener.fd);
}

std::unique_ptr<PipeNameHold> UnixStreamPipeTransport::HoldName(std::string_view path) {
  std::string socket_path = SocketPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  ++ListenerFor(socket_path).holds;
  return std::make_unique<NameHold>(this, std::move(socket_path));
}

void UnixStreamPipeTransport::Release(const std::string& socket_path, bool instance) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = listeners_.find(socket_path);
  if (it == listeners_.end()) return;
  Listener& listener = *it->second;
  --(instance ? listener.instances : listener.holds);
  if (listener.instances == 0 && listener.holds == 0) {
    ::close(listener.fd);
    ::unlink(socket_path.c_str());
    listeners_.erase(it);
  }
}

std::unique_ptr<PipeHandle> UnixStreamPipeTransport::Open(std::string_view path,
                                                         uint32_t /*desired_access*/,
                                                         uint32_t* error) {
  sockaddr_un addr;
  if (!FillAddress(SocketPath(path), &addr)) {
    *error = win::kErrorBadPathname;
    return nullptr;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = WinErrorFromErrno(errno);
    return nullptr;
  }
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    // Windows' pipe names are flat: however the socket path fails to lead to a listener (no
    // socket, no pipe folder, a file where that folder should be), there is no such pipe.
    *error = errno == ENOTDIR ? win::kErrorFileNotFound : WinErrorFromErrno(errno);
    ::close(fd);
    return nullptr;
  }
  *error = 0;
  return std::make_unique<ClientHandle>(fd);
}

void SecurePipeDirectory(const std::string& root) {
  std::string pipes = MapWindowsPath(root, "\\\\.\\pipe\\");
  if (pipes.ends_with('/')) pipes.pop_back();
  const std::string parent = pipes.substr(0, pipes.rfind('/'));
  const uid_t self = ::geteuid();
  auto refuse = [](const std::string& path, const char* why) {
    throw std::runtime_error("refusing the pipe folder " + path + ": " + why);
  };
  struct stat st{};
  if (::lstat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) refuse(parent, "not a folder");
  if (st.st_uid != self && st.st_uid != 0) refuse(parent, "owned by another account");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
    refuse(parent, "writable by other accounts");
  }
  if (::mkdir(pipes.c_str(), 0755) != 0 && errno != EEXIST) refuse(pipes, std::strerror(errno));
  if (::lstat(pipes.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) refuse(pipes, "not a folder");
  if (st.st_uid != self) refuse(pipes, "owned by another account");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) refuse(pipes, "writable by other accounts");
}

uint32_t UnixStreamPipeTransport::CurrentProcessId() {
  return static_cast<uint32_t>(::getpid());
}

uint32_t UnixStreamPipeTransport::WaitForInstance(std::string_view path, uint32_t timeout_ms) {
  // connect() already waits while the backlog is full; what remains to wait for is a
  // listening socket to appear.
  // The server is another process: the wait runs in real time whatever clock is installed.
  const std::string socket_path = SocketPath(path);
  platform::Clock& clock = platform::SteadyClock();
  const auto start = clock.Now();
  for (;;) {
    struct stat st{};
    if (::stat(socket_path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return 0;
    if (timeout_ms != 0xFFFFFFFFu &&
        clock.Now() - start >= std::chrono::milliseconds(timeout_ms)) {
      return win::kErrorSemTimeout;
    }
    clock.SleepFor(std::chrono::milliseconds(10));
  }
}

}  // namespace platform::posix
