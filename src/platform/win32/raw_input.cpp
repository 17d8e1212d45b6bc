#include "platform/win32/raw_input.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace platform::win32 {

bool Win32RawInput::RegisterDevice(const RawInputDevice& device, void* window) {
  RAWINPUTDEVICE rid{};
  rid.usUsagePage = device.usage_page;
  rid.usUsage = device.usage;
  rid.dwFlags = device.flags;
  rid.hwndTarget = static_cast<HWND>(window);
  return RegisterRawInputDevices(&rid, 1, sizeof rid) != FALSE;
}

std::optional<RawInputRecord> Win32RawInput::ReadInput(intptr_t handle) {
  const HRAWINPUT input = reinterpret_cast<HRAWINPUT>(handle);
  UINT size = 0;
  if (GetRawInputData(input, RID_INPUT, nullptr, &size, sizeof(RAWINPUTHEADER)) != 0 || size == 0)
    return std::nullopt;
  void* buffer = HeapAlloc(GetProcessHeap(), 0, size);
  if (buffer == nullptr) return std::nullopt;
  std::optional<RawInputRecord> result;
  const UINT read = GetRawInputData(input, RID_INPUT, buffer, &size, sizeof(RAWINPUTHEADER));
  if (read != 0 && read != static_cast<UINT>(-1) && read >= sizeof(RAWINPUTHEADER)) {
    const RAWINPUT* raw = static_cast<const RAWINPUT*>(buffer);
    RawInputRecord record{.type = raw->header.dwType};
    if (raw->header.dwType == RIM_TYPEKEYBOARD) {
      record.make_code = raw->data.keyboard.MakeCode;
      record.flags = raw->data.keyboard.Flags;
    } else if (raw->header.dwType == RIM_TYPEHID) {
      const size_t offset = offsetof(RAWINPUT, data.hid.bRawData);
      const size_t available = read > offset ? read - offset : 0;
      std::memcpy(record.hid_bytes.data(), raw->data.hid.bRawData,
                  std::min(available, record.hid_bytes.size()));
    }
    result = record;
  }
  HeapFree(GetProcessHeap(), 0, buffer);
  return result;
}

bool Win32RawInput::IsKeyDown(uint8_t virtual_key) {
  return (GetAsyncKeyState(virtual_key) & 0x8000) != 0;
}

}  // namespace platform::win32
