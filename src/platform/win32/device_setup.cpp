#include "platform/win32/device_setup.h"

#include <windows.h>
#include <setupapi.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

static_assert(platform::kHardwareIdBufferBytes % sizeof(wchar_t) == 0);

// The first string of the hardware-ID list. The buffer is zeroed and one unit longer than what
// SetupAPI may fill, so a list that arrives without its terminating zeros still ends.
template <size_t kBytes>
std::optional<std::string> FirstHardwareId(HDEVINFO set, SP_DEVINFO_DATA* device) {
  wchar_t buffer[kBytes / sizeof(wchar_t) + 1] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_HARDWAREID, &type,
                                         reinterpret_cast<BYTE*>(buffer), kBytes, nullptr)) {
    return std::nullopt;
  }
  return FromWide(buffer);
}

// GUID_DEVINTERFACE_DISPLAY_ADAPTER.
constexpr GUID kDisplayAdapterInterface = {
    0x1CA05180, 0xA699, 0x450A, {0x9A, 0x0C, 0xDE, 0x4F, 0xBE, 0x3D, 0xDD, 0x89}};
static_assert((DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) == 0x12);

std::optional<std::string> DriverKey(HDEVINFO set, SP_DEVINFO_DATA* device) {
  DWORD needed = 0;
  SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_DRIVER, nullptr, nullptr, 0, &needed);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return std::nullopt;
  std::vector<wchar_t> buffer(needed / sizeof(wchar_t) + 1, L'\0');
  if (!SetupDiGetDeviceRegistryPropertyW(set, device, SPDRP_DRIVER, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()), needed,
                                         nullptr)) {
    return std::nullopt;
  }
  return FromWide(buffer.data());
}

}  // namespace

bool Win32DeviceSetup::ListPresentDevices(std::string_view enumerator,
                                          std::vector<SetupDevice>* devices) {
  const std::wstring wide_enumerator = ToWide(enumerator);
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, wide_enumerator.c_str(), nullptr,
                                      DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return false;
  // Released on every way out, an allocation failure while copying the properties included.
  struct ListGuard {
    HDEVINFO set;
    ~ListGuard() { SetupDiDestroyDeviceInfoList(set); }
  } guard{set};
  std::vector<SetupDevice> found;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    found.push_back({FirstHardwareId<platform::kHardwareIdBufferBytes>(set, &device), DriverKey(set, &device)});
  }
  *devices = std::move(found);
  return true;
}

bool Win32DeviceSetup::ListDisplayAdapters(std::vector<std::optional<std::string>>* hardware_ids) {
  HDEVINFO set = SetupDiGetClassDevsW(&kDisplayAdapterInterface, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == nullptr || set == INVALID_HANDLE_VALUE) return false;
  struct ListGuard {
    HDEVINFO set;
    ~ListGuard() { SetupDiDestroyDeviceInfoList(set); }
  } guard{set};
  std::vector<std::optional<std::string>> found;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    found.push_back(FirstHardwareId<platform::kAdapterHardwareIdBufferBytes>(set, &device));
  }
  *hardware_ids = std::move(found);
  return true;
}

}  // namespace platform::win32
