// The Linux process-environment backend.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/process_environment.h"

namespace platform::posix {

class PosixEnvironment : public platform::ProcessEnvironment {
 public:
  // The process environment. Names compare case-insensitively as on Windows (an exact match
  // wins). The Linux build has no Windows environment, so "PROGRAMDATA" answers
  // "C:\ProgramData" (the Windows default, mapped below the root like every path) when the
  // process environment does not set it.
  std::optional<std::string> GetVariable(std::string_view name) override;

  // The effective user's login name (getpwuid_r); the numeric uid as text when the user has
  // no passwd entry.
  std::string UserName() override;
};

}  // namespace platform::posix
