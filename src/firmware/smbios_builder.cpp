#include "firmware/smbios_builder.h"

#include <stdexcept>

#include "base/little_endian.h"

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
  return AddStructure(kSmbiosTypeFeatures, handle, body);
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
  return AddStructure(kSmbiosTypeHotkeys, handle, body);
}

SmbiosTableBuilder& SmbiosTableBuilder::AddEndOfTable(uint16_t handle) {
  return AddStructure(kSmbiosTypeEndOfTable, handle, {});
}

SmbiosTableBuilder& SmbiosTableBuilder::AddRaw(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

SmbiosRawTable SmbiosTableBuilder::Build(uint8_t major_version, uint8_t minor_version) const {
  return make_smbios_raw_table(bytes_, major_version, minor_version);
}
