// The Linux backends of the platform services, over one root directory:
//   ROOT/registry.db   the registry (SQLite, WAL)
//   ROOT/pipe/NAME     named pipes (AF_UNIX stream sockets)
//   ROOT/mutex/NAME    named mutexes (flock on a file)
//   ROOT/C/...         drive C: and every other absolute Windows path (see path_mapping.h)
// and the simulated notebook of a machine profile (sim/machine_profile.h) behind WMI, the
// accessibility settings, the device list, the HID devices, the raw input of its keyboard,
// vendor collection and mouse, its console session (the launch of programs) and its DTS audio
// library (sim/dts.h), loaded through the real dynamic loader.
#pragma once
#include <memory>
#include <string>

#include "platform/services.h"

namespace sim {
class ConsoleSession;
class SimAccessibility;
class SimulatedInput;
class SimulatedHid;
class SimulatedNvApi;
class SimulatedAdlx;
class SimWmiProvider;
class SimulatedNotebook;
}

namespace platform::posix {

class HostServices {
 public:
  // Creates ROOT when missing, opens the registry database and builds the simulated notebook
  // from the profile file `machine_profile` (empty: the built-in default machine,
  // sim/default_profile.h); creates the folders of its volumes ([volume] folders, e.g.
  // ROOT/S/EFI/OEM) when missing. Throws sim::ProfileError when the profile is missing or
  // invalid, std::runtime_error when the root, the database or such a folder cannot be used.
  explicit HostServices(std::string root, std::string machine_profile = {});
  ~HostServices();
  HostServices(const HostServices&) = delete;
  HostServices& operator=(const HostServices&) = delete;

  const std::string& root() const { return root_; }
  const Services& services() const { return services_; }
  sim::SimWmiProvider& wmi() const { return *wmi_; }
  sim::SimAccessibility& accessibility() const { return *accessibility_; }
  sim::SimulatedHid& hid() const { return *hid_; }
  sim::SimulatedNvApi& nvapi() const { return *nvapi_; }
  sim::SimulatedAdlx& adlx() const { return *adlx_; }
  // The simulated machine itself, for acting on it (sim/control_channel.h).
  const std::shared_ptr<sim::SimulatedNotebook>& notebook() const { return notebook_; }
  sim::SimulatedInput& input() const { return *input_; }
  sim::ConsoleSession& console() const { return *console_; }

 private:
  std::string root_;
  std::shared_ptr<sim::SimulatedNotebook> notebook_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<ProcessEnvironment> environment_;
  std::unique_ptr<PipeTransport> pipes_;
  std::unique_ptr<NamedMutexes> mutexes_;
  std::unique_ptr<sim::SimWmiProvider> wmi_;
  std::unique_ptr<sim::SimAccessibility> accessibility_;
  std::unique_ptr<DeviceSetup> device_setup_;
  std::unique_ptr<sim::SimulatedHid> hid_;
  std::unique_ptr<sim::SimulatedInput> input_;
  std::unique_ptr<sim::ConsoleSession> console_;
  std::unique_ptr<ProcessLauncher> launcher_;
  std::unique_ptr<LibraryLoader> libraries_;
  std::unique_ptr<sim::SimulatedNvApi> nvapi_;
  std::unique_ptr<sim::SimulatedAdlx> adlx_;
  Services services_;
};

}  // namespace platform::posix
