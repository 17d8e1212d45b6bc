// pipe_load: load on the command pipe of the Linux build, against a bare socket echo server.
//
//   pipe_load [--clients N[,N...]] [--requests M] [--rounds R] [--workload small|large|both]
//             [--echo-process] [--broker PATH]
//
// For each client count N (default 1, 8 and 64), N client threads each open one connection and
// send M requests one after another (each waits for its answer, as the control application
// does), for two workloads: command 0 without arguments (the 3-byte request) and command 0 with
// one 693-byte argument (a 700-byte request, which the broker receives in two 512-byte chunks).
// Servers, both started once and kept for the whole run:
//   broker    the quellmark binary given by --broker, started as a child process on a fresh
//             root (stopped with SIGTERM); without --broker, the broker's own pipe server
//             (RunPipeServer) running in this process
//   echo      a bare AF_UNIX stream server, one thread per connection, that sends every byte
//             straight back with one recv and one send: the cost of the socket round trip alone.
//             It runs inside this program, beside the clients (a thread switch within one
//             process is cheaper than one between processes); --echo-process runs it in a child
//             process instead, as the broker runs with --broker
// Clients speak the Linux pipe transport's framing themselves (a 32-bit little-endian length
// before every message), so the echo returns each request as one message.
// Each measurement runs the broker and the echo back to back (taking turns at going first), R
// times over (default 1); the table shows the median of the R rounds for requests per second and
// the p50/p99 round-trip latency of each server, and the median of the R broker/echo ratios
// (each taken within one round, so both sides of a ratio saw the same load from other processes).
// Everything lives in a temporary directory under /tmp that is removed at the end; a single
// measurement that takes longer than 120 s aborts the program.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_catalogue.h"
#include "base/little_endian.h"
#include "pipe/named_pipe.h"
#include "pipe/pipe_server.h"
#include "pipe/protocol.h"
#include "platform/posix/file_system.h"
#include "platform/posix/pipe_transport.h"
#include "platform/services.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRunLimit = std::chrono::seconds(120);
constexpr int kWarmupRequests = 50;
constexpr int kSocketTimeoutSeconds = 10;
constexpr size_t kLargeArgument = 693;

struct Options {
  std::vector<int> clients = {1, 8, 64};
  int requests = 2000;
  int rounds = 1;
  bool small = true;   // the 3-byte workload
  bool large = true;   // the 700-byte workload
  bool echo_process = false;  // the echo server in a child process
  std::string broker;  // empty: in-process pipe server
};

struct Workload {
  const char* name;
  std::vector<uint8_t> request;
};

struct RunResult {
  double requests_per_second = 0;
  double p50_us = 0;
  double p99_us = 0;
};

[[noreturn]] void Fail(const std::string& message);

// ---- the temporary root and the watchdog -------------------------------------------------

std::string g_temp_root;            // removed on every exit path
std::atomic<pid_t> g_broker_pid{0};  // a child broker to stop on every exit path
std::atomic<pid_t> g_echo_pid{0};    // an echo process (--echo-process), likewise

void Cleanup() {
  for (std::atomic<pid_t>* child : {&g_broker_pid, &g_echo_pid}) {
    const pid_t pid = child->exchange(0);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  if (!g_temp_root.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(g_temp_root, ignored);
    g_temp_root.clear();
  }
}

void Fail(const std::string& message) {
  std::fprintf(stderr, "pipe_load: %s\n", message.c_str());
  Cleanup();
  std::fflush(nullptr);
  std::_Exit(1);
}

// Aborts the program when one run outlives kRunLimit.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  void Arm(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    what_ = what;
    deadline_ = Clock::now() + kRunLimit;
    armed_ = true;
    wake_.notify_one();
  }
  void Disarm() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
      if (armed_ && Clock::now() >= deadline_) {
        Fail(what_ + ": aborted after " + std::to_string(kRunLimit.count()) + " s");
      }
      if (armed_) {
        wake_.wait_until(lock, deadline_);
      } else {
        wake_.wait(lock);
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool armed_ = false;
  bool quit_ = false;
  Clock::time_point deadline_;
  std::string what_;
  std::thread thread_;
};

// ---- sockets -------------------------------------------------------------------------------

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr.sun_path)) Fail("socket path too long: " + path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return addr;
}

int ConnectSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_un addr = SocketAddress(path);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return -1;
  }
  timeval timeout{kSocketTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  return fd;
}

bool SendAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Exactly `size` bytes; errno stays 0 when the peer closed the connection first.
bool ReceiveAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    errno = 0;
    const ssize_t n = recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// One message as the transport frames it: its length, then its bytes.
std::vector<uint8_t> Framed(const std::vector<uint8_t>& message) {
  std::vector<uint8_t> framed;
  le::Append(framed, message.size(), 4);
  framed.insert(framed.end(), message.begin(), message.end());
  return framed;
}

bool WaitForSocket(const std::string& path, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    const int fd = ConnectSocket(path);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The baseline: every message goes straight back on the connection it came from.
class EchoServer {
 public:
  explicit EchoServer(std::string path) : path_(std::move(path)) {
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = SocketAddress(path_);
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(listen_fd_, SOMAXCONN) != 0) {
      Fail("echo server: cannot listen on " + path_ + ": " + std::strerror(errno));
    }
    acceptor_ = std::thread([this] { Accept(); });
  }

  ~EchoServer() {
    stopping_.store(true);
    shutdown(listen_fd_, SHUT_RDWR);  // wakes accept()
    acceptor_.join();
    close(listen_fd_);
    unlink(path_.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    // Each connection ends when its client closes; clients are gone by now.
    for (auto& t : connections_) t.join();
  }

  const std::string& path() const { return path_; }

 private:
  void Accept() {
    for (;;) {
      const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      if (stopping_.load()) {
        close(fd);
        return;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      connections_.emplace_back([fd] { Serve(fd); });
    }
  }

  static void Serve(int fd) {
    std::vector<uint8_t> buffer(64 * 1024);
    for (;;) {
      const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
      if (n <= 0 || !SendAll(fd, buffer.data(), static_cast<size_t>(n))) break;
    }
    close(fd);
  }

  std::string path_;
  int listen_fd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> connections_;
};

// The echo server in a child process of its own (--echo-process), so that its round trips cross
// a process boundary as the broker's do. Forked while this process has no other thread; the
// child ends with this process.
class EchoProcess {
 public:
  explicit EchoProcess(std::string path) : path_(std::move(path)) {
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) Fail(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
      // The temporary root and the broker belong to the parent.
      g_temp_root.clear();
      g_broker_pid.store(0);
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(0);
      EchoServer echo(path_);
      for (;;) pause();
    }
    g_echo_pid.store(pid);
    if (!WaitForSocket(path_, std::chrono::seconds(10))) Fail("the echo process did not listen");
  }
  ~EchoProcess() {
    const pid_t pid = g_echo_pid.exchange(0);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// ---- the broker ------------------------------------------------------------------------------

// The broker's pipe server in this process. Its connection threads are detached and may
// still be ending when the server stops, so the transport it uses is never destroyed.
class InProcessBroker {
 public:
  explicit InProcessBroker(const std::string& root) {
    pipes_ = new platform::posix::UnixStreamPipeTransport(root);
    files_ = new platform::posix::PosixFileSystem(root);
    services_ = new platform::Services;
    services_->pipes = pipes_;
    services_->files = files_;
    platform::InstallServices(services_);
    g_PipeServerStop.store(false);
    thread_ = std::thread([] { RunPipeServer(g_CommandHandlers); });
    socket_path_ = pipes_->SocketPath(PipePath(kCommandPipeName));
    if (!WaitForSocket(socket_path_, std::chrono::seconds(10))) {
      Fail("the in-process pipe server did not come up");
    }
  }
  ~InProcessBroker() {
    if (!StopPipeServer()) Fail("the in-process pipe server did not acknowledge the stop");
    thread_.join();
  }
  const std::string& socket_path() const { return socket_path_; }

 private:
  platform::posix::UnixStreamPipeTransport* pipes_;
  platform::posix::PosixFileSystem* files_;
  platform::Services* services_;
  std::thread thread_;
  std::string socket_path_;
};

// The quellmark binary as a child process on its own root.
class ChildBroker {
 public:
  ChildBroker(const std::string& binary, const std::string& root) {
    socket_path_ = root + "/pipe/" + kCommandPipeName;
    const pid_t pid = fork();
    if (pid < 0) Fail(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
      execl(binary.c_str(), binary.c_str(), "--root", root.c_str(), static_cast<char*>(nullptr));
      // Only async-signal-safe calls between fork and exit: this process has threads.
      static const char kMessage[] = "pipe_load: cannot run the broker binary\n";
      ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
      (void)ignored;
      _exit(127);
    }
    g_broker_pid.store(pid);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!WaitForSocket(socket_path_, std::chrono::milliseconds(100))) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        g_broker_pid.store(0);
        Fail("the broker exited before serving " + socket_path_);
      }
      if (Clock::now() >= deadline) Fail("the broker did not create " + socket_path_);
    }
  }
  ~ChildBroker() {
    const pid_t pid = g_broker_pid.exchange(0);
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (Clock::now() >= deadline) {
        std::fprintf(stderr, "pipe_load: the broker ignored SIGTERM; killing it\n");
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  const std::string& socket_path() const { return socket_path_; }

 private:
  std::string socket_path_;
};

// ---- the load ----------------------------------------------------------------------------------

// One client: connect, warm up, wait for the start signal, then M timed round trips.
// Latencies in nanoseconds; a failure is reported in *error.
void RunClient(const std::string& socket_path, const std::vector<uint8_t>& request, int requests,
               bool expect_echo, std::atomic<int>* ready, const std::atomic<bool>* go,
               std::vector<uint32_t>* latencies, std::string* error) {
  const int fd = ConnectSocket(socket_path);
  if (fd < 0) {
    *error = std::string("connect: ") + std::strerror(errno);
    ready->fetch_add(1);
    return;
  }
  const std::vector<uint8_t> framed = Framed(request);
  std::vector<uint8_t> answer(64 * 1024);
  auto round_trip = [&]() -> bool {
    if (!SendAll(fd, framed.data(), framed.size())) {
      *error = std::string("send: ") + std::strerror(errno);
      return false;
    }
    uint8_t prefix[4];
    const bool received = ReceiveAll(fd, prefix, sizeof prefix) &&
                          le::LoadU32(prefix) <= answer.size() &&
                          ReceiveAll(fd, answer.data(), le::LoadU32(prefix));
    if (!received) {
      *error = errno == 0 ? "the server closed the connection or answered too much"
                          : std::string("recv: ") + std::strerror(errno);
      return false;
    }
    const size_t n = le::LoadU32(prefix);
    // The echo returns the request; the broker answers one item (the argument dump).
    const bool good = expect_echo ? n == request.size()
                                  : n >= 5 && answer[0] == 1;
    if (!good) *error = "unexpected answer of " + std::to_string(n) + " bytes";
    return good;
  };
  bool ok = true;
  for (int i = 0; i < kWarmupRequests && ok; ++i) ok = round_trip();
  ready->fetch_add(1);
  if (ok) {
    while (!go->load(std::memory_order_acquire)) std::this_thread::yield();
    latencies->reserve(requests);
    for (int i = 0; i < requests; ++i) {
      const auto start = Clock::now();
      if (!round_trip()) break;
      latencies->push_back(static_cast<uint32_t>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count()));
    }
  }
  close(fd);
}

double Percentile(std::vector<uint32_t>& values, double p) {
  if (values.empty()) return 0;
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
  std::nth_element(values.begin(), values.begin() + index, values.end());
  return values[index] / 1000.0;
}

RunResult RunLoad(const std::string& socket_path, const Workload& workload, int client_count,
                  int requests, bool expect_echo) {
  std::vector<std::vector<uint32_t>> latencies(client_count);
  std::vector<std::string> errors(client_count);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < client_count; ++c) {
    clients.emplace_back(RunClient, std::cref(socket_path), std::cref(workload.request),
                         requests, expect_echo, &ready, &go, &latencies[c], &errors[c]);
  }
  while (ready.load() < client_count) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const auto start = Clock::now();
  go.store(true, std::memory_order_release);
  for (auto& t : clients) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  for (int c = 0; c < client_count; ++c) {
    if (!errors[c].empty()) Fail(std::string(workload.name) + ", client " + std::to_string(c) + ": " + errors[c]);
  }
  std::vector<uint32_t> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  RunResult result;
  result.requests_per_second = all.size() / seconds;
  result.p50_us = Percentile(all, 0.50);
  result.p99_us = Percentile(all, 0.99);
  return result;
}

// ---- command line --------------------------------------------------------------------------

void Usage() {
  std::fputs(
      "usage: pipe_load [--clients N[,N...]] [--requests M] [--rounds R]\n"
      "                 [--workload small|large|both] [--echo-process] [--broker PATH]\n"
      "  --clients N,...  concurrent client connections, one measurement per count\n"
      "                   (default 1,8,64)\n"
      "  --requests M     requests per client and measurement (default 2000)\n"
      "  --rounds R       measure each count and workload R times; print medians (default 1)\n"
      "  --workload W     small: the 3-byte request, large: the 700-byte one (default both)\n"
      "  --echo-process   run the echo server in a child process instead of this one\n"
      "  --broker PATH    the quellmark binary to start with --root on a temporary root;\n"
      "                   without it the broker's pipe server runs inside this process\n",
      stderr);
}

std::optional<int> PositiveInt(const std::string& text, int max) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value < 1 || value > max) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

// "1,8,64": each count between 1 and 1000.
bool ParseCounts(const std::string& text, std::vector<int>* counts) {
  counts->clear();
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const auto n = PositiveInt(text.substr(start, comma - start), 1000);
    if (!n) return false;
    counts->push_back(*n);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--clients" && has_value) {
      if (!ParseCounts(argv[++i], &options->clients)) return false;
    } else if (arg == "--requests" && has_value) {
      const auto n = PositiveInt(argv[++i], 10'000'000);
      if (!n) return false;
      options->requests = *n;
    } else if (arg == "--rounds" && has_value) {
      const auto n = PositiveInt(argv[++i], 100);
      if (!n) return false;
      options->rounds = *n;
    } else if (arg == "--workload" && has_value) {
      const std::string w = argv[++i];
      if (w != "small" && w != "large" && w != "both") return false;
      options->small = w != "large";
      options->large = w != "small";
    } else if (arg == "--echo-process") {
      options->echo_process = true;
    } else if (arg == "--broker" && has_value) {
      options->broker = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

std::string MakeTempRoot() {
  char pattern[] = "/tmp/quellmark-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) Fail(std::string("mkdtemp: ") + std::strerror(errno));
  return pattern;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The rounds of one client count and workload.
struct Measurement {
  int clients = 0;
  const Workload* workload = nullptr;
  std::vector<RunResult> broker;
  std::vector<RunResult> echo;
};

void PrintMeasurement(const Measurement& m) {
  std::vector<double> values[3][3];  // [broker, echo, ratio][requests/s, p50, p99]
  for (size_t r = 0; r < m.broker.size(); ++r) {
    const RunResult& b = m.broker[r];
    const RunResult& e = m.echo[r];
    const double row[3][3] = {{b.requests_per_second, b.p50_us, b.p99_us},
                              {e.requests_per_second, e.p50_us, e.p99_us},
                              {b.requests_per_second / e.requests_per_second, b.p50_us / e.p50_us,
                               b.p99_us / e.p99_us}};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) values[i][j].push_back(row[i][j]);
    }
  }
  const std::string clients = std::to_string(m.clients);
  std::printf("%7s  %-18s %-8s %12.0f %10.1f %10.1f\n", clients.c_str(), m.workload->name,
              "broker", Median(values[0][0]), Median(values[0][1]), Median(values[0][2]));
  std::printf("%7s  %-18s %-8s %12.0f %10.1f %10.1f\n", "", "", "echo", Median(values[1][0]),
              Median(values[1][1]), Median(values[1][2]));
  std::printf("%7s  %-18s %-8s %11.2fx %9.2fx %9.2fx\n", "", "", "ratio", Median(values[2][0]),
              Median(values[2][1]), Median(values[2][2]));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  g_temp_root = MakeTempRoot();
  const std::string broker_root = g_temp_root + "/broker";
  std::filesystem::create_directories(broker_root);

  std::vector<Workload> workloads;
  if (options.small) workloads.push_back({"3-byte request", ironbark::EncodeRequest(0, {})});
  if (options.large) {
    std::vector<uint8_t> argument(kLargeArgument);
    for (size_t i = 0; i < argument.size(); ++i) argument[i] = static_cast<uint8_t>(i * 7);
    const std::vector<std::vector<uint8_t>> args = {argument};
    workloads.push_back({"700-byte request", ironbark::EncodeRequest(0, args)});
  }

  // Before any thread exists in this process.
  std::unique_ptr<EchoProcess> echo_process;
  if (options.echo_process) echo_process = std::make_unique<EchoProcess>(g_temp_root + "/echo.sock");

  Watchdog watchdog;
  std::vector<Measurement> measurements;
  {
    watchdog.Arm("starting the servers");
    std::unique_ptr<InProcessBroker> in_process;
    std::unique_ptr<ChildBroker> child;
    std::string broker_socket;
    if (options.broker.empty()) {
      in_process = std::make_unique<InProcessBroker>(broker_root);
      broker_socket = in_process->socket_path();
    } else {
      child = std::make_unique<ChildBroker>(options.broker, broker_root);
      broker_socket = child->socket_path();
    }
    std::unique_ptr<EchoServer> echo_in_process;
    if (!echo_process) echo_in_process = std::make_unique<EchoServer>(g_temp_root + "/echo.sock");
    const std::string& echo_socket = echo_process ? echo_process->path() : echo_in_process->path();
    for (const int clients : options.clients) {
      for (const Workload& w : workloads) {
        Measurement m;
        m.clients = clients;
        m.workload = &w;
        for (int round = 0; round < options.rounds; ++round) {
          const std::string what = std::to_string(clients) + " clients, " + w.name;
          // Every other round the echo goes first, so that a trend in the load from other
          // processes does not always favour the same side.
          for (const bool broker : {round % 2 == 0, round % 2 != 0}) {
            watchdog.Arm((broker ? "broker, " : "echo, ") + what);
            if (broker) {
              m.broker.push_back(RunLoad(broker_socket, w, clients, options.requests, false));
            } else {
              m.echo.push_back(RunLoad(echo_socket, w, clients, options.requests, true));
            }
          }
        }
        measurements.push_back(std::move(m));
      }
    }
    watchdog.Arm("stopping the servers");
  }
  watchdog.Disarm();

  std::printf("pipe_load: %d requests per client, %d round%s (medians); broker: %s; echo: %s\n",
              options.requests, options.rounds, options.rounds == 1 ? "" : "s",
              options.broker.empty() ? "pipe server in process" : options.broker.c_str(),
              options.echo_process ? "child process" : "in process");
  std::printf("%7s  %-18s %-8s %12s %10s %10s\n", "clients", "workload", "server", "requests/s",
              "p50 us", "p99 us");
  for (const Measurement& m : measurements) PrintMeasurement(m);
  Cleanup();
  std::fflush(nullptr);
  // Detached connection threads of an in-process server may still be ending.
  std::_Exit(0);
}
