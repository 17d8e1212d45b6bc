// Process environment seam: environment variables and the account the process runs as.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class ProcessEnvironment {
 public:
  virtual ~ProcessEnvironment() = default;
  // GetEnvironmentVariableW; nullopt when the variable is not set.
  virtual std::optional<std::string> GetVariable(std::string_view name) = 0;
  // GetUserNameW: the account name of the process.
  virtual std::string UserName() = 0;
};

}  // namespace platform
