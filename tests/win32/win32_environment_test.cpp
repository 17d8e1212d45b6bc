// The Win32 process-environment backend: unset versus empty variables, values around the
// 260-character first buffer, UTF-8 conversion, and the account name.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/process_environment.h"
#include "platform/win32/wide_text.h"

namespace {

class Win32EnvironmentTest : public ::testing::Test {
 protected:
  void Set(const std::string& name, const std::wstring& value) {
    names_.push_back(name);
    ASSERT_TRUE(SetEnvironmentVariableW(platform::win32::ToWide(name).c_str(), value.c_str()));
  }
  void TearDown() override {
    for (const auto& name : names_) {
      SetEnvironmentVariableW(platform::win32::ToWide(name).c_str(), nullptr);
    }
  }

  const std::string name_ = "QUELLMARK_TEST_" + std::to_string(GetCurrentProcessId());
  std::vector<std::string> names_;
  platform::win32::Win32Environment env_;
};

TEST_F(Win32EnvironmentTest, UnsetIsNulloptAndEmptyIsEmpty) {
  EXPECT_EQ(env_.GetVariable(name_), std::nullopt);
  Set(name_, L"");
  const auto value = env_.GetVariable(name_);
  ASSERT_TRUE(value.has_value()) << "a variable set to the empty text exists";
  EXPECT_EQ(*value, "");
}

TEST_F(Win32EnvironmentTest, ValuesAroundTheFirstBufferComeBackWhole) {
  for (const size_t length : {size_t{258}, size_t{259}, size_t{260}, size_t{261}, size_t{5000}}) {
    std::wstring value(length, L'x');
    value.back() = L'y';
    Set(name_, value);
    const auto got = env_.GetVariable(name_);
    ASSERT_TRUE(got.has_value()) << length;
    EXPECT_EQ(got->size(), length);
    EXPECT_EQ(*got, std::string(length - 1, 'x') + "y");
  }
}

TEST_F(Win32EnvironmentTest, NamesAreCaseInsensitiveAndValuesUtf8) {
  Set(name_, L"w\u00e4rme \u20ac \U0001F600");
  EXPECT_EQ(env_.GetVariable(name_), "w\xC3\xA4rme \xE2\x82\xAC \xF0\x9F\x98\x80");
  std::string lower = name_;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(env_.GetVariable(lower), env_.GetVariable(name_));
}

TEST_F(Win32EnvironmentTest, UserNameIsTheAccountName) {
  wchar_t buffer[300] = {};
  DWORD size = 300;
  ASSERT_TRUE(GetUserNameW(buffer, &size));
  const std::string name = env_.UserName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name, platform::win32::FromWide(buffer));
  EXPECT_EQ(name.find('\0'), std::string::npos);
}

}  // namespace
