// EcHID: the embedded controller's vendor HID interface (0x2E5C:0x174B, usage page 0xFF05,
// usage 1, feature report 0xA0). Request/reply exchanges over feature reports read system
// status (data version, AC adaptor, battery boost, overclocking capability), the overclocking
// profile, and get and set per-device settings (device 2: the keyboard backlight).
//
// Process-wide state: the cached device handle and path, the cached data version (0xFFFF until
// learned), the cross-process mutex "Global\ECHIDFeatureVID_%04X&PID_%04X". Two locks: the
// exchange lock makes each exchange (lookup, request, 20 ms pause, reply) atomic within the
// process; the handle lock guards the handle, path and mutex. Order: exchange, then handle.
// Every line goes through g_Logger at ERROR under "corlan::QRN300::EcHID::" + the operation.
#pragma once
#include <cstdint>
#include <string>

#include "hid/ec_protocol.h"
#include "hid/ib_hid.h"

namespace corlan::QRN300 {

class EcHID {
 public:
  static constexpr uint16_t kVendorId = 0x2E5C;
  static constexpr uint16_t kProductId = 0x174B;
  static constexpr uint16_t kUsagePage = 0xFF05;
  static constexpr uint16_t kUsage = 0x0001;
  static constexpr uint8_t kReportId = 0xA0;

  // The cached handle; else the cached path reopened; else the first EC found by enumeration
  // (the others' handles closed at once). The cross-process mutex is made sure of with a valid
  // handle. kInvalidHIDHandle when there is no EC.
  static HIDHandle GetHIDDeviceHandle(uint16_t vendorId, uint16_t productId, uint16_t usagePage,
                                      uint16_t usage);
  // Closes the cached handle and the mutex handle; the path is kept for the next lookup.
  static void CloseHIDDeviceHandle();
  // "Global\ECHIDFeatureVID_%04X&PID_%04X" for the device.
  static std::string GlobalMutexName(uint16_t vendorId, uint16_t productId);
  // Creates (elevated) or opens (not elevated) the named mutex once.
  static void CreateGlobalMutex(uint16_t vendorId, uint16_t productId);
  // Waits at most 1000 ms for the named mutex; true when this caller holds it now. A time-out
  // ("Timeout") or a failed wait never stops the exchange that asked.
  static bool LockGlobalMutex();

  static bool GetDataVersion(uint32_t& version);
  static bool GetSystemStatus(uint8_t type, uint32_t& value);
  // Status types 4, 3, 2, learning the data version first when unknown; up to 5 attempts.
  static bool GetOCProfileCap(uint32_t& capability);
  static bool GetACStatus(uint32_t& status);
  static bool GetBatteryBoostStatus(uint32_t& status);
  static bool GetOCProfile(OCProfile& profile);
  // kEcSuccess with the values; the EC's own code; kEcEchoMismatch; kEcNoVersionOrDevice;
  // kEcTransportFailed. The values are untouched unless kEcSuccess.
  static uint16_t GetDeviceStatus(uint8_t device, uint32_t& value0, uint32_t& value1,
                                  uint32_t& value2);
  static bool SetDeviceStatus(uint8_t device, uint16_t value1, uint16_t value2);

  // The cached data version (kEcVersionUnknown until learned).
  static uint32_t CachedDataVersion();
  // Forgets every cache (handle and mutex closed, path and version dropped): for tests.
  static void ResetForTests();
};

}  // namespace corlan::QRN300
