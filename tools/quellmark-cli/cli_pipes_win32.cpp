#include "cli_pipes.h"

#include "platform/win32/pipe_transport.h"

namespace cli {

// Windows pipes live in the system's pipe namespace; the root directory plays no part.
std::unique_ptr<platform::PipeTransport> OpenPipeTransport(const Context& /*context*/) {
  return std::make_unique<platform::win32::Win32PipeTransport>();
}

std::string DescribePipe(const Context& /*context*/, std::string_view pipe_path) {
  return std::string(pipe_path);
}

}  // namespace cli
