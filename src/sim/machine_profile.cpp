#include "sim/machine_profile.h"

#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace sim {
using namespace profile_format;

namespace {

enum class Occurs {
  kOnce,         // at most once
  kRepeated,     // any number of times, each one more item of its kind ([volume])
  kOncePerName,  // with a name after its own, at most once per name ([fault METHOD])
};

// A section of the format and the device that reads it. `argument` is the name after the
// section's own, empty for sections that take none.
struct SectionRow {
  std::string_view name;
  Occurs occurs;
  Section (*open)(MachineProfile& machine, const std::string& argument);
};

// Every section there is. A new simulated device adds a row for each of its sections.
constexpr SectionRow kSections[] = {
    {"system", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return SystemSection(m.system); }},
    {"com", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return ComSection(m.com); }},
    {"firmware", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return FirmwareSection(m.firmware); }},
    {kGamingFunctionClass, Occurs::kOnce,
     [](MachineProfile& m, const std::string&) {
       return FirmwareClassSection(kGamingFunctionClass, m.firmware.gaming_function);
     }},
    {kFwxActionClass, Occurs::kOnce,
     [](MachineProfile& m, const std::string&) {
       return FirmwareClassSection(kFwxActionClass, m.firmware.fwx_action);
     }},
    {"state", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return StateSection(m.firmware); }},
    {"misc_settings", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return MiscSettingsSection(m.firmware); }},
    {"functions", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return FunctionsSection(m.firmware); }},
    {"fault", Occurs::kOncePerName,
     [](MachineProfile& m, const std::string& method) { return FaultSection(m.firmware, method); }},
    {"accessibility", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return AccessibilitySection(m.accessibility); }},
    {"session", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return SessionSection(m.session); }},
    {"volume", Occurs::kRepeated,
     [](MachineProfile& m, const std::string&) { return VolumeSection(m.volumes.emplace_back()); }},
    {"video_mode", Occurs::kRepeated,
     [](MachineProfile& m, const std::string&) {
       return VideoModeSection(m.video_modes.emplace_back());
     }},
    {"driver", Occurs::kRepeated,
     [](MachineProfile& m, const std::string&) { return DriverSection(m.drivers.emplace_back()); }},
    {"smbios", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return SmbiosSection(m.smbios); }},
    {"hid", Occurs::kRepeated,
     [](MachineProfile& m, const std::string&) {
       return HidSection(m.hid_interfaces.emplace_back());
     }},
    {"ec", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return EcSection(m.ec); }},
    {"ec_fault", Occurs::kRepeated,
     [](MachineProfile& m, const std::string&) {
       return EcFaultSection(m.ec.faults.emplace_back());
     }},
    {"keyboard", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return KeyboardSection(m.keyboard); }},
    {"dts", Occurs::kOnce,
     [](MachineProfile& m, const std::string&) { return DtsSection(m.dts); }},
    {"gpu", Occurs::kRepeated,
     [](MachineProfile& m, const std::string&) { return GpuSection(m.gpus.emplace_back()); }},
};

const SectionRow* FindSection(std::string_view name) {
  for (const SectionRow& row : kSections) {
    if (row.name == name) return &row;
  }
  return nullptr;
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

    const SectionRow* row = FindSection(name);
    const bool named = row != nullptr && row->occurs == Occurs::kOncePerName;
    if (row == nullptr || (!named && !argument.empty())) {
      throw LineError{"unknown section [" + section_name_ + "]"};
    }
    if (row->occurs != Occurs::kRepeated &&
        !sections_seen_.insert(named ? name + " " + argument : name).second) {
      throw LineError{"section [" + section_name_ + "] appears twice"};
    }
    section_ = row->open(profile_, argument);
  }

  MachineProfile profile_;
  std::optional<Section> section_;
  std::string section_name_;
  std::set<std::string> sections_seen_;
  std::set<std::string> keys_seen_;
};

}  // namespace

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
