#include "sim/machine_profile.h"

#include <charconv>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

#include "sim/simulated_notebook.h"

namespace sim {
namespace {

// A problem with one line; the parser adds the file and line number.
struct LineError {
  std::string message;
};

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> SplitList(std::string_view s, char separator) {
  std::vector<std::string_view> items;
  if (Trim(s).empty()) return items;
  size_t start = 0;
  while (true) {
    const size_t end = s.find(separator, start);
    items.push_back(Trim(s.substr(start, end == std::string_view::npos ? s.npos : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return items;
}

// Decimal or 0x-hexadecimal, at most `max`.
uint64_t Number(std::string_view s, uint64_t max, std::string_view what = "value") {
  std::string_view digits = s;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (digits.empty() || ec == std::errc::result_out_of_range) {
    throw LineError{"'" + std::string(s) + "' is not a number in 0.." + std::to_string(max)};
  }
  if (ec != std::errc() || end != digits.data() + digits.size()) {
    throw LineError{"'" + std::string(s) + "' is not a number"};
  }
  if (v > max) {
    throw LineError{std::string(what) + " " + std::string(s) + " is out of range 0.." +
                    std::to_string(max)};
  }
  return v;
}

constexpr uint64_t kMax8 = 0xFF;
constexpr uint64_t kMax16 = 0xFFFF;
constexpr uint64_t kMax56 = 0x00FFFFFFFFFFFFFFull;  // the data bits above the status byte

bool Switch(std::string_view s) {
  if (s == "yes" || s == "true") return true;
  if (s == "no" || s == "false") return false;
  throw LineError{"'" + std::string(s) + "' is not yes or no"};
}

std::string NonEmpty(std::string_view s) {
  if (s.empty()) throw LineError{"the value must not be empty"};
  return std::string(s);
}

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

// One section: what its keys do, and a check when it ends.
struct Section {
  std::function<void(std::string_view key, std::string_view value)> key;
  std::function<void()> finish;
};

using KeyTable = std::map<std::string, std::function<void(std::string_view)>, std::less<>>;

// A section made of fixed keys.
Section Keys(std::string name, KeyTable table) {
  auto shared = std::make_shared<KeyTable>(std::move(table));
  return Section{[shared, name](std::string_view key, std::string_view value) {
                   const auto it = shared->find(key);
                   if (it == shared->end()) {
                     throw LineError{"unknown key '" + std::string(key) + "' in [" + name + "]"};
                   }
                   it->second(value);
                 },
                 nullptr};
}

Section FirmwareClassSection(const std::string& name, FirmwareClassProfile& cls) {
  return Keys(name, {
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

// "N = value" sections; `reserved` numbers have keys of their own elsewhere.
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

class Parser {
 public:
  Parser(std::string source) { profile_.source = std::move(source); }

  MachineProfile Run(std::string_view text) {
    size_t line_number = 0;
    size_t section_line = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view line = Trim(text.substr(pos, end - pos));
      pos = end + 1;
      ++line_number;
      try {
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[') {
          FinishSection(section_line);
          OpenSection(line);
          section_line = line_number;
          continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) throw LineError{"expected 'key = value' or [section]"};
        const std::string key(Trim(line.substr(0, eq)));
        if (key.empty()) throw LineError{"missing key before '='"};
        if (!section_) throw LineError{"key '" + key + "' before the first [section]"};
        if (!keys_seen_.insert(key).second) {
          throw LineError{"key '" + key + "' given twice in [" + section_name_ + "]"};
        }
        section_->key(key, Trim(line.substr(eq + 1)));
      } catch (const LineError& e) {
        Fail(line_number, e.message);
      }
    }
    try {
      FinishSection(section_line);
    } catch (const LineError& e) {
      Fail(section_line, e.message);
    }
    return std::move(profile_);
  }

 private:
  [[noreturn]] void Fail(size_t line, const std::string& message) {
    throw ProfileError(profile_.source + ":" + std::to_string(line) + ": " + message);
  }

  void FinishSection(size_t section_line) {
    if (section_ && section_->finish) {
      try {
        section_->finish();
      } catch (const LineError& e) {
        Fail(section_line, e.message);
      }
    }
    section_.reset();
  }

  void OpenSection(std::string_view line) {
    if (line.back() != ']') throw LineError{"expected ']' at the end of the section line"};
    const std::string_view inner = Trim(line.substr(1, line.size() - 2));
    const size_t space = inner.find_first_of(" \t");
    const std::string name(inner.substr(0, space));
    const std::string argument(space == std::string_view::npos ? "" : Trim(inner.substr(space)));
    section_name_ = std::string(inner);
    keys_seen_.clear();

    if (name == "fault") {
      if (argument.empty()) throw LineError{"[fault] needs a method name: [fault METHOD]"};
      if (FindFirmwareMethod(argument) == nullptr) {
        throw LineError{"unknown firmware method '" + argument + "' in [fault]"};
      }
      if (profile_.faults.count(argument) != 0) {
        throw LineError{"section [" + section_name_ + "] appears twice"};
      }
      section_ = FaultSection(profile_.faults[argument]);
      return;
    }
    if (!argument.empty()) {
      throw LineError{"unknown section [" + section_name_ + "]"};
    }
    const bool repeatable = name == "volume" || name == "video_mode" || name == "driver";
    if (!repeatable && !sections_seen_.insert(name).second) {
      throw LineError{"section [" + name + "] appears twice"};
    }
    section_ = MakeSection(name);
  }

  std::optional<Section> MakeSection(const std::string& name) {
    MachineProfile& p = profile_;
    if (name == "system") {
      return Keys(name, {
          {"manufacturer", [&](std::string_view v) { p.manufacturer = std::string(v); }},
          {"model", [&](std::string_view v) { p.model = std::string(v); }},
          {"family", [&](std::string_view v) { p.family = std::string(v); }},
      });
    }
    if (name == "com") {
      return Keys(name, {
          {"apartment",
           [&](std::string_view v) {
             if (v == "multithreaded") {
               p.single_threaded_com = false;
             } else if (v == "single-threaded") {
               p.single_threaded_com = true;
             } else {
               throw LineError{"'" + std::string(v) + "' is not multithreaded or single-threaded"};
             }
           }},
      });
    }
    if (name == "firmware") {
      return Keys(name, {
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
    if (name == kGamingFunctionClass) return FirmwareClassSection(name, p.gaming_function);
    if (name == kFwxActionClass) return FirmwareClassSection(name, p.fwx_action);
    if (name == "state") {
      const auto u8 = [](uint8_t& field) {
        return [&field](std::string_view v) { field = static_cast<uint8_t>(Number(v, kMax8)); };
      };
      const auto u56 = [](uint64_t& field) {
        return [&field](std::string_view v) { field = Number(v, kMax56); };
      };
      return Keys(name, {
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
    if (name == "misc_settings") {
      return NumberedSection(name, p.misc_settings,
                             {kMiscDiscreteGpu, kMiscOperationModeCapability, kMiscOperationMode,
                              kMiscBootSound});
    }
    if (name == "functions") return NumberedSection(name, p.functions, {kFunctionAcAdaptor});
    if (name == "accessibility") {
      return Keys(name, {
          {"sticky_keys",
           [&](std::string_view v) {
             p.accessibility.sticky_keys =
                 static_cast<uint32_t>(Number(v, 0xFFFFFFFFu, "sticky_keys"));
           }},
          {"query_fails", [&](std::string_view v) { p.accessibility.query_fails = Switch(v); }},
          {"store_fails", [&](std::string_view v) { p.accessibility.store_fails = Switch(v); }},
      });
    }
    if (name == "volume") {
      p.volumes.emplace_back();
      VolumeProfile& vol = p.volumes.back();
      Section s = Keys(name, {
          {"name", [&](std::string_view v) { vol.name = NonEmpty(v); }},
          {"label", [&](std::string_view v) { vol.label = std::string(v); }},
          {"drive_letter", [&](std::string_view v) { vol.drive_letter = std::string(v); }},
          {"file_system", [&](std::string_view v) { vol.file_system = std::string(v); }},
          {"folders",
           [&](std::string_view v) {
             vol.folders.clear();
             for (std::string_view item : SplitList(v, ',')) {
               if (item.empty() || item.front() != '\\') {
                 throw LineError{"folder '" + std::string(item) +
                                 "' must start with a backslash (\\EFI\\OEM)"};
               }
               vol.folders.emplace_back(item);
             }
           }},
      });
      s.finish = [&vol] {
        if (vol.name.empty()) throw LineError{"[volume] needs a name"};
      };
      return s;
    }
    if (name == "video_mode") {
      p.video_modes.emplace_back();
      VideoModeProfile& mode = p.video_modes.back();
      const auto dimension = [](uint32_t& field) {
        return [&field](std::string_view v) {
          field = static_cast<uint32_t>(Number(v, kMax16));
          if (field == 0) throw LineError{"a resolution must be 1..65535"};
        };
      };
      Section s = Keys(name, {
          {"horizontal", dimension(mode.horizontal)},
          {"vertical", dimension(mode.vertical)},
          {"refresh_rate", [&](std::string_view v) { mode.refresh_rate = static_cast<uint32_t>(Number(v, 1000)); }},
          {"fails", [&](std::string_view v) { mode.fails = Switch(v); }},
      });
      s.finish = [&mode] {
        if (mode.horizontal == 0 || mode.vertical == 0) {
          throw LineError{"[video_mode] needs horizontal and vertical"};
        }
      };
      return s;
    }
    if (name == "driver") {
      p.drivers.emplace_back();
      DriverProfile& driver = p.drivers.back();
      Section s = Keys(name, {
          {"hardware_id", [&](std::string_view v) { driver.hardware_id = NonEmpty(v); }},
          {"driver_key", [&](std::string_view v) { driver.driver_key = NonEmpty(v); }},
          {"driver_version", [&](std::string_view v) { driver.driver_version = NonEmpty(v); }},
      });
      s.finish = [&driver] {
        if (driver.hardware_id.empty()) throw LineError{"[driver] needs a hardware_id"};
        if (driver.driver_version && !driver.driver_key) {
          throw LineError{"[driver] driver_version needs a driver_key"};
        }
      };
      return s;
    }
    if (name == "smbios") {
      return Keys(name, {
          {"present", [&](std::string_view v) { p.smbios_present = Switch(v); }},
          {"major_version", [&](std::string_view v) { p.smbios_major = static_cast<uint8_t>(Number(v, kMax8)); }},
          {"minor_version", [&](std::string_view v) { p.smbios_minor = static_cast<uint8_t>(Number(v, kMax8)); }},
          {"bios_vendor", [&](std::string_view v) { p.bios_vendor = NonEmpty(v); }},
          {"bios_version", [&](std::string_view v) { p.bios_version = NonEmpty(v); }},
          {"bios_date", [&](std::string_view v) { p.bios_date = NonEmpty(v); }},
          {"type172",
           [&](std::string_view v) {
             p.type172.clear();
             for (std::string_view item : SplitList(v, ',')) {
               const std::vector<std::string_view> parts = SplitList(item, ':');
               if (parts.size() != 2) throw LineError{"expected FUNCTION:VALUE, got '" + std::string(item) + "'"};
               p.type172.emplace_back(static_cast<uint8_t>(Number(parts[0], kMax8, "function")),
                                      static_cast<uint16_t>(Number(parts[1], kMax16)));
             }
             if (p.type172.size() > 83) throw LineError{"type172 holds at most 83 entries"};
           }},
          {"type170",
           [&](std::string_view v) {
             p.type170.clear();
             for (std::string_view item : SplitList(v, ',')) {
               const std::vector<std::string_view> parts = SplitList(item, ':');
               if (parts.size() != 2 && parts.size() != 3) {
                 throw LineError{"expected CODE:KIND or CODE:SECOND:KIND, got '" + std::string(item) + "'"};
               }
               Type170EntryProfile e;
               e.code = static_cast<uint8_t>(Number(parts[0], kMax8, "code"));
               if (parts.size() == 3) e.second_byte = static_cast<uint8_t>(Number(parts[1], kMax8));
               e.kind = static_cast<uint16_t>(Number(parts.back(), kMax16, "kind"));
               p.type170.push_back(e);
             }
             if (p.type170.size() > 60) throw LineError{"type170 holds at most 60 entries"};
           }},
      });
    }
    throw LineError{"unknown section [" + name + "]"};
  }

  static Section FaultSection(MethodFault& fault) {
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

  MachineProfile profile_;
  std::optional<Section> section_;
  std::string section_name_;
  std::set<std::string> sections_seen_;
  std::set<std::string> keys_seen_;
};

}  // namespace

const MethodFault* MachineProfile::FaultFor(std::string_view method) const {
  const auto it = faults.find(std::string(method));
  return it == faults.end() ? nullptr : &it->second;
}

MachineProfile ParseMachineProfile(std::string_view text, std::string source) {
  return Parser(std::move(source)).Run(text);
}

MachineProfile LoadMachineProfile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ProfileError(path + ": cannot read machine profile");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ProfileError(path + ": cannot read machine profile");
  return ParseMachineProfile(text.str(), path);
}

}  // namespace sim
