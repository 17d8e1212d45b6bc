#include "sim/hid.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "base/text.h"
#include "base/win_codes.h"
#include "platform/services.h"

namespace sim {
using namespace profile_format;

namespace {

// What a write on a handle of a surprise-removed device answers (winerror.h).
constexpr uint32_t kErrorDeviceNotConnected = 1167;

constexpr std::pair<std::string_view, HidStep> kStepNames[] = {
    {"detail", HidStep::kDetail},         {"no_memory", HidStep::kNoMemory},
    {"open", HidStep::kOpen},             {"attributes", HidStep::kAttributes},
    {"preparsed", HidStep::kPreparsed},   {"caps", HidStep::kCaps},
    {"write", HidStep::kWrite},           {"read", HidStep::kRead},
};

uint16_t Number16(std::string_view v) { return static_cast<uint16_t>(Number(v, kMax16)); }

// Answers no report at all: writes vanish, reads are zeros.
class NoFirmware : public HidFirmware {
 public:
  bool KnowsReport(uint8_t) const override { return true; }
  bool Write(std::span<const uint8_t>) override { return true; }
  void Read(std::span<uint8_t> report) override { CopyPadded({}, report.subspan(1)); }
};

}  // namespace

Section HidSection(HidInterfaceProfile& hid) {
  Section s = Keys("hid", {
      {"vendor_id", [&](std::string_view v) { hid.vendor_id = Number16(v); }},
      {"product_id", [&](std::string_view v) { hid.product_id = Number16(v); }},
      {"usage_page", [&](std::string_view v) { hid.usage_page = Number16(v); }},
      {"usage", [&](std::string_view v) { hid.usage = Number16(v); }},
      {"feature_report_length",
       [&](std::string_view v) {
         hid.feature_report_length = static_cast<uint16_t>(
             Number(v, kMaxFeatureReportLength, "feature_report_length"));
       }},
      {"device",
       [&](std::string_view v) {
         if (v == "ec") {
           hid.device = HidDeviceKind::kEc;
         } else if (v == "keyboard") {
           hid.device = HidDeviceKind::kKeyboard;
         } else if (v == "none") {
           hid.device = HidDeviceKind::kNone;
         } else {
           throw LineError{"'" + std::string(v) + "' is not ec, keyboard or none"};
         }
       }},
      {"path", [&](std::string_view v) { hid.path = NonEmpty(v); }},
      {"fail",
       [&](std::string_view v) {
         for (std::string_view item : SplitList(v, ',')) {
           const auto* found = std::find_if(std::begin(kStepNames), std::end(kStepNames),
                                            [&](const auto& row) { return row.first == item; });
           if (found == std::end(kStepNames)) {
             throw LineError{"'" + std::string(item) +
                             "' is not detail, no_memory, open, attributes, preparsed, caps, "
                             "write or read"};
           }
           hid.fail.insert(found->second);
         }
       }},
      {"delay_ms",
       [&](std::string_view v) {
         hid.delay_ms = static_cast<uint32_t>(Number(v, 60000, "delay_ms"));
       }},
  });
  s.finish = [&hid] {
    if (!hid.vendor_id || !hid.product_id) {
      throw LineError{"[hid] needs a vendor_id and a product_id"};
    }
  };
  return s;
}

std::string DefaultHidPath(uint16_t vendor_id, uint16_t product_id, size_t index) {
  // The instance part mixes the IDs as Plug and Play's parent-instance hash would.
  const uint32_t parent = (uint32_t{vendor_id} * 0x9E3779B1u) ^ (uint32_t{product_id} << 7) ^
                          0x2A1B3C4Du;
  char path[128];
  std::snprintf(path, sizeof path,
                "\\\\?\\hid#vid_%04x&pid_%04x#7&%08x&0&%04zu#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                vendor_id, product_id, parent, index);
  return path;
}

SimulatedHid::SimulatedHid(std::vector<HidInterfaceProfile> interfaces, const EcProfile& ec,
                           const KeyboardProfile& keyboard,
                           std::shared_ptr<const SimulatedNotebook> machine) {
  for (size_t i = 0; i < interfaces.size(); ++i) {
    Interface added;
    added.profile = std::move(interfaces[i]);
    const HidInterfaceProfile& p = added.profile;
    added.path = p.path ? *p.path : DefaultHidPath(p.vendor_id.value_or(0),
                                                   p.product_id.value_or(0), i);
    switch (p.device) {
      case HidDeviceKind::kEc: added.firmware = std::make_unique<SimulatedEc>(ec, machine); break;
      case HidDeviceKind::kKeyboard:
        added.firmware = std::make_unique<SimulatedKeyboard>(keyboard);
        break;
      case HidDeviceKind::kNone: added.firmware = std::make_unique<NoFirmware>(); break;
    }
    interfaces_.push_back(std::move(added));
  }
}

SimulatedHid::~SimulatedHid() = default;

bool SimulatedHid::ListInterfaces(std::vector<platform::HidInterface>* interfaces) {
  std::lock_guard lock(mutex_);
  ++enumerations_;
  if (enumeration_fails_) return false;
  std::vector<platform::HidInterface> listed;
  for (const Interface& i : interfaces_) {
    if (!i.plugged) continue;
    platform::HidInterface entry;
    if (i.profile.fail.contains(HidStep::kNoMemory)) {
      entry.detail = platform::HidInterface::Detail::kNoMemory;
    } else if (i.profile.fail.contains(HidStep::kDetail)) {
      entry.detail = platform::HidInterface::Detail::kUnreadable;
    } else {
      entry.path = i.path;
    }
    listed.push_back(std::move(entry));
  }
  *interfaces = std::move(listed);
  return true;
}

platform::HidHandle SimulatedHid::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  ++opens_;
  const std::string wanted = text::AsciiLower(path);
  for (size_t index = 0; index < interfaces_.size(); ++index) {
    const Interface& i = interfaces_[index];
    if (!i.plugged || text::AsciiLower(i.path) != wanted) continue;
    if (i.profile.fail.contains(HidStep::kOpen)) return platform::kInvalidHidHandle;
    const platform::HidHandle handle = next_handle_;
    next_handle_ += 4;
    handles_[handle] = OpenHandle{index, true};
    return handle;
  }
  return platform::kInvalidHidHandle;
}

SimulatedHid::Interface* SimulatedHid::Usable(platform::HidHandle handle, uint32_t* error) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    *error = win::kErrorInvalidHandle;
    return nullptr;
  }
  if (!it->second.connected) {
    *error = kErrorDeviceNotConnected;
    return nullptr;
  }
  return &interfaces_[it->second.index];
}

bool SimulatedHid::GetAttributes(platform::HidHandle handle,
                                 platform::HidAttributes* attributes) {
  std::lock_guard lock(mutex_);
  uint32_t error = 0;
  const Interface* i = Usable(handle, &error);
  if (i == nullptr || i->profile.fail.contains(HidStep::kAttributes)) return false;
  attributes->vendor_id = i->profile.vendor_id.value_or(0);
  attributes->product_id = i->profile.product_id.value_or(0);
  return true;
}

platform::HidCapsResult SimulatedHid::GetCaps(platform::HidHandle handle, platform::HidCaps* caps) {
  std::lock_guard lock(mutex_);
  uint32_t error = 0;
  const Interface* i = Usable(handle, &error);
  if (i == nullptr || i->profile.fail.contains(HidStep::kPreparsed)) {
    return platform::HidCapsResult::kNoPreparsedData;
  }
  if (i->profile.fail.contains(HidStep::kCaps)) return platform::HidCapsResult::kFailed;
  caps->usage = i->profile.usage;
  caps->usage_page = i->profile.usage_page;
  caps->feature_report_length = i->profile.feature_report_length;
  return platform::HidCapsResult::kOk;
}

uint32_t SimulatedHid::DelayFor(platform::HidHandle handle) {
  std::lock_guard lock(mutex_);
  uint32_t error = 0;
  const Interface* i = Usable(handle, &error);
  return i == nullptr ? 0 : i->profile.delay_ms;
}

bool SimulatedHid::SetFeature(platform::HidHandle handle, const uint8_t* report, size_t length,
                              uint32_t* error) {
  if (const uint32_t delay = DelayFor(handle)) {
    platform::Time().SleepFor(std::chrono::milliseconds(delay));
  }
  std::lock_guard lock(mutex_);
  uint32_t failure = 0;
  Interface* i = Usable(handle, &failure);
  if (i == nullptr) {
    *error = failure;
    return false;
  }
  if (report == nullptr || length == 0 || length != i->profile.feature_report_length ||
      !i->firmware->KnowsReport(report[0])) {
    *error = win::kErrorInvalidParameter;
    return false;
  }
  if (i->profile.fail.contains(HidStep::kWrite) || !i->firmware->Write({report, length})) {
    *error = win::kErrorGenFailure;
    return false;
  }
  return true;
}

bool SimulatedHid::GetFeature(platform::HidHandle handle, uint8_t* report, size_t length) {
  if (const uint32_t delay = DelayFor(handle)) {
    platform::Time().SleepFor(std::chrono::milliseconds(delay));
  }
  std::lock_guard lock(mutex_);
  uint32_t failure = 0;
  Interface* i = Usable(handle, &failure);
  if (i == nullptr || report == nullptr || length == 0 ||
      length != i->profile.feature_report_length || !i->firmware->KnowsReport(report[0]) ||
      i->profile.fail.contains(HidStep::kRead)) {
    return false;
  }
  i->firmware->Read({report, length});
  return true;
}

void SimulatedHid::Close(platform::HidHandle handle) {
  std::lock_guard lock(mutex_);
  handles_.erase(handle);
}

SimulatedHid::Interface& SimulatedHid::At(size_t index) {
  if (index >= interfaces_.size()) {
    throw std::out_of_range("no HID interface " + std::to_string(index));
  }
  return interfaces_[index];
}

void SimulatedHid::Unplug(size_t index) {
  std::lock_guard lock(mutex_);
  At(index).plugged = false;
  for (auto& [handle, open] : handles_) {
    if (open.index == index) open.connected = false;
  }
}

void SimulatedHid::Plug(size_t index) {
  std::lock_guard lock(mutex_);
  At(index).plugged = true;
}

void SimulatedHid::SetFail(size_t index, std::set<HidStep> steps) {
  std::lock_guard lock(mutex_);
  At(index).profile.fail = std::move(steps);
}

void SimulatedHid::FailEnumeration(bool fails) {
  std::lock_guard lock(mutex_);
  enumeration_fails_ = fails;
}

const std::string& SimulatedHid::Path(size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= interfaces_.size()) {
    throw std::out_of_range("no HID interface " + std::to_string(index));
  }
  return interfaces_[index].path;
}

size_t SimulatedHid::Enumerations() const {
  std::lock_guard lock(mutex_);
  return enumerations_;
}

size_t SimulatedHid::Opens() const {
  std::lock_guard lock(mutex_);
  return opens_;
}

size_t SimulatedHid::OpenHandles() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

}  // namespace sim
