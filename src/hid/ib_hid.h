// IbHID: the generic HID layer under the embedded controller's and the keyboard's protocols.
// It finds a HID interface by vendor/product ID and capabilities, opens it and exchanges
// feature reports with it. It keeps no state: every handle it hands out belongs to the caller,
// who closes it (platform::HidDevices().Close). Callers keep their own caches and locks; the
// layer may be called from any thread.
//
// Every line goes through g_Logger under "corlan::QRN300::IbHID::" + the operation's name.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace corlan::QRN300 {

using HIDHandle = platform::HidHandle;
inline constexpr HIDHandle kInvalidHIDHandle = platform::kInvalidHidHandle;
using HIDP_CAPS = platform::HidCaps;

// True when the device (vendor ID, product ID) is wanted. Calling an empty one is a
// programming error.
using HIDIdFilter = std::function<bool(uint16_t vendor_id, uint16_t product_id)>;
// True when the device with this capability record is wanted.
using HIDCapsFilter = std::function<bool(HIDP_CAPS& caps)>;

// One device found by the collect-all lookup.
struct HIDDeviceInfo {
  std::string devicePath;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  HIDHandle handle = kInvalidHIDHandle;  // open; owned by whoever holds the record
};

class IbHID {
 public:
  // First match: the open handle of the first interface, in enumeration order, that passes
  // both filters (later interfaces are not opened), or kInvalidHIDHandle. Interfaces that fail
  // a step are skipped (logged at ERROR, except one that cannot be opened); a match logs
  // "HID device UsagePage find: %04X, %04X" at INFO.
  static HIDHandle GetHIDDeviceHandle(const HIDIdFilter& idFilter,
                                      const HIDCapsFilter& capsFilter);
  // The same with an id filter that accepts exactly this vendor/product pair.
  static HIDHandle GetHIDDeviceHandle(uint16_t vendorId, uint16_t productId,
                                      const HIDCapsFilter& capsFilter);
  // Collect all: appends every interface passing both filters, with its still-open handle, to
  // `devices`; true when the list is non-empty afterwards.
  static bool GetHIDDeviceHandle(const HIDIdFilter& idFilter, const HIDCapsFilter& capsFilter,
                                 std::vector<HIDDeviceInfo>& devices);

  // Sends feature report `reportId` with min(dataLength, L - 1) bytes of `data` after the ID,
  // zero-padded to the device's feature-report length L. False when L cannot be read or is 0,
  // or the device refuses the report.
  static bool SetHIDFeature(HIDHandle handle, uint8_t reportId, const uint8_t* data,
                            uint16_t dataLength);
  // Reads feature report `reportId` and copies min(outputLength, L - 1) bytes after the ID to
  // `output`. False (output untouched) when L cannot be read or is 0, or the read is refused.
  static bool GetHIDFeature(HIDHandle handle, uint8_t reportId, uint8_t* output,
                            uint16_t outputLength);
  // The capability record (zeroed first). False when it cannot be read.
  static bool GetHIDCapability(HIDHandle handle, HIDP_CAPS& caps);
};

}  // namespace corlan::QRN300
