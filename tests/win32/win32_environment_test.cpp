// The Win32 environment: unset vs empty, values around the 260-character first buffer, UTF-8.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "platform/win32/process_environment.h"
#include "platform/win32/wide_text.h"

namespace {

TEST(Win32EnvironmentTest, VariablesReadWholeInUtf8AndTheUserIsTheAccount) {
  platform::win32::Win32Environment env;
  const std::string name = "QUELLMARK_TEST_" + std::to_string(GetCurrentProcessId());
  const auto set = [&](const wchar_t* value) { ASSERT_TRUE(SetEnvironmentVariableW(platform::win32::ToWide(name).c_str(), value)); };
  EXPECT_EQ(env.GetVariable(name), std::nullopt);
  set(L"");
  EXPECT_EQ(env.GetVariable(name), "") << "a variable set to the empty text exists";
  for (const size_t length : {size_t{259}, size_t{260}, size_t{261}, size_t{5000}}) {
    std::wstring value(length, L'x');
    value.back() = L'y';
    set(value.c_str());
    EXPECT_EQ(env.GetVariable(name), std::string(length - 1, 'x') + "y") << length;
  }
  set(L"w\u00e4rme \u20ac \U0001F600");
  EXPECT_EQ(env.GetVariable("quellmark_test_" + name.substr(15)), "w\xC3\xA4rme \xE2\x82\xAC \xF0\x9F\x98\x80");
  set(nullptr);

  wchar_t buffer[300] = {};
  DWORD size = 300;
  ASSERT_TRUE(GetUserNameW(buffer, &size));
  EXPECT_EQ(env.UserName(), platform::win32::FromWide(buffer));
}

}  // namespace
