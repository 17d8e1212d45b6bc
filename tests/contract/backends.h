// The seams' contract suites run once per build against that build's backend: each test
// executable links exactly one definition of the factories below (the Linux backends in
// unit_tests, the Win32 ones in win32_tests). Every factory call gives a fresh sandbox that is
// removed again when the returned object dies.
#pragma once
#include <memory>
#include <string>

#include "base/win_codes.h"
#include "platform/file_system.h"
#include "platform/pipe_transport.h"
#include "platform/registry.h"
#include "platform/wmi.h"

namespace contract {

// True in win32_tests. The few places where the backends may answer differently test on it,
// each with its reason.
extern const bool kWindows;
// True when win32_tests runs under Wine, whose API differs from Windows' in a few answers; each
// contract names them in one place, with the Windows answer kept as the contract.
extern const bool kWine;

struct RegistryBackend {
  virtual ~RegistryBackend() = default;
  platform::Registry* registry = nullptr;
  win::RegRoot root = win::RegRoot::kCurrentUser;
  std::string key;  // a key path of this sandbox alone, not created yet
};
std::unique_ptr<RegistryBackend> MakeRegistryBackend();

struct FileSystemBackend {
  virtual ~FileSystemBackend() = default;
  platform::FileSystem* files = nullptr;
  std::string dir;  // an existing empty folder, a Windows path without trailing separator
  // The whole file, read past the seam; empty when it cannot be read.
  virtual std::string Read(const std::string& path) = 0;
};
std::unique_ptr<FileSystemBackend> MakeFileSystemBackend();

struct PipeBackend {
  virtual ~PipeBackend() = default;
  platform::PipeTransport* pipes = nullptr;
  // "\\.\pipe\NAME" with a NAME no other test or run uses.
  virtual std::string UniquePath() = 0;
};
std::unique_ptr<PipeBackend> MakePipeBackend();

// A WMI provider with a Win32_ComputerSystem row in ROOT\CIMV2.
struct WmiBackend {
  virtual ~WmiBackend() = default;
  platform::WmiProvider* provider = nullptr;
};
std::unique_ptr<WmiBackend> MakeWmiBackend();

}  // namespace contract
