// The Windows accessibility backend: SystemParametersInfoW on the calling process's window
// station and desktop.
#pragma once
#include "platform/accessibility.h"

namespace platform::win32 {

class Win32Accessibility : public platform::Accessibility {
 public:
  bool GetStickyKeys(uint32_t* flags) override;
  bool SetStickyKeys(uint32_t flags) override;
};

}  // namespace platform::win32
