#include "registry/registry_values.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/posix/registry.h"
#include "platform/services.h"
#include "support/temp_dir.h"

namespace {

constexpr win::RegRoot kLm = win::RegRoot::kLocalMachine;
constexpr const char* kKey = "SOFTWARE\\OEM\\Calvane";

class RegistryValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_ = std::make_unique<platform::posix::SqliteRegistry>(dir_.path() + "/registry.db");
    services_.registry = registry_.get();
    platform::InstallServices(&services_);
  }
  void TearDown() override { platform::InstallServices(nullptr); }

  // The value as stored: type and bytes, or rc 2 when missing.
  struct Stored {
    uint32_t rc = 0;
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };
  Stored Read(std::string_view key, std::string_view name) {
    Stored s;
    std::vector<platform::RegValueInfo> values;
    s.rc = registry_->EnumValues(kLm, key, &values);
    if (s.rc != 0) return s;
    for (const auto& v : values) {
      if (text::AsciiUpper(v.name) == text::AsciiUpper(name)) {
        s.type = v.type;
        s.data = v.data;
        return s;
      }
    }
    s.rc = win::kErrorFileNotFound;
    return s;
  }

  testsupport::TempDir dir_;
  std::unique_ptr<platform::posix::SqliteRegistry> registry_;
  platform::Services services_;
};

TEST_F(RegistryValuesTest, WritersCreateEveryMissingKey) {
  EXPECT_EQ(write_reg_dword("SOFTWARE\\OEM\\Calvane\\Overclock", "GPU_OC_Support", 0x01020304u),
            0u);
  const Stored dword = Read("SOFTWARE\\OEM\\Calvane\\Overclock", "GPU_OC_Support");
  ASSERT_EQ(dword.rc, 0u);
  EXPECT_EQ(dword.type, win::kRegDword);
  EXPECT_EQ(dword.data, (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01}));  // little-endian

  EXPECT_EQ(write_reg_string("SOFTWARE\\OEM\\Calvane\\Gpu", "GPU_Name0", "Név"), 0u);
  const Stored sz = Read("SOFTWARE\\OEM\\Calvane\\Gpu", "GPU_Name0");
  ASSERT_EQ(sz.rc, 0u);
  EXPECT_EQ(sz.type, win::kRegSz);
  EXPECT_EQ(sz.data, (std::vector<uint8_t>{'N', 0, 0xE9, 0, 'v', 0, 0, 0}));

  // An existing key (in any case) is used as it is; the last write of a value wins.
  EXPECT_EQ(write_reg_dword("software\\oem\\calvane\\overclock", "gpu_oc_support", 7), 0u);
  EXPECT_EQ(Read(kKey + std::string("\\Overclock"), "GPU_OC_Support").data,
            (std::vector<uint8_t>{7, 0, 0, 0}));
}

TEST_F(RegistryValuesTest, AbsentTextIsTheEmptyString) {
  EXPECT_EQ(write_reg_string(kKey, "Model", nullptr), 0u);
  const Stored sz = Read(kKey, "Model");
  ASSERT_EQ(sz.rc, 0u);
  EXPECT_EQ(sz.type, win::kRegSz);
  EXPECT_EQ(sz.data, (std::vector<uint8_t>{0, 0}));
  EXPECT_EQ(write_reg_string(kKey, "Brand", ""), 0u);
  EXPECT_EQ(Read(kKey, "Brand").data, (std::vector<uint8_t>{0, 0}));
}

TEST_F(RegistryValuesTest, OverlongTextIsCutAtTheCharacterLimit) {
  const std::string text(0x80000 + 10, 'a');
  EXPECT_EQ(write_reg_string(kKey, "Long", text.c_str()), 0u);
  const Stored sz = Read(kKey, "Long");
  ASSERT_EQ(sz.data.size(), 0x80000u * 2 + 2);
  EXPECT_EQ(sz.data[sz.data.size() - 4], 'a');
  EXPECT_EQ(sz.data[sz.data.size() - 3], 0);
  EXPECT_EQ(sz.data[sz.data.size() - 2], 0);
  EXPECT_EQ(sz.data[sz.data.size() - 1], 0);
}

TEST_F(RegistryValuesTest, ReadDefaultAnswersTheStoredDword) {
  ASSERT_EQ(write_reg_dword(kKey, "EC_HID_Support", 0xA1B2C3D4u), 0u);
  EXPECT_EQ(read_reg_dword_default(kKey, "ec_hid_support"), 0xA1B2C3D4u);
}

TEST_F(RegistryValuesTest, ReadDefaultOfAMissingValueCreatesNothing) {
  EXPECT_EQ(read_reg_dword_default(kKey, "Two_AC_Support"), 0u);
  EXPECT_EQ(registry_->OpenKey(kLm, kKey, win::kKeyRead), win::kErrorFileNotFound);
  ASSERT_EQ(registry_->CreateKey(kLm, kKey, win::kKeyAllAccess), 0u);
  EXPECT_EQ(read_reg_dword_default(kKey, "Two_AC_Support"), 0u);
  EXPECT_EQ(Read(kKey, "Two_AC_Support").rc, win::kErrorFileNotFound);
}

TEST_F(RegistryValuesTest, ReadDefaultReplacesAMalformedValueWithDwordZero) {
  ASSERT_EQ(write_reg_string(kKey, "NV_WhisperMode20_Support", "1"), 0u);
  const uint8_t short_dword[3] = {1, 0, 0};
  ASSERT_EQ(registry_->SetKeyValue(kLm, kKey, "Short", win::kRegDword, short_dword, 3), 0u);
  const uint8_t binary[4] = {1, 0, 0, 0};
  ASSERT_EQ(registry_->SetKeyValue(kLm, kKey, "Binary", win::kRegBinary, binary, 4), 0u);

  for (const char* name : {"NV_WhisperMode20_Support", "Short", "Binary"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(read_reg_dword_default(kKey, name), 0u);
    const Stored s = Read(kKey, name);
    EXPECT_EQ(s.type, win::kRegDword);
    EXPECT_EQ(s.data, (std::vector<uint8_t>{0, 0, 0, 0}));
  }
}

TEST_F(RegistryValuesTest, WritersReportTheRegistryError) {
  ASSERT_EQ(registry_->SetKeyProtected(kLm, "SOFTWARE\\OEM", true), 0u);
  EXPECT_EQ(write_reg_dword(kKey, "X", 1), win::kErrorAccessDenied);
  EXPECT_EQ(write_reg_string(kKey, "Y", "y"), win::kErrorAccessDenied);
  EXPECT_EQ(registry_->OpenKey(kLm, kKey, win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(write_reg_dword("\\Bad", "X", 1), win::kErrorBadPathname);
}

}  // namespace
