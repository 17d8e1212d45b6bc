// broker_load: the Linux broker under many clients at once, and at rest.
//
//   broker_load --broker PATH [--connections N] [--busy-clients N] [--seconds S]
//               [--idle-seconds S]
//
// Starts the broker binary as a child process on a fresh root (the built-in machine), lets its
// start-up survey end, and then measures, reading the kernel's figures for the broker's process
// from /proc:
//   1. N connections at once (default 254: with the listening instance, the pipe's 255): every
//      connection is opened and held, then each sends command 0 and must get its answer; the
//      broker's resident memory (VmRSS, and its peak VmHWM) and thread count are read while all
//      are open; after they close, the thread count must be back to what it was before them.
//   2. The busy clients (default 64), one connection each, sending command 0 one request after
//      another for S seconds (default 10); every answer is checked, and any failed send, receive
//      or wrong answer counts as an error. The thread count must again come back.
//   3. Idle: no client for S seconds (default 10); the context switches of each of the broker's
//      threads (voluntary and involuntary, /proc/PID/task/TID/status) over that time.
// Prints the figures; exits 1 when a connection went unanswered, a busy client saw an error, a
// thread was left behind or a broker thread woke up while idle.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSocketTimeoutSeconds = 10;
// Command 0 without arguments: the code (16 bits) and an argument count of 0, after the
// transport's 32-bit length.
constexpr uint8_t kEchoRequest[] = {3, 0, 0, 0, 0, 0, 0};

std::string g_root;
pid_t g_broker = 0;

void Cleanup() {
  if (g_broker > 0) {
    kill(g_broker, SIGKILL);
    waitpid(g_broker, nullptr, 0);
    g_broker = 0;
  }
  if (!g_root.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
  }
}

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "broker_load: %s\n", message.c_str());
  Cleanup();
  std::exit(1);
}

int Connect(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  timeval timeout{kSocketTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return fd;
}

bool Exactly(int fd, uint8_t* data, size_t size, bool sending) {
  while (size > 0) {
    const ssize_t n = sending ? send(fd, data, size, MSG_NOSIGNAL) : recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool SendEcho(int fd) {
  uint8_t request[sizeof kEchoRequest];
  std::memcpy(request, kEchoRequest, sizeof request);
  return Exactly(fd, request, sizeof request, true);
}

// Command 0's answer: one item (count byte 1) holding the description of no arguments.
bool ReceiveEchoAnswer(int fd) {
  uint8_t prefix[4];
  if (!Exactly(fd, prefix, sizeof prefix, false)) return false;
  const uint32_t length = prefix[0] | prefix[1] << 8 | prefix[2] << 16 | uint32_t{prefix[3]} << 24;
  if (length < 5 || length > 4096) return false;
  std::vector<uint8_t> answer(length);
  return Exactly(fd, answer.data(), length, false) && answer[0] == 1;
}

// A field of /proc/PID/status (or a task's status), in its own unit; -1 when absent.
long StatusField(const std::string& status_path, const std::string& field) {
  std::ifstream in(status_path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) {
      return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    }
  }
  return -1;
}

std::string ProcPath() { return "/proc/" + std::to_string(g_broker); }
long Threads() { return StatusField(ProcPath() + "/status", "Threads"); }

// Waits up to `limit` for the thread count to fall to `wanted`; the count it ended at.
long WaitForThreads(long wanted, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  long now = Threads();
  while (now > wanted && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    now = Threads();
  }
  return now;
}

struct TaskSwitches {
  std::string name;
  long switches = 0;
};

std::map<long, TaskSwitches> ContextSwitches() {
  std::map<long, TaskSwitches> tasks;
  const std::string dir = ProcPath() + "/task";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) Fail("cannot read " + dir);
  while (const dirent* entry = readdir(d)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = dir + "/" + entry->d_name;
    std::string name;
    std::getline(std::ifstream(task + "/comm"), name);
    tasks[std::atol(entry->d_name)] = {
        name, StatusField(task + "/status", "voluntary_ctxt_switches") +
                  StatusField(task + "/status", "nonvoluntary_ctxt_switches")};
  }
  closedir(d);
  return tasks;
}

int PositiveArgument(const char* text) {
  const int value = std::atoi(text);
  if (value <= 0) Fail(std::string("not a positive number: ") + text);
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::string broker;
  int connections = 254, busy_clients = 64, seconds = 10, idle_seconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--broker") broker = argv[i + 1];
    else if (option == "--connections") connections = PositiveArgument(argv[i + 1]);
    else if (option == "--busy-clients") busy_clients = PositiveArgument(argv[i + 1]);
    else if (option == "--seconds") seconds = PositiveArgument(argv[i + 1]);
    else if (option == "--idle-seconds") idle_seconds = PositiveArgument(argv[i + 1]);
    else Fail("unknown option " + option);
  }
  if (broker.empty() || argc % 2 == 0) {
    std::fprintf(stderr, "usage: broker_load --broker PATH [--connections N] [--busy-clients N] "
                         "[--seconds S] [--idle-seconds S]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  char pattern[] = "/tmp/quellmark-load-XXXXXX";
  if (mkdtemp(pattern) == nullptr) Fail("mkdtemp failed");
  g_root = pattern;
  const std::string socket_path = g_root + "/pipe/vexorhelm_hardware_service_";

  g_broker = fork();
  if (g_broker < 0) Fail("fork failed");
  if (g_broker == 0) {
    // The broker's own output (the HID layer's lines) would mix with the figures.
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    execl(broker.c_str(), broker.c_str(), "--root", pattern, static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int tries = 0;; ++tries) {
    const int fd = Connect(socket_path);
    if (fd >= 0 && SendEcho(fd) && ReceiveEchoAnswer(fd)) {
      close(fd);
      break;
    }
    if (fd >= 0) close(fd);
    if (tries > 1000 || waitpid(g_broker, nullptr, WNOHANG) == g_broker) Fail("the broker did not serve");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The start-up survey runs on a thread of its own; the baseline is the count once it ended.
  long baseline = Threads();
  for (int stable = 0; stable < 10;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long now = Threads();
    stable = now == baseline ? stable + 1 : 0;
    baseline = now;
  }
  const long rss_before = StatusField(ProcPath() + "/status", "VmRSS");
  std::printf("broker pid %d: %ld threads, VmRSS %ld KiB at rest after start\n", g_broker,
              baseline, rss_before);
  bool failed = false;

  // 1. Every connection at once.
  std::vector<int> fds;
  for (int i = 0; i < connections; ++i) {
    const int fd = Connect(socket_path);
    if (fd < 0) Fail("connection " + std::to_string(i + 1) + ": " + std::strerror(errno));
    fds.push_back(fd);
  }
  int answered = 0;
  for (int fd : fds) answered += SendEcho(fd) ? 1 : 0;
  int sent = answered;
  answered = 0;
  for (int fd : fds) answered += ReceiveEchoAnswer(fd) ? 1 : 0;
  const long threads_open = Threads();
  const long rss_open = StatusField(ProcPath() + "/status", "VmRSS");
  const long hwm_open = StatusField(ProcPath() + "/status", "VmHWM");
  for (int fd : fds) close(fd);
  const auto closed_at = Clock::now();
  const long threads_after = WaitForThreads(baseline, std::chrono::seconds(5));
  const double settle_ms =
      std::chrono::duration<double, std::milli>(Clock::now() - closed_at).count();
  std::printf("%d connections at once: %d sent, %d answered; %ld threads while open; VmRSS %ld KiB "
              "(%.1f MiB, goal at most 64 MiB), peak VmHWM %ld KiB; %ld threads %.0f ms after "
              "they closed (%ld before)\n",
              connections, sent, answered, threads_open, rss_open, rss_open / 1024.0, hwm_open,
              threads_after, settle_ms, baseline);
  failed |= answered != connections || threads_after > baseline;

  // 2. Busy clients for a fixed time.
  std::atomic<long> requests{0}, errors{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < busy_clients; ++c) {
    clients.emplace_back([&] {
      const int fd = Connect(socket_path);
      if (fd < 0) {
        errors.fetch_add(1);
        return;
      }
      long done = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        if (!SendEcho(fd) || !ReceiveEchoAnswer(fd)) {
          errors.fetch_add(1);
          break;
        }
        ++done;
      }
      requests.fetch_add(done);
      close(fd);
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop = true;
  for (std::thread& t : clients) t.join();
  const long threads_busy_after = WaitForThreads(baseline, std::chrono::seconds(5));
  std::printf("%d clients sending command 0 for %d s: %ld requests (%.0f/s), %ld errors; %ld "
              "threads after they closed (%ld before)\n",
              busy_clients, seconds, requests.load(), requests.load() / double(seconds),
              errors.load(), threads_busy_after, baseline);
  failed |= errors.load() != 0 || threads_busy_after > baseline;

  // 3. At rest.
  const auto before = ContextSwitches();
  std::this_thread::sleep_for(std::chrono::seconds(idle_seconds));
  const auto after = ContextSwitches();
  long woken = 0;
  for (const auto& [tid, task] : after) {
    const auto it = before.find(tid);
    const long delta = task.switches - (it == before.end() ? 0 : it->second.switches);
    std::printf("idle %d s: thread %ld (%s): %ld context switches\n", idle_seconds, tid,
                task.name.c_str(), delta);
    woken += delta;
  }
  std::printf("idle %d s: %ld context switches in all, %zu threads\n", idle_seconds, woken,
              after.size());
  failed |= woken != 0;

  Cleanup();
  return failed ? 1 : 0;
}
