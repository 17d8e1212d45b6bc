// The registry commands of the Linux broker over its real socket, through quellmark-cli's named
// commands, and the forward on a key the broker may not change (quellmark-cli reg protect).
#include <chrono>
#include <string>
#include <thread>

#include "integration/broker_fixture.h"
#include "support/handler_harness.h"

namespace {

using testsupport::CountOf;

class RegistryOverThePipe : public testsupport::BrokerFixture {};

TEST_F(RegistryOverThePipe, NamedCommandsReachTheBrokersRegistry) {
  auto broker = StartBroker("bare.profile");
  const std::string key = "hkey_current_user\\Software\\Quellmark";
  EXPECT_EQ(Named({"key", "create", key}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"value", "create", key, "Level", "REG_DWORD", "u32:3"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"value", "set", key, "Level", "REG_DWORD", "u32:4"}), "0 (0x00000000)\n");
  // A missing DWORD gets its default, which the registry then holds.
  EXPECT_EQ(Named({"value", "get", key, "Fresh", "RRF_RT_REG_DWORD", "4", "u32:7"}),
            "0 (0x00000000)\n7 (0x00000007)\n");
  EXPECT_NE(Named({"reg", "query", "HKCU\\Software\\Quellmark", "/v", "Fresh"})
                .find("REG_DWORD    0x7"),
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
  EXPECT_EQ(Named({"reg", "protect", "HKLM\\SOFTWARE\\Locked"}),
            "The operation completed successfully.\n");
  auto broker = StartBroker("bare.profile");
  const std::string locked = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked";

  // The client's request meets 5, goes once more through the pipe, meets 5 there and stops:
  // two result lines, two answers written (the forward's, then the client's).
  EXPECT_EQ(Named({"value", "create", locked, "Name", "REG_SZ", "str:x"}), "5 (0x00000005)\n");
  ASSERT_TRUE(WaitForLog("Response namedpipe error: 0\r\n", 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for a runaway chain
  const std::string log = ReadLog();
  EXPECT_EQ(CountOf(log, "| ironbark::IbClientCommandProcessor::reg_create_value | "
                         "Rsponse error code: 0x5\r\n"),
            2u)
      << log;
  EXPECT_EQ(CountOf(log, "Response namedpipe error"), 2u) << log;

  // Lifting the mark takes effect at once: the broker reads it from the shared database.
  EXPECT_EQ(Named({"reg", "unprotect", "HKLM\\SOFTWARE\\Locked"}),
            "The operation completed successfully.\n");
  EXPECT_EQ(Named({"value", "create", locked, "Name", "REG_SZ", "str:x"}), "0 (0x00000000)\n");
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(RegistryOverThePipe, ProtectNeedsAKeyAndAKnownRoot) {
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"reg", "protect"}, {"reg", "protect", "HKXX\\A"},
           {"reg", "unprotect", "HKLM\\Never\\Marked"}, {"reg", "protect", "HKLM\\A", "extra"}})
    EXPECT_EQ(Cli(words).exit_code, 1) << words.back();
}

}  // namespace
