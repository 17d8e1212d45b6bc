// The seams' contract suites run against the backend whose factories the test executable links
// (Linux in unit_tests, Win32 in win32_tests); each call gives a sandbox removed with the object.
#pragma once
#include <memory>
#include <string>

#include "base/win_codes.h"
#include "platform/file_system.h"
#include "platform/named_mutex.h"
#include "platform/pipe_transport.h"
#include "platform/registry.h"
#include "platform/wmi.h"

namespace contract {

// The few places where the backends answer differently test on these, each with its reason;
// Wine's differences are named in one place per contract, Windows' answers kept as the contract.
extern const bool kWindows, kWine;

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

struct MutexBackend {
  virtual ~MutexBackend() = default;
  platform::NamedMutexes* mutexes = nullptr;
  // "Global\NAME" with a NAME no other test or run uses.
  virtual std::string UniqueName() = 0;
  // A holder elsewhere opens the mutex `name` (which exists), takes it and dies holding it;
  // returns once it is gone.
  virtual void DieHolding(const std::string& name) = 0;
};
std::unique_ptr<MutexBackend> MakeMutexBackend();

}  // namespace contract
