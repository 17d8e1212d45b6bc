#include "platform/posix/host_services.h"

#include <filesystem>
#include <stdexcept>

#include "platform/posix/console_launcher.h"
#include "platform/posix/file_system.h"
#include "platform/posix/library_loader.h"
#include "platform/posix/named_mutex.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/pipe_transport.h"
#include "platform/posix/process_environment.h"
#include "platform/posix/registry.h"
#include "sim/accessibility.h"
#include "sim/console_session.h"
#include "sim/default_profile.h"
#include "sim/device_setup.h"
#include "sim/dts.h"
#include "sim/gpus.h"
#include "sim/hid.h"
#include "sim/keyboard_input.h"
#include "sim/machine_profile.h"
#include "sim/simulated_notebook.h"
#include "sim/wmi.h"

namespace platform::posix {

HostServices::HostServices(std::string root, std::string machine_profile) : root_(std::move(root)) {
  // The profile first, before anything is created under the root.
  auto notebook = std::make_shared<sim::SimulatedNotebook>(
      machine_profile.empty()
          ? sim::ParseMachineProfile(sim::DefaultMachineProfileText(), sim::kDefaultProfileName)
          : sim::LoadMachineProfile(machine_profile));

  std::error_code error;
  std::filesystem::create_directories(root_, error);
  if (!std::filesystem::is_directory(root_)) {
    throw std::runtime_error("cannot use root directory " + root_);
  }
  root_ = std::filesystem::absolute(root_).lexically_normal().string();
  if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  registry_ = std::make_unique<SqliteRegistry>(root_ + "/registry.db");
  files_ = std::make_unique<PosixFileSystem>(root_);
  // The folders the profile's volumes hold from the start (the EFI system partition's
  // "\EFI\OEM"), at the paths the broker builds: volume name and folder concatenated.
  for (const sim::VolumeProfile& volume : notebook->profile().volumes) {
    for (const std::string& folder : volume.folders) {
      if (!files_->MakeSureDirectoryPathExists(volume.name + folder + "\\")) {
        throw std::runtime_error("cannot create " + volume.name + folder + " below " + root_);
      }
    }
  }
  const std::string program_dir = RunningProgramDirectory();
  if (!notebook->profile().dts.library.empty()) {
    sim::PlaceDtsLibrary(notebook->profile().dts, sim::DtsSubstituteFolder(program_dir),
                         MapWindowsPath(root_, notebook->profile().dts.library));
  }
  libraries_ = std::make_unique<PosixLibraryLoader>(root_, program_dir);
  environment_ = std::make_unique<PosixEnvironment>();
  SecurePipeDirectory(root_);
  pipes_ = std::make_unique<UnixStreamPipeTransport>(root_);
  // The broker is the privileged service: it creates the named mutexes its clients open.
  mutexes_ = std::make_unique<PosixNamedMutexes>(root_, /*elevated=*/true);
  accessibility_ = std::make_unique<sim::SimAccessibility>(notebook->profile().accessibility);
  std::vector<std::string> display_adapters;
  for (const sim::GpuProfile& gpu : notebook->profile().gpus) {
    if (!gpu.hardware_id.empty()) display_adapters.push_back(gpu.hardware_id);
  }
  device_setup_ = std::make_unique<sim::SimulatedDeviceSetup>(notebook->profile().drivers,
                                                              std::move(display_adapters));
  nvapi_ = std::make_unique<sim::SimulatedNvApi>(notebook->profile().gpus);
  adlx_ = std::make_unique<sim::SimulatedAdlx>(notebook->profile().gpus);
  // The installed drivers' class keys, as Windows has them before the broker starts.
  sim::SeedDriverRegistry(*registry_, notebook->profile().drivers);
  hid_ = std::make_unique<sim::SimulatedHid>(notebook->profile().hid_interfaces,
                                             notebook->profile().ec, notebook->profile().keyboard,
                                             notebook);
  notebook_ = notebook;
  console_ = std::make_unique<sim::ConsoleSession>(notebook->profile().session);
  wmi_ = std::make_unique<sim::SimWmiProvider>(std::move(notebook));
  input_ = std::make_unique<sim::SimulatedInput>();
  launcher_ = std::make_unique<ConsoleLauncher>(root_, *console_);
  services_.registry = registry_.get();
  services_.files = files_.get();
  services_.environment = environment_.get();
  services_.pipes = pipes_.get();
  services_.mutexes = mutexes_.get();
  services_.wmi = wmi_.get();
  services_.accessibility = accessibility_.get();
  services_.device_setup = device_setup_.get();
  services_.hid = hid_.get();
  services_.raw_input = input_.get();
  services_.launcher = launcher_.get();
  services_.libraries = libraries_.get();
  services_.nvapi = nvapi_.get();
  services_.adlx = adlx_.get();
}

HostServices::~HostServices() = default;

}  // namespace platform::posix
