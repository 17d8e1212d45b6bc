#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace testsupport {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool capture_output,
                           const std::vector<std::string>& unset_env) {
  int pipe_fds[2] = {-1, -1};
  if (capture_output && pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2");
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The child's environment is prepared before fork: only async-signal-safe calls follow it.
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const auto named = [e](const std::string& name) { return std::string_view(*e).starts_with(name + "="); };
    if (std::none_of(unset_env.begin(), unset_env.end(), named)) env.push_back(*e);
  }
  env.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    // A child must never outlive a test process that crashed or was killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (capture_output) dup2(pipe_fds[1], STDOUT_FILENO);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }
  if (capture_output) {
    close(pipe_fds[1]);
    output_fd_ = pipe_fds[0];
  }
}

ChildProcess::~ChildProcess() {
  if (!reaped_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (output_fd_ >= 0) close(output_fd_);
}

void ChildProcess::Signal(int signal_number) {
  if (!reaped_) kill(pid_, signal_number);
}

void ChildProcess::DrainOutput(bool blocking) {
  char buffer[4096];
  pollfd p{output_fd_, POLLIN, 0};
  for (ssize_t n = 1; output_fd_ >= 0 && n > 0 && (blocking || poll(&p, 1, 0) > 0);) {
    n = read(output_fd_, buffer, sizeof(buffer));
    if (n > 0) output_.append(buffer, static_cast<size_t>(n));
  }
}

std::optional<int> ChildProcess::WaitExit(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    DrainOutput(false);
    int status = 0;
    if (!reaped_ && waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      if (WIFEXITED(status)) exit_code_ = WEXITSTATUS(status);
      DrainOutput(true);
    }
    if (reaped_) return exit_code_;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

CommandResult RunCommand(const std::vector<std::string>& argv, int timeout_ms) {
  ChildProcess child(argv, true);
  const int code = child.WaitExit(timeout_ms).value_or(-1);
  return {code, child.Output()};
}

}  // namespace testsupport
