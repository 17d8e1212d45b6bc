// The SetupAPI device-setup backend against the real device tree: it must list exactly what a
// direct enumeration finds, with the first hardware ID and the driver key of each device.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/device_setup.h"
#include "platform/win32/wide_text.h"

namespace {

using platform::SetupDevice;

// A direct enumeration with generous buffers; nullopt when the list cannot be made.
std::optional<std::vector<SetupDevice>> Direct(const std::wstring& enumerator) {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, enumerator.c_str(), nullptr,
                                      DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<SetupDevice> devices;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
    SetupDevice device;
    std::vector<wchar_t> ids(4096, L'\0');
    DWORD needed = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids.data()),
                                          static_cast<DWORD>(ids.size() * 2 - 2), &needed) &&
        needed <= platform::kHardwareIdBufferBytes) {
      device.hardware_id = platform::win32::FromWide(ids.data());
    }
    std::vector<wchar_t> key(1024, L'\0');
    if (SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DRIVER, nullptr,
                                          reinterpret_cast<BYTE*>(key.data()),
                                          static_cast<DWORD>(key.size() * 2 - 2), nullptr)) {
      device.driver_key = platform::win32::FromWide(key.data());
    }
    devices.push_back(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

TEST(Win32DeviceSetupTest, ListsWhatSetupApiEnumerates) {
  platform::win32::Win32DeviceSetup setup;
  size_t total = 0;
  for (const char* enumerator : {"SWD\\DRIVERENUM", "ROOT", "PCI", "QuellmarkNoSuchEnumerator"}) {
    SCOPED_TRACE(enumerator);
    const std::optional<std::vector<SetupDevice>> expected =
        Direct(platform::win32::ToWide(enumerator));
    std::vector<SetupDevice> listed{{"untouched", std::nullopt}};
    ASSERT_EQ(setup.ListPresentDevices(enumerator, &listed), expected.has_value());
    if (!expected) {
      ASSERT_EQ(listed.size(), 1u);
      EXPECT_EQ(listed[0].hardware_id, std::optional<std::string>("untouched"));
      continue;
    }
    ASSERT_EQ(listed.size(), expected->size());
    total += listed.size();
    for (size_t i = 0; i < listed.size(); ++i) {
      EXPECT_EQ(listed[i].hardware_id, (*expected)[i].hardware_id) << i;
      EXPECT_EQ(listed[i].driver_key, (*expected)[i].driver_key) << i;
    }
  }
  // Root-enumerated devices exist on every system (Wine's prefix included): the comparison
  // above was not made over empty lists only.
  EXPECT_GT(total, 0u);
}

}  // namespace
