// The SetupAPI device-setup backend against the real device tree.
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/win32/device_setup.h"

namespace {

using platform::SetupDevice;

TEST(Win32DeviceSetupTest, ListsPresentDevicesWithTheirFirstHardwareIdAndDriverKey) {
  platform::win32::Win32DeviceSetup setup;
  std::vector<SetupDevice> listed{{"untouched", std::nullopt}};
  // An unknown enumerator: Windows refuses it (the list is left alone), Wine finds nothing.
  const bool found = setup.ListPresentDevices("QuellmarkNoSuchEnumerator", &listed);
  EXPECT_EQ(listed.size(), found ? 0u : 1u);

  // ROOT devices exist everywhere, Wine included; a driver key is the class GUID and 4 digits.
  ASSERT_TRUE(setup.ListPresentDevices("ROOT", &listed));
  const std::regex driver_key(R"(\{[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\}\\\d{4})");
  size_t complete = 0;
  for (const SetupDevice& device : listed) {
    if (device.hardware_id)  // only the first ID
      EXPECT_TRUE(!device.hardware_id->empty() && device.hardware_id->find('\0') == std::string::npos);
    if (device.driver_key) EXPECT_TRUE(std::regex_match(*device.driver_key, driver_key)) << *device.driver_key;
    complete += device.hardware_id && device.driver_key;
  }
  EXPECT_GT(complete, 0u);
}

}  // namespace
