#include "firmware/smbios_table.h"

#include <array>
#include <limits>

#include "firmware/wmi_access.h"

namespace {

// The version properties arrive as 8-bit integers on Windows; whatever number type they come
// in, only their low byte is kept. A value that is no number at all counts as 0.
uint8_t LowByte(wmi::Variant value) {
  switch (value.type) {
    case wmi::VarType::kUI1:
    case wmi::VarType::kI4:
    case wmi::VarType::kUI4:
    case wmi::VarType::kI8:
    case wmi::VarType::kUI8:
    case wmi::VarType::kBool:
      return static_cast<uint8_t>(value.bits);
    default:
      return wmi::Succeeded(wmi::VariantChangeType(value, wmi::VarType::kUI8))
                 ? static_cast<uint8_t>(value.bits)
                 : 0;
  }
}

}  // namespace

bool get_raw_smbios_table(SmbiosRawTable* table) {
  WmiConnection connection;
  if (!wmi_connect(connection, "ROOT\\WMI")) return false;
  wmi::Variant data;
  wmi::Variant major;
  wmi::Variant minor;
  const std::array<WmiOutput, 3> properties = {{{"SMBiosData", &data},
                                                {"SmbiosMajorVersion", &major},
                                                {"SmbiosMinorVersion", &minor}}};
  const bool read = wmi_get_first_instance(connection, "MSSMBios_RawSMBiosTables", properties);
  wmi_close(connection);
  if (!read) return false;
  table->major_version = LowByte(major);
  table->minor_version = LowByte(minor);
  if (data.type != wmi::VarType::kUI1Array ||
      data.bytes.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return false;
  table->length = static_cast<int32_t>(data.bytes.size());
  table->data = std::move(data.bytes);
  return true;
}
