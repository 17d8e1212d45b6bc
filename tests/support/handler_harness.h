// Running command-pipe commands without a pipe, the way the dispatcher runs them, against real
// services in temporary folders, and reading back the log lines they wrote.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_catalogue.h"
#include "base/little_endian.h"
#include "log/log_file.h"
#include "platform/posix/console_launcher.h"
#include "platform/posix/file_system.h"
#include "platform/posix/named_mutex.h"
#include "platform/posix/registry.h"
#include "platform/services.h"
#include "sim/console_session.h"
#include "sim/gpus.h"
#include "sim/hid.h"
#include "sim/machine_profile.h"
#include "sim/wmi.h"
#include "sim/simulated_notebook.h"
#include "support/manual_clock.h"
#include "support/temp_dir.h"

namespace testsupport {

// `value` as `size` little-endian bytes; U32 is the usual 4-byte argument.
inline std::vector<uint8_t> Le(uint64_t value, size_t size) { return le::Bytes(value, size); }
inline std::vector<uint8_t> U32(uint32_t value) { return Le(value, 4); }
// A text as the client sends it: UTF-16LE with its NUL.
std::vector<uint8_t> Wire(const std::string& text);
// The host path of machines/<file> in the repository.
std::string MachineProfile(const std::string& file);
// A file's bytes; nullopt when it is not a regular file.
std::optional<std::string> ReadFile(const std::string& host_path);
// Writes `content` as the whole file, creating its folders.
void WriteFile(const std::string& host_path, const std::string& content);

// Runs command `code` as the dispatcher does (its entry in g_CommandHandlers: lock, entry line,
// handler) on a request of `arguments` held in a heap block of exactly its size (so that a read
// past the request is caught by the address sanitizer) and returns the response's items. An
// unknown code, or a response left absent or not parsing, fails the test.
std::vector<std::vector<uint8_t>> CallCommand(uint16_t code,
                                              const std::vector<std::vector<uint8_t>>& arguments);
// The single item of the answer; a failure and {} when there is not exactly one.
std::vector<uint8_t> CallForItem(uint16_t code, const std::vector<std::vector<uint8_t>>& arguments);

// Hands out the whole lines of a log file each once, as "[LEVEL] function | message" (time
// stamp and product column dropped).
struct LogReader {
  std::vector<std::string> Take();
  std::string path;
  size_t consumed = 0;
};

// "[INFO] ironbark::IbClientCommandProcessor::<operation> | ", how the handlers' lines start.
std::string ProcessorLine(const std::string& operation);

inline constexpr uint32_t kMissing = 0xFFFFFFFF;  // no registry value type

// WMI on a machine whose WMI service is missing: COM works, the locator cannot be created.
class NoWmiService : public platform::WmiProvider {
 public:
  wmi::HRESULT CoInitializeEx() override { return wmi::kS_OK; }
  void CoUninitialize() override {}
  wmi::HRESULT CreateLocator(std::unique_ptr<platform::WmiLocator>*) override { return wmi::kE_Fail; }
  wmi::HRESULT CreateUnsecuredApartment(std::unique_ptr<platform::WmiUnsecuredApartment>*) override {
    return wmi::kE_Fail;
  }
};

// Real services installed for the test: a registry database and a file tree (drive letters
// are folders below drive_) with the log "C:\Log\handler.log" switched on; until Boot, every
// WMI connection fails and no HID device is present; named mutexes below the file tree; a
// manual clock, so that the firmware's pauses take no time. Other services are set in
// services_, which stays installed by address.
class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Makes the simulated notebook of machines/<file>, or of `profile`, the WMI provider.
  void Boot(const std::string& profile_file) {
    BootWith(sim::LoadMachineProfile(MachineProfile(profile_file)));
  }
  void BootWith(sim::MachineProfile profile);

  // The host path of `relative` below the file tree ("C/ProgramData/...").
  std::string At(const std::string& relative) const { return drive_.path() + "/" + relative; }
  std::vector<std::string> TakeLog() { return log_lines_.Take(); }
  // The stored type and bytes of value `name` (in any case) of `key`; type kMissing when there is none.
  std::pair<uint32_t, std::vector<uint8_t>> Stored(win::RegRoot root, const std::string& key,
                                                   const std::string& name);

  TempDir drive_;
  TempDir registry_dir_;
  platform::posix::SqliteRegistry registry_{registry_dir_.path() + "/registry.db"};
  platform::posix::PosixFileSystem files_{drive_.path()};
  NoWmiService no_wmi_;
  ManualClock clock_;
  sim::SimulatedHid no_hid_{{}, {}, {}};
  sim::SimulatedNvApi no_nvapi_{{}};
  sim::SimulatedAdlx no_adlx_{{}};
  sim::ConsoleSession console_{{}};
  platform::posix::ConsoleLauncher launcher_{drive_.path(), console_};
  platform::posix::PosixNamedMutexes mutexes_{drive_.path(), true};
  platform::Services services_{.registry = &registry_, .files = &files_, .wmi = &no_wmi_,
                               .hid = &no_hid_, .mutexes = &mutexes_, .clock = &clock_,
                               .launcher = &launcher_, .nvapi = &no_nvapi_, .adlx = &no_adlx_};
  LogFile log_{"Quellmark", "C:\\Log\\handler.log"};
  LogReader log_lines_{.path = drive_.path() + "/C/Log/handler.log"};
  std::shared_ptr<sim::SimulatedNotebook> notebook_;
  std::unique_ptr<sim::SimWmiProvider> wmi_;
};

}  // namespace testsupport
