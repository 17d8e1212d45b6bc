// The Windows HID backend: SetupAPI's present HID device interfaces and the HID class driver's
// feature reports. A HidHandle is the HANDLE value itself (INVALID_HANDLE_VALUE is
// kInvalidHidHandle).
#pragma once
#include "platform/hid.h"

namespace platform::win32 {

class Win32Hid : public platform::Hid {
 public:
  bool ListInterfaces(std::vector<HidInterface>* interfaces) override;
  HidHandle Open(const std::string& path) override;
  bool GetAttributes(HidHandle handle, HidAttributes* attributes) override;
  HidCapsResult GetCaps(HidHandle handle, HidCaps* caps) override;
  bool SetFeature(HidHandle handle, const uint8_t* report, size_t length,
                  uint32_t* error) override;
  bool GetFeature(HidHandle handle, uint8_t* report, size_t length) override;
  void Close(HidHandle handle) override;
};

}  // namespace platform::win32
