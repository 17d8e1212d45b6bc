#include "hid/ib_hid.h"

#include <algorithm>
#include <string_view>

#include "log/log_file.h"
#include "log/logger.h"
#include "log/message_format.h"
#include "platform/services.h"

namespace corlan::QRN300 {
namespace {

constexpr size_t kMessageChars = 256;
constexpr const char* kLookup = "corlan::QRN300::IbHID::GetHIDDeviceHandle";

void Log(int level, std::string_view operation, const std::string& message) {
  g_Logger->Log(level, "corlan::QRN300::IbHID::" + std::string(operation), message);
}

// One interface of the present set, opened and checked; what the lookup found of it.
struct Candidate {
  HIDHandle handle = kInvalidHIDHandle;
  platform::HidAttributes attributes;
  HIDP_CAPS caps;
};

// The enumeration both lookups share: visits the present interfaces in order, opening each and
// running the checks and filters; `take` gets every interface passing both filters (with its
// open handle) and answers whether to go on. False when the set cannot be obtained.
template <typename Take>
bool Enumerate(const HIDIdFilter& idFilter, const HIDCapsFilter& capsFilter, Take take) {
  platform::Hid& hid = platform::HidDevices();
  std::vector<platform::HidInterface> interfaces;
  if (!hid.ListInterfaces(&interfaces)) {
    Log(kLogError, "GetHIDDeviceHandle", "Error getting device information set");
    return false;
  }
  for (const platform::HidInterface& member : interfaces) {
    if (member.detail == platform::HidInterface::Detail::kNoMemory) {
      Log(kLogError, "GetHIDDeviceHandle", "Error allocating memory for device interface detail data");
      continue;
    }
    if (member.detail == platform::HidInterface::Detail::kUnreadable) {
      Log(kLogError, "GetHIDDeviceHandle", "Error getting device interface detail data");
      continue;
    }
    Candidate found;
    found.handle = hid.Open(member.path);
    if (found.handle == kInvalidHIDHandle) continue;  // held exclusively, access denied: no line
    if (!hid.GetAttributes(found.handle, &found.attributes)) {
      hid.Close(found.handle);
      Log(kLogError, "GetHIDDeviceHandle", "Error getting device attributes");
      continue;
    }
    if (!idFilter(found.attributes.vendor_id, found.attributes.product_id)) {
      hid.Close(found.handle);
      continue;
    }
    switch (hid.GetCaps(found.handle, &found.caps)) {
      case platform::HidCapsResult::kOk:
        break;
      case platform::HidCapsResult::kNoPreparsedData:
        hid.Close(found.handle);
        Log(kLogError, "GetHIDDeviceHandle", "Error getting device preparsed data");
        continue;
      case platform::HidCapsResult::kFailed:
        hid.Close(found.handle);
        Log(kLogError, "GetHIDDeviceHandle", "Error getting device capabilities");
        continue;
    }
    if (!capsFilter(found.caps)) {
      hid.Close(found.handle);
      continue;
    }
    if (!take(member.path, found)) break;
  }
  return true;
}

// The feature-report length, with the log lines of a failure under `operation`; 0 on failure.
uint16_t ReportLength(HIDHandle handle, std::string_view operation) {
  HIDP_CAPS caps{};
  if (!IbHID::GetHIDCapability(handle, caps)) {
    Log(kLogError, operation, "Error getting device capabilities");
    return 0;
  }
  if (caps.feature_report_length == 0) {
    Log(kLogError, operation,
        FormatMessageSized(kMessageChars, "Error Feature Report Byte Length: %d", 0));
  }
  return caps.feature_report_length;
}

}  // namespace

HIDHandle IbHID::GetHIDDeviceHandle(const HIDIdFilter& idFilter,
                                    const HIDCapsFilter& capsFilter) {
  HIDHandle match = kInvalidHIDHandle;
  Enumerate(idFilter, capsFilter, [&](const std::string&, const Candidate& found) {
    match = found.handle;
    g_Logger->Log(kLogInfo, kLookup,
                  FormatMessageSized(kMessageChars, "HID device UsagePage find: %04X, %04X",
                                     unsigned{found.caps.usage_page}, unsigned{found.caps.usage}));
    return false;
  });
  return match;
}

HIDHandle IbHID::GetHIDDeviceHandle(uint16_t vendorId, uint16_t productId,
                                    const HIDCapsFilter& capsFilter) {
  return GetHIDDeviceHandle(
      [vendorId, productId](uint16_t vendor, uint16_t product) {
        return vendor == vendorId && product == productId;
      },
      capsFilter);
}

bool IbHID::GetHIDDeviceHandle(const HIDIdFilter& idFilter, const HIDCapsFilter& capsFilter,
                               std::vector<HIDDeviceInfo>& devices) {
  Enumerate(idFilter, capsFilter, [&](const std::string& path, const Candidate& found) {
    g_Logger->Log(kLogInfo, kLookup,
                  FormatMessageSized(kMessageChars, "HID device(%04X, %04X) UsagePage find: %04X:%04X",
                                     unsigned{found.attributes.vendor_id},
                                     unsigned{found.attributes.product_id},
                                     unsigned{found.caps.usage_page}, unsigned{found.caps.usage}));
    devices.push_back({path, found.attributes.vendor_id, found.attributes.product_id,
                       found.caps.usage_page, found.caps.usage, found.handle});
    return true;
  });
  return !devices.empty();
}

bool IbHID::SetHIDFeature(HIDHandle handle, uint8_t reportId, const uint8_t* data,
                          uint16_t dataLength) {
  const uint16_t length = ReportLength(handle, "SetHIDFeature");
  if (length == 0) return false;
  std::vector<uint8_t> report(std::max<size_t>(length, 64), 0);
  report[0] = reportId;
  std::copy_n(data, std::min<size_t>(dataLength, length - 1u), report.begin() + 1);
  uint32_t error = 0;
  if (!platform::HidDevices().SetFeature(handle, report.data(), length, &error)) {
    Log(kLogError, "SetHIDFeature",
        FormatMessageSized(kMessageChars, "Error setting feature on HID device: %u", error));
    return false;
  }
  return true;
}

bool IbHID::GetHIDFeature(HIDHandle handle, uint8_t reportId, uint8_t* output,
                          uint16_t outputLength) {
  const uint16_t length = ReportLength(handle, "GetHIDFeature");
  if (length == 0) return false;
  std::vector<uint8_t> report(length, 0);
  report[0] = reportId;
  if (!platform::HidDevices().GetFeature(handle, report.data(), length)) {
    Log(kLogError, "GetHIDFeature", "Error getting feature from HID device");
    return false;
  }
  std::copy_n(report.begin() + 1, std::min<size_t>(outputLength, length - 1u), output);
  return true;
}

bool IbHID::GetHIDCapability(HIDHandle handle, HIDP_CAPS& caps) {
  caps = {};
  switch (platform::HidDevices().GetCaps(handle, &caps)) {
    case platform::HidCapsResult::kOk:
      return true;
    case platform::HidCapsResult::kNoPreparsedData:
      Log(kLogError, "GetHIDCapability", "Error getting device preparsed data");
      return false;
    case platform::HidCapsResult::kFailed:
      break;
  }
  Log(kLogError, "GetHIDCapability", "Error getting device capabilities");
  return false;
}

}  // namespace corlan::QRN300
