#include "sim/accessibility.h"

namespace sim {
using namespace profile_format;

Section AccessibilitySection(AccessibilityProfile& p) {
  return Keys("accessibility", {
      {"sticky_keys",
       [&](std::string_view v) {
         p.sticky_keys = static_cast<uint32_t>(Number(v, 0xFFFFFFFFu, "sticky_keys"));
       }},
      {"query_fails", [&](std::string_view v) { p.query_fails = Switch(v); }},
      {"store_fails", [&](std::string_view v) { p.store_fails = Switch(v); }},
  });
}

SimAccessibility::SimAccessibility(const AccessibilityProfile& profile)
    : query_fails_(profile.query_fails),
      store_fails_(profile.store_fails),
      flags_(profile.sticky_keys) {}

bool SimAccessibility::GetStickyKeys(uint32_t* flags) {
  if (query_fails_) return false;
  std::scoped_lock lock(mutex_);
  *flags = flags_;
  return true;
}

bool SimAccessibility::SetStickyKeys(uint32_t flags) {
  std::scoped_lock lock(mutex_);
  ++store_attempts_;
  if (store_fails_) return false;
  flags_ = flags;
  return true;
}

uint32_t SimAccessibility::sticky_keys() const {
  std::scoped_lock lock(mutex_);
  return flags_;
}

uint32_t SimAccessibility::store_attempts() const {
  std::scoped_lock lock(mutex_);
  return store_attempts_;
}

}  // namespace sim
