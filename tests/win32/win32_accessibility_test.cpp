// The Win32 accessibility backend and the sticky-keys commands against the real
// SystemParametersInfoW. Whatever a test changes in the session is put back.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "base/win_codes.h"
#include "pipe/command_processor.h"
#include "pipe/protocol.h"
#include "platform/services.h"
#include "platform/win32/accessibility.h"

namespace {

using ironbark::IbClientCommandProcessor;
constexpr uint32_t kBoth = win::kSkfStickyKeysOn | win::kSkfHotkeyActive;

// The flags as a direct call reports them.
std::optional<uint32_t> SystemFlags() {
  STICKYKEYS record{sizeof record, 0};
  if (!SystemParametersInfoW(SPI_GETSTICKYKEYS, sizeof record, &record, 0)) return std::nullopt;
  return record.dwFlags;
}

class Win32AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(accessibility_.GetStickyKeys(&original_)) << "error " << GetLastError();
    services_.accessibility = &accessibility_;
    platform::InstallServices(&services_);
  }
  void TearDown() override {
    platform::InstallServices(nullptr);
    if (SystemFlags() != original_) {
      EXPECT_TRUE(accessibility_.SetStickyKeys(original_));
    }
  }

  // The command's 4-byte answer as a number.
  uint32_t Call(ironbark::CommandHandler handler, std::vector<std::vector<uint8_t>> arguments) {
    const auto message = pipeproto::EncodeRequest(28, arguments);
    std::optional<pipeproto::CommandRequest> request;
    pipeproto::ParseRequest(message.data(), static_cast<uint32_t>(message.size()), &request);
    pipeproto::CommandResponse response;
    handler(*request, response);
    std::vector<std::vector<uint8_t>> items;
    EXPECT_TRUE(pipeproto::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
    EXPECT_TRUE(items.size() == 1 && items[0].size() == 4);
    return items.empty() || items[0].size() != 4 ? 0xBAD : pipeproto::LoadU32(items[0].data());
  }
  uint32_t SetCommand(uint8_t state) {
    return Call(&IbClientCommandProcessor::set_stickykey, {{state, 0, 0, 0}});
  }

  platform::win32::Win32Accessibility accessibility_;
  platform::Services services_;
  uint32_t original_ = 0;
};

TEST_F(Win32AccessibilityTest, ReadsWhatTheSystemReports) {
  EXPECT_EQ(SystemFlags(), original_);
  EXPECT_EQ(Call(&IbClientCommandProcessor::get_stickykey, {}),
            (original_ & kBoth) == kBoth ? 1u : 0u);
}

TEST_F(Win32AccessibilityTest, StoresAreReadBackOrReportedUnchanged) {
  if (!accessibility_.SetStickyKeys(original_)) {
    const DWORD error = GetLastError();
    // Without a working store the commands never report a change and leave the flags alone.
    EXPECT_EQ(SetCommand(1), 1u);
    EXPECT_EQ(SetCommand(0), 1u);
    EXPECT_EQ(SystemFlags(), original_);
    GTEST_SKIP() << "SPI_SETSTICKYKEYS refused, error " << error << ", flags 0x" << std::hex
                 << original_;
  }
  ASSERT_TRUE(accessibility_.SetStickyKeys(original_ ^ win::kSkfHotkeyActive));
  EXPECT_EQ(SystemFlags(), original_ ^ win::kSkfHotkeyActive);

  EXPECT_EQ(SetCommand(1), 0u);
  EXPECT_EQ(SystemFlags(), original_ | kBoth);
  EXPECT_EQ(Call(&IbClientCommandProcessor::get_stickykey, {}), 1u);
  EXPECT_EQ(SetCommand(1), 1u);
  EXPECT_EQ(SetCommand(0), 0u);
  EXPECT_EQ(SystemFlags(), original_ & ~kBoth);
}

}  // namespace
