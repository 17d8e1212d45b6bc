// The Linux library loader: dlopen / dlsym / dlclose of real shared libraries found by their
// Windows names below the root (platform/library_loader.h describes the search).
#pragma once
#include <string>

#include "platform/library_loader.h"

namespace platform::posix {

class PosixLibraryLoader : public LibraryLoader {
 public:
  // `application_dir`: the folder LOAD_LIBRARY_SEARCH_APPLICATION_DIR searches (the running
  // program's folder; empty: none).
  PosixLibraryLoader(std::string root, std::string application_dir);

  Module Load(const std::wstring& name, uint32_t flags) override;
  void* Symbol(Module module, const char* name) override;
  void Free(Module module) override;

  // The host file `name` would be loaded from with `flags`; empty when there is none.
  std::string Find(const std::wstring& name, uint32_t flags) const;

 private:
  const std::string root_;
  const std::string application_dir_;
};

// The folder of the running program (/proc/self/exe); empty when it cannot be read.
std::string RunningProgramDirectory();

}  // namespace platform::posix
