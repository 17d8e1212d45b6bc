#include "platform/posix/process_environment.h"

#include <errno.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/text.h"

extern char** environ;

namespace platform::posix {

std::optional<std::string> PosixEnvironment::GetVariable(std::string_view name) {
  const std::string key(name);
  if (!key.empty() && key.find('=') == std::string::npos) {
    if (const char* value = std::getenv(key.c_str())) return std::string(value);
    const std::string wanted = text::AsciiUpper(key);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const char* eq = std::strchr(*entry, '=');
      if (eq == nullptr) continue;
      if (text::AsciiUpper(std::string_view(*entry, static_cast<size_t>(eq - *entry))) == wanted)
        return std::string(eq + 1);
    }
  }
  if (text::AsciiUpper(key) == "PROGRAMDATA") return std::string("C:\\ProgramData");
  return std::nullopt;
}

std::string PosixEnvironment::UserName() {
  const uid_t uid = ::geteuid();
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  for (;;) {
    struct passwd entry;
    struct passwd* result = nullptr;
    const int rc = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc == 0 && result != nullptr && result->pw_name != nullptr && result->pw_name[0] != '\0')
      return std::string(result->pw_name);
    return std::to_string(static_cast<unsigned long>(uid));
  }
}

}  // namespace platform::posix
