// The raw SMBIOS structure table as the firmware publishes it through WMI (ROOT\WMI,
// MSSMBios_RawSMBiosTables). The table is fetched afresh on every call; nothing is cached.
#pragma once
#include "firmware/smbios.h"

// Copies the table of the first MSSMBios_RawSMBiosTables instance into `table`: "SMBiosData"
// (a byte array) into data and length, the low bytes of "SmbiosMajorVersion" and
// "SmbiosMinorVersion" into the version fields. True when the table was copied. False when the
// connection, the class, its instance or one of the three properties is missing, or when
// "SMBiosData" is not a byte array; the version bytes are already set in that last case, data
// and length are left untouched in every case. Safe to call from any thread (it opens its own
// connection).
bool get_raw_smbios_table(SmbiosRawTable* table);
