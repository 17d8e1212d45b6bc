// The embedded controller's request/reply protocol as pure functions over one 64-byte block:
// the requests the broker sends and the checks each reply must pass, with the line a failed
// check logs. EcHID (hid/ec_hid.h) carries the blocks to the device and back.
//
// Block layout (little-endian; the feature report on the wire is report ID 0xA0 followed by
// the block): u16@0 request header 0xA000 / reply return code (0xE000 = success), u16@2 command
// ID (echoed in the reply), command-specific bytes from offset 4.
#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace corlan::QRN300 {

using EcBlock = std::array<uint8_t, 64>;

inline constexpr uint16_t kEcRequestHeader = 0xA000;
inline constexpr uint16_t kEcSuccess = 0xE000;
inline constexpr uint16_t kEcNoValues = 0xE001;         // an EC answer: nothing delivered
inline constexpr uint16_t kEcEchoMismatch = 0xE0D1;     // command or device not echoed
inline constexpr uint16_t kEcNoVersionOrDevice = 0xE00F;
inline constexpr uint16_t kEcTransportFailed = 0xFFFF;
inline constexpr uint32_t kEcVersionUnknown = 0xFFFF;

inline constexpr uint16_t kEcCmdSystemStatus = 0x0000;
inline constexpr uint16_t kEcCmdOCProfile = 0x0002;
inline constexpr uint16_t kEcCmdDeviceStatus = 0x000A;

inline constexpr uint8_t kEcStatusDataVersion = 0;
inline constexpr uint8_t kEcStatusBatteryBoost = 2;
inline constexpr uint8_t kEcStatusAC = 3;
inline constexpr uint8_t kEcStatusOCCapability = 4;

inline constexpr uint8_t kEcDeviceKeyboardBacklight = 2;

// Twelve values from packed reply fields, uninterpreted.
struct OCProfile {
  uint32_t values[12] = {};
};

// Versions whose low byte is 0 and whose high byte is below 6 answer system status in the
// legacy layout (the value at 4); the others echo the type at 4 and put the value at 6. An
// unknown version (0xFFFF) counts as current.
bool EcUsesLegacyLayout(uint32_t version);

EcBlock EcSystemStatusRequest(uint8_t type);
EcBlock EcOCProfileRequest();
EcBlock EcDeviceStatusGetRequest(uint8_t device);
EcBlock EcDeviceStatusSetRequest(uint8_t device, uint16_t value1, uint16_t value2);

// What a check found: success, or failure with the line to log (empty: fail silently).
struct EcCheck {
  bool ok = false;
  std::string error;
};

// Data-version reply: return code, command echo (silent), then the legacy form (0xFFFF at 6:
// version at 4) or the current one (type 0 at 4: version at 6); else "Error getting data
// version". *version is set only on success.
EcCheck EcCheckDataVersion(const EcBlock& reply, uint32_t* version);
// System-status reply to a request for `type`, read in the layout of `cached_version`.
EcCheck EcCheckSystemStatus(const EcBlock& reply, uint8_t type, uint32_t cached_version,
                            uint32_t* value);
// Overclocking-profile reply: return code ("HID return code: %04X"), command echo (silent).
EcCheck EcCheckOCProfile(const EcBlock& reply, OCProfile* profile);
// Device-status get reply, checked command, device, return code in that order: the result code
// (kEcSuccess with the three values at 6, 8, 10; kEcEchoMismatch; or the EC's own code) and in
// *error the line to log. The values are written only on kEcSuccess.
uint16_t EcCheckDeviceStatusGet(const EcBlock& reply, uint8_t device, uint32_t* value0,
                                uint32_t* value1, uint32_t* value2, std::string* error);
// Device-status set reply, checked return code, command, device in that order.
EcCheck EcCheckDeviceStatusSet(const EcBlock& reply, uint8_t device);

}  // namespace corlan::QRN300
