// The boot-logo commands of the Linux broker through quellmark-cli's named commands: an image
// goes from a picture folder to the staging folder and onto the EFI system partition that the
// machine profile provides, and comes back from there.
#include <filesystem>
#include <optional>
#include <string>

#include "integration/broker_fixture.h"
#include "support/handler_harness.h"

namespace {

namespace fs = std::filesystem;

class BootLogoOverThePipe : public testsupport::BrokerFixture {
 protected:
  std::optional<std::string> Read(const std::string& relative) const {
    return testsupport::ReadFile(root_.path() + "/" + relative);
  }
};

TEST_F(BootLogoOverThePipe, LogoIsAppliedFetchedBackAndRestored) {
  auto broker = StartBroker("vexor-default.profile");
  // The partition's and the product's folders come from the profile.
  const std::string image("GIF89a\x01\x00\x01\x00\x00\xff", 12);
  testsupport::WriteFile(root_.path() + "/C/Users/Public/Pictures/logo.gif", image);
  const std::string staged = "C/ProgramData/OEM/Calvane/BIOSLogo/CorlanLogo.gif";
  const std::string partition = "S/EFI/OEM/CorlanLogo.gif";

  EXPECT_EQ(Named({"logo", "apply", "C:\\Users\\Public\\Pictures\\logo.gif", "gif"}),
            "1 (0x00000001)\n");
  EXPECT_EQ(Read(staged), image);
  EXPECT_EQ(Read(partition), image);

  // The fetch-back replaces a lost staged copy with the partition's.
  fs::remove(root_.path() + "/" + staged);
  EXPECT_EQ(Named({"logo", "get"}), "1 (0x00000001)\n");
  EXPECT_EQ(Read(staged), image);

  EXPECT_EQ(Named({"logo", "restore"}), "1 (0x00000001)\n");
  EXPECT_EQ(Read(staged), std::nullopt);
  EXPECT_EQ(Read(partition), std::nullopt);

  EXPECT_EQ(Named({"logo", "apply", "C:\\Users\\Public\\Pictures\\none.jpg", "jpg"}),
            "4294967295 (0xFFFFFFFF)\n");
  EXPECT_EQ(StopBroker(*broker), std::optional<int>(0));
}

}  // namespace
