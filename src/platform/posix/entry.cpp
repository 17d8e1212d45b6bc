// Process entry of the Linux build: the broker on a simulated notebook, rooted in one
// directory. What is its own: the arguments, one broker per root, the Linux platform services,
// and the main loop that stands in for the hidden window (platform/posix/main_loop.h):
// SIGTERM and SIGINT end it, and then the window's destruction sequence runs as WM_DESTROY
// runs it on Windows. The sequence itself is app/lifecycle.h's.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/lifecycle.h"
#include "input/windows_input.h"
#include "platform/posix/host_services.h"
#include "platform/posix/main_loop.h"
#include "sim/control_channel.h"
#include "sim/input_verbs.h"
#include "sim/keyboard_input.h"
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

// Every exit, early or not, ends the process the same way: like the end of a Windows process,
// threads still serving clients end with it, without static destructors run underneath them.
[[noreturn]] void EndProcess(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
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

class PosixProcessHost final : public app::ProcessHost {
 public:
  explicit PosixProcessHost(platform::posix::MainLoop& loop) : loop_(loop) {}

  // No window to create: its creation sequence runs directly.
  bool CreateMainWindow() override {
    WindowsMessageLoop::WindowsCreate(nullptr);
    return true;
  }

  uint32_t RunMainLoop() override {
    loop_.Run();
    WindowsMessageLoop::WindowsDestroy();
    return 0;
  }

  [[noreturn]] void EndProcess(uint32_t code) override { ::EndProcess(static_cast<int>(code)); }

 private:
  platform::posix::MainLoop& loop_;
};

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
      EndProcess(0);
    } else {
      std::fprintf(stderr, "quellmark: unknown argument %s\n", argv[i]);
      PrintUsage();
      EndProcess(2);
    }
  }

  // A missing profile is a usage error, reported before anything is touched.
  if (!machine.empty() && !std::filesystem::is_regular_file(machine)) {
    std::fprintf(stderr, "quellmark: machine profile %s does not exist\n", machine.c_str());
    EndProcess(2);
  }

  std::error_code ignored;
  std::filesystem::create_directories(root, ignored);
  if (!AcquireInstanceLock(root)) EndProcess(0);  // another broker serves this root

  // Never destroyed: detached connection threads may still use them while the process exits.
  platform::posix::MainLoop* loop = nullptr;
  platform::posix::HostServices* host = nullptr;
  try {
    // Before any other thread: the stop signals are blocked in every thread, left to the loop.
    loop = new platform::posix::MainLoop();
    host = new platform::posix::HostServices(root, machine);
  } catch (const sim::ProfileError& e) {
    std::fprintf(stderr, "quellmark: %s\n", e.what());
    EndProcess(2);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quellmark: %s\n", e.what());
    EndProcess(1);
  }
  signal(SIGPIPE, SIG_IGN);
  auto* services = new platform::Services(host->services());
  services->main_thread = loop;
  platform::InstallServices(services);
  // The simulated keyboard's raw-input messages run on the main loop, as WM_INPUT does in the
  // window procedure.
  host->input().Connect(loop, [](intptr_t handle) { WindowsMessageLoop::WindowsInput(handle); });

  // Acting on the simulated machine while the broker runs (`quellmark-cli sim ...`). Without
  // the channel the broker still serves; only the machine cannot be acted on.
  auto* control = new sim::ControlChannel();
  sim::AddFirmwareVerbs(*control, host->notebook());
  sim::AddInputVerbs(*control, host->input(), host->console());
  try {
    control->Serve(host->root() + "/sim/control");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quellmark: %s\n", e.what());
  }

  PosixProcessHost process(*loop);
  app::RunBroker(process);
}
