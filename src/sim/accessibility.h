// The simulated notebook's accessibility settings: the sticky-keys record of the logged-on
// user's session, as SystemParametersInfoW keeps it. The state starts from the machine
// profile's [accessibility] section and lives in memory as long as the object (for the Linux
// broker: the process), as a change made without SPIF_UPDATEINIFILE lives only as long as the
// Windows session. Safe to use from several threads at once.
//
// Profile section (machines/README.md has the long form):
//   [accessibility]  sticky_keys = 32-bit STICKYKEYS dwFlags (0x1FE: available, hot key
//                                  active, off, as Windows ships it)
//                    query_fails, store_fails = yes | no (no, no): SPI_GETSTICKYKEYS /
//                                  SPI_SETSTICKYKEYS fail
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/accessibility.h"
#include "sim/profile_format.h"

namespace sim {

struct AccessibilityProfile {
  uint32_t sticky_keys = 0x1FE;
  bool query_fails = false;
  bool store_fails = false;
};

profile_format::Section AccessibilitySection(AccessibilityProfile& accessibility);

class SimAccessibility : public platform::Accessibility {
 public:
  explicit SimAccessibility(const AccessibilityProfile& profile);

  // The current flags; false (flags untouched) when the profile makes the query fail.
  bool GetStickyKeys(uint32_t* flags) override;
  // Replaces the flags, all 32 bits as given; false (state unchanged) when the profile makes
  // the store fail.
  bool SetStickyKeys(uint32_t flags) override;

  // Live state, for tests: the flags, and how many stores were attempted (failed ones too).
  uint32_t sticky_keys() const;
  uint32_t store_attempts() const;

 private:
  const bool query_fails_;
  const bool store_fails_;
  mutable std::mutex mutex_;
  uint32_t flags_;
  uint32_t store_attempts_ = 0;
};

}  // namespace sim
