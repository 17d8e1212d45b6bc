// The Windows process-environment backend.
#pragma once
#include "platform/process_environment.h"

namespace platform::win32 {

class Win32Environment : public platform::ProcessEnvironment {
 public:
  // GetEnvironmentVariableW into 260 wide characters; a longer value is read again into a
  // buffer of its own size, so the whole value is returned (callers that need the 260-character
  // rule apply it themselves). nullopt when the variable is not set.
  std::optional<std::string> GetVariable(std::string_view name) override;

  // GetUserNameW into 260 wide characters (account names have at most 256); empty when the
  // call fails.
  std::string UserName() override;
};

}  // namespace platform::win32
