// The Windows process-launch backend: programs started in the console session's user session
// with that user's token and environment block, on "winsta0\default".
#pragma once
#include "platform/process_launcher.h"

namespace platform::win32 {

class Win32ConsoleLauncher final : public ProcessLauncher {
 public:
  bool FileExists(std::string_view path) override;
  std::string ModuleDirectory() override;
  bool StartAsConsoleUser(const ConsoleLaunch& launch) override;
};

}  // namespace platform::win32
