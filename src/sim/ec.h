// The simulated notebook's embedded controller behind its vendor-defined HID interface (a [hid]
// section with device = ec). Every exchange is one 64-byte block after feature report ID 0xA0:
// the host writes a request, the EC answers it at once into its reply buffer, and the host reads
// the buffer back. Multi-byte fields are little-endian.
//
// Request: u16 at 0 = 0xA000 (the header), u16 at 2 = command. Reply: u16 at 0 = return code,
// u16 at 2 = the command echoed, the rest by command:
//   0x0000 system status, byte 4 = type: 0 data version, 2 battery boost, 3 AC status,
//          4 overclocking capability. Two layouts, chosen by the EC's own data version:
//            legacy (low byte 0, high byte below 6): u16 at 4 = value; u16 at 6 = 0xFFFF in the
//            data-version reply, 0 otherwise;
//            current: byte 4 = the type echoed, byte 5 = 0, u16 at 6 = value.
//   0x0002 overclocking profile (request u16 at 4 = 0x0002): byte 4 = 0x02 echoed, then twelve
//          packed values: byte 5; u16 at 6, 8, 10, 12, 14; bytes 16, 17, 18; u16 at 19, 21, 23.
//   0x000A device status, byte 4 = operation (1 set, 2 get), byte 5 = device index, both echoed.
//          Device 2, the keyboard backlight: get answers u16 at 6 = 1, at 8 the brightness, at 10
//          the timeout in seconds; set (u16 at 6 = 1) stores the u16 at 8 and 10 and answers the
//          stored values the same way. The values last as long as the EC runs (the process).
// Return codes: 0xE000 success; 0xE001 the EC has no such device (any index but 2; command,
// operation and index echoed, no values); 0xE002 unknown command (command echoed); 0xE003 a
// parameter the command does not take (unknown status type or operation, a set whose u16 at 6
// is not 1, a profile request without 0x0002 at 4; command, type or operation and index
// echoed, nothing stored); 0xE0FF the block is not a request (header not 0xA000; nothing else
// in the reply). A read with no request since the last read answers the last reply again
// (zeros before the first request), as the EC's reply buffer keeps its contents.
//
// Profile sections (defaults in parentheses; machines/README.md has the long form):
//   [ec]        data_version = 16-bit (0x0600): the version the EC reports; it picks the layout
//               ac_status (1), battery_boost (0), oc_capability (1) = 16-bit status values
//               oc_profile = twelve comma-separated values, each within its packed field's
//               width (byte or u16), or no: the EC does not know command 0x0002 (twelve 0)
//               backlight_brightness (100), backlight_timeout (30) = 16-bit, at power-on
//   [ec_fault]  once per wrong answer, tried in profile order, the first that still applies wins:
//               request = data_version | status_2 | status_3 | status_4 | oc_profile |
//                         device_get | device_set (required): the requests it answers
//               return_code, echo_command = 16-bit; echo_type, echo_device = 8-bit: replace
//               the u16 at 0, the u16 at 2, byte 4, byte 5 of the reply
//               malformed = yes (data_version only): a version reply of neither layout
//               (u16 at 4 = 0x00FF, u16 at 6 = 0)
//               times = N: only the next N matching requests (every one)
//               A device_set answered with a return code other than 0xE000 stores nothing.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/hid_firmware.h"
#include "sim/profile_format.h"

namespace sim {

inline constexpr uint8_t kEcReportId = 0xA0;
inline constexpr size_t kEcBlockBytes = 64;

inline constexpr uint16_t kEcRequestHeader = 0xA000;
inline constexpr uint16_t kEcSuccess = 0xE000;
inline constexpr uint16_t kEcNoSuchDevice = 0xE001;
inline constexpr uint16_t kEcUnknownCommand = 0xE002;
inline constexpr uint16_t kEcBadParameter = 0xE003;
inline constexpr uint16_t kEcNotARequest = 0xE0FF;

inline constexpr uint16_t kEcSystemStatus = 0x0000;
inline constexpr uint16_t kEcOcProfile = 0x0002;
inline constexpr uint16_t kEcDeviceStatus = 0x000A;
inline constexpr uint8_t kEcKeyboardBacklight = 2;

enum class EcRequest : uint8_t {
  kDataVersion,
  kStatus2,
  kStatus3,
  kStatus4,
  kOcProfile,
  kDeviceGet,
  kDeviceSet,
};

struct EcFault {
  std::optional<EcRequest> request;
  std::optional<uint16_t> return_code;
  std::optional<uint16_t> echo_command;
  std::optional<uint8_t> echo_type;
  std::optional<uint8_t> echo_device;
  bool malformed = false;
  std::optional<uint32_t> times;  // nullopt: every matching request
};

struct EcProfile {
  uint16_t data_version = 0x0600;
  uint16_t ac_status = 1;
  uint16_t battery_boost = 0;
  uint16_t oc_capability = 1;
  std::optional<std::array<uint16_t, 12>> oc_profile = std::array<uint16_t, 12>{};
  uint16_t backlight_brightness = 100;
  uint16_t backlight_timeout = 30;
  std::vector<EcFault> faults;
};

profile_format::Section EcSection(EcProfile& ec);
// One [ec_fault] section, reading into `fault` (one more entry of EcProfile::faults).
profile_format::Section EcFaultSection(EcFault& fault);

class SimulatedNotebook;

class SimulatedEc : public HidFirmware {
 public:
  // With `machine`, the EC follows the machine's power state, as the real one watches the same
  // lines as the firmware: AC status is the profile's ac_status while an adaptor is plugged in
  // and 0 without one, battery boost 1 while active and 0 otherwise. Without it, both stay at
  // the profile's values.
  explicit SimulatedEc(EcProfile profile, std::shared_ptr<const SimulatedNotebook> machine = nullptr);

  bool KnowsReport(uint8_t report_id) const override { return report_id == kEcReportId; }
  // Always accepted: the EC answers every block, a malformed one with an error code.
  bool Write(std::span<const uint8_t> report) override;
  void Read(std::span<uint8_t> report) override;

  // The reply to one request block (64 bytes), the EC's state changed as it does.
  std::array<uint8_t, kEcBlockBytes> Answer(std::span<const uint8_t, kEcBlockBytes> request);

 private:
  // The fault that answers a request of kind `kind` now (its count taken), or null.
  const EcFault* TakeFault(EcRequest kind);

  EcProfile profile_;
  std::shared_ptr<const SimulatedNotebook> machine_;
  std::vector<std::optional<uint32_t>> remaining_;  // per fault
  uint16_t brightness_;
  uint16_t timeout_;
  std::array<uint8_t, kEcBlockBytes> reply_{};
};

}  // namespace sim
