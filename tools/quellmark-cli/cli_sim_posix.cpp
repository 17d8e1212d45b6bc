// quellmark-cli sim WORD... (Linux build): one request on the running broker's control channel
// ROOT/sim/control (sim/control_channel.h); prints the reply's text.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace cli {

int RunSim(const Context& context, const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fputs("usage: quellmark-cli sim VERB [ARG...]   (e.g. sim ac unplug)\n", stderr);
    return 2;
  }
  std::string request;
  for (const std::string& word : args) request += (request.empty() ? "" : " ") + word;
  request += "\n";
  const std::string path = context.root + "/sim/control";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "quellmark-cli: root path too long for %s\n", path.c_str());
    return 1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "quellmark-cli: no broker serves %s (%s)\n", path.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return 1;
  }
  for (size_t done = 0; done < request.size();) {
    const ssize_t n = ::send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  std::string reply;
  char buffer[512];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) reply.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  if (!reply.empty() && reply.back() == '\n') reply.pop_back();
  if (reply.rfind("ok ", 0) == 0) {
    std::printf("%s\n", reply.c_str() + 3);
    return 0;
  }
  if (reply.rfind("error ", 0) == 0) {
    std::fprintf(stderr, "quellmark-cli: %s\n", reply.c_str() + 6);
  } else {
    std::fprintf(stderr, "quellmark-cli: no reply from %s\n", path.c_str());
  }
  return 1;
}

}  // namespace cli
