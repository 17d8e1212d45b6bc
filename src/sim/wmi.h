// The simulated notebook's WMI provider: the platform WMI seam answered from a
// SimulatedNotebook and its machine profile, the way Windows' WMI service and the notebook's
// firmware driver answer the broker.
//
// Namespaces (names compare case-insensitively; an optional "\\.\" prefix is accepted; any
// other namespace answers WBEM_E_INVALID_NAMESPACE):
//   ROOT\WMI    CorlanGamingFunction, FwxAction (when the profile has them): the firmware
//               instances with InstanceName and Active, and their methods;
//               MSSMBios_RawSMBiosTables (unless [smbios] present = no): one instance with
//               SMBiosData (byte array), SmbiosMajorVersion, SmbiosMinorVersion, Size,
//               DmiRevision, Used20CallingMethod, InstanceName, Active
//   ROOT\CIMV2  Win32_ComputerSystem (Name, Manufacturer, Model, SystemFamily, SystemType),
//               Win32_Volume (Name, Label, DriveLetter, FileSystem, DeviceID; one row per
//               [volume]), CIM_VideoControllerResolution (SettingID, Caption,
//               HorizontalResolution, VerticalResolution, RefreshRate; one row per [video_mode])
// A text the profile leaves out reads as VT_NULL. Integers come as [firmware] integer_outputs
// says (see sim/firmware.h).
//
// Queries: the subset of sim/wql.h. A query that does not parse, or names a property the class
// lacks, answers WBEM_E_INVALID_QUERY; an unknown class WBEM_E_INVALID_CLASS. Both are reported
// by ExecQuery itself. Text comparisons in WHERE ignore case, as WQL's do; a number matches an
// integer property of that value. A query's rows carry only the selected properties.
//
// Methods: GetObject(class) gives the class definition (WBEM_E_NOT_FOUND for a class this
// namespace lacks); GetMethod on it gives a fresh input-parameter object holding the input
// property as VT_NULL, or null for a method without input (GetGamingFanTable), or
// WBEM_E_NOT_FOUND. ExecMethod(path, method, in):
//   - path must be exactly  Class.InstanceName="NAME"  with every backslash of NAME doubled
//     (and a quote written \"): otherwise WBEM_E_INVALID_OBJECT_PATH; a path of an unknown
//     class WBEM_E_INVALID_CLASS; of no existing instance WBEM_E_NOT_FOUND
//   - a method the class lacks (or the profile removes): WBEM_E_INVALID_METHOD
//   - the input property must hold decimal digits as text (VT_BSTR), as the firmware driver
//     receives them, within 32 or 64 bits as the method declares: no in-parameters, an absent
//     or null input WBEM_E_INVALID_PARAMETER; another type, other text or a value out of
//     range WBEM_E_TYPE_MISMATCH
//   - the answer is a fresh output-parameter object: "gmOutput" / "uiOutput" with the
//     firmware's integer; GetGamingLED: "gmReturn" (64-bit) and "gmOutput" (byte array)
//   - the profile's [fault METHOD]: exec_error, status (byte 0 of the integer output; for
//     GetGamingLED of "gmReturn"), output null / absent / text (on "gmOutput" / "uiOutput")
//
// Events: ExecNotificationQueryAsync accepts "SELECT * FROM FwxEvent" in ROOT\WMI (when the
// profile has FwxAction, whose driver raises them) and delivers the notebook's firmware events
// (sim/simulated_notebook.h) through the stub sink of an unsecured apartment, on the notebook's
// event thread, until the services object is released. Another class answers
// WBEM_E_INVALID_CLASS.
//
// COM: CoInitializeEx counts per thread: S_OK on the first call, S_FALSE on each further one,
// undone one by one by CoUninitialize. A thread that runs COM single-threaded (every thread
// under [com] apartment = single-threaded, or one marked by EnterSingleThreadedApartment) gets
// RPC_E_CHANGED_MODE, which leaves its count unchanged. CreateLocator answers
// CO_E_NOTINITIALIZED on a thread without COM unless another thread holds the
// multithreaded apartment (which the thread then joins implicitly).
//
// Everything is safe to use from several threads at once. Objects handed out keep the
// notebook alive; rows are snapshots taken when the query ran.
//
// Profile sections (defaults in parentheses; machines/README.md has the long form):
//   [com]        apartment = multithreaded | single-threaded (multithreaded). single-threaded:
//                every thread already runs COM single-threaded, so CoInitializeEx answers
//                RPC_E_CHANGED_MODE
//   [volume]     name (required), label, drive_letter, file_system: one Win32_Volume row
//                folders = list of \FOLDER\...: folders the volume holds from the start; the
//                Linux build creates each (name + folder, below its root) when missing
//   [video_mode] horizontal, vertical (required, 1..65535), refresh_rate (60): one
//                CIM_VideoControllerResolution row; fails (no): the enumeration fails there
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/wmi.h"
#include "sim/profile_format.h"

namespace sim {

class SimulatedNotebook;

struct ComProfile {
  bool single_threaded = false;
};

struct VolumeProfile {
  std::string name;
  std::optional<std::string> label;
  std::optional<std::string> drive_letter;
  std::optional<std::string> file_system;
  std::vector<std::string> folders;  // each starts with a backslash: "\EFI\OEM"
};

struct VideoModeProfile {
  uint32_t horizontal = 0;
  uint32_t vertical = 0;
  uint32_t refresh_rate = 60;
  bool fails = false;  // the provider cannot deliver this row: Next fails when it comes to it
};

profile_format::Section ComSection(ComProfile& com);
profile_format::Section VolumeSection(VolumeProfile& volume);
profile_format::Section VideoModeSection(VideoModeProfile& mode);

inline constexpr wmi::HRESULT kWbemE_TypeMismatch = static_cast<wmi::HRESULT>(0x80041005);
inline constexpr wmi::HRESULT kWbemE_InvalidObjectPath = static_cast<wmi::HRESULT>(0x8004103A);
inline constexpr wmi::HRESULT kCoE_NotInitialized = static_cast<wmi::HRESULT>(0x800401F0);

class SimWmiProvider : public platform::WmiProvider {
 public:
  explicit SimWmiProvider(std::shared_ptr<SimulatedNotebook> notebook);
  ~SimWmiProvider() override;

  wmi::HRESULT CoInitializeEx() override;
  void CoUninitialize() override;
  wmi::HRESULT CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) override;
  wmi::HRESULT CreateUnsecuredApartment(
      std::unique_ptr<platform::WmiUnsecuredApartment>* apartment) override;

  SimulatedNotebook& notebook() const { return *notebook_; }

  // Test hooks. The calling thread runs COM single-threaded from now on (until Leave...):
  // CoInitializeEx answers RPC_E_CHANGED_MODE there.
  void EnterSingleThreadedApartment();
  void LeaveSingleThreadedApartment();
  // CoInitializeEx successes on the calling thread not yet undone by CoUninitialize.
  int ComInitializations() const;

 private:
  bool SingleThreaded(std::thread::id thread) const;

  std::shared_ptr<SimulatedNotebook> notebook_;
  mutable std::mutex mutex_;
  std::map<std::thread::id, int> initialized_;  // threads in the multithreaded apartment
  std::set<std::thread::id> single_threaded_;
};

}  // namespace sim
