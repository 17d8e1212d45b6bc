// Process seam: starting a program in the session of the user at the physical console, with
// that user's token and environment, on the interactive desktop, although the broker runs as a
// system process.
// Windows: WTSGetActiveConsoleSessionId, WTSQueryUserToken, CreateEnvironmentBlock,
// DuplicateTokenEx, CreateProcessAsUserW. Linux: platform/posix/console_launcher.h.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Creation flags, as CreateProcessAsUserW takes them.
inline constexpr uint32_t kCreateNewConsole = 0x00000010;
inline constexpr uint32_t kNormalPriorityClass = 0x00000020;
inline constexpr uint32_t kCreateUnicodeEnvironment = 0x00000400;
inline constexpr uint32_t kCreateNoWindow = 0x08000000;

struct ConsoleLaunch {
  // The program: a full Windows path, or a bare file name resolved as the system resolves one
  // given without a path.
  std::string application;
  // The command line handed to the program; empty: none.
  std::string command_line;
  // kCreate* and kNormalPriorityClass; the backend adds kCreateUnicodeEnvironment when it
  // hands the user's environment block over.
  uint32_t creation_flags = 0;
  // STARTF_USESHOWWINDOW with SW_HIDE; otherwise the startup information sets only the
  // desktop, "winsta0\default".
  bool hidden = false;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // PathFileExistsW: a file or directory exists at the Windows path.
  virtual bool FileExists(std::string_view path) = 0;
  // The directory of the broker's own executable (GetModuleFileNameW, PathRemoveFileSpecW),
  // without a trailing separator.
  virtual std::string ModuleDirectory() = 0;
  // Starts `launch` as the console session's user: the session's user token (failure: false),
  // an environment block built from it inheriting the broker's environment (failure: none), the
  // token duplicated as a primary token (failure: false), then the process, no current
  // directory of its own and no handles inherited. True when the process was created. Whatever
  // was obtained is released before returning; the program runs on by itself.
  virtual bool StartAsConsoleUser(const ConsoleLaunch& launch) = 0;
};

}  // namespace platform
