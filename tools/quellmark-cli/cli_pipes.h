// The client's pipe transport: the one piece of `quellmark-cli send` that differs between the
// Windows build (real named pipes) and the Linux build (sockets under the broker's root).
#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "cli.h"
#include "platform/pipe_transport.h"

namespace cli {

// The transport that reaches the broker this client talks to.
std::unique_ptr<platform::PipeTransport> OpenPipeTransport(const Context& context);

// The name of the pipe `pipe_path` ("\\.\pipe\NAME") as the user should see it in messages:
// the socket file on Linux, the pipe path itself on Windows.
std::string DescribePipe(const Context& context, std::string_view pipe_path);

}  // namespace cli
