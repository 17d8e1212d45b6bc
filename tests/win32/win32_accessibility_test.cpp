// The Win32 accessibility backend against the real SystemParametersInfoW; the flags are put back.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

#include "base/win_codes.h"
#include "platform/win32/accessibility.h"

namespace {

// The sticky-keys commands on every platform work with these flags.
static_assert(win::kSkfStickyKeysOn == SKF_STICKYKEYSON);
static_assert(win::kSkfHotkeyActive == SKF_HOTKEYACTIVE);

TEST(Win32AccessibilityTest, StickyKeysFlagsAreReadAndStoredForTheSession) {
  platform::win32::Win32Accessibility accessibility;
  uint32_t original = 0;
  ASSERT_TRUE(accessibility.GetStickyKeys(&original)) << "error " << GetLastError();
  if (!accessibility.SetStickyKeys(original))  // Wine keeps no sticky-keys setting to store
    GTEST_SKIP() << "SPI_SETSTICKYKEYS refused, error " << GetLastError();
  const uint32_t toggled = original ^ (win::kSkfStickyKeysOn | win::kSkfHotkeyActive);
  const bool stored = accessibility.SetStickyKeys(toggled);
  uint32_t read_back = 0;
  const bool read = accessibility.GetStickyKeys(&read_back);
  EXPECT_TRUE(accessibility.SetStickyKeys(original));
  ASSERT_TRUE(stored && read);
  EXPECT_EQ(read_back, toggled);
}

}  // namespace
