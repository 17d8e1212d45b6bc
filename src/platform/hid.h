// HID seam: the present HID device interfaces and their feature reports, as SetupAPI and the
// HID class driver offer them. Windows: HidD_GetHidGuid, SetupDiGetClassDevsW(DIGCF_PRESENT |
// DIGCF_DEVICEINTERFACE), SetupDiEnumDeviceInterfaces, the two-call
// SetupDiGetDeviceInterfaceDetailW, CreateFileW, HidD_GetAttributes, HidD_GetPreparsedData with
// HidP_GetCaps, HidD_SetFeature / HidD_GetFeature, CloseHandle. Linux: the simulated notebook's
// HID interfaces from the machine profile ([hid] sections, sim/hid.h).
//
// The lookup rules (which interface wins, what is logged, which handle is closed) are the
// core's (hid/ib_hid.h); this seam only reports what the system answers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An open device handle as the system hands it out. Handles are owned by whoever received
// them and closed with Hid::Close.
using HidHandle = std::uintptr_t;
inline constexpr HidHandle kInvalidHidHandle = ~HidHandle{0};  // INVALID_HANDLE_VALUE

// One member of the present-interface set, in the system's enumeration order.
struct HidInterface {
  enum class Detail : uint8_t {
    kRead,          // `path` holds the device-interface path
    kNoMemory,      // the detail buffer could not be allocated
    kUnreadable,    // SetupDiGetDeviceInterfaceDetailW failed
  };
  Detail detail = Detail::kRead;
  std::string path;  // UTF-8
};

struct HidAttributes {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
};

// The fields of HIDP_CAPS the broker reads.
struct HidCaps {
  uint16_t usage = 0;
  uint16_t usage_page = 0;
  uint16_t feature_report_length = 0;  // one feature report, its leading report-ID byte included
};

enum class HidCapsResult : uint8_t {
  kOk,
  kNoPreparsedData,  // HidD_GetPreparsedData failed
  kFailed,           // HidP_GetCaps answered a status other than HIDP_STATUS_SUCCESS
};

class Hid {
 public:
  virtual ~Hid() = default;

  // The present HID interfaces (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE), enumerated to the end.
  // False when the set cannot be obtained; *interfaces is then left untouched. The set is
  // released before the call returns.
  virtual bool ListInterfaces(std::vector<HidInterface>* interfaces) = 0;
  // CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
  // OPEN_EXISTING): an open handle, or kInvalidHidHandle.
  virtual HidHandle Open(const std::string& path) = 0;
  // HidD_GetAttributes. False when they cannot be read.
  virtual bool GetAttributes(HidHandle handle, HidAttributes* attributes) = 0;
  // The preparsed data, HidP_GetCaps, and the preparsed data freed again. *caps is filled only
  // on kOk.
  virtual HidCapsResult GetCaps(HidHandle handle, HidCaps* caps) = 0;
  // HidD_SetFeature with `report` (report ID first, the device's feature-report length). On
  // failure *error is the system error code (GetLastError).
  virtual bool SetFeature(HidHandle handle, const uint8_t* report, size_t length,
                          uint32_t* error) = 0;
  // HidD_GetFeature into `report`, whose first byte holds the report ID asked for. On failure
  // `report` may have been written.
  virtual bool GetFeature(HidHandle handle, uint8_t* report, size_t length) = 0;
  // CloseHandle. Closing kInvalidHidHandle does nothing.
  virtual void Close(HidHandle handle) = 0;
};

}  // namespace platform
