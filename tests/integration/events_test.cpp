// quellmark-cli agent listen while quellmark-cli sim acts on the machine: the sink forwards the
// event with the state read from the EC where the survey found one, else from the firmware.
#include <filesystem>
#include <string>

#include "integration/broker_fixture.h"

namespace {

using Events = testsupport::BrokerFixture;

TEST_F(Events, AnUnpluggedAdaptorReachesTheListenerFromTheEcOrTheFirmware) {
  EnableLogging();
  for (const char* machine : {"", "no-ec.profile"}) {
    // Without a published model each start surveys at once; the survey publishes EC_HID_Support.
    Cli({"reg", "delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", "Model_Name_1st", "/f"});
    auto broker = StartBroker(machine);
    ASSERT_TRUE(WaitForLog("get_support_fan_amount | amount_gpu: 0\r\n", *machine ? 2 : 1)) << ReadLog();
    testsupport::ChildProcess listener({QUELLMARK_CLI_BINARY, "--root", root_.path(), "agent", "listen"}, true);
    for (int i = 0; i < 100 && !std::filesystem::exists(root_.path() + "/pipe/vexorhelm_agent_service_"); ++i) listener.WaitExit(50);
    EXPECT_EQ(Named({"sim", "ac", "unplug"}), "AC adaptor unplugged\n");
    EXPECT_EQ(Named({"sim", "turbo"}), "turbo key pressed, state 1\n");
    for (int i = 0; i < 100 && listener.Output().find("turbo=") == std::string::npos; ++i) listener.WaitExit(50);
    EXPECT_EQ(listener.Output(), "kAgtAdaptorChagned status=0\nkAgtTurboKeyPressed mode=1 enabled=0 turbo=1\n");
    EXPECT_TRUE(WaitForLog("ironbark::IbWmiEventSink::Indicate | WmiEvent::AC_Status: 0\r\n", *machine ? 2 : 1)) << ReadLog();
    EXPECT_TRUE(WaitForLog("SendAdaptorChangedEvent | Send Command: kAgtAdaptorChagned status: 0 error: 0\r\n", *machine ? 2 : 1));
    // The firmware is asked for the AC value only where there is no EC.
    EXPECT_EQ(ReadLog().find("OperatingAction::GetACStatusValue | WMI GetFunction output: 0x0\r\n") != std::string::npos, *machine != 0);
    EXPECT_EQ(Cli({"sim", "kettle", "on"}).exit_code, 1);
    EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
  }
}

}  // namespace
