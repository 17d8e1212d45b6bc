#include "cli_pipes.h"

#include "platform/posix/pipe_transport.h"

namespace cli {

std::unique_ptr<platform::PipeTransport> OpenPipeTransport(const Context& context) {
  return std::make_unique<platform::posix::UnixStreamPipeTransport>(context.root);
}

std::string DescribePipe(const Context& context, std::string_view pipe_path) {
  return platform::posix::UnixStreamPipeTransport(context.root).SocketPath(pipe_path);
}

}  // namespace cli
