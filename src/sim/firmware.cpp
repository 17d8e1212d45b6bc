#include "sim/firmware.h"

#include <array>
#include <set>
#include <sstream>

#include "base/text.h"

namespace sim {
using namespace profile_format;

namespace {

constexpr std::string_view kGm = "gmInput";
constexpr std::string_view kGmOut = "gmOutput";
constexpr std::string_view kUi = "uiInput";
constexpr std::string_view kUiOut = "uiOutput";

constexpr std::array<FirmwareMethodSpec, 14> kMethods{{
    {FirmwareMethod::kGetGamingSysInfo, kGamingFunctionClass, "GetGamingSysInfo", kGm, 32, kGmOut, 64},
    {FirmwareMethod::kSetGamingProfile, kGamingFunctionClass, "SetGamingProfile", kGm, 64, kGmOut, 32},
    {FirmwareMethod::kGetGamingProfile, kGamingFunctionClass, "GetGamingProfile", kGm, 32, kGmOut, 64},
    {FirmwareMethod::kGetGamingLED, kGamingFunctionClass, "GetGamingLED", kGm, 32, kGmOut, 64},
    {FirmwareMethod::kSetGamingFanBehavior, kGamingFunctionClass, "SetGamingFanBehavior", kGm, 64, kGmOut, 32},
    {FirmwareMethod::kGetGamingFanBehavior, kGamingFunctionClass, "GetGamingFanBehavior", kGm, 32, kGmOut, 64},
    {FirmwareMethod::kSetGamingFanSpeed, kGamingFunctionClass, "SetGamingFanSpeed", kGm, 64, kGmOut, 32},
    {FirmwareMethod::kGetGamingFanSpeed, kGamingFunctionClass, "GetGamingFanSpeed", kGm, 32, kGmOut, 64},
    {FirmwareMethod::kSetGamingFanTable, kGamingFunctionClass, "SetGamingFanTable", kGm, 64, kGmOut, 32},
    {FirmwareMethod::kGetGamingFanTable, kGamingFunctionClass, "GetGamingFanTable", {}, 0, kGmOut, 64},
    {FirmwareMethod::kSetGamingMiscSetting, kGamingFunctionClass, "SetGamingMiscSetting", kGm, 64, kGmOut, 32},
    {FirmwareMethod::kGetGamingMiscSetting, kGamingFunctionClass, "GetGamingMiscSetting", kGm, 32, kGmOut, 64},
    {FirmwareMethod::kGetFunction, kFwxActionClass, "GetFunction", kUi, 32, kUiOut, 64},
    {FirmwareMethod::kSetFunction, kFwxActionClass, "SetFunction", kUi, 64, kUiOut, 32},
}};

constexpr uint64_t kMax56 = 0x00FFFFFFFFFFFFFFull;  // the data bits above the status byte

std::vector<uint8_t> HexBytes(std::string_view s) {
  std::vector<uint8_t> bytes;
  std::istringstream in{std::string(s)};
  std::string item;
  while (in >> item) {
    if (item.size() > 2) throw LineError{"'" + item + "' is not a hex byte"};
    bytes.push_back(static_cast<uint8_t>(Number("0x" + item, kMax8, "byte")));
  }
  if (bytes.empty() || bytes.size() > 64) throw LineError{"expected 1 to 64 hex bytes"};
  return bytes;
}

// "N = value" sections; `reserved` numbers have keys of their own in [state].
Section NumberedSection(std::string name, std::map<uint8_t, uint64_t>& values,
                        std::set<uint8_t> reserved) {
  return Section{[&values, name, reserved](std::string_view key, std::string_view value) {
                   uint64_t n = 0;
                   try {
                     n = Number(key, kMax8, "number");
                   } catch (const LineError&) {
                     throw LineError{"unknown key '" + std::string(key) + "' in [" + name +
                                     "] (keys are numbers 0..255)"};
                   }
                   if (reserved.count(static_cast<uint8_t>(n)) != 0) {
                     throw LineError{"[" + name + "] " + std::string(key) +
                                     " is set in [state]"};
                   }
                   values[static_cast<uint8_t>(n)] = Number(value, kMax56);
                 },
                 nullptr};
}

}  // namespace

std::span<const FirmwareMethodSpec> FirmwareMethods() { return kMethods; }

const FirmwareMethodSpec* FindFirmwareMethod(std::string_view class_name, std::string_view name) {
  for (const FirmwareMethodSpec& m : kMethods) {
    if (m.name == name && text::AsciiLower(m.class_name) == text::AsciiLower(class_name)) return &m;
  }
  return nullptr;
}

const FirmwareMethodSpec* FindFirmwareMethod(std::string_view name) {
  for (const FirmwareMethodSpec& m : kMethods) {
    if (m.name == name) return &m;
  }
  return nullptr;
}

const MethodFault* FirmwareProfile::FaultFor(std::string_view method) const {
  const auto it = faults.find(std::string(method));
  return it == faults.end() ? nullptr : &it->second;
}

Section FirmwareSection(FirmwareProfile& p) {
  return Keys("firmware", {
      {"integer_outputs",
       [&](std::string_view v) {
         if (v == "wmi") {
           p.integer_outputs = IntegerOutputs::kWmi;
         } else if (v == "typed") {
           p.integer_outputs = IntegerOutputs::kTyped;
         } else {
           throw LineError{"'" + std::string(v) + "' is not wmi or typed"};
         }
       }},
      {"fan_groups",
       [&](std::string_view v) {
         p.fan_groups = static_cast<uint8_t>(Number(v, 8, "fan_groups"));
         if (p.fan_groups == 0) throw LineError{"fan_groups must be 1..8"};
       }},
  });
}

Section FirmwareClassSection(std::string_view name, FirmwareClassProfile& cls) {
  return Keys(std::string(name), {
      {"present", [&](std::string_view v) { cls.present = Switch(v); }},
      {"instance_name", [&](std::string_view v) { cls.instance_name = NonEmpty(v); }},
      {"leading_instances",
       [&](std::string_view v) {
         cls.leading_instances.clear();
         for (std::string_view item : SplitList(v, ',')) {
           if (item == "missing") {
             cls.leading_instances.push_back(InstanceDefect::kMissingName);
           } else if (item == "null") {
             cls.leading_instances.push_back(InstanceDefect::kNullName);
           } else if (item == "empty") {
             cls.leading_instances.push_back(InstanceDefect::kEmptyName);
           } else {
             throw LineError{"'" + std::string(item) + "' is not missing, null or empty"};
           }
         }
       }},
  });
}

Section StateSection(FirmwareProfile& p) {
  const auto u8 = [](uint8_t& field) {
    return [&field](std::string_view v) { field = static_cast<uint8_t>(Number(v, kMax8)); };
  };
  const auto u56 = [](uint64_t& field) {
    return [&field](std::string_view v) { field = Number(v, kMax56); };
  };
  return Keys("state", {
      {"operation_mode", u8(p.operation_mode)},
      {"operation_mode_capability", u56(p.operation_mode_capability)},
      {"dgpu_setting", u56(p.dgpu_setting)},
      {"boot_sound", u8(p.boot_sound)},
      {"gaming_profile", u56(p.gaming_profile)},
      {"lcd_overdrive", u8(p.lcd_overdrive)},
      {"fan_behavior", u56(p.fan_behavior)},
      {"fan_speed", u56(p.fan_speed)},
      {"fan_table", u56(p.fan_table)},
      {"led_bytes", [&](std::string_view v) { p.led_bytes = HexBytes(v); }},
      {"turbo_key",
       [&](std::string_view v) { p.turbo_key = static_cast<uint8_t>(Number(v, 3, "turbo_key")); }},
      {"adaptors",
       [&](std::string_view v) {
         p.adaptors = static_cast<uint8_t>(Number(v, 2, "adaptors"));
         if (p.adaptors == 0) throw LineError{"adaptors must be 1 or 2"};
       }},
      {"ac_present", [&](std::string_view v) { p.ac_present = Switch(v); }},
      {"battery_boost", [&](std::string_view v) { p.battery_boost = Switch(v); }},
  });
}

Section MiscSettingsSection(FirmwareProfile& p) {
  return NumberedSection("misc_settings", p.misc_settings,
                         {kMiscDiscreteGpu, kMiscOperationModeCapability, kMiscOperationMode,
                          kMiscBootSound});
}

Section FunctionsSection(FirmwareProfile& p) {
  return NumberedSection("functions", p.functions, {kFunctionAcAdaptor});
}

Section FaultSection(FirmwareProfile& p, const std::string& method) {
  if (method.empty()) throw LineError{"[fault] needs a method name: [fault METHOD]"};
  if (FindFirmwareMethod(method) == nullptr) {
    throw LineError{"unknown firmware method '" + method + "' in [fault]"};
  }
  MethodFault& fault = p.faults[method];
  return Keys("fault", {
      {"missing", [&](std::string_view v) { fault.missing = Switch(v); }},
      {"exec_error",
       [&](std::string_view v) {
         const uint64_t hr = Number(v, 0xFFFFFFFFu, "exec_error");
         if (hr < 0x80000000u) throw LineError{"exec_error must be a failure HRESULT (0x8...)"};
         fault.exec_error = static_cast<int32_t>(static_cast<uint32_t>(hr));
       }},
      {"status",
       [&](std::string_view v) {
         fault.status = static_cast<uint8_t>(Number(v, kMax8, "status"));
         if (fault.status == 0) throw LineError{"status must be 1..255"};
       }},
      {"output",
       [&](std::string_view v) {
         if (v == "null") {
           fault.output = OutputFault::kNull;
         } else if (v == "absent") {
           fault.output = OutputFault::kAbsent;
         } else if (v.substr(0, 5) == "text:") {
           fault.output = OutputFault::kText;
           fault.output_text = std::string(v.substr(5));
         } else {
           throw LineError{"'" + std::string(v) + "' is not null, absent or text:..."};
         }
       }},
  });
}

}  // namespace sim
