#include "platform/posix/console_launcher.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/posix/path_mapping.h"

extern char** environ;

namespace platform::posix {
namespace {

// The command line's arguments as the Windows command line is read: blanks separate, double
// quotes group (and are dropped).
std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> arguments;
  std::string current;
  bool quoted = false, in_argument = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      in_argument = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_argument) arguments.push_back(current);
      current.clear();
      in_argument = false;
    } else {
      current.push_back(c);
      in_argument = true;
    }
  }
  if (in_argument) arguments.push_back(current);
  return arguments;
}

// The supplementary groups of account `uid` as the system lists them, `gid` among them; only
// `gid` when the account has no entry of its own.
std::vector<gid_t> AccountGroups(uid_t uid, gid_t gid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return {gid};
  }
  std::vector<gid_t> groups(32);
  int count = static_cast<int>(groups.size());
  while (::getgrouplist(entry.pw_name, gid, groups.data(), &count) < 0) {
    if (count <= static_cast<int>(groups.size())) return {gid};
    groups.resize(static_cast<size_t>(count));
  }
  groups.resize(static_cast<size_t>(count));
  return groups;
}

}  // namespace

std::string ConsoleLauncher::HostPath(std::string_view path) const {
  if (!path.empty() && path.front() == '/') {
    std::string host(path);
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
  }
  if (path.find('\\') == std::string_view::npos && path.find(':') == std::string_view::npos) {
    return MapWindowsPath(root_, "C:\\Windows\\System32\\" + std::string(path));
  }
  return MapWindowsPath(root_, path);
}

bool ConsoleLauncher::FileExists(std::string_view path) {
  struct stat info;
  return !path.empty() && ::stat(HostPath(path).c_str(), &info) == 0;
}

std::string ConsoleLauncher::ModuleDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

bool ConsoleLauncher::StartAsConsoleUser(const ConsoleLaunch& launch) {
  // The user token: a user at the console, and an account this broker may act for.
  struct stat root_info;
  if (!session_.user_logged_on() || ::stat(root_.c_str(), &root_info) != 0) return false;
  const uid_t self = ::geteuid();
  if (self != 0 && self != root_info.st_uid) return false;

  const std::string program = HostPath(launch.application);
  struct stat info;
  if (::stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0) {
    return false;
  }
  // Everything the child needs is prepared here: after fork it calls only what is safe there.
  std::vector<std::string> arguments = SplitCommandLine(launch.command_line);
  arguments.insert(arguments.begin(), program);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const bool switch_user = self == 0 && root_info.st_uid != 0;
  // The user's own groups replace the broker's supplementary ones (root's group among them),
  // looked up here since the child may not read the account files.
  const std::vector<gid_t> groups =
      switch_user ? AccountGroups(root_info.st_uid, root_info.st_gid) : std::vector<gid_t>{};

  const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  int status_pipe[2];
  if (null_fd < 0) return false;
  if (::pipe2(status_pipe, O_CLOEXEC) != 0) {
    ::close(null_fd);
    return false;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    // The intermediate child ends at once, so the program is nobody's child to wait for.
    if (::fork() != 0) ::_exit(0);
    ::setsid();
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    int error = 0;
    if (switch_user && (::setgroups(groups.size(), groups.data()) != 0 ||
                        ::setgid(root_info.st_gid) != 0 || ::setuid(root_info.st_uid) != 0)) {
      error = errno;
    } else {
      ::execve(argv[0], argv.data(), environ);
      error = errno;
    }
    [[maybe_unused]] const ssize_t written = ::write(status_pipe[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(status_pipe[1]);
  ::close(null_fd);
  bool started = false;
  if (child > 0) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The status pipe closes on exec: no error arriving means the program runs.
    int error = 0;
    ssize_t got;
    do {
      got = ::read(status_pipe[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    started = got == 0;
  }
  ::close(status_pipe[0]);
  return started;
}

}  // namespace platform::posix
