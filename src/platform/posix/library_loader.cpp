#include "platform/posix/library_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <filesystem>
#include <utility>

#include "base/text.h"
#include "platform/posix/path_mapping.h"

namespace platform::posix {
namespace {

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += text::CodePointToUtf8(static_cast<char32_t>(c));
  return out;
}

bool IsFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

PosixLibraryLoader::PosixLibraryLoader(std::string root, std::string application_dir)
    : root_(std::move(root)), application_dir_(std::move(application_dir)) {}

std::string PosixLibraryLoader::Find(const std::wstring& name, uint32_t flags) const {
  const std::string file = Utf8(name);
  if (file.empty()) return {};
  if (file.find_first_of("\\/:") != std::string::npos) {
    const std::string path = MapWindowsPath(root_, file);
    return IsFile(path) ? path : std::string();
  }
  if ((flags & kLoadLibrarySearchApplicationDir) != 0 && !application_dir_.empty()) {
    const std::string path = application_dir_ + "/" + file;
    if (IsFile(path)) return path;
  }
  if ((flags & kLoadLibrarySearchSystem32) != 0) {
    // Mapped as a Windows path, so the file name matches in any case as it does there.
    const std::string path = MapWindowsPath(root_, "C:\\Windows\\System32\\" + file);
    if (IsFile(path)) return path;
  }
  return {};
}

LibraryLoader::Module PosixLibraryLoader::Load(const std::wstring& name, uint32_t flags) {
  const std::string path = Find(name, flags);
  if (path.empty()) return nullptr;
  // RTLD_LOCAL: each library keeps its symbols to itself, as a DLL does.
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* PosixLibraryLoader::Symbol(Module module, const char* name) {
  return module != nullptr ? ::dlsym(module, name) : nullptr;
}

void PosixLibraryLoader::Free(Module module) {
  if (module != nullptr) ::dlclose(module);
}

std::string RunningProgramDirectory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

}  // namespace platform::posix
