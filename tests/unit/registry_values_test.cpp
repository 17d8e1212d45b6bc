#include "registry/registry_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/handler_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Typed = std::pair<uint32_t, Bytes>;
constexpr win::RegRoot kLm = win::RegRoot::kLocalMachine;
constexpr const char* kKey = "SOFTWARE\\OEM\\Calvane";

using RegistryValuesTest = testsupport::HandlerTest;

TEST_F(RegistryValuesTest, WritersCreateMissingKeysAndStoreLittleEndianAndUtf16) {
  const std::string deep = kKey + std::string("\\Overclock");
  EXPECT_EQ(write_reg_dword(deep, "GPU_OC_Support", 0x01020304u), 0u);
  EXPECT_EQ(Stored(kLm, deep, "GPU_OC_Support"), Typed(win::kRegDword, Bytes{4, 3, 2, 1}));
  EXPECT_EQ(write_reg_string(kKey, "GPU_Name0", "Név"), 0u);
  EXPECT_EQ(Stored(kLm, kKey, "GPU_Name0"), Typed(win::kRegSz, Bytes{'N', 0, 0xE9, 0, 'v', 0, 0, 0}));
  EXPECT_EQ(write_reg_string(kKey, "Model", nullptr), 0u);
  EXPECT_EQ(Stored(kLm, kKey, "Model"), Typed(win::kRegSz, Bytes{0, 0}));

  // An overlong text is cut to 0x80000 units and still ends in one NUL.
  EXPECT_EQ(write_reg_string(kKey, "Long", std::string(0x80000 + 10, 'a').c_str()), 0u);
  const Bytes cut = Stored(kLm, kKey, "Long").second;
  ASSERT_EQ(cut.size(), 0x80000u * 2 + 2);
  EXPECT_EQ(Bytes(cut.end() - 4, cut.end()), (Bytes{'a', 0, 0, 0}));

  ASSERT_EQ(registry_.SetKeyProtected(kLm, "SOFTWARE\\OEM", true), 0u);
  EXPECT_EQ(write_reg_dword("SOFTWARE\\OEM\\Other", "X", 1), win::kErrorAccessDenied);
  EXPECT_EQ(write_reg_string("SOFTWARE\\OEM\\Other", "Y", "y"), win::kErrorAccessDenied);
}

TEST_F(RegistryValuesTest, ReadDefaultKeepsOnlyAFourByteDwordAndRewritesAnythingElseAsZero) {
  // A missing value reads 0 and creates nothing, not even the key.
  EXPECT_EQ(read_reg_dword_default(kKey, "Two_AC_Support"), 0u);
  EXPECT_EQ(registry_.OpenKey(kLm, kKey, win::kKeyRead), win::kErrorFileNotFound);

  const struct { const char* name; uint32_t type; Bytes data; uint32_t read; } rows[] = {
      {"Exact", win::kRegDword, {0xD4, 0xC3, 0xB2, 0xA1}, 0xA1B2C3D4u},
      {"Short", win::kRegDword, {1, 0, 0}, 0},
      {"Five", win::kRegDword, {1, 0, 0, 0, 0}, 0},
      {"Eight", win::kRegDword, {1, 0, 0, 0, 0, 0, 0, 0}, 0},
      {"Binary", win::kRegBinary, {1, 0, 0, 0}, 0},
      {"Text", win::kRegSz, {'1', 0, 0, 0}, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(registry_.SetKeyValue(kLm, kKey, row.name, row.type, row.data.data(),
                                    static_cast<uint32_t>(row.data.size())), 0u);
    EXPECT_EQ(read_reg_dword_default(kKey, row.name), row.read);
    const Bytes kept = row.read != 0 ? row.data : Bytes{0, 0, 0, 0};
    EXPECT_EQ(Stored(kLm, kKey, row.name), Typed(win::kRegDword, kept));
  }
}

}  // namespace
