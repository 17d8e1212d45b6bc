// The start-up capability survey against simulated notebooks, a real registry database (behind
// a recorder that keeps the order of the writes) and a real log file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "firmware/wmi_access.h"
#include "log/log_file.h"
#include "pipe/command_processor.h"
#include "platform/posix/device_setup.h"
#include "platform/posix/file_system.h"
#include "platform/posix/sqlite_registry.h"
#include "platform/services.h"
#include "sim/machine_profile.h"
#include "sim/sim_wmi.h"
#include "sim/simulated_notebook.h"
#include "support/temp_dir.h"
#include "survey/capability_survey.h"
#include "survey/registry_values.h"

namespace {

using ironbark::IbClientCommandProcessor;
using Lines = std::vector<std::string>;

constexpr const char* kLogPath = "C:\\Log\\survey.log";
constexpr const char* kK = "SOFTWARE\\OEM\\Calvane";
constexpr const char* kPrefix = "ironbark::IbClientCommandProcessor::";

// The survey's keys by their short names; any other key is shown in full.
std::string ShortKey(std::string_view key) {
  static const std::map<std::string, std::string> kNames = {
      {"SOFTWARE\\OEM\\Calvane", "K"},
      {"SOFTWARE\\OEM\\Calvane\\LightSetting", "KL"},
      {"SOFTWARE\\OEM\\Calvane\\AdvanceSettings", "KA"},
      {"SOFTWARE\\OEM\\Calvane\\Overclock", "KO"},
  };
  const auto it = kNames.find(std::string(key));
  return it == kNames.end() ? std::string(key) : it->second;
}

std::string D(const char* key, const char* name, uint32_t value) {
  return std::string(key) + " " + name + " = " + std::to_string(value);
}
std::string S(const char* key, const char* name, const std::string& value) {
  return std::string(key) + " " + name + " = \"" + value + "\"";
}

// The real SQLite registry, with every stored value also noted in order ("K name = 1",
// "K name = \"text\"").
class RecordingRegistry : public platform::Registry {
 public:
  explicit RecordingRegistry(std::string path) : inner_(std::move(path)) {}

  uint32_t OpenKey(win::RegRoot root, std::string_view subkey, uint32_t access) override {
    return inner_.OpenKey(root, subkey, access);
  }
  uint32_t CreateKey(win::RegRoot root, std::string_view subkey, uint32_t access) override {
    return inner_.CreateKey(root, subkey, access);
  }
  uint32_t DeleteTree(win::RegRoot root, std::string_view subkey) override {
    return inner_.DeleteTree(root, subkey);
  }
  uint32_t SetKeyValue(win::RegRoot root, std::string_view subkey, std::string_view name,
                       uint32_t type, const void* data, uint32_t size) override {
    const uint32_t result = inner_.SetKeyValue(root, subkey, name, type, data, size);
    std::string shown = ShortKey(subkey) + " " + std::string(name) + " = ";
    if (type == win::kRegDword && size == 4) {
      uint32_t value = 0;
      std::memcpy(&value, data, 4);
      shown += std::to_string(value);
    } else if (type == win::kRegSz) {
      shown += "\"" + text::FromWireText(static_cast<const uint8_t*>(data), size) + "\"";
    } else {
      shown += "type " + std::to_string(type);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back(shown);
    return result;
  }
  uint32_t DeleteKeyValue(win::RegRoot root, std::string_view subkey,
                          std::string_view name) override {
    return inner_.DeleteKeyValue(root, subkey, name);
  }
  uint32_t GetValue(win::RegRoot root, std::string_view subkey, std::string_view name,
                    uint32_t flags, uint32_t* type, void* data, uint32_t* size) override {
    return inner_.GetValue(root, subkey, name, flags, type, data, size);
  }
  uint32_t EnumSubkeys(win::RegRoot root, std::string_view subkey,
                       std::vector<std::string>* names) override {
    return inner_.EnumSubkeys(root, subkey, names);
  }
  uint32_t EnumValues(win::RegRoot root, std::string_view subkey,
                      std::vector<platform::RegValueInfo>* values) override {
    return inner_.EnumValues(root, subkey, values);
  }

  Lines TakeWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(writes_, {});
  }

 private:
  platform::posix::SqliteRegistry inner_;
  std::mutex mutex_;
  Lines writes_;
};

class SurveyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wmi_set_sleep_for_testing([](int) {});
    survey_set_sleep_for_testing([this](int ms) { sleeps_.push_back(ms); });
    // The registry is there before the machine boots, for values an earlier start left.
    platform::InstallServices(&services_);
  }
  void TearDown() override {
    DetachLogFile();
    platform::InstallServices(nullptr);
    wmi_set_sleep_for_testing({});
    survey_set_sleep_for_testing({});
  }

  // Builds the notebook of `profile_text` (adjusted by `adjust` where the text format cannot
  // say it), seeds the drivers' class keys as the Linux build does, and installs everything.
  void Boot(const std::string& profile_text,
            const std::function<void(sim::MachineProfile&)>& adjust = {}) {
    sim::MachineProfile profile = sim::ParseMachineProfile(profile_text, "test.profile");
    if (adjust) adjust(profile);
    devices_ = std::make_unique<platform::posix::SimulatedDeviceSetup>(profile.drivers);
    ASSERT_EQ(platform::posix::SeedDriverRegistry(registry_, profile.drivers), 0u);
    notebook_ = std::make_shared<sim::SimulatedNotebook>(std::move(profile));
    provider_ = std::make_unique<sim::SimWmiProvider>(notebook_);
    services_.wmi = provider_.get();
    services_.device_setup = devices_.get();
    platform::InstallServices(&services_);
    ASSERT_TRUE(files_.MakeSureDirectoryPathExists(kLogPath));
    g_LogFile.store(&log_);
    registry_.TakeWrites();
  }

  // The boot-logo folder on the ESP volume "S:\".
  void MakeLogoFolder() { std::filesystem::create_directories(drive_.path() + "/S/EFI/OEM"); }

  // "TAG function | message" of every log line since the last call, the class prefix dropped.
  Lines TakeLog() {
    std::stringstream content;
    content << std::ifstream(drive_.path() + "/C/Log/survey.log", std::ios::binary).rdbuf();
    const std::string all = content.str();
    Lines lines;
    for (size_t start = consumed_, end; (end = all.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      const std::string line = all.substr(start, end - start);
      std::string rest = line.substr(line.find(" | Quellmark | ") + 15);
      if (rest.rfind(kPrefix, 0) == 0) rest = rest.substr(std::string(kPrefix).size());
      lines.push_back(line.substr(0, line.find(' ')) + " " + rest);
      consumed_ = end + 2;
    }
    return lines;
  }

  // The lines of the named functions only, in order.
  static Lines Only(const Lines& lines, const std::vector<std::string_view>& functions) {
    Lines kept;
    for (const std::string& line : lines) {
      const std::string function = line.substr(line.find(' ') + 1, line.find(" | ") - line.find(' ') - 1);
      if (std::find(functions.begin(), functions.end(), function) != functions.end())
        kept.push_back(line);
    }
    return kept;
  }

  std::optional<std::string> Text(const char* key, const char* name) {
    uint8_t data[1024];
    uint32_t size = sizeof data;
    if (registry_.GetValue(win::RegRoot::kLocalMachine, key, name, win::kRrfRtRegSz, nullptr,
                           data, &size) != 0)
      return std::nullopt;
    return text::FromWireText(data, size);
  }

  testsupport::TempDir drive_;
  testsupport::TempDir registry_dir_;
  RecordingRegistry registry_{registry_dir_.path() + "/registry.db"};
  platform::posix::PosixFileSystem files_{drive_.path()};
  platform::Services services_{.registry = &registry_, .files = &files_};
  LogFile log_{"Quellmark", kLogPath};
  std::shared_ptr<sim::SimulatedNotebook> notebook_;
  std::unique_ptr<sim::SimWmiProvider> provider_;
  std::unique_ptr<platform::posix::SimulatedDeviceSetup> devices_;
  std::vector<int> sleeps_;
  size_t consumed_ = 0;
};

// A notebook with every source answering, and values chosen so that each derivation shows.
constexpr const char* kFullMachine = R"(
[system]
model = Zephan G15 Pro
family = Gaming Rovanta Line

[state]
dgpu_setting = 0x02
boot_sound = 0
lcd_overdrive = 5

[volume]
name = S:\
label = ESP

[video_mode]
horizontal = 1920
vertical = 1080

[video_mode]
horizontal = 2560
vertical = 1600

[smbios]
type172 = 23:1, 14:0x0E, 10:1, 15:1, 8:4, 13:1
type170 = 0x80:8, 0x85:8, 0x90:7, 0xA0:8

[driver]
hardware_id = SWD\DRIVERENUM\SWComp_CorlanNBAgentServiceDriver&4&1&0
driver_key = {5c4c3332-344d-483c-8739-259e934c9cc8}\0003
driver_version = 3.0.7.1
)";

TEST_F(SurveyTest, FullMachineWritesEveryValueInOrderWithItsLogLines) {
  Boot(kFullMachine);
  MakeLogoFolder();
  IbClientCommandProcessor::Initialize();

  EXPECT_EQ(registry_.TakeWrites(),
            (Lines{
                S("K", "Model_Name_1st", "Zephan G15 Pro"),
                S("K", "Model_Name_1st_brand", "Zephan"),
                S("K", "Model_Name_1st_brand", "Rovanta"),
                D("K", "Operation_Mode_Support", 1),
                D("K", "BK_Hotkey_Number", 0x85),
                D("K", "AC_Support", 14),
                D("K", "PD_Support", 1),
                D("K", "Two_AC_Support", 1),
                // The keyboard values follow the record: light bar, colour, zones.
                D("K", "Keyboard_Type", 1),
                D("KL", "KeyBoardColor", 1),
                D("KL", "KeyBoardArea", 4),
                D("KA", "LCD_Overdrive_support", 2),
                D("KA", "discrete_gpu_support", 1),
                D("KA", "dgpu_mode_capability", 2),
                D("K", "ESP_Directory_Support", 1),
                D("K", "Customize_POST_Support", 1),
                S("K", "Resolution", "2560,1600"),
                D("K", "boot_sound_switch", 1),
            }));
  EXPECT_TRUE(sleeps_.empty()) << "the first start does not wait";

  const Lines log = TakeLog();
  EXPECT_EQ(Only(log, {"get_driver_version_string", "Initialize", "OperationMode_support",
                       "Get_BK_Hotkey_Number", "get_ac_support_from_smbios",
                       "KeyboardType_support", "check_overdrive_LCD_support",
                       "check_Discrete_GPU_support", "get_customize_post_from_smbios",
                       "check_boot_sound_switch_support", "get_support_fan_amount"}),
            (Lines{
                "[INFO] get_driver_version_string | 3.0.7.1",
                "[INFO] OperationMode_support | Support",
                "[INFO] Get_BK_Hotkey_Number | Get_BK_Hotkey_Number: 133",
                "[INFO] get_ac_support_from_smbios | stSMBiosType172.pfunNum1[1]: 0xE",
                "[INFO] get_ac_support_from_smbios | has two ac",
                "[INFO] get_ac_support_from_smbios | has pd",
                "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[0]: 0x1",
                "[INFO] KeyboardType_support | Light Bar around Keyboard is EC contorl",
                "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[2]: 0x1",
                "[INFO] KeyboardType_support | Keyboard Lighting is Single Color",
                "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[4]: 0x4",
                "[INFO] KeyboardType_support | Keyboard Lighting is 4 area",
                "[INFO] check_overdrive_LCD_support | check_overdrive_LCD_support() - start",
                "[INFO] check_overdrive_LCD_support | WMI GetGamingProfileConfigurationFunction input: 0x0",
                "[INFO] check_overdrive_LCD_support | WMI GetGamingProfileConfigurationFunction output: 0x5000000000000",
                "[INFO] check_overdrive_LCD_support | check_overdrive_LCD_support() - end",
                "[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - start",
                "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction input: 0x9",
                "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction output: 0x200",
                "[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - end",
                "[INFO] get_customize_post_from_smbios | True",
                "[INFO] check_boot_sound_switch_support | Entry",
                "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction input: 0x11",
                "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction output: 0x0",
                "[INFO] check_boot_sound_switch_support | Suppoet",
                "[INFO] check_boot_sound_switch_support | Exit",
                "[INFO] get_support_fan_amount | amount_gpu: 0",
            }));

  // The boot-logo checks run at their place: the folder check after the dGPU check and before
  // the SMBIOS read for function 13, the resolution after it and before the boot sound.
  const auto at = [&log](const std::string& text) {
    return std::find_if(log.begin(), log.end(),
                        [&](const std::string& l) { return l.find(text) != std::string::npos; }) -
           log.begin();
  };
  EXPECT_LT(at("check_Discrete_GPU_support() - end"), at("check_BIOS_Logo_Folder_exist |"));
  EXPECT_LT(at("check_BIOS_Logo_Folder_exist |"), at("get_customize_post_from_smbios | True"));
  EXPECT_LT(at("get_customize_post_from_smbios | True"), at("GetDeviceResolution |"));
  EXPECT_LT(at("GetDeviceResolution |"), at("check_boot_sound_switch_support | Entry"));
  EXPECT_LT(at("check_boot_sound_switch_support | Exit"), static_cast<long>(log.size()));
}

TEST_F(SurveyTest, RepeatedStartWaitsARandomDelayBeforeSurveying) {
  Boot(kFullMachine);
  IbClientCommandProcessor::Initialize();
  ASSERT_TRUE(sleeps_.empty());
  const Lines first = TakeLog();
  EXPECT_TRUE(std::none_of(first.begin(), first.end(), [](const std::string& l) {
    return l.find("Waiting for") != std::string::npos;
  }));
  registry_.TakeWrites();

  IbClientCommandProcessor::Initialize();
  ASSERT_EQ(sleeps_.size(), 1u);
  EXPECT_GE(sleeps_[0], 9000);
  EXPECT_LE(sleeps_[0], 15000);
  // Logged under Initialize with the delay actually waited, right after the driver version and
  // before anything is written.
  const Lines second = TakeLog();
  ASSERT_GE(second.size(), 3u);
  EXPECT_EQ(second[0], "[INFO] get_driver_version_string | 3.0.7.1");
  EXPECT_EQ(second[1], "[INFO] Initialize | Waiting for " + std::to_string(sleeps_[0]) +
                           " milliseconds before execution...");
  EXPECT_EQ(registry_.TakeWrites().front(), S("K", "Model_Name_1st", "Zephan G15 Pro"));
}

TEST_F(SurveyTest, DelayDependsOnlyOnTheModelValueExisting) {
  // Without a readable model nothing makes the next start wait.
  Boot("[smbios]\ntype172 = 15:1\n");
  IbClientCommandProcessor::Initialize();
  IbClientCommandProcessor::Initialize();
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_FALSE(Text(kK, "Model_Name_1st").has_value());

  // Any value of that name counts, whatever its type.
  ASSERT_EQ(write_reg_dword(kK, "Model_Name_1st", 7), 0u);
  IbClientCommandProcessor::Initialize();
  ASSERT_EQ(sleeps_.size(), 1u);
  EXPECT_GE(sleeps_[0], 9000);
  EXPECT_LE(sleeps_[0], 15000);
}

TEST(SurveyDelay, DrawsCoverTheWholeRangeAndNothingOutsideIt) {
  int low = 1 << 30;
  int high = 0;
  double sum = 0;
  constexpr int kDraws = 20000;
  for (int i = 0; i < kDraws; ++i) {
    const int ms = survey_draw_startup_delay_ms();
    ASSERT_GE(ms, kSurveyStartupDelayMinMs);
    ASSERT_LE(ms, kSurveyStartupDelayMaxMs);
    low = std::min(low, ms);
    high = std::max(high, ms);
    sum += ms;
  }
  // With 20000 draws over 6001 values, missing either end by 10 ms has a chance below 1e-15.
  EXPECT_LE(low, 9010);
  EXPECT_GE(high, 14990);
  EXPECT_NEAR(sum / kDraws, 12000.0, 100.0);
}

struct BrandCase {
  const char* name;
  std::optional<std::string> model;
  std::optional<std::string> family;
  std::optional<std::string> brand;  // nullopt: no brand value at all
};

void PrintTo(const BrandCase& c, std::ostream* os) { *os << c.name; }

class SurveyBrandTest : public SurveyTest, public ::testing::WithParamInterface<BrandCase> {};

TEST_P(SurveyBrandTest, ModelAndFamilyGiveTheBrand) {
  const BrandCase& c = GetParam();
  Boot("", [&c](sim::MachineProfile& p) {
    p.model = c.model;
    p.family = c.family;
  });
  IbClientCommandProcessor::Initialize();
  EXPECT_EQ(Text(kK, "Model_Name_1st"), c.model);
  EXPECT_EQ(Text(kK, "Model_Name_1st_brand"), c.brand);
}

INSTANTIATE_TEST_SUITE_P(
    Brands, SurveyBrandTest,
    ::testing::Values(
        BrandCase{"ModelFirstWordZephan", "Zephan G15", std::nullopt, "Zephan"},
        BrandCase{"UnknownFirstWordDefaultsToVexor", "Apex 5 Gaming", std::nullopt, "Vexor"},
        BrandCase{"ModelWithoutSpaceIsComparedWhole", "Rovanta", std::nullopt, "Rovanta"},
        BrandCase{"ModelWithoutSpaceLongerThanTheWord", "RovantaX", std::nullopt, "Vexor"},
        BrandCase{"OnlyASpaceEndsTheModelWord", "Zephan\tG15", std::nullopt, "Vexor"},
        BrandCase{"LeadingSpaceGivesAnEmptyWord", " Zephan G15", std::nullopt, "Vexor"},
        BrandCase{"FamilySecondWordOverrides", "Zephan G15", "Gaming Rovanta Line", "Rovanta"},
        BrandCase{"FamilyWithoutBrandWordLeavesIt", "Zephan G15", "Gaming Series", "Zephan"},
        BrandCase{"FamilyFirstBrandWordWins", "Apex 5", "Vexor\tRovanta", "Vexor"},
        BrandCase{"FamilySplitsAtAnyWhiteSpace", "Apex 5", "Gaming\t \tZephan", "Zephan"},
        BrandCase{"FamilyWordsAreWholeWords", "Zephan G15", "Rovantas Vexor-Line", "Zephan"},
        BrandCase{"FlitchFamiliesWriteNothing", "Zephan G15", "Flitch X", "Zephan"},
        BrandCase{"FamilyAloneStillGivesABrand", std::nullopt, "Zephan Line", "Zephan"},
        BrandCase{"NeitherTextNoBrand", std::nullopt, std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<BrandCase>& info) { return info.param.name; });

// One survey per case on a machine given as profile text; the writes and the lines of `check`.
struct CheckCase {
  const char* name;
  const char* profile;
  Lines writes;      // every value the survey writes, in order
  std::vector<std::string_view> checks;  // whose log lines are compared (none: no log check)
  Lines log;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class SurveyCheckTest : public SurveyTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(SurveyCheckTest, WritesExactlyTheDerivedValues) {
  const CheckCase& c = GetParam();
  Boot(c.profile);
  IbClientCommandProcessor::Initialize();
  EXPECT_EQ(registry_.TakeWrites(), c.writes);
  if (!c.checks.empty()) {
    EXPECT_EQ(Only(TakeLog(), c.checks), c.log);
  }
}

// What every machine without an ESP volume and with default firmware writes after the
// SMBIOS-driven values.
Lines Tail(uint32_t lcd = 1, uint32_t dgpu = 1, uint32_t dgpu_mode = 1, uint32_t sound = 1) {
  return {D("KA", "LCD_Overdrive_support", lcd), D("KA", "discrete_gpu_support", dgpu),
          D("KA", "dgpu_mode_capability", dgpu_mode), D("K", "ESP_Directory_Support", 0),
          D("K", "Customize_POST_Support", 0), D("K", "boot_sound_switch", sound)};
}

Lines Concat(Lines head, const Lines& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

INSTANTIATE_TEST_SUITE_P(
    Adaptors, SurveyCheckTest,
    ::testing::Values(
        CheckCase{"TwoAdaptorsWithPowerDelivery", "[smbios]\ntype172 = 15:0, 14:0x0E\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "AC_Support", 14),
                          D("K", "PD_Support", 1), D("K", "Two_AC_Support", 1)},
                         Tail()),
                  {"get_ac_support_from_smbios"},
                  {"[INFO] get_ac_support_from_smbios | stSMBiosType172.pfunNum1[1]: 0xE",
                   "[INFO] get_ac_support_from_smbios | has two ac",
                   "[INFO] get_ac_support_from_smbios | has pd"}},
        CheckCase{"OnlyTheLowNibbleIsPublished", "[smbios]\ntype172 = 14:0xF5\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "AC_Support", 5),
                          D("K", "PD_Support", 1), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"get_ac_support_from_smbios"},
                  {"[INFO] get_ac_support_from_smbios | stSMBiosType172.pfunNum1[0]: 0x5",
                   "[INFO] get_ac_support_from_smbios | has pd"}},
        CheckCase{"OneAdaptorWithoutPowerDelivery", "[smbios]\ntype172 = 14:0x01\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "AC_Support", 1),
                          D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"get_ac_support_from_smbios"},
                  {"[INFO] get_ac_support_from_smbios | stSMBiosType172.pfunNum1[0]: 0x1"}},
        CheckCase{"FirstEntryOfTheFunctionCounts", "[smbios]\ntype172 = 14:0x08, 14:0x02\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "AC_Support", 8),
                          D("K", "PD_Support", 1), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"get_ac_support_from_smbios"},
                  {"[INFO] get_ac_support_from_smbios | stSMBiosType172.pfunNum1[0]: 0x8",
                   "[INFO] get_ac_support_from_smbios | has pd"}},
        CheckCase{"AbsentFunctionWritesOnlyTwoAcSupport", "[smbios]\ntype172 = 15:1\n",
                  Concat({D("K", "Operation_Mode_Support", 1), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"get_ac_support_from_smbios"}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    HotkeysAndOperationModes, SurveyCheckTest,
    ::testing::Values(
        CheckCase{"OnlyKind8InRange81To9FCounts",
                  "[smbios]\ntype170 = 0x80:8, 0x85:8, 0x90:7, 0xA0:8, 0x86:0:9\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "BK_Hotkey_Number", 133),
                          D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"Get_BK_Hotkey_Number"},
                  {"[INFO] Get_BK_Hotkey_Number | Get_BK_Hotkey_Number: 133"}},
        CheckCase{"EveryQualifyingEntryIsWrittenTheLastStays",
                  "[smbios]\ntype170 = 0x9F:8, 0x81:0x33:8\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "BK_Hotkey_Number", 0x9F),
                          D("K", "BK_Hotkey_Number", 0x81), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"Get_BK_Hotkey_Number"},
                  {"[INFO] Get_BK_Hotkey_Number | Get_BK_Hotkey_Number: 159",
                   "[INFO] Get_BK_Hotkey_Number | Get_BK_Hotkey_Number: 129"}},
        CheckCase{"OperationModesNotSupported", "[smbios]\ntype172 = 15:2\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"OperationMode_support"}, {"[INFO] OperationMode_support | Not Support"}},
        CheckCase{"OperationModesAbsentLogNothing", "",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"OperationMode_support"}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Keyboards, SurveyCheckTest,
    ::testing::Values(
        CheckCase{"PerKeyRgbUsbLightBar", "[smbios]\ntype172 = 8:0, 10:2, 23:2\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0),
                          D("KL", "KeyBoardArea", 0), D("KL", "KeyBoardColor", 2),
                          D("K", "Keyboard_Type", 2)},
                         Tail()),
                  {"KeyboardType_support"},
                  {"[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[0]: 0x0",
                   "[INFO] KeyboardType_support | Keyboard Lighting is PerKey",
                   "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[1]: 0x2",
                   "[INFO] KeyboardType_support | Keyboard Lighting is RGB",
                   "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[2]: 0x2",
                   "[INFO] KeyboardType_support | Light Bar around Keyboard is USB contorl"}},
        CheckCase{"UnknownValuesLogOnlyTheirIndex", "[smbios]\ntype172 = 23:3, 10:0, 8:300\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0),
                          D("KL", "KeyBoardArea", 300)},
                         Tail()),
                  {"KeyboardType_support"},
                  {"[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[0]: 0x3",
                   "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[1]: 0x0",
                   "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[2]: 0x12C",
                   "[INFO] KeyboardType_support | Keyboard Lighting is 300 area"}},
        CheckCase{"RepeatedFunctionsAreEachWritten", "[smbios]\ntype172 = 10:1, 10:2\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0),
                          D("KL", "KeyBoardColor", 1), D("KL", "KeyBoardColor", 2)},
                         Tail()),
                  {}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    FirmwareSettings, SurveyCheckTest,
    ::testing::Values(
        CheckCase{"OverdriveUnsupported", "[state]\nlcd_overdrive = 0xFF\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail(0)),
                  {}, {}},
        CheckCase{"OverdriveZeroCountsAsSupported", "[state]\nlcd_overdrive = 0\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail(1)),
                  {}, {}},
        CheckCase{"DgpuWithoutSwitchBit10", "[state]\ndgpu_setting = 0x05\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail(1, 0, 5)),
                  {"check_Discrete_GPU_support"},
                  {"[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - start",
                   "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction input: 0x9",
                   "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction output: 0x500",
                   "[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - end"}},
        CheckCase{"NoDgpuMode", "[state]\ndgpu_setting = 0\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail(1, 0, 0)),
                  {}, {}},
        CheckCase{"BootSoundUnsupportedByte1FF", "[state]\nboot_sound = 0xFF\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail(1, 1, 1, 0)),
                  {"check_boot_sound_switch_support"},
                  {"[INFO] check_boot_sound_switch_support | Entry",
                   "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction input: 0x11",
                   "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction output: 0xFF00",
                   "[INFO] check_boot_sound_switch_support | Not Suppoet",
                   "[INFO] check_boot_sound_switch_support | Exit"}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

// A failing source skips only the values that depend on it.
INSTANTIATE_TEST_SUITE_P(
    Faults, SurveyCheckTest,
    ::testing::Values(
        CheckCase{"MiscSettingStatusNonZero", "[fault GetGamingMiscSetting]\nstatus = 1\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail(1, 0, 0, 0)),
                  {"check_boot_sound_switch_support"},
                  {"[INFO] check_boot_sound_switch_support | Entry",
                   "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction input: 0x11",
                   "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction output: 0x101",
                   "[INFO] check_boot_sound_switch_support | Not Suppoet",
                   "[INFO] check_boot_sound_switch_support | Exit"}},
        CheckCase{"MiscSettingFails",
                  "[smbios]\ntype172 = 15:1\n[fault GetGamingMiscSetting]\nexec_error = 0x80041001\n",
                  {D("K", "Operation_Mode_Support", 1), D("K", "Two_AC_Support", 0),
                   D("KA", "LCD_Overdrive_support", 1), D("K", "ESP_Directory_Support", 0),
                   D("K", "Customize_POST_Support", 0)},
                  {"check_Discrete_GPU_support", "check_boot_sound_switch_support"},
                  {"[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - start",
                   "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction input: 0x9",
                   "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction output: 0x0",
                   "[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support is fail!!",
                   "[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - end",
                   "[INFO] check_boot_sound_switch_support | Entry",
                   "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction input: 0x11",
                   "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction output: 0x0",
                   "[INFO] check_boot_sound_switch_support | check_boot_sound_switch_support is fail!!",
                   "[INFO] check_boot_sound_switch_support | Exit"}},
        CheckCase{"ProfileConfigurationFails", "[fault GetGamingProfile]\nmissing = yes\n",
                  {D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0),
                   D("KA", "discrete_gpu_support", 1), D("KA", "dgpu_mode_capability", 1),
                   D("K", "ESP_Directory_Support", 0), D("K", "Customize_POST_Support", 0),
                   D("K", "boot_sound_switch", 1)},
                  {"check_overdrive_LCD_support"},
                  {"[INFO] check_overdrive_LCD_support | check_overdrive_LCD_support() - start",
                   "[INFO] check_overdrive_LCD_support | WMI GetGamingProfileConfigurationFunction input: 0x0",
                   "[INFO] check_overdrive_LCD_support | GetCorlanGamingSystemConfiguration is fail!!",
                   "[INFO] check_overdrive_LCD_support | check_overdrive_LCD_support() - end"}},
        CheckCase{"SystemInformationFails", "[fault GetGamingSysInfo]\nexec_error = 0x80041001\n",
                  Concat({D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"get_support_fan_amount"}, {}},
        CheckCase{"NoGamingFirmware",
                  "[system]\nmodel = Apex 5\n[CorlanGamingFunction]\npresent = no\n"
                  "[smbios]\ntype172 = 15:1, 14:2, 8:3\n",
                  {S("K", "Model_Name_1st", "Apex 5"), S("K", "Model_Name_1st_brand", "Vexor"),
                   D("K", "Operation_Mode_Support", 1), D("K", "AC_Support", 2),
                   D("K", "Two_AC_Support", 1), D("KL", "KeyBoardArea", 3),
                   D("K", "ESP_Directory_Support", 0), D("K", "Customize_POST_Support", 0)},
                  {"get_support_fan_amount"}, {}},
        CheckCase{"NoSmbiosTable",
                  "[system]\nmodel = Apex 5\n[smbios]\npresent = no\n",
                  Concat({S("K", "Model_Name_1st", "Apex 5"), S("K", "Model_Name_1st_brand", "Vexor"),
                          D("K", "Operation_Mode_Support", 0), D("K", "Two_AC_Support", 0)},
                         Tail()),
                  {"KeyboardType_support"}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST_F(SurveyTest, PostCustomisationNeedsTheLogoFolderAndFunction13) {
  constexpr const char* kEsp = "[volume]\nname = S:\\\nlabel = ESP\n[video_mode]\nhorizontal = 1366\nvertical = 768\n";
  const auto post_values = [this] {
    Lines kept;
    for (const std::string& w : registry_.TakeWrites()) {
      if (w.find("ESP_Directory_Support") != std::string::npos ||
          w.find("Customize_POST_Support") != std::string::npos ||
          w.find("Resolution") != std::string::npos)
        kept.push_back(w);
    }
    return kept;
  };
  {
    SCOPED_TRACE("ESP volume without the folder: function 13 is not even read");
    Boot(std::string(kEsp) + "[smbios]\ntype172 = 13:1\n");
    IbClientCommandProcessor::Initialize();
    EXPECT_EQ(post_values(), (Lines{D("K", "ESP_Directory_Support", 0),
                                    D("K", "Customize_POST_Support", 0)}));
    EXPECT_EQ(Only(TakeLog(), {"get_customize_post_from_smbios", "GetDeviceResolution"}), Lines{});
    EXPECT_FALSE(Text(kK, "Resolution").has_value());
  }
  MakeLogoFolder();
  for (const auto& [function13, expected_log, writes] :
       std::vector<std::tuple<std::string, Lines, Lines>>{
           {"13:0", {"[INFO] get_customize_post_from_smbios | False"},
            {D("K", "ESP_Directory_Support", 1), D("K", "Customize_POST_Support", 0)}},
           {"15:1", {},
            {D("K", "ESP_Directory_Support", 1), D("K", "Customize_POST_Support", 0)}},
           {"13:1", {"[INFO] get_customize_post_from_smbios | True"},
            {D("K", "ESP_Directory_Support", 1), D("K", "Customize_POST_Support", 1),
             S("K", "Resolution", "1366,768")}},
       }) {
    SCOPED_TRACE(function13);
    TearDown();
    SetUp();
    Boot(std::string(kEsp) + "[smbios]\ntype172 = " + function13 + "\n");
    IbClientCommandProcessor::Initialize();
    EXPECT_EQ(post_values(), writes);
    EXPECT_EQ(Only(TakeLog(), {"get_customize_post_from_smbios"}), expected_log);
  }
}

TEST_F(SurveyTest, ValuesASurveyDoesNotWriteKeepTheirEarlierState) {
  ASSERT_EQ(write_reg_dword(kK, "PD_Support", 1), 0u);
  ASSERT_EQ(write_reg_dword(kK, "AC_Support", 9), 0u);
  ASSERT_EQ(write_reg_string(kK, "Resolution", "800,600"), 0u);
  Boot("[smbios]\ntype172 = 14:0x01\n");
  IbClientCommandProcessor::Initialize();
  EXPECT_EQ(read_reg_dword_default(kK, "AC_Support"), 1u);
  EXPECT_EQ(read_reg_dword_default(kK, "PD_Support"), 1u);
  EXPECT_EQ(read_reg_dword_default(kK, "Two_AC_Support"), 0u);
  EXPECT_EQ(Text(kK, "Resolution"), std::optional<std::string>("800,600"));
}

struct DriverCase {
  const char* name;
  std::string drivers;  // [driver] sections
  std::string version;
  Lines log;
};

void PrintTo(const DriverCase& c, std::ostream* os) { *os << c.name; }

class SurveyDriverTest : public SurveyTest, public ::testing::WithParamInterface<DriverCase> {};

TEST_P(SurveyDriverTest, FirstAgentDeviceGivesTheVersion) {
  const DriverCase& c = GetParam();
  Boot(c.drivers);
  EXPECT_EQ(IbClientCommandProcessor::get_driver_version_string(), c.version);
  EXPECT_EQ(TakeLog(), c.log);
}

std::string Driver(const std::string& hardware_id, const char* key, const char* version) {
  std::string s = "[driver]\nhardware_id = " + hardware_id + "\n";
  if (key != nullptr) s += std::string("driver_key = ") + key + "\n";
  if (version != nullptr) s += std::string("driver_version = ") + version + "\n";
  return s;
}

const std::string kAgentId = "SWD\\DRIVERENUM\\SWComp_CorlanNBAgentServiceDriver&4&2f1e&0";
const std::string kOtherId = "SWD\\DRIVERENUM\\SWComp_CorlanHotkeyFilter&4&1b0d&0";
constexpr const char* kKey1 = "{5c4c3332-344d-483c-8739-259e934c9cc8}\\0001";
constexpr const char* kKey3 = "{5c4c3332-344d-483c-8739-259e934c9cc8}\\0003";
constexpr const char* kVersionLine = "[INFO] get_driver_version_string | ";
constexpr const char* kKeyFail = "[ERROR] get_driver_version_string | Get driver key fail!";

// A hardware ID of exactly `units` characters that names the agent driver.
std::string AgentIdOfLength(size_t units) {
  std::string id = "SWD\\DRIVERENUM\\SWComp_CorlanNBAgentServiceDriver&";
  id.append(units - id.size(), '7');
  return id;
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, SurveyDriverTest,
    ::testing::Values(
        DriverCase{"NoDevices", "", "", {}},
        DriverCase{"AgentAfterAnotherDevice",
                   Driver(kOtherId, kKey1, "9.9") + Driver(kAgentId, kKey3, "2.1.1407.0"),
                   "2.1.1407.0", {std::string(kVersionLine) + "2.1.1407.0"}},
        DriverCase{"OnlyOtherDevices", Driver(kOtherId, kKey1, "9.9"), "", {}},
        DriverCase{"NameIsMatchedCaseSensitively",
                   Driver("SWD\\DRIVERENUM\\swcomp_corlannbagentservicedriver&4", kKey3, "1.0"),
                   "", {}},
        DriverCase{"AgentWithoutDriverKey", Driver(kAgentId, nullptr, nullptr), "", {kKeyFail}},
        DriverCase{"FirstAgentDecidesEvenWithoutKey",
                   Driver(kAgentId, nullptr, nullptr) + Driver(kAgentId + "x", kKey3, "2.0"),
                   "", {kKeyFail}},
        DriverCase{"FirstOfTwoAgents",
                   Driver(kAgentId, kKey1, "1.0") + Driver(kAgentId + "x", kKey3, "2.0"), "1.0",
                   {std::string(kVersionLine) + "1.0"}},
        DriverCase{"KeyWithoutVersion", Driver(kAgentId, kKey3, nullptr), "", {}},
        DriverCase{"LongestIdThatFitsThePropertyBuffer",
                   Driver(AgentIdOfLength(254), kKey3, "5.4"), "5.4",
                   {std::string(kVersionLine) + "5.4"}},
        DriverCase{"IdTooLongForThePropertyBufferIsPassedOver",
                   Driver(AgentIdOfLength(255), kKey1, "5.5") + Driver(kAgentId, kKey3, "5.6"),
                   "5.6", {std::string(kVersionLine) + "5.6"}}),
    [](const ::testing::TestParamInfo<DriverCase>& info) { return info.param.name; });

TEST_F(SurveyTest, DriverVersionOfAnotherTypeIsNotText) {
  Boot(Driver(kAgentId, kKey3, nullptr));
  ASSERT_EQ(write_reg_dword(std::string("SYSTEM\\CurrentControlSet\\Control\\Class\\") + kKey3,
                            "DriverVersion", 5),
            0u);
  EXPECT_EQ(IbClientCommandProcessor::get_driver_version_string(), "");
  EXPECT_EQ(TakeLog(), Lines{});
}

TEST(MachineProfileDrivers, SectionsAreListedInOrderAndValidated) {
  const sim::MachineProfile p = sim::ParseMachineProfile(
      Driver(kOtherId, nullptr, nullptr) + Driver(kAgentId, kKey3, "1.2"), "d.profile");
  ASSERT_EQ(p.drivers.size(), 2u);
  EXPECT_EQ(p.drivers[0].hardware_id, kOtherId);
  EXPECT_FALSE(p.drivers[0].driver_key.has_value());
  EXPECT_EQ(p.drivers[1].driver_key, std::optional<std::string>(kKey3));
  EXPECT_EQ(p.drivers[1].driver_version, std::optional<std::string>("1.2"));

  const auto error = [](const std::string& text) {
    try {
      sim::ParseMachineProfile(text, "d.profile");
    } catch (const sim::ProfileError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error("[driver]\ndriver_key = k\n"), "d.profile:1: [driver] needs a hardware_id");
  EXPECT_EQ(error("\n[driver]\nhardware_id = a\ndriver_version = 1\n"),
            "d.profile:2: [driver] driver_version needs a driver_key");
  EXPECT_EQ(error("[driver]\nhardware_id = a\nvendor = x\n"),
            "d.profile:3: unknown key 'vendor' in [driver]");
}

TEST(SimulatedDeviceSetup, OnlyTheSoftwareDeviceEnumeratorIsKnown) {
  platform::posix::SimulatedDeviceSetup setup({{"SWD\\DRIVERENUM\\A", "k", std::nullopt}});
  std::vector<platform::SetupDevice> devices{{"untouched", std::nullopt}};
  EXPECT_FALSE(setup.ListPresentDevices("PCI", &devices));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].hardware_id, std::optional<std::string>("untouched"));
  ASSERT_TRUE(setup.ListPresentDevices("swd\\driverenum", &devices));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].hardware_id, std::optional<std::string>("SWD\\DRIVERENUM\\A"));
  EXPECT_EQ(devices[0].driver_key, std::optional<std::string>("k"));
}

// The survey thread writes and logs while connection threads use the same registry, log and
// firmware; run under ThreadSanitizer this shows whether anything shared is left unguarded.
TEST_F(SurveyTest, RunsBesideConnectionThreads) {
  Boot(kFullMachine);
  MakeLogoFolder();
  std::atomic<bool> done{false};
  std::vector<std::thread> connections;
  for (int t = 0; t < 2; ++t) {
    connections.emplace_back([&done, t] {
      for (uint32_t i = 0; !done.load(); ++i) {
        uint64_t mode = 0;
        GetGamingMiscSettingFunction(11, &mode);
        write_reg_dword(kK, t == 0 ? "NV_WhisperMode20_Support" : "EC_HID_Support", i);
        read_reg_dword_default(kK, "Two_AC_Support");
        LogLine(kLogInfo, "connection", "request");
      }
    });
  }
  std::thread survey(&IbClientCommandProcessor::Initialize);
  survey.join();
  done.store(true);
  for (std::thread& c : connections) c.join();
  EXPECT_EQ(read_reg_dword_default(kK, "Two_AC_Support"), 1u);
  EXPECT_EQ(read_reg_dword_default(kK, "boot_sound_switch"), 1u);
  EXPECT_EQ(Text(kK, "Model_Name_1st_brand"), std::optional<std::string>("Rovanta"));
}

}  // namespace
