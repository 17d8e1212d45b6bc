#include "platform/posix/pipe_transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "base/win_codes.h"
#include "platform/posix/path_mapping.h"

namespace platform::posix {

namespace {

constexpr uid_t kRefusedPeerUid = 65534;       // "nobody": guests and anonymous logons
constexpr int kSocketBufferBytes = 4 << 20;   // room for large messages (capped by the kernel)

uint32_t ErrnoToWin(int err) {
  switch (err) {
    case ENOENT:
    case ECONNREFUSED:
    case ENOTDIR:
      return win::kErrorFileNotFound;
    case EACCES:
    case EPERM:
      return win::kErrorAccessDenied;
    case EAGAIN:
      return win::kErrorPipeBusy;
    case EPIPE:
    case ECONNRESET:
      return win::kErrorNoData;
    case EBADF:
      return win::kErrorInvalidHandle;
    case ENOMEM:
    case ENOBUFS:
      return win::kErrorNotEnoughMemory;
    case EMSGSIZE:
      return win::kErrorInvalidParameter;
    default:
      return win::kErrorGenFailure;
  }
}

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

void EnlargeBuffers(int fd) {
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof(kSocketBufferBytes));
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof(kSocketBufferBytes));
}

// A connected socket: one end of a pipe connection, in message read mode.
class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection() { Close(); }

  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t* read) {
    *read = 0;
    if (fd_ < 0) return win::kErrorInvalidHandle;
    if (offset_ >= pending_.size()) {
      const uint32_t error = ReceiveNextMessage();
      if (error != 0) return error;
    }
    const size_t remaining = pending_.size() - offset_;
    const size_t n = remaining < capacity ? remaining : capacity;
    if (n > 0) std::memcpy(buffer, pending_.data() + offset_, n);
    offset_ += n;
    *read = static_cast<uint32_t>(n);
    return offset_ < pending_.size() ? win::kErrorMoreData : 0;
  }

  uint32_t Write(const uint8_t* data, uint32_t size, uint32_t* written) {
    *written = 0;
    if (fd_ < 0) return win::kErrorInvalidHandle;
    for (;;) {
      const ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
      if (n >= 0) {
        *written = static_cast<uint32_t>(n);
        return 0;
      }
      if (errno != EINTR) return ErrnoToWin(errno);
    }
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }

 private:
  // Takes the next datagram whole; a datagram of zero bytes, like the end of the connection,
  // reads as zero bytes.
  uint32_t ReceiveNextMessage() {
    pending_.clear();
    offset_ = 0;
    ssize_t size;
    do {
      size = recv(fd_, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    } while (size < 0 && errno == EINTR);
    if (size < 0) return errno == ECONNRESET ? win::kErrorBrokenPipe : ErrnoToWin(errno);
    if (size == 0) {
      // Either the peer closed or it sent an empty message; consume it and report zero bytes.
      char ignored;
      recv(fd_, &ignored, 0, 0);
      return win::kErrorBrokenPipe;
    }
    pending_.resize(static_cast<size_t>(size));
    ssize_t got;
    do {
      got = recv(fd_, pending_.data(), pending_.size(), 0);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      pending_.clear();
      return got == 0 ? win::kErrorBrokenPipe : ErrnoToWin(errno);
    }
    pending_.resize(static_cast<size_t>(got));
    return 0;
  }

  int fd_;
  std::vector<uint8_t> pending_;
  size_t offset_ = 0;
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

struct SeqpacketPipeTransport::Listener {
  int fd = -1;
  uint32_t instances = 0;
  uint32_t holds = 0;
};

// A server instance: waits on the shared listening socket, then serves one connection.
class ServerInstance : public PipeHandle {
 public:
  ServerInstance(SeqpacketPipeTransport* transport, std::string socket_path, int listen_fd)
      : transport_(transport), socket_path_(std::move(socket_path)), listen_fd_(listen_fd) {}
  ~ServerInstance() override { Close(); }

  uint32_t WaitForClient() override {
    if (released_) return win::kErrorInvalidHandle;
    if (connection_) return win::kErrorPipeConnected;
    for (;;) {
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return ErrnoToWin(errno);
      }
      ucred peer{};
      socklen_t length = sizeof(peer);
      if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
          peer.uid == kRefusedPeerUid) {
        ::close(fd);
        continue;
      }
      EnlargeBuffers(fd);
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
  SeqpacketPipeTransport* transport_;
  std::string socket_path_;
  int listen_fd_;
  std::unique_ptr<Connection> connection_;
  uint32_t client_pid_ = 0;
  bool released_ = false;
};

class NameHold : public PipeNameHold {
 public:
  NameHold(SeqpacketPipeTransport* transport, std::string socket_path)
      : transport_(transport), socket_path_(std::move(socket_path)) {}
  ~NameHold() override { transport_->Release(socket_path_, false); }

 private:
  SeqpacketPipeTransport* transport_;
  std::string socket_path_;
};

SeqpacketPipeTransport::SeqpacketPipeTransport(std::string root) : root_(std::move(root)) {}

SeqpacketPipeTransport::~SeqpacketPipeTransport() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [path, listener] : listeners_) {
    ::close(listener->fd);
    ::unlink(path.c_str());
  }
}

std::string SeqpacketPipeTransport::SocketPath(std::string_view pipe_path) const {
  return MapWindowsPath(root_, pipe_path);
}

SeqpacketPipeTransport::Listener& SeqpacketPipeTransport::ListenerFor(
    const std::string& socket_path) {
  if (const auto it = listeners_.find(socket_path); it != listeners_.end()) return *it->second;
  const std::string dir = socket_path.substr(0, socket_path.rfind('/'));
  ::mkdir(dir.c_str(), 0755);
  sockaddr_un addr;
  if (!FillAddress(socket_path, &addr)) throw std::runtime_error("Named pipe creation failed.");
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("Named pipe creation failed.");
  // A socket file left by a process that died is stale: this process owns the name now.
  ::unlink(socket_path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      ::chmod(socket_path.c_str(), 0666) != 0 || listen(fd, SOMAXCONN) != 0) {
    ::close(fd);
    throw std::runtime_error("Named pipe creation failed.");
  }
  auto listener = std::make_unique<Listener>();
  listener->fd = fd;
  return *(listeners_[socket_path] = std::move(listener));
}

std::unique_ptr<PipeHandle> SeqpacketPipeTransport::CreateInstance(
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

std::unique_ptr<PipeNameHold> SeqpacketPipeTransport::HoldName(std::string_view path) {
  std::string socket_path = SocketPath(path);
  std::lock_guard<std::mutex> lock(mutex_);
  ++ListenerFor(socket_path).holds;
  return std::make_unique<NameHold>(this, std::move(socket_path));
}

void SeqpacketPipeTransport::Release(const std::string& socket_path, bool instance) {
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

std::unique_ptr<PipeHandle> SeqpacketPipeTransport::Open(std::string_view path,
                                                        uint32_t /*desired_access*/,
                                                        uint32_t* error) {
  sockaddr_un addr;
  if (!FillAddress(SocketPath(path), &addr)) {
    *error = win::kErrorBadPathname;
    return nullptr;
  }
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = ErrnoToWin(errno);
    return nullptr;
  }
  EnlargeBuffers(fd);
  int rc;
  do {
    rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    *error = ErrnoToWin(errno);
    ::close(fd);
    return nullptr;
  }
  *error = 0;
  return std::make_unique<ClientHandle>(fd);
}

uint32_t SeqpacketPipeTransport::CurrentProcessId() {
  return static_cast<uint32_t>(::getpid());
}

uint32_t SeqpacketPipeTransport::WaitForInstance(std::string_view path, uint32_t timeout_ms) {
  // connect() already waits while the backlog is full; what remains to wait for is a
  // listening socket to appear.
  const std::string socket_path = SocketPath(path);
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    struct stat st{};
    if (::stat(socket_path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return 0;
    if (timeout_ms != 0xFFFFFFFFu &&
        std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(timeout_ms)) {
      return win::kErrorSemTimeout;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace platform::posix
