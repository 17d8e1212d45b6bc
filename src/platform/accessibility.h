// Accessibility seam: the sticky-keys switch of the interactive user's session, read and written
// as Windows keeps it, a STICKYKEYS record (cbSize, dwFlags) exchanged through
// SystemParametersInfoW. Windows: the real call. Linux: the simulated notebook's setting
// (sim/accessibility.h).
#pragma once
#include <cstdint>

namespace platform {

class Accessibility {
 public:
  virtual ~Accessibility() = default;
  // SystemParametersInfoW(SPI_GETSTICKYKEYS, 8, record with cbSize 8, 0): the record's dwFlags
  // (win::kSkf... bits). False when the call fails; *flags is then left untouched.
  virtual bool GetStickyKeys(uint32_t* flags) = 0;
  // SystemParametersInfoW(SPI_SETSTICKYKEYS, 8, record {8, flags}, 0): the setting changes for
  // the running session only (no user-profile update, no WM_SETTINGCHANGE broadcast). False
  // when the call fails.
  virtual bool SetStickyKeys(uint32_t flags) = 0;
};

}  // namespace platform
