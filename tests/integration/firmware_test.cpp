// The firmware commands of the Linux broker on simulated machines, over its real socket and
// through quellmark-cli's named commands.
#include <filesystem>
#include <string>
#include <vector>

#include "integration/broker_fixture.h"
#include "pipe/protocol.h"
#include "support/handler_harness.h"

namespace {

using testsupport::BrokerFixture;
using testsupport::Le;
using Bytes = std::vector<uint8_t>;

class FirmwareOverThePipe : public BrokerFixture {
 protected:
  // The single item of the answer to `code` with `arguments`.
  Bytes Ask(uint16_t code, const std::vector<Bytes>& arguments) {
    auto client = testsupport::ConnectCommandPipe();
    Bytes response;
    const auto request = ironbark::EncodeRequest(code, arguments);
    EXPECT_EQ(testsupport::Exchange(*client, request, &response), 0u) << "code " << code;
    std::vector<Bytes> items;
    EXPECT_TRUE(ironbark::ParseResponse(response.data(), response.size(), &items));
    return items.size() == 1 ? items[0] : Bytes{};
  }
};

TEST_F(FirmwareOverThePipe, DefaultMachineKeepsItsStateAcrossConnections) {
  EnableLogging();
  auto broker = StartBroker();
  EXPECT_EQ(Named({"op-mode", "get"}), "256 (0x0000000000000100)\n");  // power-on mode 1
  EXPECT_EQ(Named({"op-mode", "set", "5"}), "0 (0x00000000)\n");
  EXPECT_EQ(Named({"op-mode", "get"}), "1280 (0x0000000000000500)\n");
  // The same state seen through the generic misc-setting command, on a raw connection.
  EXPECT_EQ(Ask(27, {Le(11, 4)}), Le(0x500, 8));
  EXPECT_EQ(Ask(19, {}), Le(0x7F00, 8));

  // A fan table value (bits 8 and up) written and read back; a 9-byte argument counts as 0.
  EXPECT_EQ(Ask(17, {Le(0x123400, 8)}), Le(0, 4));
  EXPECT_EQ(Ask(18, {}), Le(0x123400, 8));
  EXPECT_EQ(Ask(17, {Bytes(9, 0xFF)}), Le(0, 4));
  EXPECT_EQ(Ask(18, {Le(7, 4)}), Le(0, 8));

  ASSERT_TRUE(WaitForLog("Rsponse data: 0x500"));
  const std::string log = ReadLog();
  EXPECT_NE(log.find("kSvcCmdSetOperationMode\r\n"), std::string::npos);
  EXPECT_NE(log.find("WMI SetGamingMiscSettingFunction input: 0x50B\r\n"), std::string::npos);
  EXPECT_NE(log.find("gpu_set_oc_level\r\n"), std::string::npos);
  EXPECT_NE(log.find("Not support GPU overclock\r\n"), std::string::npos);
  EXPECT_NE(log.find("WMI SetGamingFanTableFunction input: 0x0\r\n"), std::string::npos);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

// An installed copy, far from the source tree, runs on its built-in default machine.
TEST_F(FirmwareOverThePipe, InstalledBrokerRunsWithoutMachineProfile) {
  const testsupport::TempDir prefix;
  const auto installed = testsupport::RunCommand(
      {CMAKE_COMMAND, "--install", QUELLMARK_BUILD_DIR, "--prefix", prefix.path()});
  ASSERT_EQ(installed.exit_code, 0) << installed.output;
  EXPECT_TRUE(std::filesystem::is_regular_file(prefix.path() +
                                               "/share/quellmark/machines/bare.profile"));
  auto broker = StartBroker("", prefix.path() + "/bin/quellmark");
  EXPECT_EQ(Ask(19, {}), Le(0x7F00, 8));
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

TEST_F(FirmwareOverThePipe, MachinesWithoutOrWithFaultyFirmwareAnswerFailureValues) {
  constexpr uint64_t kReadFailed = 0x00000000FFFFFFFFull;
  constexpr uint32_t kWriteFailed = 0xFFFFFFFFu;
  auto broker = StartBroker("bare.profile");
  EXPECT_EQ(Ask(20, {}), Le(kReadFailed, 8));
  EXPECT_EQ(Ask(21, {Le(2, 4)}), Le(kWriteFailed, 4));
  EXPECT_EQ(Named({"fan-speed", "set", "1"}), "4294967295 (0xFFFFFFFF)\n");
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
  // Instances without a usable name come first; the firmware itself works but some of its
  // methods fail in the ways the profile lists.
  broker = StartBroker("faulty-firmware.profile");
  EXPECT_EQ(Ask(18, {}), Le(kReadFailed, 8));           // method missing
  EXPECT_EQ(Ask(7, {Le(0, 4)}), Le(kReadFailed, 8));    // output not a number
  EXPECT_EQ(Ask(15, {Le(1, 8)}), Le(kWriteFailed, 4));  // output absent
  // A non-zero status byte is the firmware's answer, passed through unchanged.
  EXPECT_EQ(Ask(27, {Le(11, 4)}).at(0), 0x03);
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
