// The Windows raw-input backend: RegisterRawInputDevices, GetRawInputData, GetAsyncKeyState.
#pragma once
#include "platform/raw_input.h"

namespace platform::win32 {

class Win32RawInput final : public RawInput {
 public:
  bool RegisterDevice(const RawInputDevice& device, void* window) override;
  std::optional<RawInputRecord> ReadInput(intptr_t handle) override;
  bool IsKeyDown(uint8_t virtual_key) override;
};

}  // namespace platform::win32
