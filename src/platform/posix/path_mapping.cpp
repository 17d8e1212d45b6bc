#include "platform/posix/path_mapping.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace platform::posix {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char AsciiLowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLowerChar(a[i]) != AsciiLowerChar(b[i])) return false;
  return true;
}

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string> SplitComponents(std::string_view path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = i;
    while (j < path.size() && !IsSeparator(path[j])) ++j;
    std::string_view part = path.substr(i, j - i);
    if (part.empty() || part == ".") {
      // dropped
    } else if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.emplace_back(part);
    }
    i = j + 1;
  }
  return parts;
}

// The spelling of `name` inside `dir`: the exact name when it exists, else the first entry
// that differs only in (ASCII) case, else `name` itself. A directory listing is read only on
// a miss, so the common case costs one lstat.
std::string ResolveEntry(const std::string& dir, const std::string& name, bool* found) {
  struct stat st;
  if (::lstat((dir + "/" + name).c_str(), &st) == 0) {
    *found = true;
    return name;
  }
  *found = false;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return name;
  std::string match = name;
  while (const dirent* entry = ::readdir(d)) {
    if (EqualsIgnoreCase(entry->d_name, name)) {
      match = entry->d_name;
      *found = true;
      break;
    }
  }
  ::closedir(d);
  return match;
}

std::string Resolve(std::string base, const std::vector<std::string>& parts) {
  bool exists = true;
  for (const std::string& part : parts) {
    // Below a missing directory nothing can exist; keep the caller's spelling.
    const std::string name = exists ? ResolveEntry(base, part, &exists) : part;
    base += "/";
    base += name;
  }
  return base;
}

}  // namespace

std::string MapWindowsPath(std::string_view root, std::string_view windows_path) {
  std::string base(root);
  while (!base.empty() && base.back() == '/') base.pop_back();

  std::string_view path = windows_path;
  // "\\?\C:\..." is the long-path spelling of "C:\...".
  if (StartsWithIgnoreCase(path, "\\\\?\\")) path.remove_prefix(4);

  if (StartsWithIgnoreCase(path, "\\\\.\\pipe\\")) {
    path.remove_prefix(9);
    // A pipe name is one socket file: separators inside the name are kept out of the tree.
    std::string name;
    for (char c : path) name.push_back(IsSeparator(c) ? '_' : c);
    if (name.empty()) return base + "/pipe";
    return Resolve(base + "/pipe", {name});
  }

  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // UNC "\\server\share\..." lands below ROOT/UNC.
    return Resolve(base + "/UNC", SplitComponents(path.substr(2)));
  }

  char drive = 'C';
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    drive = path[0] >= 'a' ? static_cast<char>(path[0] - 'a' + 'A') : path[0];
    // "C:x" (relative to the drive's current directory) is taken from the drive's root too.
    path.remove_prefix(2);
  }
  // The drive folder is spelled as mapped, never looked up: it is part of the tree's layout.
  return Resolve(base + "/" + drive, SplitComponents(path));
}

}  // namespace platform::posix
