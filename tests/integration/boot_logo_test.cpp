// The boot-logo commands of the Linux broker through quellmark-cli's named commands: an image
// goes from a picture folder to the staging folder and onto the EFI system partition that the
// machine profile provides, and comes back from there.
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "integration/broker_fixture.h"

namespace {

namespace fs = std::filesystem;
using testsupport::BrokerFixture;

class BootLogoOverThePipe : public BrokerFixture {
 protected:
  std::string At(const std::string& relative) const { return root_.path() + "/" + relative; }
  std::optional<std::string> Read(const std::string& relative) const {
    if (!fs::is_regular_file(At(relative))) return std::nullopt;
    std::stringstream content;
    content << std::ifstream(At(relative), std::ios::binary).rdbuf();
    return content.str();
  }
  std::string Named(std::vector<std::string> words) {
    const auto result = Cli(std::move(words));
    EXPECT_EQ(result.exit_code, 0) << result.output;
    return result.output;
  }
};

TEST_F(BootLogoOverThePipe, LogoIsAppliedFetchedBackAndRestored) {
  EnableLogging();
  auto broker = StartBroker("vexor-default.profile");
  ASSERT_TRUE(fs::is_directory(At("S/EFI/OEM"))) << "made from the profile at start";
  ASSERT_TRUE(fs::is_directory(At("C/ProgramData/OEM"))) << "made from the profile at start";
  const std::string image("GIF89a\x01\x00\x01\x00\x00\xff", 12);
  fs::create_directories(At("C/Users/Public/Pictures"));
  std::ofstream(At("C/Users/Public/Pictures/logo.gif"), std::ios::binary) << image;

  EXPECT_EQ(Named({"logo", "apply", "C:\\Users\\Public\\Pictures\\logo.gif", "gif"}),
            "1 (0x00000001)\n");
  const std::string staged = "C/ProgramData/OEM/Calvane/BIOSLogo/CorlanLogo.gif";
  EXPECT_EQ(Read(staged), image);
  EXPECT_EQ(Read("S/EFI/OEM/CorlanLogo.gif"), image);

  // The fetch-back replaces a lost staged copy with the partition's.
  fs::remove(At(staged));
  EXPECT_EQ(Named({"logo", "get"}), "1 (0x00000001)\n");
  EXPECT_EQ(Read(staged), image);

  EXPECT_EQ(Named({"logo", "restore"}), "1 (0x00000001)\n");
  EXPECT_EQ(Read(staged), std::nullopt);
  EXPECT_EQ(Read("S/EFI/OEM/CorlanLogo.gif"), std::nullopt);

  EXPECT_EQ(Named({"logo", "apply", "C:\\Users\\Public\\Pictures\\none.jpg", "jpg"}),
            "4294967295 (0xFFFFFFFF)\n");

  ASSERT_TRUE(WaitForLog("Rsponse errcode: -1"));
  const std::string log = ReadLog();
  const std::string prefix = " | Quellmark | ironbark::IbClientCommandProcessor::";
  for (const std::string line :
       {"apply_bios_logo | File path: C:\\Users\\Public\\Pictures\\logo.gif\r\n",
        "copy_bios_logo | CorlanLogo.gif copy GetLastError: 0\r\n",
        "get_bios_logo | CorlanLogo.gif copy GetLastError: 0\r\n",
        "restore_bios_logo | Rsponse errcode: 1\r\n",
        "copy_bios_logo | CorlanLogo.jpg no exist\r\n"}) {
    EXPECT_NE(log.find(prefix + line), std::string::npos) << line;
  }
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
