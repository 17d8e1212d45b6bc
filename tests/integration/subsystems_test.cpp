// What only a running broker shows, through its real socket and quellmark-cli's named commands:
// the installed copy's own machine, the survey on the broker's own drive, and an EC shared with
// another process. Each subsystem's rules are proven by its unit tests.
#include <string>

#include "integration/broker_fixture.h"

namespace {

using Subsystems = testsupport::BrokerFixture;

// An installed copy, far from the source tree, runs on its built-in default machine, whose
// firmware keeps its state across connections.
TEST_F(Subsystems, FirmwareOfTheInstalledBroker) {
  const testsupport::TempDir prefix;
  const auto installed = testsupport::RunCommand(
      {CMAKE_COMMAND, "--install", QUELLMARK_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(installed.exit_code, 0) << installed.output;
  EnableLogging();
  auto broker = StartBroker("", prefix.path() + "/bin/quellmark");
  EXPECT_EQ(Named({"op-mode", "set", "5"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"op-mode", "get"}), "1280 (0x0000000000000500)\n");
  // Each code runs its own handler: the entry line names it.
  EXPECT_EQ(Cli({"send", "16", "u32:0"}).exit_code, 0);
  EXPECT_TRUE(WaitForLog("::wmi_get_gaming_fan_group_speed | kSvcCmdWMIGetGamingFanGroupSpeed\r\n"));
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(Subsystems, SurveyPublishesTheMachineFoundOnTheBrokersOwnDrive) {
  EnableLogging();
  auto broker = StartBroker();
  ASSERT_TRUE(WaitForLog("get_support_fan_amount | amount_gpu: 0\r\n")) << ReadLog();
  // The resolution needs the ESP folder and display modes of the broker's own drive.
  const std::string published = Named({"reg", "query", "HKLM\\SOFTWARE\\OEM\\Calvane", "/s"});
  for (const char* value : {"Model_Name_1st    REG_SZ    Vexor 16 GX\n",
                            "discrete_gpu_support    REG_DWORD    0x1\n",
                            "Resolution    REG_SZ    2560,1600\n"})
    EXPECT_NE(published.find(value), std::string::npos) << value << published;
  // The driver's class key was seeded from the profile and found through the device list.
  EXPECT_NE(ReadLog().find("::get_driver_version_string | 2.1.1407.0\r\n"), std::string::npos);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

// The keyboard and its backlight on a machine with an EC and a known keyboard; meanwhile another
// EC client holding the EC's mutex delays an exchange by a second.
TEST_F(Subsystems, KeyboardAndBacklightWhileAnotherProcessHoldsTheEc) {
  EnableLogging();
  auto broker = StartBroker();
  ASSERT_TRUE(WaitForLog("get_support_fan_amount | amount_gpu: 0\r\n")) << ReadLog();
  const auto published = [this] { return Named({"reg", "query", "HKLM\\SOFTWARE\\OEM\\Calvane"}); };
  for (const char* value : {"EC_HID_Version    REG_DWORD    0x106\n", "EC_HID_Support    REG_DWORD    0x1\n",
                            "Keyboard_Lang    REG_DWORD    0x0\n"})
    EXPECT_NE(published().find(value), std::string::npos) << value << published();
  EXPECT_EQ(Named({"kb-backlight-30s", "set", "on"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"kb-backlight-30s", "get"}), "1 (0x00000001)\n");
  EXPECT_EQ(Named({"win-key-lock", "set", "on"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"win-key-lock", "get"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"ec-backlight", "set", "80", "20"}), "0 (0x00000000)\n");
  testsupport::ChildProcess holder({QUELLMARK_CLI_BINARY, "--root", root_.path(), "ec-lock", "2500"}, true);
  for (int i = 0; i < 50 && holder.Output().find("holding") == std::string::npos; ++i) holder.WaitExit(100);
  ASSERT_NE(holder.Output().find("holding Global\\ECHIDFeatureVID_2E5C&PID_174B"), std::string::npos);
  EXPECT_EQ(Named({"ec-backlight", "get"}), "80 (0x00000050)\n20 (0x00000014)\n0 (0x00000000)\n");
  EXPECT_TRUE(WaitForLog("corlan::QRN300::EcHID::LockGlobalMutex | Timeout\r\n"));
  EXPECT_EQ(holder.WaitExit(5000), std::optional<int>(0));
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
