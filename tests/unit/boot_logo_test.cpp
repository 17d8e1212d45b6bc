// The boot-logo commands and the survey's folder and resolution helpers against the simulated
// notebook's WMI, a real file tree, a real registry database and a real log file; and the
// profile's volume folders that the Linux build creates at start.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "log/log_file.h"
#include "pipe/command_processor.h"
#include "pipe/protocol.h"
#include "platform/posix/file_system.h"
#include "platform/posix/host_services.h"
#include "platform/posix/sqlite_registry.h"
#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/sim_wmi.h"
#include "sim/simulated_notebook.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using ironbark::CommandHandler;
using ironbark::IbClientCommandProcessor;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const std::string kMachinesDir =
    (fs::path(__FILE__).parent_path() / ".." / ".." / "machines").lexically_normal().string();
constexpr const char* kLogPath = "C:\\Log\\logo.log";

// Where the broker's Windows paths land below the test's root.
constexpr const char* kStagedGif = "C/ProgramData/OEM/Calvane/BIOSLogo/CorlanLogo.gif";
constexpr const char* kStagedJpg = "C/ProgramData/OEM/Calvane/BIOSLogo/CorlanLogo.jpg";
constexpr const char* kEspGif = "S/EFI/OEM/CorlanLogo.gif";
constexpr const char* kEspJpg = "S/EFI/OEM/CorlanLogo.jpg";

const Bytes kDone = {0x01, 0x00, 0x00, 0x00};
const Bytes kFailed = {0xFF, 0xFF, 0xFF, 0xFF};

Bytes U32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Path(const std::string& windows_path) { return text::ToWireText(windows_path); }

// "[INFO] ironbark::IbClientCommandProcessor::<operation> | " for the expected log lines.
std::string In(const std::string& operation) {
  return "[INFO] ironbark::IbClientCommandProcessor::" + operation + " | ";
}

class BootLogoTest : public ::testing::Test {
 protected:
  void TearDown() override {
    DetachLogFile();
    platform::InstallServices(nullptr);
  }

  void Boot(const std::string& profile_file) {
    BootWith(sim::LoadMachineProfile(kMachinesDir + "/" + profile_file));
  }
  void BootWith(sim::MachineProfile profile) {
    provider_ = std::make_unique<sim::SimWmiProvider>(
        std::make_shared<sim::SimulatedNotebook>(std::move(profile)));
    services_.wmi = provider_.get();
    Start();
  }
  // No WMI provider: every connection fails.
  void BootWithoutWmi() {
    services_.wmi = nullptr;
    Start();
  }
  void Start() {
    platform::InstallServices(&services_);
    ASSERT_TRUE(files_.MakeSureDirectoryPathExists(kLogPath));
    // The product's folder, as its installation (or the log) leaves it; the broker itself
    // creates only "Calvane" and "BIOSLogo" below it, one level each.
    fs::create_directories(At("C/ProgramData/OEM"));
    g_LogFile.store(&log_);
  }

  std::string At(const std::string& relative) const { return drive_.path() + "/" + relative; }
  void Put(const std::string& relative, const std::string& content) {
    fs::create_directories(fs::path(At(relative)).parent_path());
    std::ofstream(At(relative), std::ios::binary) << content;
  }
  // The file's contents; nullopt when it does not exist.
  std::optional<std::string> Read(const std::string& relative) const {
    if (!fs::is_regular_file(At(relative))) return std::nullopt;
    std::stringstream content;
    content << std::ifstream(At(relative), std::ios::binary).rdbuf();
    return content.str();
  }

  Bytes Call(CommandHandler handler, const std::vector<Bytes>& arguments) {
    const Bytes message = pipeproto::EncodeRequest(36, arguments);
    std::optional<pipeproto::CommandRequest> request;
    EXPECT_EQ(pipeproto::ParseRequest(message.data(), static_cast<uint32_t>(message.size()),
                                      &request),
              pipeproto::ParseStatus::kOk);
    pipeproto::CommandResponse response;
    handler(*request, response);
    EXPECT_TRUE(response.present);
    std::vector<Bytes> items;
    EXPECT_TRUE(pipeproto::ParseResponse(response.bytes.data(), response.bytes.size(), &items));
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? Bytes{} : items[0];
  }
  Bytes Apply(const std::string& image, uint32_t format) {
    return Call(&IbClientCommandProcessor::apply_bios_logo, {Path(image), U32(format)});
  }
  Bytes Restore() { return Call(&IbClientCommandProcessor::restore_bios_logo, {}); }
  Bytes Fetch() {
    return Call(static_cast<CommandHandler>(&IbClientCommandProcessor::get_bios_logo), {});
  }

  // "[TAG] function | message" of every log line since the last call.
  Lines TakeLog() {
    std::stringstream content;
    content << std::ifstream(At("C/Log/logo.log"), std::ios::binary).rdbuf();
    const std::string all = content.str();
    Lines lines;
    for (size_t start = consumed_, end; (end = all.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      const std::string line = all.substr(start, end - start);
      lines.push_back(line.substr(0, line.find(' ')) + " " +
                      line.substr(line.find(" | Quellmark | ") + 15));
      consumed_ = end + 2;
    }
    return lines;
  }

  std::optional<std::string> ResolutionValue() {
    char16_t buffer[64] = {};
    uint32_t size = sizeof buffer;
    uint32_t type = 0;
    if (registry_.GetValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane", "Resolution",
                           win::kRrfRtAny, &type, buffer, &size) != 0) {
      return std::nullopt;
    }
    EXPECT_EQ(type, win::kRegSz);
    return text::Utf16ToUtf8(std::u16string(buffer));
  }

  testsupport::TempDir drive_;
  testsupport::TempDir registry_dir_;
  platform::posix::SqliteRegistry registry_{registry_dir_.path() + "/registry.db"};
  platform::posix::PosixFileSystem files_{drive_.path()};
  platform::Services services_{.registry = &registry_, .files = &files_};
  LogFile log_{"Quellmark", kLogPath};
  std::unique_ptr<sim::SimWmiProvider> provider_;
  size_t consumed_ = 0;
};

TEST_F(BootLogoTest, ApplyingAGifAfterAJpegLeavesOnlyTheGifInBothPlaces) {
  Boot("vexor-default.profile");
  fs::create_directories(At("S/EFI/OEM"));
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
  const std::string a = In("apply_bios_logo");
  const std::string c = In("copy_bios_logo");
  EXPECT_EQ(TakeLog(), (Lines{
                           a + "kSvcCmdApplyBIOSLogo",
                           a + "File path: C:\\Pictures\\b.gif",
                           a + "Image format (gif = 0, jpg = 1): 0",
                           a + "Delete CorlanLogo.jpg on BIOSLogo folder",
                           c + "copy_bios_logo() - start",
                           c + "Delete CorlanLogo.jpg on \\EFI\\OEM",
                           c + "CorlanLogo.gif copy GetLastError: 0",
                           c + "copy_bios_logo() - end",
                           a + "Rsponse errcode: 1",
                       }));

  // The same image again: the GIF is deleted in both places first, then written anew.
  Put("C/Pictures/b.gif", "GIF89a-three");
  EXPECT_EQ(Apply("C:\\Pictures\\b.gif", 0), kDone);
  EXPECT_EQ(Read(kEspGif), "GIF89a-three");
  const Lines again = TakeLog();
  ASSERT_EQ(again.size(), 9u);
  EXPECT_EQ(again[3], a + "Delete CorlanLogo.gif on BIOSLogo folder");
  EXPECT_EQ(again[5], c + "Delete CorlanLogo.gif on \\EFI\\OEM");
}

TEST_F(BootLogoTest, EveryFormatButZeroIsStoredAsJpegAndAWideFormatCountsAsZero) {
  Boot("vexor-default.profile");
  fs::create_directories(At("S/EFI/OEM"));
  Put("C/Pictures/logo.gif", "image");

  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 7), kDone);
  EXPECT_EQ(Read(kStagedJpg), "image");
  EXPECT_EQ(Read(kEspJpg), "image");
  EXPECT_EQ(Read(kStagedGif), std::nullopt);
  EXPECT_EQ(Read(kEspGif), std::nullopt);
  const Lines seven = TakeLog();
  ASSERT_EQ(seven.size(), 7u);
  EXPECT_EQ(seven[2], In("apply_bios_logo") + "Image format (gif = 0, jpg = 1): 7");
  EXPECT_EQ(seven[4], In("copy_bios_logo") + "CorlanLogo.jpg copy GetLastError: 0");

  // The format is logged signed; 0xFFFFFFFF is a JPEG too.
  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0xFFFFFFFFu), kDone);
  EXPECT_EQ(TakeLog()[2], In("apply_bios_logo") + "Image format (gif = 0, jpg = 1): -1");
  EXPECT_EQ(Read(kEspJpg), "image");

  // An 8-byte format argument holding 1 counts as 0: a GIF.
  EXPECT_EQ(Call(&IbClientCommandProcessor::apply_bios_logo,
                 {Path("C:\\Pictures\\logo.gif"), Bytes{1, 0, 0, 0, 0, 0, 0, 0}}),
            kDone);
  EXPECT_EQ(Read(kEspGif), "image");
  EXPECT_EQ(Read(kEspJpg), std::nullopt);
  EXPECT_EQ(Read(kStagedJpg), std::nullopt);
}

TEST_F(BootLogoTest, AMissingSourceRemovesTheOldLogosAndFails) {
  Boot("vexor-default.profile");
  fs::create_directories(At("S/EFI/OEM"));
  Put("C/Pictures/logo.gif", "old");
  ASSERT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kDone);
  TakeLog();

  EXPECT_EQ(Apply("C:\\Pictures\\missing.gif", 0), kFailed);
  EXPECT_EQ(Read(kStagedGif), std::nullopt);
  EXPECT_EQ(Read(kEspGif), std::nullopt);
  const std::string a = In("apply_bios_logo");
  const std::string c = In("copy_bios_logo");
  EXPECT_EQ(TakeLog(), (Lines{
                           a + "kSvcCmdApplyBIOSLogo",
                           a + "File path: C:\\Pictures\\missing.gif",
                           a + "Image format (gif = 0, jpg = 1): 0",
                           a + "Delete CorlanLogo.gif on BIOSLogo folder",
                           c + "copy_bios_logo() - start",
                           c + "Delete CorlanLogo.gif on \\EFI\\OEM",
                           c + "CorlanLogo.gif no exist",
                           a + "Rsponse errcode: -1",
                       }));

  Put(kEspJpg, "left on the partition");
  EXPECT_EQ(Apply("C:\\Pictures\\missing.jpg", 1), kFailed);
  EXPECT_EQ(Read(kEspJpg), std::nullopt);
  const Lines jpg = TakeLog();
  ASSERT_EQ(jpg.size(), 7u);
  EXPECT_EQ(jpg[4], c + "Delete CorlanLogo.jpg on \\EFI\\OEM");
  EXPECT_EQ(jpg[5], c + "CorlanLogo.jpg no exist");
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
  const std::string g = In("get_bios_logo");
  EXPECT_EQ(TakeLog(), (Lines{
                           g + "kSvcCmdGetBIOSLogo",
                           g + "get_bios_logo() - start",
                           g + "Delete CorlanLogo.jpg on BIOSLogo folder",
                           g + "CorlanLogo.gif copy GetLastError: 0",
                           g + "get_bios_logo() - end",
                           g + "Rsponse errcode: 1",
                       }));

  fs::remove(At(kEspGif));
  EXPECT_EQ(Fetch(), kDone);
  EXPECT_EQ(Read(kStagedGif), std::nullopt);
  EXPECT_EQ(Read(kStagedJpg), "partition jpg");
  const Lines jpg = TakeLog();
  ASSERT_EQ(jpg.size(), 6u);
  EXPECT_EQ(jpg[2], g + "Delete CorlanLogo.gif on BIOSLogo folder");
  EXPECT_EQ(jpg[3], g + "CorlanLogo.jpg copy GetLastError: 0");

  fs::remove(At(kEspJpg));
  EXPECT_EQ(Fetch(), kDone);
  EXPECT_EQ(Read(kStagedJpg), std::nullopt);
  EXPECT_EQ(TakeLog(), (Lines{
                           g + "kSvcCmdGetBIOSLogo",
                           g + "get_bios_logo() - start",
                           g + "Delete CorlanLogo.jpg on BIOSLogo folder",
                           g + "get_bios_logo() - end",
                           g + "Rsponse errcode: 1",
                       }));
}

TEST_F(BootLogoTest, StagingFoldersAreMadeOneLevelEach) {
  Boot("vexor-default.profile");
  Put(kEspGif, "gif");
  // Without "C:\ProgramData\oem\Calvane" the staging folder cannot be made; the copy fails
  // (path not found), which is only logged.
  EXPECT_EQ(Fetch(), kDone);
  EXPECT_FALSE(fs::exists(At("C/ProgramData/OEM/Calvane")));
  EXPECT_EQ(TakeLog()[2], In("get_bios_logo") + "CorlanLogo.gif copy GetLastError: 3");

  fs::create_directories(At("C/ProgramData/OEM/calvane"));
  EXPECT_EQ(Fetch(), kDone);
  EXPECT_EQ(Read("C/ProgramData/OEM/calvane/BIOSLogo/CorlanLogo.gif"), "gif")
      << "the existing folder is found whatever its case";
  EXPECT_EQ(TakeLog()[2], In("get_bios_logo") + "CorlanLogo.gif copy GetLastError: 0");

  // apply makes "Calvane" and "BIOSLogo" but not the installation's "C:\ProgramData\OEM":
  // without it nothing is staged and the partition gets nothing.
  Put("C/Pictures/logo.gif", "new");
  fs::remove_all(At("C/ProgramData/OEM"));
  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kFailed);
  EXPECT_FALSE(fs::exists(At("C/ProgramData/oem")));
  EXPECT_EQ(Read(kEspGif), std::nullopt);
  fs::create_directories(At("C/ProgramData/oem"));
  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kDone);
  EXPECT_EQ(Read("C/ProgramData/oem/Calvane/BIOSLogo/CorlanLogo.gif"), "new");
  EXPECT_EQ(Read(kEspGif), "new");
}

TEST_F(BootLogoTest, RestoreRemovesEveryLogoAndSucceedsWithNothingToRemove) {
  Boot("vexor-default.profile");
  const std::string r = In("restore_bios_logo");
  const std::string d = In("del_bios_logo");
  EXPECT_EQ(Restore(), kDone);
  EXPECT_EQ(TakeLog(), (Lines{
                           r + "kSvcCmdRestoreBIOSLogo",
                           d + "del_bios_logo() - start",
                           d + "del_bios_logo() - end",
                           r + "Rsponse errcode: 1",
                       }));

  for (const char* file : {kStagedGif, kStagedJpg, kEspGif, kEspJpg}) Put(file, "x");
  EXPECT_EQ(Restore(), kDone);
  for (const char* file : {kStagedGif, kStagedJpg, kEspGif, kEspJpg}) {
    EXPECT_EQ(Read(file), std::nullopt) << file;
  }
  EXPECT_TRUE(fs::is_directory(At("S/EFI/OEM"))) << "folders stay";
  EXPECT_EQ(TakeLog(), (Lines{
                           r + "kSvcCmdRestoreBIOSLogo",
                           d + "del_bios_logo() - start",
                           d + "Delete CorlanLogo.gif on BIOSLogo folder",
                           d + "Delete CorlanLogo.jpg on BIOSLogo folder",
                           d + "del_bios_logo() - end",
                           r + "Rsponse errcode: 1",
                       }));
}

TEST_F(BootLogoTest, LogoVolumeIsTheFirstEspVolumeNameAsWmiReportsIt) {
  BootWith(sim::ParseMachineProfile("[volume]\nname = C:\\\nlabel = Windows\n"
                                    "[volume]\nname = \\\\?\\Volume{1234}\\\nlabel = esp\n"
                                    "[volume]\nname = S:\\\nlabel = ESP\n",
                                    "esp.profile"));
  std::string volume = "stale";
  EXPECT_EQ(IbClientCommandProcessor::GetLogoVolume(&volume), 1);
  EXPECT_EQ(volume, "\\\\?\\Volume{1234}\\") << "WQL compares the label without case";
  EXPECT_EQ(provider_->ComInitializations(), 0) << "the connection is released";
}

TEST_F(BootLogoTest, WithoutAnEspVolumeThePartitionIsEfiOemOnTheCurrentDrive) {
  Boot("bare.profile");
  std::string volume = "stale";
  EXPECT_EQ(IbClientCommandProcessor::GetLogoVolume(&volume), 1);
  EXPECT_EQ(volume, "");

  const std::string k = In("check_BIOS_Logo_Folder_exist");
  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 0);
  EXPECT_EQ(TakeLog(), (Lines{
                           k + "check_BIOS_Logo_Folder_exist() - start",
                           k + "Customize POST Dir no exist",
                           k + "check_BIOS_Logo_Folder_exist() - end",
                       }));

  // The copy to the missing folder fails and is only logged; the command still succeeds.
  Put("C/Pictures/logo.gif", "gif");
  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kDone);
  EXPECT_EQ(TakeLog()[4], In("copy_bios_logo") + "CorlanLogo.gif copy GetLastError: 3");
  EXPECT_FALSE(fs::exists(At("C/EFI"))) << "the partition folder is never created";

  fs::create_directories(At("C/EFI/OEM"));
  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 1);
  EXPECT_EQ(TakeLog()[1], k + "Customize POST Dir exist");
  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kDone);
  EXPECT_EQ(Read("C/EFI/OEM/CorlanLogo.gif"), "gif");
}

TEST_F(BootLogoTest, FolderCheckWantsADirectoryOnTheEspVolume) {
  Boot("vexor-default.profile");
  const std::string k = In("check_BIOS_Logo_Folder_exist");
  fs::create_directories(At("C/EFI/OEM"));  // the current drive's folder does not count
  Put("S/EFI/OEM", "a file, not a folder");
  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 0);
  EXPECT_EQ(TakeLog()[1], k + "Customize POST Dir no exist");

  fs::remove_all(At("S"));
  fs::create_directories(At("S/efi/oem"));
  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 1);
  EXPECT_EQ(TakeLog()[1], k + "Customize POST Dir exist");
}

TEST_F(BootLogoTest, WmiFailureFailsEveryLogoOperationAfterStaging) {
  BootWithoutWmi();
  fs::create_directories(At("S/EFI/OEM"));
  Put("C/Pictures/logo.gif", "new");
  Put(kEspGif, "on the partition");

  EXPECT_EQ(Apply("C:\\Pictures\\logo.gif", 0), kFailed);
  EXPECT_EQ(Read(kStagedGif), "new") << "the staged copy is refreshed before the lookup";
  EXPECT_EQ(Read(kEspGif), "on the partition");
  const std::string a = In("apply_bios_logo");
  const std::string c = In("copy_bios_logo");
  EXPECT_EQ(TakeLog(), (Lines{
                           a + "kSvcCmdApplyBIOSLogo",
                           a + "File path: C:\\Pictures\\logo.gif",
                           a + "Image format (gif = 0, jpg = 1): 0",
                           c + "copy_bios_logo() - start",
                           c + "GetLogoVolume fail!",
                           a + "Rsponse errcode: -1",
                       }));

  EXPECT_EQ(Restore(), kFailed);
  EXPECT_EQ(Read(kStagedGif), "new") << "nothing is removed without the partition";
  EXPECT_EQ(TakeLog(), (Lines{
                           In("restore_bios_logo") + "kSvcCmdRestoreBIOSLogo",
                           In("del_bios_logo") + "del_bios_logo() - start",
                           In("del_bios_logo") + "GetLogoVolume fail!",
                           In("restore_bios_logo") + "Rsponse errcode: -1",
                       }));

  EXPECT_EQ(Fetch(), kFailed);
  EXPECT_EQ(Read(kStagedGif), "new");
  EXPECT_EQ(TakeLog()[2], In("get_bios_logo") + "GetLogoVolume fail!");

  const std::string k = In("check_BIOS_Logo_Folder_exist");
  EXPECT_EQ(IbClientCommandProcessor::check_BIOS_Logo_Folder_exist(), 0);
  EXPECT_EQ(TakeLog(), (Lines{k + "check_BIOS_Logo_Folder_exist() - start",
                              k + "GetLogoVolume fail!"}));

  std::string volume = "stale";
  EXPECT_EQ(IbClientCommandProcessor::GetLogoVolume(&volume), 0);
  EXPECT_EQ(volume, "");

  EXPECT_EQ(IbClientCommandProcessor::GetDeviceResolution(), 0);
  EXPECT_EQ(ResolutionValue(), std::nullopt);
  EXPECT_EQ(TakeLog(), (Lines{In("GetDeviceResolution") + "GetDeviceResolution() - start"}));
}

TEST_F(BootLogoTest, MalformedApplyRequestsAnswerMinusOneAndTouchNoFile) {
  Boot("vexor-default.profile");
  Put(kStagedGif, "kept");
  Put(kEspGif, "kept");
  const std::string a = In("apply_bios_logo");
  const Lines refused = {a + "kSvcCmdApplyBIOSLogo", a + "Rsponse errcode: -1"};

  EXPECT_EQ(Call(&IbClientCommandProcessor::apply_bios_logo, {}), kFailed);
  EXPECT_EQ(TakeLog(), refused);
  EXPECT_EQ(Call(&IbClientCommandProcessor::apply_bios_logo, {Path("C:\\x.gif")}), kFailed);
  EXPECT_EQ(TakeLog(), refused);
  // A path whose last unit is not a NUL (and an odd byte after it).
  Bytes unterminated = Path("C:\\x.gif");
  unterminated.resize(unterminated.size() - 2);
  unterminated.push_back(0);
  EXPECT_EQ(Call(&IbClientCommandProcessor::apply_bios_logo, {unterminated, U32(0)}), kFailed);
  EXPECT_EQ(TakeLog(), refused);
  EXPECT_EQ(Read(kStagedGif), "kept");
  EXPECT_EQ(Read(kEspGif), "kept");

  // Extra arguments are ignored.
  Put("C/x.gif", "fresh");
  EXPECT_EQ(Call(&IbClientCommandProcessor::apply_bios_logo, {Path("C:\\x.gif"), U32(0), U32(9)}),
            kDone);
  EXPECT_EQ(Read(kEspGif), "fresh");
}

TEST_F(BootLogoTest, DeviceResolutionPublishesTheLargestModeWidthFirst) {
  Boot("vexor-default.profile");  // 1920x1080, 2560x1440, 2560x1600
  EXPECT_EQ(IbClientCommandProcessor::GetDeviceResolution(), 1);
  EXPECT_EQ(ResolutionValue(), "2560,1600");
  const std::string r = In("GetDeviceResolution");
  EXPECT_EQ(TakeLog(), (Lines{r + "GetDeviceResolution() - start", r + "2560,1600",
                              r + "GetDeviceResolution() - successed"}));
  EXPECT_EQ(provider_->ComInitializations(), 0);
  DetachLogFile();
  platform::InstallServices(nullptr);

  // A taller but narrower mode, and an equally wide but lower one after the best, delivered
  // as VT_UI4 this time.
  BootWith(sim::ParseMachineProfile("[firmware]\ninteger_outputs = typed\n"
                                    "[video_mode]\nhorizontal = 2560\nvertical = 1600\n"
                                    "[video_mode]\nhorizontal = 1200\nvertical = 4000\n"
                                    "[video_mode]\nhorizontal = 2560\nvertical = 1440\n"
                                    "[video_mode]\nhorizontal = 640\nvertical = 480\n",
                                    "modes.profile"));
  ASSERT_EQ(registry_.DeleteKeyValue(win::RegRoot::kLocalMachine, "SOFTWARE\\OEM\\Calvane",
                                     "Resolution"),
            0u);
  EXPECT_EQ(IbClientCommandProcessor::GetDeviceResolution(), 1);
  EXPECT_EQ(ResolutionValue(), "2560,1600");
}

TEST_F(BootLogoTest, DeviceResolutionWithoutModesWritesNothing) {
  BootWith(sim::ParseMachineProfile("[system]\nmodel = Headless\n", "headless.profile"));
  EXPECT_EQ(IbClientCommandProcessor::GetDeviceResolution(), 1);
  EXPECT_EQ(ResolutionValue(), std::nullopt);
  const std::string r = In("GetDeviceResolution");
  EXPECT_EQ(TakeLog(), (Lines{r + "GetDeviceResolution() - start",
                              r + "GetDeviceResolution() - successed"}));
}

TEST(BootLogoProfileTest, VolumeFoldersAreParsedStrictly) {
  const sim::MachineProfile profile = sim::ParseMachineProfile(
      "[volume]\nname = S:\\\nlabel = ESP\nfolders = \\EFI\\OEM , \\EFI\\Boot\n"
      "[volume]\nname = C:\\\n",
      "folders.profile");
  ASSERT_EQ(profile.volumes.size(), 2u);
  EXPECT_EQ(profile.volumes[0].folders, (std::vector<std::string>{"\\EFI\\OEM", "\\EFI\\Boot"}));
  EXPECT_TRUE(profile.volumes[1].folders.empty());

  const auto parse = [](const std::string& folders) {
    return sim::ParseMachineProfile("[volume]\nname = S:\\\nfolders = " + folders + "\n",
                                    "bad.profile");
  };
  EXPECT_TRUE(parse("").volumes[0].folders.empty());
  for (const char* bad : {"EFI\\OEM", "\\EFI, ", "\\EFI,,\\OEM"}) {
    try {
      parse(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const sim::ProfileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("bad.profile:3: folder", 0), 0u) << e.what();
    }
  }
}

TEST(BootLogoProfileTest, TheLinuxBuildCreatesTheVolumeFoldersAtStart) {
  testsupport::TempDir root;
  {
    platform::posix::HostServices host(root.path() + "/default",
                                       kMachinesDir + "/vexor-default.profile");
    EXPECT_TRUE(fs::is_directory(root.path() + "/default/S/EFI/OEM"));
    // The broker's own spelling of the folder, the volume name as WMI reports it, finds it.
    EXPECT_EQ(host.services().files->GetFileAttributesW("S:\\\\EFI\\OEM"),
              win::kFileAttributeDirectory);
  }
  {
    // An existing folder of another case is used, and what it holds is kept.
    fs::create_directories(root.path() + "/two/S/efi/Oem");
    { std::ofstream(root.path() + "/two/S/efi/Oem/CorlanLogo.gif") << "kept"; }
    platform::posix::HostServices host(root.path() + "/two", kMachinesDir + "/two-adaptor.profile");
    EXPECT_TRUE(fs::exists(root.path() + "/two/S/efi/Oem/CorlanLogo.gif"));
    EXPECT_FALSE(fs::exists(root.path() + "/two/S/EFI"));
  }
  {
    platform::posix::HostServices host(root.path() + "/bare", kMachinesDir + "/bare.profile");
    EXPECT_FALSE(fs::exists(root.path() + "/bare/S"));
    EXPECT_FALSE(fs::exists(root.path() + "/bare/C/EFI"));
  }
}

}  // namespace
