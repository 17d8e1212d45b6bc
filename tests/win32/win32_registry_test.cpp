// The Win32 registry backend against the real registry (HKCU sandbox keys): the error codes,
// RegGetValueW's buffer and type rules, and the name order of enumeration that the seam
// promises on both platforms.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include "base/text.h"
#include "base/win_codes.h"
#include "platform/win32/registry.h"
#include "platform/win32/wide_text.h"
#include "win32_test_support.h"

namespace {

using platform::RegValueInfo;
using win32test::RegistrySandbox;

constexpr win::RegRoot kRoot = RegistrySandbox::kRoot;

// "hé" as REG_SZ data: UTF-16LE with its terminating zero (6 bytes).
const std::vector<uint8_t> kHeWithZero = {'h', 0, 0xE9, 0, 0, 0};

class Win32RegistryTest : public ::testing::Test {
 protected:
  uint32_t SetDword(const std::string& key, const std::string& name, uint32_t value) {
    return reg_.SetKeyValue(kRoot, key, name, win::kRegDword, &value, sizeof value);
  }
  uint32_t SetBytes(const std::string& key, const std::string& name, uint32_t type,
                    const std::vector<uint8_t>& bytes) {
    return reg_.SetKeyValue(kRoot, key, name, type, bytes.empty() ? nullptr : bytes.data(),
                            static_cast<uint32_t>(bytes.size()));
  }

  RegistrySandbox sandbox_;
  platform::win32::Win32Registry reg_;
};

TEST_F(Win32RegistryTest, KeysAreCreatedAlongTheWholePathAndDeletedWithTheirTree) {
  const std::string deep = sandbox_.Path("A\\B\\C");
  EXPECT_EQ(reg_.OpenKey(kRoot, sandbox_.Path(), win::kKeyRead), win::kErrorFileNotFound);
  ASSERT_EQ(reg_.CreateKey(kRoot, deep, win::kKeyAllAccess), 0u);
  EXPECT_EQ(reg_.CreateKey(kRoot, deep, win::kKeyAllAccess), 0u) << "an existing key opens";
  EXPECT_EQ(reg_.OpenKey(kRoot, sandbox_.Path("A\\B"), win::kKeyRead), 0u);
  EXPECT_EQ(reg_.OpenKey(kRoot, sandbox_.Path("a\\b\\c"), win::kKeyRead), 0u)
      << "key names compare case-insensitively";
  ASSERT_EQ(SetDword(deep, "v", 1), 0u);

  ASSERT_EQ(reg_.DeleteTree(kRoot, sandbox_.Path("A")), 0u);
  EXPECT_EQ(reg_.OpenKey(kRoot, deep, win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg_.OpenKey(kRoot, sandbox_.Path("A"), win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg_.OpenKey(kRoot, sandbox_.Path(), win::kKeyRead), 0u) << "only the subtree goes";
  EXPECT_EQ(reg_.DeleteTree(kRoot, sandbox_.Path("A")), win::kErrorFileNotFound);
}

TEST_F(Win32RegistryTest, UnpairedSurrogatesReachTheRegistryUnchanged) {
  const std::string name = "A" + text::Utf16ToUtf8(u"\xD800");
  ASSERT_EQ(reg_.CreateKey(kRoot, sandbox_.Path(name), win::kKeyAllAccess), 0u);
  const std::wstring wide = platform::win32::ToWide(sandbox_.Path("A")) + L'\xD800';
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(reg_.OpenKey(kRoot, sandbox_.Path("A\xEF\xBF\xBD"), win::kKeyRead), 2u);  // U+FFFD
  std::vector<std::string> names;
  ASSERT_EQ(reg_.EnumSubkeys(kRoot, sandbox_.Path(), &names), 0u);
  EXPECT_EQ(names, std::vector<std::string>{name});
}

TEST_F(Win32RegistryTest, UnknownRootAnswersInvalidHandle) {
  const auto bogus = static_cast<win::RegRoot>(0x80000099u);
  EXPECT_EQ(reg_.OpenKey(bogus, "Software", win::kKeyRead), win::kErrorInvalidHandle);
}

TEST_F(Win32RegistryTest, SetKeyValueCreatesMissingKeysAndStoresExactBytes) {
  const std::string key = sandbox_.Path("Fresh\\Deeper");
  const std::vector<uint8_t> binary = {0x00, 0xFF, 0x10, 0x00, 0x7F};
  ASSERT_EQ(SetBytes(key, "Bin", win::kRegBinary, binary), 0u);
  ASSERT_EQ(SetBytes(key, "Empty", win::kRegBinary, {}), 0u);
  EXPECT_EQ(reg_.OpenKey(kRoot, key, win::kKeyRead), 0u);

  uint8_t out[16];
  std::memset(out, 0xCC, sizeof out);
  uint32_t type = 0;
  uint32_t size = sizeof out;
  ASSERT_EQ(reg_.GetValue(kRoot, key, "bin", win::kRrfRtAny, &type, out, &size), 0u)
      << "value names compare case-insensitively";
  EXPECT_EQ(type, win::kRegBinary);
  ASSERT_EQ(size, binary.size());
  EXPECT_EQ(std::vector<uint8_t>(out, out + size), binary);
  EXPECT_EQ(out[size], 0xCC) << "nothing written past the data";

  // Existence probes: neither buffer nor size.
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Empty", win::kRrfRtAny, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Missing", win::kRrfRtAny, nullptr, nullptr, nullptr),
            win::kErrorFileNotFound);
  EXPECT_EQ(reg_.GetValue(kRoot, sandbox_.Path("Nowhere"), "Bin", win::kRrfRtAny, nullptr,
                          nullptr, nullptr),
            win::kErrorFileNotFound);

  // Overwriting replaces type and length.
  ASSERT_EQ(SetDword(key, "Bin", 0xA1B2C3D4u), 0u);
  uint32_t dword = 0;
  size = sizeof dword;
  ASSERT_EQ(reg_.GetValue(kRoot, key, "Bin", win::kRrfRtRegDword, &type, &dword, &size), 0u);
  EXPECT_EQ(type, win::kRegDword);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(dword, 0xA1B2C3D4u);

  EXPECT_EQ(reg_.DeleteKeyValue(kRoot, key, "Bin"), 0u);
  EXPECT_EQ(reg_.DeleteKeyValue(kRoot, key, "Bin"), win::kErrorFileNotFound);
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Empty", win::kRrfRtAny, nullptr, nullptr, nullptr), 0u)
      << "deleting one value leaves the others";
}

TEST_F(Win32RegistryTest, TypeRestrictionsRejectOtherTypes) {
  const std::string key = sandbox_.Path();
  ASSERT_EQ(SetDword(key, "Dw", 7), 0u);
  ASSERT_EQ(SetBytes(key, "Sz", win::kRegSz, kHeWithZero), 0u);
  ASSERT_EQ(SetBytes(key, "Bin4", win::kRegBinary, {1, 2, 3, 4}), 0u);
  ASSERT_EQ(SetBytes(key, "Bin3", win::kRegBinary, {1, 2, 3}), 0u);

  uint8_t out[16] = {};
  uint32_t type = 0;
  uint32_t size = sizeof out;
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Sz", win::kRrfRtRegDword, &type, out, &size),
            win::kErrorUnsupportedType);
  size = sizeof out;
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Dw", win::kRrfRtRegSz, &type, out, &size),
            win::kErrorUnsupportedType);
  // RRF_RT_DWORD takes four-byte REG_BINARY data too, and no other length of it.
  size = sizeof out;
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Bin4", win::kRrfRtDword, &type, out, &size), 0u);
  EXPECT_EQ(type, win::kRegBinary);
  size = sizeof out;
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Bin3", win::kRrfRtDword, &type, out, &size),
            win::kErrorDatatypeMismatch);
}

TEST_F(Win32RegistryTest, ShortBufferAnswersMoreDataWithTheNeededSizeAndStaysUntouched) {
  const std::string key = sandbox_.Path();
  ASSERT_EQ(SetBytes(key, "Sz", win::kRegSz, kHeWithZero), 0u);

  uint8_t small[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  uint32_t type = 0;
  uint32_t size = 2;
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Sz", win::kRrfRtRegSz, &type, small, &size),
            win::kErrorMoreData);
  EXPECT_EQ(size, kHeWithZero.size());
  EXPECT_EQ(small[0], 0xEE);
  EXPECT_EQ(small[1], 0xEE);

  // A size query (null data) answers the size without complaint.
  size = 0;
  EXPECT_EQ(reg_.GetValue(kRoot, key, "Sz", win::kRrfRtAny, nullptr, nullptr, &size), 0u);
  EXPECT_EQ(size, kHeWithZero.size());

  // Exactly the needed size suffices.
  uint8_t exact[6] = {};
  size = sizeof exact;
  ASSERT_EQ(reg_.GetValue(kRoot, key, "Sz", win::kRrfRtRegSz, &type, exact, &size), 0u);
  EXPECT_EQ(std::vector<uint8_t>(exact, exact + 6), kHeWithZero);
}

TEST_F(Win32RegistryTest, StringStoredWithoutItsZeroComesBackWithOne) {
  const std::string key = sandbox_.Path();
  const std::vector<uint8_t> unterminated(kHeWithZero.begin(), kHeWithZero.end() - 2);
  ASSERT_EQ(SetBytes(key, "NoNul", win::kRegSz, unterminated), 0u);

  uint8_t out[16];
  std::memset(out, 0xCC, sizeof out);
  uint32_t type = 0;
  uint32_t size = sizeof out;
  ASSERT_EQ(reg_.GetValue(kRoot, key, "NoNul", win::kRrfRtRegSz, &type, out, &size), 0u);
  EXPECT_EQ(type, win::kRegSz);
  ASSERT_EQ(size, 6u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), kHeWithZero);

  // The zero needs room: the stored length alone is too small.
  uint8_t stored_length[4] = {};
  size = sizeof stored_length;
  EXPECT_EQ(reg_.GetValue(kRoot, key, "NoNul", win::kRrfRtRegSz, &type, stored_length, &size),
            win::kErrorMoreData);
}

TEST_F(Win32RegistryTest, EnumerationIsInCaseInsensitiveNameOrder) {
  const std::string key = sandbox_.Path();
  // Created out of order, in mixed case, with a non-ASCII name.
  ASSERT_EQ(SetDword(key, "Zeta", 26), 0u);
  ASSERT_EQ(SetBytes(key, "alpha", win::kRegSz, kHeWithZero), 0u);
  ASSERT_EQ(SetBytes(key, "Beta", win::kRegBinary, std::vector<uint8_t>(3000, 0x5A)), 0u);
  ASSERT_EQ(SetBytes(key, "gamma", win::kRegBinary, {}), 0u);
  ASSERT_EQ(SetDword(key, "\xC3\xBC" "ber", 1), 0u);  // "über"
  for (const char* child : {"kappa", "Delta", "epsilon"}) {
    ASSERT_EQ(reg_.CreateKey(kRoot, sandbox_.Path(child), win::kKeyAllAccess), 0u);
  }

  std::vector<RegValueInfo> values;
  ASSERT_EQ(reg_.EnumValues(kRoot, key, &values), 0u);
  std::vector<std::string> names;
  for (const auto& v : values) names.push_back(v.name);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "gamma", "Zeta", "\xC3\xBC" "ber"}));
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].type, win::kRegSz);
  EXPECT_EQ(values[0].data, kHeWithZero);
  EXPECT_EQ(values[1].type, win::kRegBinary);
  EXPECT_EQ(values[1].data, std::vector<uint8_t>(3000, 0x5A)) << "long data arrive whole";
  EXPECT_TRUE(values[2].data.empty());
  EXPECT_EQ(values[3].type, win::kRegDword);
  EXPECT_EQ(values[3].data, (std::vector<uint8_t>{26, 0, 0, 0}));

  std::vector<std::string> subkeys;
  ASSERT_EQ(reg_.EnumSubkeys(kRoot, key, &subkeys), 0u);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"Delta", "epsilon", "kappa"}));

  EXPECT_EQ(reg_.EnumValues(kRoot, sandbox_.Path("missing"), &values), win::kErrorFileNotFound);
  EXPECT_EQ(reg_.EnumSubkeys(kRoot, sandbox_.Path("missing"), &subkeys), win::kErrorFileNotFound);
}

}  // namespace
