// One run of each subsystem through the Linux broker's real socket and quellmark-cli's named
// commands: the firmware, the start-up survey, the registry with its forward.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "pipe/protocol.h"

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

TEST_F(Subsystems, RegistryAndTheForwardOfAProtectedKey) {
  EnableLogging();
  EXPECT_EQ(Named({"reg", "protect", "HKLM\\SOFTWARE\\Locked"}),
            "The operation completed successfully.\n");
  auto broker = StartBroker("bare.profile");
  // The client's request meets 5, goes once more through the pipe, meets 5 there and stops:
  // two result lines, two answers written (the forward's, then the client's).
  const std::string locked = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked";
  EXPECT_EQ(Named({"value", "create", locked, "Name", "REG_SZ", "str:x"}), "5 (0x00000005)\n");
  ASSERT_TRUE(WaitForLog("Response namedpipe error: 0\r\n", 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for a runaway chain
  const std::string log = ReadLog();
  EXPECT_EQ(testsupport::Occurrences(log, "| ironbark::IbClientCommandProcessor::reg_create_value | "
                                      "Rsponse error code: 0x5\r\n"), 2u) << log;
  EXPECT_EQ(testsupport::Occurrences(log, "Response namedpipe error"), 2u) << log;
  // Lifting the mark takes effect at once: the broker reads it from the shared database.
  EXPECT_EQ(Named({"reg", "unprotect", "HKLM\\SOFTWARE\\Locked"}),
            "The operation completed successfully.\n");
  EXPECT_EQ(Named({"value", "create", locked, "Name", "REG_SZ", "str:x"}), "0 (0x00000000)\n");
  EXPECT_EQ(Cli({"reg", "protect", "HKXX\\A"}).exit_code, 1);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}


// The keyboard and its backlight on a machine with an EC and a known keyboard, then on one with
// neither; meanwhile another EC client holding the EC's mutex delays an exchange by a second.
TEST_F(Subsystems, KeyboardAndBacklightOnTwoMachines) {
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

  // Without a published model the next start surveys at once.
  EXPECT_EQ(Cli({"reg", "delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", "Model_Name_1st", "/f"}).exit_code, 0);
  broker = StartBroker("no-ec.profile");
  ASSERT_TRUE(WaitForLog("get_support_fan_amount | amount_gpu: 0\r\n", 2)) << ReadLog();
  for (const char* value : {"EC_HID_Version    REG_DWORD    0x0\n", "EC_HID_Support    REG_DWORD    0x0\n",
                            "Keyboard_Lang    REG_DWORD    0x3\n"})
    EXPECT_NE(published().find(value), std::string::npos) << value << published();
  EXPECT_EQ(Named({"kb-backlight-30s", "set", "on"}), "1 (0x00000001)\n");
  EXPECT_EQ(Named({"win-key-lock", "get"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"ec-backlight", "get"}), "50 (0x00000032)\n30 (0x0000001E)\n1 (0x00000001)\n");
  EXPECT_TRUE(WaitForLog("ironbark::IbClientCommandProcessor::usb_set_keyborad_backlight30s | Rsponse errcode: 1\r\n"));
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

// The default machine's DTS library over the socket: an unanswered set, then the next request on
// its connection; a hanging read keeps only its own connection waiting.
TEST_F(Subsystems, DtsSoundModeOverTheSocket) {
  EnableLogging();
  auto broker = StartBroker();
  const auto client = testsupport::ConnectCommandPipe();
  const std::vector<std::vector<uint8_t>> mode5{{5, 0, 0, 0}};
  ASSERT_EQ(testsupport::SendRaw(*client, ironbark::EncodeRequest(23, mode5)), 0u);
  std::vector<uint8_t> answer;
  ASSERT_EQ(testsupport::Exchange(*client, ironbark::EncodeRequest(22, {}), &answer), 0u);
  std::vector<std::vector<uint8_t>> items;
  ASSERT_TRUE(ironbark::ParseResponse(answer.data(), answer.size(), &items));
  EXPECT_EQ(items, mode5);

  const std::string settings = root_.path() + "/C/Windows/System32/DtsApoAppWin32DLL.dll.conf";
  const std::string working = testsupport::ReadText(settings);
  std::ofstream(settings, std::ios::app) << "hang=yes\n";
  const auto start = std::chrono::steady_clock::now();
  std::string hung;
  std::thread reader([&] { hung = Named({"dts", "get"}); });
  ASSERT_TRUE(WaitForLog("kSvcCmdGetDTSSoundMode\r\n", 2));
  EXPECT_EQ(Cli({"op-mode", "get"}).exit_code, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  reader.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2900));
  EXPECT_EQ(hung, "4294967295 (0xFFFFFFFF)\n");
  EXPECT_TRUE(WaitForLog("::get_dts_sound_mode | Timeout!\r\n"));
  std::ofstream(settings, std::ios::trunc) << working;
  EXPECT_EQ(Named({"dts", "set", "6"}), "");
  EXPECT_EQ(Named({"dts", "get"}), "6 (0x00000006)\n");
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

// The GPU commands on the three kinds of machine, and the NVIDIA machine's overclock from the
// ProgramData INI file when the operation mode changes.
TEST_F(Subsystems, GpuCommandsOnNvidiaAmdAndNoGpuMachines) {
  struct Case {
    const char* machine;
    std::vector<std::string> answers;  // count, idle, frequency 0, max-frequency 0, usage 0
  };
  const std::vector<Case> cases = {
      {"", {"1", "1", "1530", "2190", "37"}},
      {"amd-gpu.profile", {"1", "1", "2100", "2600", "42"}},
      {"bare.profile", {"0", "4294967295", "4294967295", "4294967295", "4294967295"}},
  };
  const std::filesystem::path ini = root_.path() + "/C/ProgramData/OEM/Calvane/VexorHelm.ini";
  std::filesystem::create_directories(ini.parent_path());
  std::ofstream(ini) << "[OC_GPU]\r\nCount=1\r\nGPUName1=DEV_2820\r\n[DEV_2820]\r\nTurbo=150\r\n";
  EnableLogging();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    std::filesystem::remove(LogPath());  // each start's own lines
    // A start after a published model waits 9-15 s before its survey; this one need not.
    Cli({"reg", "delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", "Model_Name_1st", "/f"});
    auto broker = StartBroker(c.machine);
    ASSERT_TRUE(WaitForLog("check_gpu_name | check_gpu_name - end\r\n")) << ReadLog();
    const std::vector<std::vector<std::string>> commands = {
        {"gpu", "count"}, {"gpu", "idle"}, {"gpu", "frequency", "0"},
        {"gpu", "max-frequency", "0"}, {"gpu", "usage", "0"}};
    for (size_t i = 0; i < commands.size(); ++i) {
      const std::string answer = Named(commands[i]);
      EXPECT_EQ(answer.substr(0, answer.find(' ')), c.answers[i]) << commands[i][1];
    }
    EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
  }
  std::filesystem::remove(LogPath());
  Cli({"reg", "delete", "HKLM\\SOFTWARE\\OEM\\Calvane", "/v", "Model_Name_1st", "/f"});
  auto broker = StartBroker();
  ASSERT_TRUE(WaitForLog("find_gpu_device | Find the same GPU HWID: "
                         "PCI\\VEN_10DE&DEV_2820&SUBSYS_3A1F1D05&REV_A1\r\n")) << ReadLog();
  EXPECT_EQ(Named({"op-mode", "set", "5"}), "0 (0x00000000)\n");
  EXPECT_TRUE(WaitForLog("nvidiaOC_set_oclevel | Need shift overclock freqency: 150000 kHz\r\n"));
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
