// Process entry of the Linux build: the broker on a simulated notebook, rooted in one
// directory. The same start-up and shutdown order as the Windows build: single-instance guard,
// log set-up, "Quellmark, BEGIN", window creation (service thread), the main loop (here: wait
// for SIGTERM or SIGINT), the window's destruction sequence, then the log's destruction.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/command_catalogue.h"
#include "app/window_lifecycle.h"
#include "log/log_file.h"
#include "log/log_setup.h"
#include "pipe/pipe_server.h"
#include "platform/posix/host_services.h"
#include "sim/machine_profile.h"

namespace {

void PrintUsage() {
  std::fputs(
      "usage: quellmark [--root DIR] [--machine PROFILE]\n"
      "  Runs the hardware broker of the simulated notebook rooted in DIR (default:\n"
      "  $QUELLMARK_ROOT, else ./quellmark-root). SIGTERM or SIGINT stop it.\n"
      "  PROFILE is the machine profile file describing the notebook (default: the\n"
      "  built-in machines/vexor-default.profile; see machines/README.md).\n",
      stderr);
}

// One broker per root directory, as the Windows build allows one per logon session. The lock
// is held until the process ends.
bool AcquireInstanceLock(const std::string& root) {
  const std::string path = root + "/quellmark.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const char* env_root = std::getenv("QUELLMARK_ROOT");
  std::string root = env_root != nullptr && *env_root != '\0' ? env_root : "quellmark-root";
  std::string machine;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
      root = argv[++i];
    } else if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
      machine = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0) {
      PrintUsage();
      return 0;
    } else {
      std::fprintf(stderr, "quellmark: unknown argument %s\n", argv[i]);
      PrintUsage();
      return 2;
    }
  }

  // A missing profile is a usage error, reported before anything is touched.
  if (!machine.empty() && !std::filesystem::is_regular_file(machine)) {
    std::fprintf(stderr, "quellmark: machine profile %s does not exist\n", machine.c_str());
    return 2;
  }

  std::error_code ignored;
  std::filesystem::create_directories(root, ignored);
  if (!AcquireInstanceLock(root)) return 0;  // another broker serves this root

  // Signals are taken by sigwait on the main thread only; every thread started later inherits
  // the blocked mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Never destroyed: detached connection threads may still use the services while the
  // process exits.
  platform::posix::HostServices* host = nullptr;
  try {
    host = new platform::posix::HostServices(root, machine);
  } catch (const sim::ProfileError& e) {
    std::fprintf(stderr, "quellmark: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quellmark: %s\n", e.what());
    return 1;
  }
  platform::InstallServices(&host->services());

  logsetup::CreateLog();
  LogLine(kLogInfo, "wWinMain", "Quellmark, BEGIN");

  // The service thread starts the capability survey beside the pipe server.
  SetServiceSurvey(&ironbark::IbClientCommandProcessor::Initialize);
  WindowsMessageLoop::WindowsCreate(nullptr);

  int signal_number = 0;
  while (sigwait(&stop_signals, &signal_number) != 0) {
  }

  WindowsMessageLoop::WindowsDestroy();
  logsetup::DestroyLog();
  std::fflush(nullptr);
  // Like the end of a Windows process: threads still serving clients end with it, without
  // running static destructors underneath them.
  std::_Exit(0);
}
