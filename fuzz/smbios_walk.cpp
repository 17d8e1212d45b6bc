// Any bytes as the firmware's raw SMBIOS structure table: the walk, every string of every
// structure, and the decoding of the type-170 and type-172 records.
#include <cstdint>
#include <vector>

#include "firmware/smbios.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // The first four bytes give the table's declared length, which may disagree with its size.
  const int32_t length = static_cast<int32_t>(data[0] | data[1] << 8 | data[2] << 16 | uint32_t(data[3]) << 24);
  SmbiosRawTable table = make_smbios_raw_table(std::vector<uint8_t>(data + 4, data + size));
  if (length >= 0 && (data[3] & 0x40) == 0) table.length = length;
  size_t total = 0;
  for (const SmbiosStructure& s : walk_smbios_structures(table))
    for (int i = 0; i <= 255; ++i) total += smbios_string(s, static_cast<uint8_t>(i)).size();
  if (total > table.data.size()) __builtin_trap();  // strings never overlap
  find_smbios_structure(table, data[0]);
  stSMBiosType172 r172;
  if (parse_smbios_type172(table, &r172))
    for (int f = 0; f < 256; ++f) find_smbios_function(r172, static_cast<uint8_t>(f));
  SmbiosType170 r170;
  parse_smbios_type170(table, &r170);
  return 0;
}
