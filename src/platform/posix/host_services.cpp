#include "platform/posix/host_services.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/posix/file_system.h"
#include "platform/posix/pipe_transport.h"
#include "platform/posix/process_environment.h"
#include "platform/posix/sqlite_registry.h"

namespace platform::posix {

HostServices::HostServices(std::string root) : root_(std::move(root)) {
  std::error_code error;
  std::filesystem::create_directories(root_, error);
  if (!std::filesystem::is_directory(root_)) {
    throw std::runtime_error("cannot use root directory " + root_);
  }
  root_ = std::filesystem::absolute(root_).lexically_normal().string();
  if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  registry_ = std::make_unique<SqliteRegistry>(root_ + "/registry.db");
  files_ = std::make_unique<PosixFileSystem>(root_);
  environment_ = std::make_unique<PosixEnvironment>();
  pipes_ = std::make_unique<SeqpacketPipeTransport>(root_);
  services_.registry = registry_.get();
  services_.files = files_.get();
  services_.environment = environment_.get();
  services_.pipes = pipes_.get();
}

HostServices::~HostServices() = default;

}  // namespace platform::posix
