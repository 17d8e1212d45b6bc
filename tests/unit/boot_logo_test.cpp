// The boot-logo commands and the survey's folder and resolution helpers against the simulated
// notebook's WMI, a real file tree, a real registry database and a real log file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/machine_profile.h"
#include "support/handler_harness.h"

namespace {

namespace fs = std::filesystem;
using ironbark::IbClientCommandProcessor, testsupport::CallForItem, testsupport::ProcessorLine,
      testsupport::U32, testsupport::Wire;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// Where the broker's Windows paths land below the test's root.
constexpr const char* kStagedGif = "C/ProgramData/OEM/Calvane/BIOSLogo/CorlanLogo.gif";
constexpr const char* kStagedJpg = "C/ProgramData/OEM/Calvane/BIOSLogo/CorlanLogo.jpg";
constexpr const char* kEspGif = "S/EFI/OEM/CorlanLogo.gif";
constexpr const char* kEspJpg = "S/EFI/OEM/CorlanLogo.jpg";

const Bytes kDone = U32(1), kFailed = U32(0xFFFFFFFF);
constexpr uint16_t kApplyCode = 36;  // apply_bios_logo

const std::string kApply = ProcessorLine("apply_bios_logo");
const std::string kCopy = ProcessorLine("copy_bios_logo");
const std::string kFetch = ProcessorLine("get_bios_logo");
const std::string kCheck = ProcessorLine("check_BIOS_Logo_Folder_exist");
const std::string kResolution = ProcessorLine("GetDeviceResolution");

class BootLogoTest : public testsupport::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    // The product's folder, as its installation (or the log) leaves it, and the partition's.
    fs::create_directories(At("C/ProgramData/OEM"));
    fs::create_directories(At("S/EFI/OEM"));
  }

  void Put(const std::string& relative, const std::string& content) {
    testsupport::WriteFile(At(relative), content);
  }
  std::optional<std::string> Read(const std::string& relative) const {
    return testsupport::ReadFile(At(relative));
  }

  static Bytes Apply(const std::string& image, uint32_t format) {
    return CallForItem(kApplyCode, {Wire(image), U32(format)});
  }
  static Bytes Restore() { return CallForItem(37, {}); }  // restore_bios_logo
  static Bytes Fetch() { return CallForItem(38, {}); }    // get_bios_logo
};

TEST_F(BootLogoTest, ApplyReplacesTheOldLogosInBothPlacesAndFailsWithoutASource) {
  Boot("vexor-default.profile");
  Put("C/Pictures/a.jpg", std::string("JPEG\0one", 8));
  Put("C/Pictures/b.gif", "GIF89a-two");

  EXPECT_EQ(Apply("C:\\Pictures\\a.jpg", 1), kDone);
  EXPECT_EQ(Read(kStagedJpg), std::string("JPEG\0one", 8));
  EXPECT_EQ(Read(kEspJpg), std::string("JPEG\0one", 8));
  TakeLog();

  EXPECT_EQ(Apply("C:\\Pictures\\b.gif", 0), kDone);
  EXPECT_EQ(Read(kStagedGif), "GIF89a-two");
  EXPECT_EQ(Read(kEspGif), "GIF89a-two");
  EXPECT_EQ(Read(kStagedJpg), std::nullopt);
  EXPECT_EQ(Read(kEspJpg), std::nullopt);
  EXPECT_EQ(TakeLog(), (Lines{kApply + "kSvcCmdApplyBIOSLogo",
                              kApply + "File path: C:\\Pictures\\b.gif",
                              kApply + "Image format (gif = 0, jpg = 1): 0",
                              kApply + "Delete CorlanLogo.jpg on BIOSLogo folder",
                              kCopy + "copy_bios_logo() - start",
                              kCopy + "Delete CorlanLogo.jpg on \\EFI\\OEM",
                              kCopy + "CorlanLogo.gif copy GetLastError: 0",
                              kCopy + "copy_bios_logo() - end", kApply + "Rsponse errcode: 1"}));

  // A missing source still takes the old logos away.
  EXPECT_EQ(Apply("C:\\Pictures\\missing.gif", 0), kFailed);
  EXPECT_EQ(Read(kStagedGif), std::nullopt);
  EXPECT_EQ(Read(kEspGif), std::nullopt);
  const Lines log = TakeLog();
  EXPECT_EQ(Lines(log.begin() + 3, log.end()),
            (Lines{kApply + "Delete CorlanLogo.gif on BIOSLogo folder",
                   kCopy + "copy_bios_logo() - start",
                   kCopy + "Delete CorlanLogo.gif on \\EFI\\OEM", kCopy + "CorlanLogo.gif no exist",
                   kApply + "Rsponse errcode: -1"}));
}

TEST_F(BootLogoTest, EveryFormatButZeroIsAJpegAndAWideFormatCountsAsZero) {
  Boot("vexor-default.profile");
  Put("C/Pictures/logo.gif", "image");
  const struct { Bytes format; const char* logged /* signed */; bool gif; } cases[] = {
      {U32(7), "7", false}, {U32(0xFFFFFFFF), "-1", false}, {Bytes{1, 0, 0, 0, 0}, "0", true}};
  for (const auto& c : cases) {
    EXPECT_EQ(CallForItem(kApplyCode, {Wire("C:\\Pictures\\logo.gif"), c.format}), kDone);
    EXPECT_EQ(TakeLog().at(2), kApply + "Image format (gif = 0, jpg = 1): " + c.logged);
    EXPECT_EQ(Read(c.gif ? kEspGif : kEspJpg), "image") << c.logged;
    EXPECT_EQ(Read(c.gif ? kEspJpg : kEspGif), std::nullopt) << c.logged;
    EXPECT_EQ(Read(c.gif ? kStagedJpg : kStagedGif), std::nullopt) << c.logged;
  }
}

TEST_F(BootLogoTest, MalformedApplyRequestsAnswerMinusOneAndTouchNoFile) {
  Boot("vexor-default.profile");
  Put(kStagedGif, "kept");
  Put(kEspGif, "kept");
  // A path whose last unit is not a NUL (and an odd byte after it).
  Bytes unterminated = Wire("C:\\x.gif");
  unterminated.resize(unterminated.size() - 2);
  unterminated.push_back(0);
  for (const std::vector<Bytes>& arguments :
       {std::vector<Bytes>{}, {Wire("C:\\x.gif")}, {unterminated, U32(0)}}) {
    EXPECT_EQ(CallForItem(kApplyCode, arguments), kFailed);
    EXPECT_EQ(TakeLog(), (Lines{kApply + "kSvcCmdApplyBIOSLogo", kApply + "Rsponse errcode: -1"}));
  }
  EXPECT_EQ(Read(kStagedGif), "kept");
  EXPECT_EQ(Read(kEspGif), "kept");
}

TEST_F(BootLogoTest, FetchBackPrefersTheGifThenTheJpegThenNothing) {
  Boot("vexor-default.profile");
  Put(kEspGif, "partition gif");
  Put(kEspJpg, "partition jpg");
  Put(kStagedJpg, "stale");

  EXPECT_EQ(Fetch(), kDone);
  EXPECT_EQ(Read(kStagedGif), "partition gif");
  EXPECT_EQ(Read(kStagedJpg), std::nullopt);
  EXPECT_EQ(Read(kEspJpg), "partition jpg") << "the partition is only read";
  EXPECT_EQ(TakeLog(), (Lines{kFetch + "kSvcCmdGetBIOSLogo", kFetch + "get_bios_logo() - start",
                              kFetch + "Delete CorlanLogo.jpg on BIOSLogo folder",
                              kFetch + "CorlanLogo.gif copy GetLastError: 0",
                              kFetch + "get_bios_logo() - end", kFetch + "Rsponse errcode: 1"}));

  fs::remove(At(kEspGif));
  EXPECT_EQ(Fetch(), kDone);
  EXPECT_EQ(Read(kStagedGif), std::nullopt);
  EXPECT_EQ(Read(kStagedJpg), "partition jpg");
  const Lines jpg = TakeLog();
  EXPECT_EQ(Lines(jpg.begin() + 2, jpg.end() - 2),
            (Lines{kFetch + "Delete CorlanLogo.gif on BIOSLogo folder",
                   kFetch + "CorlanLogo.jpg copy GetLastError: 0"}));

  fs::remove(At(kEspJpg));
  EXPECT_EQ(Fetch(), kDone);
  EXPECT_EQ(Read(kStagedJpg), std::nullopt);
  EXPECT_EQ(TakeLog().size(), 5u) << "no copy line";
}

TEST_F(BootLogoTest, RestoreRemovesEveryLogoAndSucceedsWithNothingToRemove) {
  Boot("vexor-default.profile");
  const std::string r = ProcessorLine("restore_bios_logo");
  const std::string d = ProcessorLine("del_bios_logo");
  for (const char* file : {kStagedGif, kStagedJpg, kEspGif, kEspJpg}) Put(file, "x");
  EXPECT_EQ(Restore(), kDone);
  for (const char* file : {kStagedGif, kStagedJpg, kEspGif, kEspJpg})
    EXPECT_EQ(Read(file), std::nullopt) << file;
  EXPECT_EQ(TakeLog(), (Lines{r + "kSvcCmdRestoreBIOSLogo", d + "del_bios_logo() - start",
                              d + "Delete CorlanLogo.gif on BIOSLogo folder",
                              d + "Delete CorlanLogo.jpg on BIOSLogo folder",
                              d + "del_bios_logo() - end", r + "Rsponse errcode: 1"}));
  EXPECT_EQ(Restore(), kDone);
  EXPECT_EQ(TakeLog().size(), 4u) << "no delete lines";
}

TEST_F(BootLogoTest, LogoVolumeIsTheFirstEspVolumeAsWmiNamesItOrElseTheCurrentDrive) {
  BootWith(sim::ParseMachineProfile("[volume]\nname = C:\\\nlabel = Windows\n"
                                    "[volume]\nname = \\\\?\\Volume{1234}\\\nlabel = esp\n"
                                    "[volume]\nname = S:\\\nlabel = ESP\n", "esp.profile"));
  std::string volume = "stale";
  EXPECT_EQ(IbClientCommandProcessor::GetLogoVolume(&volume), 1);
  EXPECT_EQ(volume, "\\\\?\\Volume{1234}\\") << "WQL compares the label without case";
  EXPECT_EQ(wmi_->ComInitializations(), 0) << "the connection is released";

  // Without an ESP volume the partition is \EFI\OEM on the current drive.
  Boot("bare.profile");
  volume = "stale";
  EXPECT_EQ(IbClientCommandProcessor::GetLogoVolume(&volume), 1);
  EXPECT_EQ(volume, "");

  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 0);
  EXPECT_EQ(TakeLog(), (Lines{kCheck + "check_BIOS_Logo_Folder_exist() - start",
                              kCheck + "Customize POST Dir no exist",
                              kCheck + "check_BIOS_Logo_Folder_exist() - end"}));

  // The copy to the missing folder fails and is only logged; the command still succeeds.
  Put("C/Pictures/logo.gif", "gif");
  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kDone);
  EXPECT_EQ(TakeLog().at(4), kCopy + "CorlanLogo.gif copy GetLastError: 3");
  EXPECT_FALSE(fs::exists(At("C/EFI"))) << "the partition folder is never created";

  fs::create_directories(At("C/EFI/OEM"));
  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 1);
  EXPECT_EQ(TakeLog().at(1), kCheck + "Customize POST Dir exist");
  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kDone);
  EXPECT_EQ(Read("C/EFI/OEM/CorlanLogo.gif"), "gif");
}

TEST_F(BootLogoTest, WmiFailureFailsEveryLogoOperationAfterStaging) {  // no Boot: no WMI service
  Put("C/Pictures/logo.gif", "new");
  Put(kEspGif, "on the partition");

  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kFailed);
  EXPECT_EQ(Read(kStagedGif), "new") << "the staged copy is refreshed before the lookup";
  EXPECT_EQ(Read(kEspGif), "on the partition");
  const Lines log = TakeLog();
  EXPECT_EQ(Lines(log.begin() + 3, log.end()),
            (Lines{kCopy + "copy_bios_logo() - start", kCopy + "GetLogoVolume fail!",
                   kApply + "Rsponse errcode: -1"}));

  EXPECT_EQ(Restore(), kFailed);
  EXPECT_EQ(Fetch(), kFailed);
  EXPECT_EQ(Read(kStagedGif), "new") << "nothing is removed without the partition";
  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 0);
  EXPECT_EQ(IbClientCommandProcessor::GetDeviceResolution(), 0);
  const Lines rest = TakeLog();
  EXPECT_EQ(std::count_if(rest.begin(), rest.end(),
                          [](const std::string& l) { return l.ends_with("| GetLogoVolume fail!"); }),
            3);
  EXPECT_EQ(rest.back(), kResolution + "GetDeviceResolution() - start");
}

TEST_F(BootLogoTest, DeviceResolutionPublishesTheLargestModeWidthFirst) {
  // The widest mode, the tallest of those: not a taller but narrower one, nor an equally wide
  // but lower one before or after it (delivered as VT_UI4 this time). Headless: no mode at all.
  for (const char* modes : {"[firmware]\ninteger_outputs = typed\n"
                            "[video_mode]\nhorizontal = 2560\nvertical = 1440\n"
                            "[video_mode]\nhorizontal = 2560\nvertical = 1600\n"
                            "[video_mode]\nhorizontal = 1200\nvertical = 4000\n"
                            "[video_mode]\nhorizontal = 2560\nvertical = 1440\n",
                            ""}) {
    BootWith(sim::ParseMachineProfile(modes, "modes.profile"));
    EXPECT_EQ(IbClientCommandProcessor::GetDeviceResolution(), 1);
    Lines expected = {kResolution + "GetDeviceResolution() - start"};
    if (*modes) expected.push_back(kResolution + "2560,1600");
    expected.push_back(kResolution + "GetDeviceResolution() - successed");
    EXPECT_EQ(TakeLog(), expected);
    EXPECT_EQ(wmi_->ComInitializations(), 0);
  }
}

}  // namespace
