// Device-setup seam: the present devices of the Plug and Play tree as SetupAPI lists them, with
// the two registry properties the broker reads of each. Windows: SetupDiGetClassDevsW,
// SetupDiEnumDeviceInfo, SetupDiGetDeviceRegistryPropertyW. Linux: the simulated notebook's
// software devices from the machine profile's [driver] sections.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The hardware-ID property is read into a buffer of this many bytes: a REG_MULTI_SZ list of
// UTF-16 strings, its terminating zeros included, that does not fit counts as unreadable.
inline constexpr size_t kHardwareIdBufferBytes = 512;
// The display adapters' hardware IDs are read into 260 UTF-16 units (520 bytes).
inline constexpr size_t kAdapterHardwareIdBufferBytes = 520;

struct SetupDevice {
  // The first string of SPDRP_HARDWAREID ("SWD\DRIVERENUM\..."); nullopt when the property is
  // missing, unreadable or longer than kHardwareIdBufferBytes.
  std::optional<std::string> hardware_id;
  // SPDRP_DRIVER, the device's key below HKLM\SYSTEM\CurrentControlSet\Control\Class
  // ("{class GUID}\0003"); nullopt when the device has no driver key or it cannot be read.
  std::optional<std::string> driver_key;
};

class DeviceSetup {
 public:
  virtual ~DeviceSetup() = default;

  // SetupDiGetClassDevsW(no class, `enumerator`, no window, DIGCF_PRESENT | DIGCF_ALLCLASSES)
  // and SetupDiEnumDeviceInfo until ERROR_NO_MORE_ITEMS: every present device under the
  // enumerator ("SWD\DRIVERENUM"), of any setup class, in the order SetupAPI enumerates them,
  // with both properties read. False when the device list cannot be made (an enumerator the
  // system does not know, for one); *devices is then left untouched. The list is released
  // before the call returns.
  virtual bool ListPresentDevices(std::string_view enumerator,
                                  std::vector<SetupDevice>* devices) = 0;

  // SetupDiGetClassDevsW(the display-adapter interface class
  // {1CA05180-A699-450A-9A0C-DE4FBE3DDD89}, no enumerator, no window,
  // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE (0x12)) and SetupDiEnumDeviceInfo to the end: the first
  // hardware ID of every present display adapter in enumeration order, read into a zeroed buffer
  // of kAdapterHardwareIdBufferBytes; nullopt for an adapter whose property cannot be read. False
  // when the set cannot be made; *hardware_ids is then left untouched.
  virtual bool ListDisplayAdapters(std::vector<std::optional<std::string>>* hardware_ids) = 0;
};

}  // namespace platform
