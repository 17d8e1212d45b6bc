#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
 public:
  // Starts `argv`, without the variables `unset_env`, capturing standard output if asked.
  ChildProcess(const std::vector<std::string>& argv, bool capture_output = false,
               const std::vector<std::string>& unset_env = {"PROGRAMDATA"});
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal_number);
  // The exit code; nullopt when it did not exit in time or died of a signal.
  std::optional<int> WaitExit(int timeout_ms);
  const std::string& Output() const { return output_; }

 private:
  void DrainOutput(bool blocking);

  pid_t pid_ = -1;
  int output_fd_ = -1;
  bool reaped_ = false;
  std::optional<int> exit_code_;
  std::string output_;
};

struct CommandResult {
  int exit_code = -1;
  std::string output;
};
CommandResult RunCommand(const std::vector<std::string>& argv, int timeout_ms = 20000);

}  // namespace testsupport
