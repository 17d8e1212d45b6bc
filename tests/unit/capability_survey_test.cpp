// The start-up capability survey against simulated notebooks, a real registry database (whose
// writes are also noted in order) and a real log file.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "base/little_endian.h"
#include "base/text.h"
#include "firmware/wmi_access.h"
#include "registry/registry_values.h"
#include "sim/device_setup.h"
#include "support/handler_harness.h"
#include "survey/capability_survey.h"

namespace {

using ironbark::IbClientCommandProcessor;
using Lines = std::vector<std::string>;

constexpr const char* kK = "SOFTWARE\\OEM\\Calvane";

// Whether `word` is one of the space-separated words of `list`.
bool Listed(std::string_view list, std::string_view word) {
  return (" " + std::string(list) + " ").find(" " + std::string(word) + " ") != std::string::npos;
}

// The SQLite registry, noting every stored value in order under the short key names K, KL,
// KA, KO: "K name = 1", "KL name = \"text\"".
class RecordingRegistry : public platform::posix::SqliteRegistry {
 public:
  using SqliteRegistry::SqliteRegistry;

  uint32_t SetKeyValue(win::RegRoot root, std::string_view subkey, std::string_view name,
                       uint32_t type, const void* data, uint32_t size) override {
    std::string shown = "type " + std::to_string(type);
    if (type == win::kRegDword && size == 4) {
      shown = std::to_string(le::LoadU32(static_cast<const uint8_t*>(data)));
    } else if (type == win::kRegSz) {
      shown = "\"" + text::FromWireText(static_cast<const uint8_t*>(data), size) + "\"";
    }
    std::string key(subkey);
    if (key == kK) key = "K";
    for (const char* sub : {"LightSetting", "AdvanceSettings", "Overclock"})
      if (key == std::string(kK) + "\\" + sub) key = std::string("K") + sub[0];
    const uint32_t result = SqliteRegistry::SetKeyValue(root, subkey, name, type, data, size);
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back(key + " " + std::string(name) + " = " + shown);
    return result;
  }

  // The notes since the last call; with `names`, only those of the listed value names.
  Lines TakeWrites(const char* names = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    Lines kept;
    for (const std::string& w : std::exchange(writes_, {})) {
      const size_t name = w.find(' ') + 1;
      if (!names || Listed(names, w.substr(name, w.find(' ', name) - name))) kept.push_back(w);
    }
    return kept;
  }

 private:
  std::mutex mutex_;
  Lines writes_;
};

// Real services (handler_harness) with the recording registry in place of the plain one.
class SurveyTest : public testsupport::HandlerTest {
 protected:
  void SetUp() override {
    services_.registry = &recorder_;  // there before the machine boots, for earlier values
    services_.clock = &delay_clock_;
    HandlerTest::SetUp();
  }

  // Builds the notebook of `profile_text`, seeds the drivers' class keys as the Linux broker
  // does, and installs everything.
  void Boot(const std::string& profile_text) {
    sim::MachineProfile profile = sim::ParseMachineProfile(profile_text, "test.profile");
    devices_ = std::make_unique<sim::SimulatedDeviceSetup>(profile.drivers);
    ASSERT_EQ(sim::SeedDriverRegistry(recorder_, profile.drivers), 0u);
    provider_ = std::make_unique<sim::SimWmiProvider>(
        std::make_shared<sim::SimulatedNotebook>(std::move(profile)));
    services_.wmi = provider_.get();
    services_.device_setup = devices_.get();
    recorder_.TakeWrites();
  }

  // "[LEVEL] function | message" of every log line since the last call, the class prefix
  // dropped; with `functions`, only their lines, as "[LEVEL] message".
  Lines TakeLog(std::string_view functions = {}) {
    const std::string prefix = "ironbark::IbClientCommandProcessor::";
    Lines lines;
    for (std::string line : HandlerTest::TakeLog()) {
      if (const size_t at = line.find(prefix); at != std::string::npos) line.erase(at, prefix.size());
      const size_t function = line.find(' ') + 1, bar = line.find(" | ");
      if (functions.empty()) {
        lines.push_back(line);
      } else if (bar != std::string::npos &&
                 Listed(functions, line.substr(function, bar - function))) {
        lines.push_back(line.substr(0, function) + line.substr(bar + 3));
      }
    }
    return lines;
  }

  RecordingRegistry recorder_{registry_dir_.path() + "/survey.db"};
  std::unique_ptr<sim::SimWmiProvider> provider_;
  std::unique_ptr<sim::SimulatedDeviceSetup> devices_;
  // The waits other than the firmware's pause after each call, and the registry writes made
  // before the first of them.
  std::vector<int> sleeps_;
  Lines written_before_delay_{"no delay"};
  testsupport::ManualClock delay_clock_{[this](std::chrono::milliseconds ms) {
    if (ms < std::chrono::seconds(1)) return;  // the firmware's and the devices' own pauses
    if (sleeps_.empty()) written_before_delay_ = recorder_.TakeWrites();
    sleeps_.push_back(static_cast<int>(ms.count()));
  }};
};

// A notebook with every source answering, and values chosen so that each derivation shows.
constexpr const char* kFullMachine =
    "[system]\nmodel = Zephan G15 Pro\nfamily = Gaming Rovanta Line\n"
    "[state]\ndgpu_setting = 0x02\nboot_sound = 0\nlcd_overdrive = 5\n"
    "[volume]\nname = S:\\\nlabel = ESP\n[video_mode]\nhorizontal = 2560\nvertical = 1600\n"
    "[smbios]\ntype172 = 23:1, 14:0x0E, 10:1, 15:1, 8:4, 13:1\n"
    "type170 = 0x80:8, 0x85:8, 0x90:7, 0xA0:8, 0x86:0:9\n"
    "[driver]\nhardware_id = SWD\\DRIVERENUM\\SWComp_CorlanNBAgentServiceDriver&4&1&0\n"
    "driver_key = {5c4c3332-344d-483c-8739-259e934c9cc8}\\0003\ndriver_version = 3.0.7.1\n";

TEST_F(SurveyTest, FullMachineWritesEveryValueInOrderWithItsLogLines) {
  Boot(kFullMachine);
  std::filesystem::create_directories(At("S/EFI/OEM"));  // the boot-logo folder
  IbClientCommandProcessor::Initialize();
  // The keyboard values follow the record: light bar, colour, zones.
  EXPECT_EQ(recorder_.TakeWrites(),
            (Lines{"K Model_Name_1st = \"Zephan G15 Pro\"", "K Model_Name_1st_brand = \"Zephan\"",
                   "K Model_Name_1st_brand = \"Rovanta\"", "K Operation_Mode_Support = 1",
                   "K BK_Hotkey_Number = 133", "K EC_HID_Version = 0",
                   "K EC_HID_OC_Capability = 0", "K EC_HID_Support = 0", "K AC_Support = 14", "K PD_Support = 1",
                   "K Two_AC_Support = 1", "K Keyboard_Type = 1", "KL KeyBoardColor = 1",
                   "KL KeyBoardArea = 4", "K Keyboard_Lang = 3", "KA LCD_Overdrive_support = 2",
                   "KA discrete_gpu_support = 1", "KA dgpu_mode_capability = 2",
                   "K ESP_Directory_Support = 1", "K Customize_POST_Support = 1",
                   "K Resolution = \"2560,1600\"", "K boot_sound_switch = 1"}));
  // The boot-logo checks' own lines show that they run at their place in the order.
  EXPECT_EQ(TakeLog(), (Lines{
      "[INFO] get_driver_version_string | 3.0.7.1",
      "[INFO] OperationMode_support | Support",
      "[INFO] Get_BK_Hotkey_Number | Get_BK_Hotkey_Number: 133",
      "[INFO] check_gpu_name | write_gpu_name - start",
      "[INFO] check_gpu_name | Start Check AMD GPU",
      "[INFO] check_gpu_name | g_ADLXHelp initialize failed.",
      "[INFO] check_gpu_name | check_gpu_name - end",
      "[INFO] search_cpu_gpu_oc_support | VH_INI_FILE_PATH: " + launcher_.ModuleDirectory() +
          "\\Zephan G15 Pro.ini",
      "[INFO] search_cpu_gpu_oc_support | OC_GPU->Count: NULL",
      "[INFO] get_ac_support_from_smbios | stSMBiosType172.pfunNum1[1]: 0xE",
      "[INFO] get_ac_support_from_smbios | has two ac",
      "[INFO] get_ac_support_from_smbios | has pd",
      "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[0]: 0x1",
      "[INFO] KeyboardType_support | Light Bar around Keyboard is EC contorl",
      "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[2]: 0x1",
      "[INFO] KeyboardType_support | Keyboard Lighting is Single Color",
      "[INFO] KeyboardType_support | stSMBiosType172.pfunNum1[4]: 0x4",
      "[INFO] KeyboardType_support | Keyboard Lighting is 4 area",
      "[INFO] KeyboardType_support | Keyboard lang = 3",
      "[INFO] check_overdrive_LCD_support | check_overdrive_LCD_support() - start",
      "[INFO] check_overdrive_LCD_support | WMI GetGamingProfileConfigurationFunction input: 0x0",
      "[INFO] check_overdrive_LCD_support | WMI GetGamingProfileConfigurationFunction output: 0x5000000000000",
      "[INFO] check_overdrive_LCD_support | check_overdrive_LCD_support() - end",
      "[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - start",
      "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction input: 0x9",
      "[INFO] check_Discrete_GPU_support | WMI GetGamingMiscSettingFunction output: 0x200",
      "[INFO] check_Discrete_GPU_support | check_Discrete_GPU_support() - end",
      "[INFO] check_BIOS_Logo_Folder_exist | check_BIOS_Logo_Folder_exist() - start",
      "[INFO] check_BIOS_Logo_Folder_exist | Customize POST Dir exist",
      "[INFO] check_BIOS_Logo_Folder_exist | check_BIOS_Logo_Folder_exist() - end",
      "[INFO] get_customize_post_from_smbios | True",
      "[INFO] GetDeviceResolution | GetDeviceResolution() - start",
      "[INFO] GetDeviceResolution | 2560,1600",
      "[INFO] GetDeviceResolution | GetDeviceResolution() - successed",
      "[INFO] check_boot_sound_switch_support | Entry",
      "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction input: 0x11",
      "[INFO] check_boot_sound_switch_support | WMI GetGamingMiscSettingFunction output: 0x0",
      "[INFO] check_boot_sound_switch_support | Suppoet",
      "[INFO] check_boot_sound_switch_support | Exit",
      "[INFO] get_support_fan_amount | amount_gpu: 0"}));
}

TEST_F(SurveyTest, OnlyAStartAfterAModelWasPublishedWaits) {
  Boot("[smbios]\ntype172 = 15:1\n");  // no model: nothing makes the next start wait
  IbClientCommandProcessor::Initialize();
  IbClientCommandProcessor::Initialize();
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_EQ(TakeLog("Initialize"), Lines{});

  ASSERT_EQ(write_reg_dword(kK, "Model_Name_1st", 7), 0u);  // any type counts
  recorder_.TakeWrites();
  IbClientCommandProcessor::Initialize();
  ASSERT_EQ(sleeps_.size(), 1u);
  EXPECT_GE(sleeps_[0], 9000);
  EXPECT_LE(sleeps_[0], 15000);
  EXPECT_EQ(written_before_delay_, Lines{});
  EXPECT_EQ(TakeLog("Initialize"), Lines{"[INFO] Waiting for " + std::to_string(sleeps_[0]) +
                                         " milliseconds before execution..."});
}

constexpr std::pair<const char*, const char*> kValuesOf[] = {
    {"OperationMode_support", "Operation_Mode_Support"},
    {"Get_BK_Hotkey_Number", "BK_Hotkey_Number"},
    {"get_ac_support_from_smbios", "AC_Support PD_Support Two_AC_Support"},
    {"KeyboardType_support", "Keyboard_Type KeyBoardColor KeyBoardArea Keyboard_Lang"},
    {"check_overdrive_LCD_support", "LCD_Overdrive_support"},
    {"check_Discrete_GPU_support", "discrete_gpu_support dgpu_mode_capability"},
    {"get_customize_post_from_smbios", "ESP_Directory_Support Customize_POST_Support"},
    {"GetDeviceResolution", "Resolution"},
    {"check_boot_sound_switch_support", "boot_sound_switch"},
    {"brand", "Model_Name_1st_brand"},  // from the model and the family, in no check of its own
};

// `lines` as one text, "; " between them, a leading "[INFO] " dropped.
std::string Joined(const Lines& lines) {
  std::string all;
  for (const std::string& line : lines)
    all += (all.empty() ? "" : "; ") + (line.rfind("[INFO] ", 0) == 0 ? line.substr(7) : line);
  return all;
}

// One survey on a machine given as profile text (with the boot-logo folder on "S:", which
// counts where the profile has that ESP volume): the writes and log lines of the named checks.
struct CheckCase {
  const char* name;
  std::string profile;
  const char* checks;  // function names, separated by spaces
  const char* writes;  // "; "-separated, in order
  const char* log;     // "; "-separated messages, in order; nullptr: not compared
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class SurveyCheckTest : public SurveyTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(SurveyCheckTest, WritesTheDerivedValuesAndLogs) {
  const CheckCase& c = GetParam();
  Boot(c.profile);
  std::filesystem::create_directories(At("S/EFI/OEM"));  // the boot-logo folder
  IbClientCommandProcessor::Initialize();
  std::string values;
  for (const auto& [check, names] : kValuesOf)
    if (Listed(c.checks, check)) values += std::string(names) + " ";
  EXPECT_EQ(Joined(recorder_.TakeWrites(values.c_str())), c.writes);
  if (c.log != nullptr) {
    EXPECT_EQ(Joined(TakeLog(c.checks)), c.log);
  }
}

std::string T172(const char* entries) { return std::string("[smbios]\ntype172 = ") + entries + "\n"; }

constexpr const char* kKeyboard = "KeyboardType_support";
constexpr const char* kPost = "get_customize_post_from_smbios GetDeviceResolution";
constexpr const char* kLcd = "check_overdrive_LCD_support";

std::string System(const char* model, const char* family = nullptr) {
  std::string s = "[system]\n";
  if (model != nullptr) s += std::string("model = ") + model + "\n";
  if (family != nullptr) s += std::string("family = ") + family + "\n";
  return s;
}

std::string Driver(const std::string& hardware_id, const char* key, const char* version) {
  std::string s = "[driver]\nhardware_id = " + hardware_id + "\n";
  if (key != nullptr) s += std::string("driver_key = ") + key + "\n";
  if (version != nullptr) s += std::string("driver_version = ") + version + "\n";
  return s;
}

const std::string kAgentId = "SWD\\DRIVERENUM\\SWComp_CorlanNBAgentServiceDriver&4&2f1e&0";
constexpr const char* kKey1 = "{5c4c3332-344d-483c-8739-259e934c9cc8}\\0001";
constexpr const char* kKey3 = "{5c4c3332-344d-483c-8739-259e934c9cc8}\\0003";
constexpr const char* kDriver = "get_driver_version_string";

std::string AgentIdOfLength(size_t units) {
  std::string id = "SWD\\DRIVERENUM\\SWComp_CorlanNBAgentServiceDriver&";
  return id.append(units - id.size(), '7');
}

// A per-key keyboard may still be starting: "none known" is asked again, five times at most.
TEST_F(SurveyTest, APerKeyKeyboardIsAskedSixTimesAZonedOneOnce) {
  for (const auto& [entries, searches] : {std::pair("8:0", 6u), std::pair("8:4", 1u)}) {
    Boot(T172(entries));
    const size_t before = no_hid_.Enumerations();
    IbClientCommandProcessor::Initialize();
    // Each attempt looks for a device: fifteen by the EC probe, then the keyboard's.
    EXPECT_EQ(no_hid_.Enumerations() - before, 15 + searches) << entries;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SurveyCheckTest,
    ::testing::Values(
        CheckCase{"OnlyTheLowNibbleIsPublished", T172("14:0xF5"), "get_ac_support_from_smbios",
                  "K AC_Support = 5; K PD_Support = 1; K Two_AC_Support = 0",
                  "stSMBiosType172.pfunNum1[0]: 0x5; has pd"},
        CheckCase{"EveryQualifyingHotkeyIsWrittenTheLastStays",
                  "[smbios]\ntype170 = 0x9F:8, 0x81:0x33:8\n", "Get_BK_Hotkey_Number",
                  "K BK_Hotkey_Number = 159; K BK_Hotkey_Number = 129",
                  "Get_BK_Hotkey_Number: 159; Get_BK_Hotkey_Number: 129"},
        CheckCase{"OperationModesNotSupported", T172("15:2"), "OperationMode_support",
                  "K Operation_Mode_Support = 0", "Not Support"},
        CheckCase{"PerKeyRgbUsbLightBar", T172("8:0, 10:2, 23:2"), kKeyboard,
                  "KL KeyBoardArea = 0; KL KeyBoardColor = 2; K Keyboard_Type = 2; K Keyboard_Lang = 3",
                  "stSMBiosType172.pfunNum1[0]: 0x0; Keyboard Lighting is PerKey; "
                  "stSMBiosType172.pfunNum1[1]: 0x2; Keyboard Lighting is RGB; "
                  "stSMBiosType172.pfunNum1[2]: 0x2; Light Bar around Keyboard is USB contorl; "
                  "Keyboard lang = 3"},
        CheckCase{"UnknownKeyboardValuesLogOnlyTheirIndex", T172("23:3, 10:0, 8:300"), kKeyboard,
                  "KL KeyBoardArea = 300; K Keyboard_Lang = 3",
                  "stSMBiosType172.pfunNum1[0]: 0x3; stSMBiosType172.pfunNum1[1]: 0x0; "
                  "stSMBiosType172.pfunNum1[2]: 0x12C; Keyboard Lighting is 300 area; Keyboard lang = 3"},
        // Without the boot-logo folder function 13 is not even read.
        CheckCase{"NoLogoFolder", T172("13:1"), kPost,
                  "K ESP_Directory_Support = 0; K Customize_POST_Support = 0", ""},
        CheckCase{"PostFunctionNotOne", "[volume]\nname = S:\\\nlabel = ESP\n" + T172("13:0"),
                  kPost, "K ESP_Directory_Support = 1; K Customize_POST_Support = 0", "False"},
        // Byte 6 of the profile configuration: 0xFF none, 0 or 1 plain, anything else more.
        CheckCase{"OverdriveFF", "[state]\nlcd_overdrive = 0xFF\n", kLcd,
                  "KA LCD_Overdrive_support = 0", nullptr},
        CheckCase{"Overdrive1", "[state]\nlcd_overdrive = 1\n", kLcd, "KA LCD_Overdrive_support = 1",
                  nullptr},
        CheckCase{"DgpuWithoutSwitchBit10", "[state]\ndgpu_setting = 0x05\n", "check_Discrete_GPU_support",
                  "KA discrete_gpu_support = 0; KA dgpu_mode_capability = 5", nullptr},
        CheckCase{"BootSoundByte1FF", "[state]\nboot_sound = 0xFF\n",
                  "check_boot_sound_switch_support", "K boot_sound_switch = 0",
                  "Entry; WMI GetGamingMiscSettingFunction input: 0x11; "
                  "WMI GetGamingMiscSettingFunction output: 0xFF00; Not Suppoet; Exit"},
        // A non-zero status byte voids the rest of the answer.
        CheckCase{"MiscSettingStatusNonZero", "[fault GetGamingMiscSetting]\nstatus = 1\n",
                  "check_Discrete_GPU_support check_boot_sound_switch_support",
                  "KA discrete_gpu_support = 0; KA dgpu_mode_capability = 0; "
                  "K boot_sound_switch = 0", nullptr},
        // A failing source skips only the values that depend on it.
        CheckCase{"MiscSettingFails", "[fault GetGamingMiscSetting]\nexec_error = 0x80041001\n",
                  "check_Discrete_GPU_support check_boot_sound_switch_support", "",
                  "check_Discrete_GPU_support() - start; "
                  "WMI GetGamingMiscSettingFunction input: 0x9; "
                  "WMI GetGamingMiscSettingFunction output: 0x0; "
                  "check_Discrete_GPU_support is fail!!; check_Discrete_GPU_support() - end; "
                  "Entry; WMI GetGamingMiscSettingFunction input: 0x11; "
                  "WMI GetGamingMiscSettingFunction output: 0x0; "
                  "check_boot_sound_switch_support is fail!!; Exit"},
        CheckCase{"ProfileConfigurationFails", "[fault GetGamingProfile]\nmissing = yes\n", kLcd,
                  "", "check_overdrive_LCD_support() - start; "
                  "WMI GetGamingProfileConfigurationFunction input: 0x0; "
                  "GetCorlanGamingSystemConfiguration is fail!!; check_overdrive_LCD_support() - end"},
        CheckCase{"NoGamingFirmwareStillReadsSmbios",
                  "[CorlanGamingFunction]\npresent = no\n" + T172("14:2"),
                  "get_ac_support_from_smbios get_support_fan_amount",
                  "K AC_Support = 2; K Two_AC_Support = 1",
                  "stSMBiosType172.pfunNum1[0]: 0x2; has two ac"},
        CheckCase{"NoSmbiosTable", "[smbios]\npresent = no\n",
                  "OperationMode_support Get_BK_Hotkey_Number get_ac_support_from_smbios "
                  "KeyboardType_support",
                  "K Operation_Mode_Support = 0; K Two_AC_Support = 0; K Keyboard_Lang = 3",
                  "Keyboard lang = 3"},
        // The first device whose first hardware ID names the agent driver gives the logged version.
        CheckCase{"NameIsMatchedCaseSensitively",
                  Driver("SWD\\DRIVERENUM\\swcomp_corlannbagentservicedriver&4", kKey3, "1.0"),
                  kDriver, "", ""},
        CheckCase{"FirstAgentDecidesEvenWithoutKey",
                  Driver(kAgentId, nullptr, nullptr) + Driver(kAgentId + "x", kKey3, "2.0"),
                  kDriver, "", "[ERROR] Get driver key fail!"},
        CheckCase{"LongestIdThatFitsThePropertyBuffer",
                  Driver(AgentIdOfLength(254), kKey3, "5.4"), kDriver, "", "5.4"},
        CheckCase{"IdTooLongForThePropertyBufferIsPassedOver",
                  Driver(AgentIdOfLength(255), kKey1, "5.5") +
                      Driver("SWD\\DRIVERENUM\\SWComp_CorlanHotkeyFilter&4&1b0d&0", kKey1, "9.9") +
                      Driver(kAgentId, kKey3, "5.6"),
                  kDriver, "", "5.6"},
        CheckCase{"UnknownFirstWordDefaultsToVexor", System("Apex 5 Gaming"), "brand",
                  "K Model_Name_1st_brand = \"Vexor\"", nullptr},
        CheckCase{"ModelWithoutSpaceIsComparedWhole", System("Rovanta"), "brand",
                  "K Model_Name_1st_brand = \"Rovanta\"", nullptr},
        CheckCase{"OnlyASpaceEndsTheModelWord", System("Zephan\tG15"), "brand",
                  "K Model_Name_1st_brand = \"Vexor\"", nullptr},
        CheckCase{"FamilyFirstBrandWordWins", System("Apex 5", "Vexor\tRovanta"), "brand",
                  "K Model_Name_1st_brand = \"Vexor\"; K Model_Name_1st_brand = \"Vexor\"", nullptr},
        CheckCase{"FamilyWordsAreWholeWords", System("Zephan G15", "Rovantas Vexor-Line"), "brand",
                  "K Model_Name_1st_brand = \"Zephan\"", nullptr},
        CheckCase{"FamilyAloneStillGivesABrand", System(nullptr, "Zephan Line"), "brand",
                  "K Model_Name_1st_brand = \"Zephan\"", nullptr}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

}  // namespace
