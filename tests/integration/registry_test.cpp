// The registry commands of the Linux broker over its real socket, through quellmark-cli's named
// commands, and the forward on a key the broker may not change (quellmark-cli reg protect).
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "integration/broker_fixture.h"
#include "pipe/protocol.h"

namespace {

using testsupport::BrokerFixture;
using Bytes = std::vector<uint8_t>;

size_t CountOf(const std::string& haystack, const std::string& needle) {
  size_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + 1))
    ++count;
  return count;
}

class RegistryOverThePipe : public BrokerFixture {
 protected:
  std::string Named(std::vector<std::string> words) {
    const auto result = Cli(std::move(words));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return result.output;
  }
  bool WaitForCount(const std::string& text, size_t count) const {
    for (int i = 0; i < 500; ++i) {
      if (CountOf(ReadLog(), text) >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  std::string Reg(std::vector<std::string> words) {
    words.insert(words.begin(), "reg");
    const auto result = Cli(std::move(words));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return result.output;
  }
};

TEST_F(RegistryOverThePipe, NamedCommandsReachTheBrokersRegistry) {
  auto broker = StartBroker("bare.profile");
  const std::string key = "hkey_current_user\\Software\\Quellmark";
  EXPECT_EQ(Named({"key", "create", key}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"key", "create", "HKCU\\Software\\Quellmark"}), "2 (0x00000002)\n");
  EXPECT_EQ(Named({"value", "set", key, "Level", "REG_DWORD", "u32:3"}), "2 (0x00000002)\n");
  EXPECT_EQ(Named({"value", "create", key, "Level", "REG_DWORD", "u32:3"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"value", "set", key, "Level", "REG_DWORD", "u32:4"}), "0 (0x00000000)\n");
  // A missing DWORD gets its default, which the registry then holds.
  EXPECT_EQ(Named({"value", "get", key, "Fresh", "RRF_RT_REG_DWORD", "4", "u32:7"}),
            "0 (0x00000000)\n7 (0x00000007)\n");
  EXPECT_NE(Reg({"query", "HKCU\\Software\\Quellmark", "/v", "Fresh"}).find("REG_DWORD    0x7"),
            std::string::npos);
  // Too small a buffer: 234 and an empty data item (printed as an empty line).
  EXPECT_EQ(Named({"value", "get", key, "Level", "RRF_RT_ANY", "2"}), "234 (0x000000EA)\n\n");
  EXPECT_EQ(Named({"value", "delete", key, "Level"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"key", "delete", "HKEY_CURRENT_USER\\Software"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"key", "delete", "HKEY_CURRENT_USER\\Software"}), "2 (0x00000002)\n");
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(RegistryOverThePipe, AProtectedKeyIsForwardedToTheBrokersOwnPipeOnce) {
  EnableLogging();
  EXPECT_EQ(Reg({"protect", "HKLM\\SOFTWARE\\Locked"}), "The operation completed successfully.\n");
  auto broker = StartBroker("bare.profile");
  ASSERT_TRUE(WaitForLog("WindowsCreate"));
  const std::string locked = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked";

  // The client's request meets 5, goes once more through the pipe, meets 5 there and stops:
  // two result lines, two answers written (the forward's, then the client's).
  EXPECT_EQ(Named({"value", "create", locked, "Name", "REG_SZ", "str:x"}), "5 (0x00000005)\n");
  ASSERT_TRUE(WaitForCount("Response namedpipe error: 0\r\n", 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for a runaway chain
  const std::string log = ReadLog();
  EXPECT_EQ(CountOf(log, "| ironbark::IbClientCommandProcessor::reg_create_value | "
                         "Rsponse error code: 0x5\r\n"),
            2u)
      << log;
  EXPECT_EQ(CountOf(log, "Response namedpipe error"), 2u) << log;

  // A read of the protected key needs no forward; the broker still serves everyone.
  EXPECT_EQ(Named({"value", "get", locked, "Missing", "RRF_RT_ANY", "4"}),
            "2 (0x00000002)\n\n");
  EXPECT_EQ(Named({"value", "get", locked, "Missing", "RRF_RT_REG_DWORD", "4", "u32:1"}),
            "5 (0x00000005)\n\n");
  ASSERT_TRUE(WaitForCount("Response namedpipe error: 0\r\n", 5));
  EXPECT_EQ(CountOf(ReadLog(), "reg_get_value | Rsponse error code: 0x2\r\n"), 1u);
  EXPECT_EQ(CountOf(ReadLog(), "reg_get_value | Rsponse error code: 0x5\r\n"), 2u);

  // Lifting the mark takes effect at once: the broker reads it from the shared database.
  EXPECT_EQ(Reg({"unprotect", "HKLM\\SOFTWARE\\Locked"}), "The operation completed successfully.\n");
  EXPECT_EQ(Named({"value", "create", locked, "Name", "REG_SZ", "str:x"}), "0 (0x00000000)\n");
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(RegistryOverThePipe, ProtectNeedsAKeyAndAKnownRoot) {
  EXPECT_EQ(Cli({"reg", "protect"}).exit_code, 1);
  EXPECT_EQ(Cli({"reg", "protect", "HKXX\\A"}).exit_code, 1);
  EXPECT_EQ(Cli({"reg", "unprotect", "HKLM\\Never\\Marked"}).exit_code, 1);
  EXPECT_EQ(Cli({"reg", "protect", "HKLM\\A", "extra"}).exit_code, 1);
}

}  // namespace
