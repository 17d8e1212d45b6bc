// A fresh directory under $TMPDIR (or /tmp) for one test, removed with everything in it.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testsupport {

class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "quellmark-test-XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testsupport
