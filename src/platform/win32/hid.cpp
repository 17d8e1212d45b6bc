#include "platform/win32/hid.h"

#include <windows.h>
#include <setupapi.h>
// mingw-w64's HID headers declare the hid.dll functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <cstdlib>
#include <memory>

#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

static_assert(sizeof(HidHandle) == sizeof(HANDLE));

HANDLE AsHandle(HidHandle handle) { return reinterpret_cast<HANDLE>(handle); }

struct FreeDetail {
  void operator()(SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail) const { std::free(detail); }
};

// The two-call detail read: the size first, then the detail into a buffer of that size whose
// cbSize holds the size of the fixed header (not of the whole buffer).
HidInterface ReadDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* member) {
  DWORD needed = 0;
  SetupDiGetDeviceInterfaceDetailW(set, member, nullptr, 0, &needed, nullptr);
  // Never smaller than the header whose size field is written; a size that the system did not
  // answer makes the read below fail.
  const size_t bytes = needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                           ? sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                           : needed;
  std::unique_ptr<SP_DEVICE_INTERFACE_DETAIL_DATA_W, FreeDetail> detail(
      static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, bytes + sizeof(wchar_t))));
  if (!detail) return {HidInterface::Detail::kNoMemory, {}};
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set, member, detail.get(), needed, nullptr, nullptr)) {
    return {HidInterface::Detail::kUnreadable, {}};
  }
  // The zeroed unit past the answer ends a path that arrived without its terminator.
  return {HidInterface::Detail::kRead, FromWide(detail->DevicePath)};
}

}  // namespace

bool Win32Hid::ListInterfaces(std::vector<HidInterface>* interfaces) {
  GUID hid_class;
  HidD_GetHidGuid(&hid_class);
  HDEVINFO set = SetupDiGetClassDevsW(&hid_class, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  // Released on every way out, an allocation failure while collecting the paths included.
  struct ListGuard {
    HDEVINFO set;
    ~ListGuard() { SetupDiDestroyDeviceInfoList(set); }
  } guard{set};
  std::vector<HidInterface> found;
  SP_DEVICE_INTERFACE_DATA member{};
  member.cbSize = sizeof member;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hid_class, index, &member);
       ++index) {
    found.push_back(ReadDetail(set, &member));
  }
  *interfaces = std::move(found);
  return true;
}

HidHandle Win32Hid::Open(const std::string& path) {
  const HANDLE handle = CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    0, nullptr);
  return reinterpret_cast<HidHandle>(handle);
}

bool Win32Hid::GetAttributes(HidHandle handle, HidAttributes* attributes) {
  HIDD_ATTRIBUTES read{};
  read.Size = sizeof read;
  if (!HidD_GetAttributes(AsHandle(handle), &read)) return false;
  attributes->vendor_id = read.VendorID;
  attributes->product_id = read.ProductID;
  return true;
}

HidCapsResult Win32Hid::GetCaps(HidHandle handle, HidCaps* caps) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(AsHandle(handle), &preparsed)) {
    return HidCapsResult::kNoPreparsedData;
  }
  HIDP_CAPS read{};
  const NTSTATUS status = HidP_GetCaps(preparsed, &read);
  HidD_FreePreparsedData(preparsed);
  if (status != HIDP_STATUS_SUCCESS) return HidCapsResult::kFailed;
  caps->usage = read.Usage;
  caps->usage_page = read.UsagePage;
  caps->feature_report_length = read.FeatureReportByteLength;
  return HidCapsResult::kOk;
}

bool Win32Hid::SetFeature(HidHandle handle, const uint8_t* report, size_t length,
                          uint32_t* error) {
  // HidD_SetFeature only reads the buffer; its prototype is not const.
  if (HidD_SetFeature(AsHandle(handle), const_cast<uint8_t*>(report),
                      static_cast<ULONG>(length))) {
    return true;
  }
  const DWORD code = GetLastError();
  if (error != nullptr) *error = code;
  return false;
}

bool Win32Hid::GetFeature(HidHandle handle, uint8_t* report, size_t length) {
  return HidD_GetFeature(AsHandle(handle), report, static_cast<ULONG>(length));
}

void Win32Hid::Close(HidHandle handle) {
  if (handle != kInvalidHidHandle) CloseHandle(AsHandle(handle));
}

}  // namespace platform::win32
