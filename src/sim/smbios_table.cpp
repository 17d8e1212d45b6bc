#include "sim/smbios_table.h"

#include <stdexcept>

#include "base/little_endian.h"

namespace sim {
using namespace profile_format;

namespace {

constexpr uint8_t kTypeBios = 0;
constexpr uint8_t kTypeSystem = 1;
constexpr uint8_t kTypeHotkeys = 170;
constexpr uint8_t kTypeFeatures = 172;
constexpr uint8_t kTypeEndOfTable = 127;

}  // namespace

Section SystemSection(SystemProfile& p) {
  return Keys("system", {
      {"manufacturer", [&](std::string_view v) { p.manufacturer = std::string(v); }},
      {"model", [&](std::string_view v) { p.model = std::string(v); }},
      {"family", [&](std::string_view v) { p.family = std::string(v); }},
  });
}

Section SmbiosSection(SmbiosProfile& p) {
  return Keys("smbios", {
      {"present", [&](std::string_view v) { p.present = Switch(v); }},
      {"major_version", [&](std::string_view v) { p.major_version = static_cast<uint8_t>(Number(v, kMax8)); }},
      {"minor_version", [&](std::string_view v) { p.minor_version = static_cast<uint8_t>(Number(v, kMax8)); }},
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
           SmbiosHotkeyEntry e;
           e.code = static_cast<uint8_t>(Number(parts[0], kMax8, "code"));
           if (parts.size() == 3) e.second_byte = static_cast<uint8_t>(Number(parts[1], kMax8));
           e.kind = static_cast<uint16_t>(Number(parts.back(), kMax16, "kind"));
           p.type170.push_back(e);
         }
         if (p.type170.size() > 60) throw LineError{"type170 holds at most 60 entries"};
       }},
  });
}

std::vector<uint8_t> SmbiosTable(const SystemProfile& system, const SmbiosProfile& smbios) {
  // Strings are referenced by number; 0 means "no string", which an absent or empty text gets.
  std::vector<std::string> strings;
  const auto ref = [&strings](const std::optional<std::string>& s) -> uint8_t {
    if (!s || s->empty()) return 0;
    strings.push_back(*s);
    return static_cast<uint8_t>(strings.size());
  };

  SmbiosTableBuilder builder;
  uint16_t handle = 0;

  // Type 0, BIOS information: vendor, version, start segment, release date, ROM size,
  // characteristics.
  std::vector<uint8_t> bios(14, 0);
  bios[0] = ref(smbios.bios_vendor);
  bios[1] = ref(smbios.bios_version);
  bios[2] = 0x00;
  bios[3] = 0xF0;  // start segment 0xF000
  bios[4] = ref(smbios.bios_date);
  bios[5] = 0xFF;  // ROM size: see the extended field
  bios[6] = 0x08;  // characteristics: not supported bit cleared, "characteristics supported"
  builder.AddStructure(kTypeBios, handle++, bios, strings);

  // Type 1, system information (version 2.4 layout): manufacturer, product, version, serial,
  // UUID, wake-up type, SKU, family.
  strings.clear();
  std::vector<uint8_t> record(0x1B - 4, 0);
  record[0] = ref(system.manufacturer);
  record[1] = ref(system.model);
  record[0x18 - 4] = 0x06;  // wake-up type: power switch
  record[0x1A - 4] = ref(system.family);
  builder.AddStructure(kTypeSystem, handle++, record, strings);

  if (!smbios.type170.empty()) builder.AddType170(handle++, smbios.type170);
  builder.AddType172(handle++, smbios.type172);
  builder.AddEndOfTable(handle++);
  return builder.Bytes();
}

SmbiosTableBuilder& SmbiosTableBuilder::AddStructure(uint8_t type, uint16_t handle,
                                                     std::span<const uint8_t> body,
                                                     const std::vector<std::string>& strings) {
  if (body.size() > 255 - 4) throw std::length_error("SMBIOS formatted area longer than 255");
  for (const std::string& s : strings) {
    if (s.empty() || s.find('\0') != std::string::npos) {
      throw std::invalid_argument("SMBIOS strings must be non-empty and hold no zero byte");
    }
  }
  bytes_.push_back(type);
  bytes_.push_back(static_cast<uint8_t>(4 + body.size()));
  le::Append(bytes_, handle, 2);
  bytes_.insert(bytes_.end(), body.begin(), body.end());
  for (const std::string& s : strings) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
  }
  // Without strings the set is the double zero alone; otherwise the last string's zero is
  // the first half of it.
  if (strings.empty()) bytes_.push_back(0);
  bytes_.push_back(0);
  return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::AddType172(
    uint16_t handle, std::span<const std::pair<uint8_t, uint16_t>> functions, uint8_t oem_byte4,
    uint8_t oem_byte5) {
  std::vector<uint8_t> body{oem_byte4, oem_byte5};
  for (const auto& [function, value] : functions) {
    body.push_back(function);
    le::Append(body, value, 2);
  }
  return AddStructure(kTypeFeatures, handle, body);
}

SmbiosTableBuilder& SmbiosTableBuilder::AddType170(uint16_t handle,
                                                   std::span<const SmbiosHotkeyEntry> entries,
                                                   const uint16_t (&oem_words)[5]) {
  std::vector<uint8_t> body;
  for (uint16_t w : oem_words) le::Append(body, w, 2);
  for (const SmbiosHotkeyEntry& e : entries) {
    body.push_back(e.code);
    body.push_back(e.second_byte);
    le::Append(body, e.kind, 2);
  }
  return AddStructure(kTypeHotkeys, handle, body);
}

SmbiosTableBuilder& SmbiosTableBuilder::AddEndOfTable(uint16_t handle) {
  return AddStructure(kTypeEndOfTable, handle, {});
}

SmbiosTableBuilder& SmbiosTableBuilder::AddRaw(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

}  // namespace sim
