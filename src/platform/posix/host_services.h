// The Linux backends of the platform services, over one root directory:
//   ROOT/registry.db   the registry (SQLite, WAL)
//   ROOT/pipe/NAME     named pipes (AF_UNIX SOCK_SEQPACKET sockets)
//   ROOT/C/...         drive C: and every other absolute Windows path (see path_mapping.h)
#pragma once
#include <memory>
#include <string>

#include "platform/services.h"

namespace platform::posix {

class HostServices {
 public:
  // Creates ROOT when missing and opens the registry database. Throws std::runtime_error when
  // the root or the database cannot be used.
  explicit HostServices(std::string root);
  ~HostServices();
  HostServices(const HostServices&) = delete;
  HostServices& operator=(const HostServices&) = delete;

  const std::string& root() const { return root_; }
  const Services& services() const { return services_; }

 private:
  std::string root_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<ProcessEnvironment> environment_;
  std::unique_ptr<PipeTransport> pipes_;
  Services services_;
};

}  // namespace platform::posix
