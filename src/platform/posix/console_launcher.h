// The Linux process-launch backend. The console user is the account that owns the root
// directory; programs are Windows paths mapped below the root (path_mapping.h), and a bare file
// name ("cmd.exe") is looked up in the mapped "C:\Windows\System32". A path that starts with '/'
// is a host path (the broker's own directory, ModuleDirectory) and is used as it is, with its
// backslashes read as '/'.
//
// A program starts when it is an executable file: detached (its own session, not a child the
// broker waits for), standard input and output on /dev/null, the broker's environment and
// current directory, argv[0] the program's host path and then the command line split at blanks
// (double quotes group, as the Windows command line is read). A broker running as root starts
// it with the console user's ids and that account's groups, none of its own supplementary
// groups kept; a broker running as another account than the console user has no token for
// that user and starts nothing.
#pragma once
#include <string>

#include "platform/process_launcher.h"
#include "sim/console_session.h"

namespace platform::posix {

class ConsoleLauncher final : public ProcessLauncher {
 public:
  ConsoleLauncher(std::string root, const sim::ConsoleSession& session)
      : root_(std::move(root)), session_(session) {}

  bool FileExists(std::string_view path) override;
  // The host directory of the running executable (/proc/self/exe).
  std::string ModuleDirectory() override;
  bool StartAsConsoleUser(const ConsoleLaunch& launch) override;

  // The host path `path` stands for.
  std::string HostPath(std::string_view path) const;

 private:
  std::string root_;
  const sim::ConsoleSession& session_;
};

}  // namespace platform::posix
