// quellmark-cli agent listen (both builds).
#include <atomic>
#include <cstdio>
#include <memory>

#include "agent_listener.h"
#include "cli.h"
#include "cli_pipes.h"
#include "pipe/agent_client.h"
#include "pipe/named_pipe.h"
#include "platform/services.h"

namespace cli {

namespace agent = namedpipe_agent_service_function;

int RunAgent(const Context& context, const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0] != "listen") {
    std::fputs("usage: quellmark-cli agent listen\n", stderr);
    return 2;
  }
  const std::unique_ptr<platform::PipeTransport> transport = OpenPipeTransport(context);
  static platform::Services services;  // connection threads may use it until the process ends
  services.pipes = transport.get();
  platform::InstallServices(&services);
  const std::string where = DescribePipe(context, PipePath(agent::kAgentPipeName));
  std::atomic<bool> stop{false};
  std::string error;
  // Runs until the process is killed (SIGINT, SIGTERM, Ctrl+C): every line is flushed as it is
  // printed, so nothing printed is lost then.
  ServeAgentPipe(
      [](const std::vector<uint8_t>& message) {
        std::fputs((DescribeAgentEvent(message) + "\n").c_str(), stdout);
        std::fflush(stdout);
      },
      [&where] {
        std::fprintf(stderr, "quellmark-cli: listening on %s\n", where.c_str());
        std::fflush(stderr);
      },
      stop, &error);
  std::fprintf(stderr, "quellmark-cli: cannot serve %s: %s\n", where.c_str(), error.c_str());
  return 1;
}

}  // namespace cli
