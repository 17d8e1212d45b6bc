// A child process started with fork/exec, for tests that run the real broker and tools.
#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
 public:
  // Starts `argv[0]` with `argv`; `unset_env` names variables removed from its environment.
  // Its standard output is captured when `capture_output` is set.
  ChildProcess(const std::vector<std::string>& argv, bool capture_output = false,
               const std::vector<std::string>& unset_env = {"PROGRAMDATA"});
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal_number);
  // Waits up to `timeout_ms` for the exit; the exit code, or nullopt when it did not exit or
  // died of a signal.
  std::optional<int> WaitExit(int timeout_ms);
  // Everything the child wrote to standard output so far (all of it once it exited).
  const std::string& Output() const { return output_; }

 private:
  void DrainOutput(bool blocking);

  pid_t pid_ = -1;
  int output_fd_ = -1;
  bool reaped_ = false;
  std::optional<int> exit_code_;
  std::string output_;
};

// Runs a command to completion (bounded) and returns its exit code and standard output.
struct CommandResult {
  int exit_code = -1;
  std::string output;
};
CommandResult RunCommand(const std::vector<std::string>& argv, int timeout_ms = 20000);

}  // namespace testsupport
