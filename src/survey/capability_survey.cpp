// The start-up capability survey and the checks it owns.
// It reads the computer's model and family (WMI, ROOT\CIMV2), the OEM SMBIOS records and the
// firmware's gaming methods, and publishes what it finds as registry values for the control
// application. Checks owned by other subsystems run at their place in the order.
#include "survey/capability_survey.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "base/variant.h"
#include "base/win_codes.h"
#include "firmware/smbios.h"
#include "firmware/smbios_table.h"
#include "firmware/wmi_access.h"
#include "gpu/gpu_monitor.h"
#include "gpu/overclock.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"
#include "platform/services.h"
#include "registry/registry_values.h"
#include "hid/hid_commands.h"
#include "hid/keyboard_hid.h"
#include "survey/boot_logo.h"

int survey_draw_startup_delay_ms() {
  static std::mutex generator_mutex;
  static std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> delay(kSurveyStartupDelayMinMs, kSurveyStartupDelayMaxMs);
  std::lock_guard<std::mutex> lock(generator_mutex);
  return delay(generator);
}

namespace ironbark {
namespace {

constexpr size_t kMessageChars = kHandlerMessageChars;

// K, KL, KA: the published keys below HKEY_LOCAL_MACHINE.
constexpr const char* kCalvaneKey = "SOFTWARE\\OEM\\Calvane";
constexpr const char* kLightSettingKey = "SOFTWARE\\OEM\\Calvane\\LightSetting";
constexpr const char* kAdvanceSettingsKey = "SOFTWARE\\OEM\\Calvane\\AdvanceSettings";

constexpr std::string_view kComputerSystemQuery = "SELECT * FROM Win32_ComputerSystem";
constexpr std::string_view kDefaultBrand = "Vexor";
constexpr std::array<std::string_view, 3> kBrandWords = {"Zephan", "Vexor", "Rovanta"};

// The agent service's driver is a software component; its device sits under this enumerator.
constexpr std::string_view kDriverEnumerator = "SWD\\DRIVERENUM";
constexpr std::string_view kAgentDriverHardwareId = "SWComp_CorlanNBAgentServiceDriver";
constexpr std::string_view kDriverClassKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

// Firmware inputs of the survey's checks.
constexpr uint32_t kMiscDiscreteGpu = 9;
constexpr uint32_t kMiscBootSound = 17;
constexpr uint32_t kProfileConfiguration = 0;
constexpr uint32_t kSystemInformation = 0;

// Type-170 entries that name the keyboard-backlight hot key.
constexpr uint8_t kBacklightHotkeyFirst = 0x81;
constexpr uint8_t kBacklightHotkeyLast = 0x9F;
constexpr uint16_t kBacklightHotkeyKind = 8;

void Log(std::string_view check, std::string_view message, int level = kLogInfo) {
  LogProcessor(check, message, level);
}

// The type-172 record of a freshly fetched table; nullopt when the table cannot be read or has
// no such record.
std::optional<stSMBiosType172> ReadType172() {
  SmbiosRawTable table;
  if (!get_raw_smbios_table(&table)) return std::nullopt;
  stSMBiosType172 record;
  if (!parse_smbios_type172(table, &record)) return std::nullopt;
  return record;
}

std::string IndexLine(int index, uint32_t value) {
  return FormatMessageSized(kMessageChars, "stSMBiosType172.pfunNum1[%d]: 0x%X", index, value);
}

// A property of the first Win32_ComputerSystem row, when it is a text.
std::optional<std::string> ComputerSystemText(WmiConnection& connection,
                                              std::string_view property) {
  wmi::Variant value;
  const WmiOutput outputs[] = {{property, &value}};
  if (!wmi_query_first_row(connection, kComputerSystemQuery, outputs)) return std::nullopt;
  if (value.type != wmi::VarType::kBstr) return std::nullopt;
  return value.text;
}

bool IsBrandWord(std::string_view word) {
  return std::find(kBrandWords.begin(), kBrandWords.end(), word) != kBrandWords.end();
}

// "Model_Name_1st" and the brand its first word names.
void PublishModel(const std::string& model) {
  write_reg_string(kCalvaneKey, "Model_Name_1st", model.c_str());
  const std::string_view first_word = std::string_view(model).substr(0, model.find(' '));
  const std::string brand(IsBrandWord(first_word) ? first_word : kDefaultBrand);
  write_reg_string(kCalvaneKey, "Model_Name_1st_brand", brand.c_str());
}

// The family text names the brand more reliably than the model: its first brand word, wherever
// it stands, replaces the model's. Families of the "Flitch" line ("Flitch", "Flitch X") carry
// no brand value of their own; their words are passed over like any other.
void PublishFamilyBrand(std::string_view family) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  };
  size_t pos = 0;
  while (pos < family.size()) {
    while (pos < family.size() && blank(family[pos])) ++pos;
    size_t end = pos;
    while (end < family.size() && !blank(family[end])) ++end;
    const std::string_view word = family.substr(pos, end - pos);
    if (!word.empty() && IsBrandWord(word)) {
      write_reg_string(kCalvaneKey, "Model_Name_1st_brand", std::string(word).c_str());
      return;
    }
    pos = end;
  }
}

// A repeated start waits a random while before surveying, so that the firmware and WMI are not
// queried in the same instant as everything else that starts with the system; the very first
// start (nothing published yet) surveys at once.
void StartupDelay() {
  const uint32_t exists = platform::Reg().GetValue(win::RegRoot::kLocalMachine, kCalvaneKey,
                                                   "Model_Name_1st", win::kRrfRtAny, nullptr,
                                                   nullptr, nullptr);
  if (exists != win::kErrorSuccess) return;
  const int delay_ms = survey_draw_startup_delay_ms();
  Log("Initialize", FormatMessageSized(kMessageChars,
                                       "Waiting for %d milliseconds before execution...",
                                       delay_ms));
  platform::Time().SleepFor(std::chrono::milliseconds(delay_ms));
}

// A REG_SZ value below HKLM; nullopt when it is missing or of another type.
std::optional<std::string> ReadMachineText(const std::string& key, std::string_view value) {
  platform::Registry& registry = platform::Reg();
  uint32_t size = 0;
  if (registry.GetValue(win::RegRoot::kLocalMachine, key, value, win::kRrfRtRegSz, nullptr,
                        nullptr, &size) != win::kErrorSuccess) {
    return std::nullopt;
  }
  std::vector<uint8_t> data(size);
  if (registry.GetValue(win::RegRoot::kLocalMachine, key, value, win::kRrfRtRegSz, nullptr,
                        data.data(), &size) != win::kErrorSuccess) {
    return std::nullopt;
  }
  return text::FromWireText(data.data(), std::min<size_t>(size, data.size()));
}

// Runs one step of the survey. The checks catch what their own sources may throw; anything
// else (an allocation failure) must still not end the survey, let alone the process whose
// thread it runs on.
template <typename Step>
void RunStep(Step step) {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

void CapabilitySurvey::Initialize() {
  RunStep([] { get_driver_version_string(); });
  RunStep([] { StartupDelay(); });

  std::string model;  // empty when it could not be read
  RunStep([&model] {
    WmiConnection connection;
    if (!wmi_connect(connection, "ROOT\\CIMV2")) return;
    if (std::optional<std::string> text = ComputerSystemText(connection, "Model")) {
      model = *text;
      PublishModel(model);
    }
    if (std::optional<std::string> family = ComputerSystemText(connection, "SystemFamily")) {
      PublishFamilyBrand(*family);
    }
    wmi_close(connection);
  });

  RunStep([] {
    write_reg_dword(kCalvaneKey, "Operation_Mode_Support", OperationMode_support() == 1 ? 1 : 0);
  });
  RunStep([] { Get_BK_Hotkey_Number(); });

  RunStep([] { check_gpu_name(); });
  // The model text read above (empty when it was not read) names the overclock INI file.
  RunStep([&model] { search_cpu_gpu_oc_support(model); });
  RunStep([] { HidCommands::check_EC_HID_support(); });

  RunStep([] { get_ac_support_from_smbios(); });
  RunStep([] { KeyboardType_support(); });
  RunStep([] { check_overdrive_LCD_support(); });
  RunStep([] { check_Discrete_GPU_support(); });

  RunStep([] {
    const int folder = BootLogo::check_BIOS_Logo_Folder_exist();
    write_reg_dword(kCalvaneKey, "ESP_Directory_Support", folder == 1 ? 1 : 0);
    // The POST screen can only be customised where the boot-logo folder exists; without it the
    // SMBIOS record is not even read.
    if (folder == 1 && get_customize_post_from_smbios() == 1) {
      write_reg_dword(kCalvaneKey, "Customize_POST_Support", 1);
      BootLogo::GetDeviceResolution();
    } else {
      write_reg_dword(kCalvaneKey, "Customize_POST_Support", 0);
    }
  });

  RunStep([] { check_boot_sound_switch_support(); });
  RunStep([] { get_support_fan_amount(); });
}

std::string CapabilitySurvey::get_driver_version_string() {
  constexpr std::string_view kCheck = "get_driver_version_string";
  std::string version;
  std::vector<platform::SetupDevice> devices;
  if (!platform::Devices().ListPresentDevices(kDriverEnumerator, &devices)) return version;
  const auto agent = std::find_if(devices.begin(), devices.end(), [](const auto& device) {
    return device.hardware_id &&
           device.hardware_id->find(kAgentDriverHardwareId) != std::string::npos;
  });
  if (agent == devices.end()) return version;
  if (!agent->driver_key) {
    Log(kCheck, "Get driver key fail!", kLogError);
    return version;
  }
  if (std::optional<std::string> text =
          ReadMachineText(std::string(kDriverClassKey) + *agent->driver_key, "DriverVersion")) {
    version = *text;
    Log(kCheck, FormatMessageSized(kMessageChars, "%s", version.c_str()));
  }
  return version;
}

int CapabilitySurvey::OperationMode_support() {
  constexpr std::string_view kCheck = "OperationMode_support";
  try {
    const std::optional<stSMBiosType172> record = ReadType172();
    if (!record) return 0;
    const std::optional<SmbiosFunctionEntry> entry =
        find_smbios_function(*record, kSmbiosFnOperationModes);
    if (!entry) return 0;
    Log(kCheck, entry->value == 1 ? "Support" : "Not Support");
    return entry->value == 1 ? 1 : 0;
  } catch (...) {
    Log(kCheck, "Not Support", kLogException);
    return 0;
  }
}

void CapabilitySurvey::Get_BK_Hotkey_Number() {
  try {
    SmbiosRawTable table;
    if (!get_raw_smbios_table(&table)) return;
    SmbiosType170 record;
    if (!parse_smbios_type170(table, &record)) return;
    for (int i = 0; i < record.count; ++i) {
      const uint8_t code = record.codes[i];
      if (code < kBacklightHotkeyFirst || code > kBacklightHotkeyLast) continue;
      if (record.kinds[i] != kBacklightHotkeyKind) continue;
      Log("Get_BK_Hotkey_Number",
          FormatMessageSized(kMessageChars, "Get_BK_Hotkey_Number: %d", static_cast<int>(code)));
      write_reg_dword(kCalvaneKey, "BK_Hotkey_Number", code);
    }
  } catch (...) {
  }
}

void CapabilitySurvey::get_ac_support_from_smbios() {
  constexpr std::string_view kCheck = "get_ac_support_from_smbios";
  bool two_adaptors = false;
  if (const std::optional<stSMBiosType172> record = ReadType172()) {
    if (const std::optional<SmbiosFunctionEntry> entry =
            find_smbios_function(*record, kSmbiosFnPowerFeatures)) {
      const uint32_t features = entry->value;
      write_reg_dword(kCalvaneKey, "AC_Support", features & 0x0F);
      Log(kCheck, IndexLine(entry->index, features & 0x0F));
      if (features & 0x02) {
        two_adaptors = true;
        Log(kCheck, "has two ac");
      }
      if (features & 0x0C) {
        write_reg_dword(kCalvaneKey, "PD_Support", 1);
        Log(kCheck, "has pd");
      }
    }
  }
  write_reg_dword(kCalvaneKey, "Two_AC_Support", two_adaptors ? 1 : 0);
}

void CapabilitySurvey::KeyboardType_support() {
  constexpr std::string_view kCheck = "KeyboardType_support";
  try {
    bool per_key = false;
    if (const std::optional<stSMBiosType172> record = ReadType172()) {
      for (int i = 0; i < record->count; ++i) {
        const uint8_t function = record->funNum[i];
        const uint32_t value = record->pfunNum1[i];
        if (function == kSmbiosFnKeyboardLightBar) {
          Log(kCheck, IndexLine(i, value));
          if (value == 1) {
            Log(kCheck, "Light Bar around Keyboard is EC contorl");
            write_reg_dword(kCalvaneKey, "Keyboard_Type", 1);
          } else if (value == 2) {
            Log(kCheck, "Light Bar around Keyboard is USB contorl");
            write_reg_dword(kCalvaneKey, "Keyboard_Type", 2);
          }
        } else if (function == kSmbiosFnKeyboardColour) {
          Log(kCheck, IndexLine(i, value));
          if (value == 1) {
            Log(kCheck, "Keyboard Lighting is Single Color");
            write_reg_dword(kLightSettingKey, "KeyBoardColor", 1);
          } else if (value == 2) {
            Log(kCheck, "Keyboard Lighting is RGB");
            write_reg_dword(kLightSettingKey, "KeyBoardColor", 2);
          }
        } else if (function == kSmbiosFnKeyboardZones) {
          Log(kCheck, IndexLine(i, value));
          if (value == 0) {
            per_key = true;
            Log(kCheck, "Keyboard Lighting is PerKey");
            write_reg_dword(kLightSettingKey, "KeyBoardArea", 0);
          } else {
            Log(kCheck, FormatMessageSized(kMessageChars, "Keyboard Lighting is %d area",
                                           static_cast<int>(value)));
            write_reg_dword(kLightSettingKey, "KeyBoardArea", value);
          }
        }
      }
    }
    // A per-key keyboard may still be starting up: while it answers "none known", ask again,
    // five more times at most.
    int32_t language = corlan::QRN300::KeyboardHID::GetKeyboardType();
    for (int again = 0; per_key && language == corlan::QRN300::kNoKeyboard && again < 5; ++again) {
      language = corlan::QRN300::KeyboardHID::GetKeyboardType();
      if (language == corlan::QRN300::kNoKeyboard) {
        platform::Time().SleepFor(std::chrono::milliseconds(10));
      }
    }
    Log(kCheck, FormatMessageSized(kMessageChars, "Keyboard lang = %u",
                                   static_cast<unsigned>(language)));
    write_reg_dword(kCalvaneKey, "Keyboard_Lang", static_cast<uint32_t>(language));
  } catch (...) {
  }
}

void CapabilitySurvey::check_overdrive_LCD_support() {
  constexpr std::string_view kCheck = "check_overdrive_LCD_support";
  Log(kCheck, "check_overdrive_LCD_support() - start");
  Log(kCheck, FormatMessageSized(kMessageChars, "WMI GetGamingProfileConfigurationFunction input: 0x%I32X",
                                 kProfileConfiguration));
  uint64_t output = 0;
  if (GetGamingProfileConfigurationFunction(kProfileConfiguration, &output)) {
    Log(kCheck, FormatMessageSized(kMessageChars,
                                   "WMI GetGamingProfileConfigurationFunction output: 0x%I64X",
                                   output));
    const uint8_t overdrive = static_cast<uint8_t>(output >> 48);
    const uint32_t support = overdrive == 0xFF ? 0 : overdrive <= 1 ? 1 : 2;
    write_reg_dword(kAdvanceSettingsKey, "LCD_Overdrive_support", support);
  } else {
    Log(kCheck, "GetCorlanGamingSystemConfiguration is fail!!");
  }
  Log(kCheck, "check_overdrive_LCD_support() - end");
}

void CapabilitySurvey::check_Discrete_GPU_support() {
  constexpr std::string_view kCheck = "check_Discrete_GPU_support";
  Log(kCheck, "check_Discrete_GPU_support() - start");
  Log(kCheck, FormatMessageSized(kMessageChars, "WMI GetGamingMiscSettingFunction input: 0x%I32X",
                                 kMiscDiscreteGpu));
  uint64_t output = 0;  // logged as 0 when the call fails
  const bool ok = GetGamingMiscSettingFunction(kMiscDiscreteGpu, &output);
  Log(kCheck, FormatMessageSized(kMessageChars, "WMI GetGamingMiscSettingFunction output: 0x%I64X",
                                 output));
  if (ok) {
    const uint8_t status = static_cast<uint8_t>(output);
    const uint8_t capability = static_cast<uint8_t>(output >> 8);
    // Output bit 10 set: the dGPU exists but cannot be switched.
    const bool switchable = status == 0 && capability != 0 && (output & 0x400) == 0;
    write_reg_dword(kAdvanceSettingsKey, "discrete_gpu_support", switchable ? 1 : 0);
    write_reg_dword(kAdvanceSettingsKey, "dgpu_mode_capability", status == 0 ? capability : 0);
  } else {
    Log(kCheck, "check_Discrete_GPU_support is fail!!");
  }
  Log(kCheck, "check_Discrete_GPU_support() - end");
}

int CapabilitySurvey::get_customize_post_from_smbios() {
  const std::optional<stSMBiosType172> record = ReadType172();
  if (!record) return 0;
  const std::optional<SmbiosFunctionEntry> entry = find_smbios_function(*record, kSmbiosFnBootLogo);
  if (!entry) return 0;
  Log("get_customize_post_from_smbios", entry->value == 1 ? "True" : "False");
  return entry->value == 1 ? 1 : 0;
}

void CapabilitySurvey::check_boot_sound_switch_support() {
  constexpr std::string_view kCheck = "check_boot_sound_switch_support";
  Log(kCheck, "Entry");
  Log(kCheck, FormatMessageSized(kMessageChars, "WMI GetGamingMiscSettingFunction input: 0x%I32X",
                                 kMiscBootSound));
  uint64_t output = 0;  // logged as 0 when the call fails
  const bool ok = GetGamingMiscSettingFunction(kMiscBootSound, &output);
  Log(kCheck, FormatMessageSized(kMessageChars, "WMI GetGamingMiscSettingFunction output: 0x%I64X",
                                 output));
  if (!ok) {
    Log(kCheck, "check_boot_sound_switch_support is fail!!");
  } else if ((output & 0xFF) != 0 || ((output >> 8) & 0xFF) == 0xFF) {
    write_reg_dword(kCalvaneKey, "boot_sound_switch", 0);
    Log(kCheck, "Not Suppoet");
  } else {
    write_reg_dword(kCalvaneKey, "boot_sound_switch", 1);
    Log(kCheck, "Suppoet");
  }
  Log(kCheck, "Exit");
}

void CapabilitySurvey::get_support_fan_amount() {
  constexpr std::string_view kCheck = "get_support_fan_amount";
  try {
    uint64_t output = 0;
    // Which part of the answer counts the fans is not settled; the call is made, its output
    // left alone, and the line logs the 0 it has always logged.
    if (GetGamingSystemInformationFunction(kSystemInformation, &output)) {
      Log(kCheck, FormatMessageSized(kMessageChars, "amount_gpu: %d", 0));
    }
  } catch (...) {
    Log(kCheck, "Get_Supported_Capability Failed!", kLogException);
  }
}

}  // namespace ironbark
