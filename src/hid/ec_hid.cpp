#include "hid/ec_hid.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "log/log_file.h"
#include "log/logger.h"
#include "log/message_format.h"
#include "platform/services.h"

namespace corlan::QRN300 {
namespace {

using std::chrono::milliseconds;

constexpr size_t kMessageChars = 256;
constexpr milliseconds kReplyPause{20};
constexpr milliseconds kRetryPause{20};
constexpr milliseconds kMutexWait{1000};
constexpr int kStatusAttempts = 5;

void Log(std::string_view operation, const std::string& message) {
  g_Logger->Log(kLogError, "corlan::QRN300::EcHID::" + std::string(operation), message);
}

struct State {
  std::mutex exchange_lock;
  std::mutex handle_lock;
  HIDHandle handle = kInvalidHIDHandle;
  std::string path;
  platform::MutexHandle mutex = platform::kNoMutex;
  std::atomic<uint32_t> version{kEcVersionUnknown};
};

State& Ec() {
  static State state;
  return state;
}

// Why an exchange did not bring a reply.
enum class Exchanged { kReply, kNoDevice, kTransport };

// One request/reply exchange under the exchange lock: the block goes out as feature report
// 0xA0 and the reply comes back in it. Failure lines are logged under `operation`.
Exchanged Exchange(EcBlock& block, std::string_view operation) {
  State& ec = Ec();
  std::lock_guard<std::mutex> exchange(ec.exchange_lock);
  const HIDHandle handle = EcHID::GetHIDDeviceHandle(EcHID::kVendorId, EcHID::kProductId,
                                                     EcHID::kUsagePage, EcHID::kUsage);
  if (handle == kInvalidHIDHandle) {
    Log(operation, "GetHIDDeviceHandle fail");
    return Exchanged::kNoDevice;
  }
  const bool held = EcHID::LockGlobalMutex();
  // The process's end may close the mutex handle meanwhile (CloseHIDDeviceHandle from the
  // main thread): the handle is read under its lock.
  const auto release = [&] {
    if (!held) return;
    std::lock_guard<std::mutex> lock(ec.handle_lock);
    if (ec.mutex != platform::kNoMutex) platform::Mutexes().Release(ec.mutex);
  };
  if (!IbHID::SetHIDFeature(handle, EcHID::kReportId, block.data(), block.size())) {
    release();
    EcHID::CloseHIDDeviceHandle();
    Log(operation, "Error setting feature on HID device");
    return Exchanged::kTransport;
  }
  platform::Time().SleepFor(kReplyPause);
  if (!IbHID::GetHIDFeature(handle, EcHID::kReportId, block.data(), block.size())) {
    release();
    EcHID::CloseHIDDeviceHandle();
    Log(operation, "Error getting feature from HID device");
    return Exchanged::kTransport;
  }
  release();
  return Exchanged::kReply;
}

// The data version, learned once; false (logged under `operation`) when it cannot be.
bool KnowDataVersion(std::string_view operation) {
  if (Ec().version.load() != kEcVersionUnknown) return true;
  uint32_t version = 0;
  if (EcHID::GetDataVersion(version)) return true;
  Log(operation, "GetDataVersion fail");
  return false;
}

bool StatusWithRetries(uint8_t type, uint32_t& value, std::string_view operation) {
  if (!KnowDataVersion(operation)) return false;
  return platform::RetryWithPause(kStatusAttempts, kRetryPause,
                                  [&] { return EcHID::GetSystemStatus(type, value); });
}

}  // namespace

HIDHandle EcHID::GetHIDDeviceHandle(uint16_t vendorId, uint16_t productId, uint16_t usagePage,
                                    uint16_t usage) {
  State& ec = Ec();
  std::lock_guard<std::mutex> lock(ec.handle_lock);
  platform::Hid& hid = platform::HidDevices();
  if (ec.handle == kInvalidHIDHandle && !ec.path.empty()) {
    ec.handle = hid.Open(ec.path);
  }
  if (ec.handle == kInvalidHIDHandle) {
    std::vector<HIDDeviceInfo> found;
    const auto ids = [vendorId, productId](uint16_t vendor, uint16_t product) {
      return vendor == vendorId && product == productId;
    };
    const auto caps = [usagePage, usage](HIDP_CAPS& c) {
      return c.usage_page == usagePage && c.usage == usage;
    };
    if (IbHID::GetHIDDeviceHandle(ids, caps, found)) {
      ec.handle = found.front().handle;
      ec.path = found.front().devicePath;
      for (size_t i = 1; i < found.size(); ++i) hid.Close(found[i].handle);
    }
  }
  if (ec.handle != kInvalidHIDHandle) CreateGlobalMutex(vendorId, productId);
  return ec.handle;
}

void EcHID::CloseHIDDeviceHandle() {
  State& ec = Ec();
  std::lock_guard<std::mutex> lock(ec.handle_lock);
  if (ec.handle != kInvalidHIDHandle) {
    platform::HidDevices().Close(ec.handle);
    ec.handle = kInvalidHIDHandle;
  }
  if (ec.mutex != platform::kNoMutex) {
    platform::Mutexes().Close(ec.mutex);
    ec.mutex = platform::kNoMutex;
  }
}

std::string EcHID::GlobalMutexName(uint16_t vendorId, uint16_t productId) {
  return FormatMessageSized(kMessageChars, "Global\\ECHIDFeatureVID_%04X&PID_%04X",
                            unsigned{vendorId}, unsigned{productId});
}

// Called with the handle lock held.
void EcHID::CreateGlobalMutex(uint16_t vendorId, uint16_t productId) {
  State& ec = Ec();
  if (ec.mutex != platform::kNoMutex) return;
  const std::string name = GlobalMutexName(vendorId, productId);
  Log("CreateGlobalMutex", name);
  platform::NamedMutexes& mutexes = platform::Mutexes();
  uint32_t error = 0;
  // The elevated service creates the mutex open to every account; an unelevated instance may
  // only join one that exists.
  if (mutexes.IsElevated()) {
    ec.mutex = mutexes.Create(name, &error);
    if (ec.mutex == platform::kNoMutex) {
      Log("CreateGlobalMutex",
          FormatMessageSized(kMessageChars, "Failed to create mutex. Error: %u", error));
    }
  } else {
    ec.mutex = mutexes.Open(name, &error);
    if (ec.mutex == platform::kNoMutex) {
      Log("CreateGlobalMutex",
          FormatMessageSized(kMessageChars, "Failed to open mutex. Error: %u", error));
    }
  }
}

bool EcHID::LockGlobalMutex() {
  platform::MutexHandle mutex = platform::kNoMutex;
  {
    std::lock_guard<std::mutex> lock(Ec().handle_lock);
    mutex = Ec().mutex;
  }
  if (mutex == platform::kNoMutex) return false;
  uint32_t error = 0;
  switch (platform::Mutexes().Wait(mutex, kMutexWait, &error)) {
    case platform::MutexWait::kAcquired:
      return true;
    case platform::MutexWait::kTimeout:
      Log("LockGlobalMutex", "Timeout");
      return false;
    case platform::MutexWait::kFailed:
      break;
  }
  Log("LockGlobalMutex",
      FormatMessageSized(kMessageChars, "Failed to wait mutex. Error: %u", error));
  return false;
}

bool EcHID::GetDataVersion(uint32_t& version) {
  EcBlock block = EcSystemStatusRequest(kEcStatusDataVersion);
  if (Exchange(block, "GetDataVersion") != Exchanged::kReply) return false;
  uint32_t learned = 0;
  const EcCheck check = EcCheckDataVersion(block, &learned);
  if (!check.ok) {
    if (!check.error.empty()) Log("GetDataVersion", check.error);
    return false;
  }
  version = learned;
  Ec().version = learned;
  return true;
}

bool EcHID::GetSystemStatus(uint8_t type, uint32_t& value) {
  EcBlock block = EcSystemStatusRequest(type);
  if (Exchange(block, "GetSystemStatus") != Exchanged::kReply) return false;
  const EcCheck check = EcCheckSystemStatus(block, type, Ec().version.load(), &value);
  if (!check.ok) Log("GetSystemStatus", check.error);
  return check.ok;
}

bool EcHID::GetOCProfileCap(uint32_t& capability) {
  return StatusWithRetries(kEcStatusOCCapability, capability, "GetOCProfileCap");
}

bool EcHID::GetACStatus(uint32_t& status) {
  return StatusWithRetries(kEcStatusAC, status, "GetACStatus");
}

bool EcHID::GetBatteryBoostStatus(uint32_t& status) {
  return StatusWithRetries(kEcStatusBatteryBoost, status, "GetBatteryBoostStatus");
}

bool EcHID::GetOCProfile(OCProfile& profile) {
  if (!KnowDataVersion("GetOCProfile")) return false;
  EcBlock block = EcOCProfileRequest();
  if (Exchange(block, "GetOCProfile") != Exchanged::kReply) return false;
  const EcCheck check = EcCheckOCProfile(block, &profile);
  if (!check.error.empty()) Log("GetOCProfile", check.error);
  return check.ok;
}

uint16_t EcHID::GetDeviceStatus(uint8_t device, uint32_t& value0, uint32_t& value1,
                                uint32_t& value2) {
  if (!KnowDataVersion("GetDeviceStatus")) return kEcNoVersionOrDevice;
  EcBlock block = EcDeviceStatusGetRequest(device);
  switch (Exchange(block, "GetDeviceStatus")) {
    case Exchanged::kReply:
      break;
    case Exchanged::kNoDevice:
      return kEcNoVersionOrDevice;
    case Exchanged::kTransport:
      return kEcTransportFailed;
  }
  std::string error;
  const uint16_t result = EcCheckDeviceStatusGet(block, device, &value0, &value1, &value2, &error);
  if (!error.empty()) Log("GetDeviceStatus", error);
  return result;
}

bool EcHID::SetDeviceStatus(uint8_t device, uint16_t value1, uint16_t value2) {
  if (!KnowDataVersion("SetDeviceStatus")) return false;
  EcBlock block = EcDeviceStatusSetRequest(device, value1, value2);
  if (Exchange(block, "SetDeviceStatus") != Exchanged::kReply) return false;
  const EcCheck check = EcCheckDeviceStatusSet(block, device);
  if (!check.ok) Log("SetDeviceStatus", check.error);
  return check.ok;
}

uint32_t EcHID::CachedDataVersion() { return Ec().version.load(); }

void EcHID::ResetForTests() {
  State& ec = Ec();
  std::lock_guard<std::mutex> exchange(ec.exchange_lock);
  CloseHIDDeviceHandle();
  std::lock_guard<std::mutex> lock(ec.handle_lock);
  ec.path.clear();
  ec.version = kEcVersionUnknown;
}

}  // namespace corlan::QRN300
