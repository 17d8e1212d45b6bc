// Sandboxes for tests that run against the real Win32 API: a fresh registry key under
// HKCU\Software\QuellmarkTests, a fresh directory under %TEMP%, unique pipe names. Each is
// removed again when the test ends, so runs never see each other's leftovers.
#pragma once
#include <string>

#include "base/win_codes.h"

namespace win32test {

// A name no other test or run uses: prefix, process id, a counter and a high-resolution tick.
std::string UniqueName(const std::string& prefix);

// HKCU\Software\QuellmarkTests\<unique>; the key itself is not created. The destructor
// deletes the key's tree, and the QuellmarkTests key when nothing else is left in it.
class RegistrySandbox {
 public:
  static constexpr win::RegRoot kRoot = win::RegRoot::kCurrentUser;
  static constexpr const char* kParent = "Software\\QuellmarkTests";

  RegistrySandbox();
  ~RegistrySandbox();
  RegistrySandbox(const RegistrySandbox&) = delete;
  RegistrySandbox& operator=(const RegistrySandbox&) = delete;

  // The sandbox key path relative to HKCU, with `child` appended after a backslash.
  std::string Path(const std::string& child = "") const;

 private:
  std::string key_;
};

// A fresh directory under the user's temporary folder (GetTempPathW), removed with everything
// in it. Paths are UTF-8 Windows paths without a trailing backslash.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};

// Whole contents of a file opened with full sharing (as the broker's log is shared); empty
// when it cannot be opened.
std::string ReadWholeFile(const std::string& path);
bool IsDirectory(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace win32test
