// The simulated notebook's HID device interfaces behind the HID seam: one per [hid] section of
// the machine profile, enumerated in the order of the sections, each with the firmware that
// answers its feature reports (the embedded controller of sim/ec.h, the keyboard of
// sim/keyboard.h, or none).
//
// What the system does, as the HID class driver does it:
//   - Every Open of a listed interface's path (compared without regard to case) hands out a
//     fresh handle value, never reused; Close invalidates it. A call on a closed or unknown
//     handle fails (a feature write with ERROR_INVALID_HANDLE).
//   - A feature report must be exactly the interface's feature-report length and carry a report
//     ID its firmware declares; otherwise the call fails (a write with ERROR_INVALID_PARAMETER).
//     The firmware sees its fixed block cut or zero-padded to that length.
//   - A report the device stalls (the keyboard's bad checksum) fails with ERROR_GEN_FAILURE.
//   - An unplugged interface is not listed and its path does not open; its handles stay open
//     (they still count and must be closed) but every call on them fails, with
//     ERROR_DEVICE_NOT_CONNECTED for a write, even after it is plugged in again.
// The firmware of an interface keeps its state across unplugging. Thread-safe.
//
// Profile section, once per interface (defaults in parentheses; machines/README.md has the long
// form):
//   [hid]  vendor_id, product_id = 16-bit (required)
//          usage_page, usage = 16-bit (0): the top-level collection's, from HIDP_CAPS
//          feature_report_length = 0..1024 (0), the report-ID byte included
//          device = ec | keyboard | none (none): the firmware behind the feature reports; none
//          accepts every write and answers zeros
//          path = text: the device-interface path (a plausible unique one built from the IDs
//          and the interface's position)
//          fail = list of detail, no_memory, open, attributes, preparsed, caps, write, read:
//          the steps that fail (none)
//          delay_ms = 0..60000 (0): how long each feature report takes (platform::Time())
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "sim/ec.h"
#include "sim/hid_firmware.h"
#include "sim/keyboard.h"
#include "sim/profile_format.h"

namespace sim {

// A step of reaching an interface that a profile (or a test) can make fail.
enum class HidStep : uint8_t {
  kDetail,      // SetupDiGetDeviceInterfaceDetailW fails
  kNoMemory,    // the detail buffer cannot be allocated
  kOpen,        // CreateFileW fails (held exclusively, access denied)
  kAttributes,  // HidD_GetAttributes fails
  kPreparsed,   // HidD_GetPreparsedData fails
  kCaps,        // HidP_GetCaps answers another status than success
  kWrite,       // HidD_SetFeature fails with ERROR_GEN_FAILURE
  kRead,        // HidD_GetFeature fails
};

enum class HidDeviceKind : uint8_t { kNone, kEc, kKeyboard };

struct HidInterfaceProfile {
  std::optional<uint16_t> vendor_id;
  std::optional<uint16_t> product_id;
  uint16_t usage_page = 0;
  uint16_t usage = 0;
  uint16_t feature_report_length = 0;
  HidDeviceKind device = HidDeviceKind::kNone;
  std::optional<std::string> path;
  std::set<HidStep> fail;
  uint32_t delay_ms = 0;
};

inline constexpr uint16_t kMaxFeatureReportLength = 1024;

profile_format::Section HidSection(HidInterfaceProfile& hid);

// The device-interface path of interface `index` when its profile names none, in the form
// Windows gives HID interfaces: "\\?\hid#vid_2e5c&pid_174b#7&…&0&0000#{4d1e55b2-…}".
std::string DefaultHidPath(uint16_t vendor_id, uint16_t product_id, size_t index);

class SimulatedHid : public platform::Hid {
 public:
  // `machine`: the notebook whose power state the EC follows (see SimulatedEc), or null.
  SimulatedHid(std::vector<HidInterfaceProfile> interfaces, const EcProfile& ec,
               const KeyboardProfile& keyboard,
               std::shared_ptr<const SimulatedNotebook> machine = nullptr);
  ~SimulatedHid() override;

  bool ListInterfaces(std::vector<platform::HidInterface>* interfaces) override;
  platform::HidHandle Open(const std::string& path) override;
  bool GetAttributes(platform::HidHandle handle, platform::HidAttributes* attributes) override;
  platform::HidCapsResult GetCaps(platform::HidHandle handle, platform::HidCaps* caps) override;
  bool SetFeature(platform::HidHandle handle, const uint8_t* report, size_t length,
                  uint32_t* error) override;
  bool GetFeature(platform::HidHandle handle, uint8_t* report, size_t length) override;
  void Close(platform::HidHandle handle) override;

  // For tests and demonstrations; `index` is the interface's position in the profile (an index
  // out of range throws std::out_of_range).
  void Unplug(size_t index);
  void Plug(size_t index);
  // Replaces the interface's failing steps.
  void SetFail(size_t index, std::set<HidStep> steps);
  // Makes the present-interface set itself unobtainable (SetupDiGetClassDevsW fails).
  void FailEnumeration(bool fails);
  const std::string& Path(size_t index) const;
  // ListInterfaces calls and Open calls (also those that failed) so far; handles open now.
  size_t Enumerations() const;
  size_t Opens() const;
  size_t OpenHandles() const;

 private:
  struct Interface {
    HidInterfaceProfile profile;
    std::string path;
    std::unique_ptr<HidFirmware> firmware;
    bool plugged = true;
  };
  struct OpenHandle {
    size_t index;
    bool connected;  // false once its interface was unplugged
  };

  Interface& At(size_t index);
  // The interface behind an open handle of a plugged-in interface; else null and *error says
  // why (ERROR_INVALID_HANDLE, ERROR_DEVICE_NOT_CONNECTED).
  Interface* Usable(platform::HidHandle handle, uint32_t* error);
  // The interface's delay, for a feature report on `handle` (0 for an unusable one).
  uint32_t DelayFor(platform::HidHandle handle);

  mutable std::mutex mutex_;
  std::vector<Interface> interfaces_;
  std::map<platform::HidHandle, OpenHandle> handles_;
  platform::HidHandle next_handle_ = 0x1000;
  bool enumeration_fails_ = false;
  size_t enumerations_ = 0;
  size_t opens_ = 0;
};

}  // namespace sim
