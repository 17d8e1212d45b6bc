#include "sim/ec.h"

#include <string>
#include <utility>

#include "base/little_endian.h"
#include "sim/simulated_notebook.h"

namespace sim {
using namespace profile_format;

namespace {

// Where each overclocking-profile value lies in the reply, and its width in bytes.
struct PackedField {
  size_t offset;
  size_t width;
};
constexpr PackedField kOcProfileFields[12] = {
    {5, 1},  {6, 2},  {8, 2},  {10, 2}, {12, 2}, {14, 2},
    {16, 1}, {17, 1}, {18, 1}, {19, 2}, {21, 2}, {23, 2},
};

constexpr std::pair<std::string_view, EcRequest> kRequestNames[] = {
    {"data_version", EcRequest::kDataVersion}, {"status_2", EcRequest::kStatus2},
    {"status_3", EcRequest::kStatus3},         {"status_4", EcRequest::kStatus4},
    {"oc_profile", EcRequest::kOcProfile},     {"device_get", EcRequest::kDeviceGet},
    {"device_set", EcRequest::kDeviceSet},
};

void Store16(uint8_t* block, size_t offset, uint16_t value) {
  block[offset] = static_cast<uint8_t>(value);
  block[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint16_t Number16(std::string_view v) { return static_cast<uint16_t>(Number(v, kMax16)); }
uint8_t Number8(std::string_view v) { return static_cast<uint8_t>(Number(v, kMax8)); }

std::array<uint16_t, 12> OcProfileValues(std::string_view v) {
  const std::vector<std::string_view> items = SplitList(v, ',');
  if (items.size() != 12) {
    throw LineError{"oc_profile needs twelve values (or no), not " + std::to_string(items.size())};
  }
  std::array<uint16_t, 12> values{};
  for (size_t i = 0; i < 12; ++i) {
    values[i] = static_cast<uint16_t>(Number(
        items[i], kOcProfileFields[i].width == 1 ? kMax8 : kMax16,
        "oc_profile value " + std::to_string(i + 1)));
  }
  return values;
}

// The legacy system-status layout: versions x.0 below 6 (low byte 0, high byte below 6).
bool LegacyLayout(uint16_t version) { return (version & 0xFF) == 0 && (version >> 8) < 6; }

}  // namespace

Section EcSection(EcProfile& ec) {
  return Keys("ec", {
      {"data_version", [&](std::string_view v) { ec.data_version = Number16(v); }},
      {"ac_status", [&](std::string_view v) { ec.ac_status = Number16(v); }},
      {"battery_boost", [&](std::string_view v) { ec.battery_boost = Number16(v); }},
      {"oc_capability", [&](std::string_view v) { ec.oc_capability = Number16(v); }},
      {"oc_profile",
       [&](std::string_view v) {
         if (v == "no") {
           ec.oc_profile.reset();
         } else {
           ec.oc_profile = OcProfileValues(v);
         }
       }},
      {"backlight_brightness", [&](std::string_view v) { ec.backlight_brightness = Number16(v); }},
      {"backlight_timeout", [&](std::string_view v) { ec.backlight_timeout = Number16(v); }},
  });
}

Section EcFaultSection(EcFault& fault) {
  Section s = Keys("ec_fault", {
      {"request",
       [&](std::string_view v) {
         for (const auto& [name, kind] : kRequestNames) {
           if (name == v) fault.request = kind;
         }
         if (!fault.request) {
           throw LineError{"'" + std::string(v) +
                           "' is not data_version, status_2, status_3, status_4, oc_profile, "
                           "device_get or device_set"};
         }
       }},
      {"return_code", [&](std::string_view v) { fault.return_code = Number16(v); }},
      {"echo_command", [&](std::string_view v) { fault.echo_command = Number16(v); }},
      {"echo_type", [&](std::string_view v) { fault.echo_type = Number8(v); }},
      {"echo_device", [&](std::string_view v) { fault.echo_device = Number8(v); }},
      {"malformed", [&](std::string_view v) { fault.malformed = Switch(v); }},
      {"times",
       [&](std::string_view v) {
         fault.times = static_cast<uint32_t>(Number(v, 0xFFFFFFFF, "times"));
       }},
  });
  s.finish = [&fault] {
    if (!fault.request) throw LineError{"[ec_fault] needs a request"};
    if (fault.malformed && fault.request != EcRequest::kDataVersion) {
      throw LineError{"[ec_fault] malformed = yes needs request = data_version"};
    }
  };
  return s;
}

SimulatedEc::SimulatedEc(EcProfile profile, std::shared_ptr<const SimulatedNotebook> machine)
    : profile_(std::move(profile)),
      machine_(std::move(machine)),
      brightness_(profile_.backlight_brightness),
      timeout_(profile_.backlight_timeout) {
  for (const EcFault& fault : profile_.faults) remaining_.push_back(fault.times);
}

bool SimulatedEc::Write(std::span<const uint8_t> report) {
  std::array<uint8_t, kEcBlockBytes> request{};
  CopyPadded(report.subspan(1), request);
  reply_ = Answer(request);
  return true;
}

void SimulatedEc::Read(std::span<uint8_t> report) { CopyPadded(reply_, report.subspan(1)); }

const EcFault* SimulatedEc::TakeFault(EcRequest kind) {
  for (size_t i = 0; i < profile_.faults.size(); ++i) {
    if (profile_.faults[i].request != kind) continue;
    if (remaining_[i]) {
      if (*remaining_[i] == 0) continue;
      --*remaining_[i];
    }
    return &profile_.faults[i];
  }
  return nullptr;
}

std::array<uint8_t, kEcBlockBytes> SimulatedEc::Answer(
    std::span<const uint8_t, kEcBlockBytes> request) {
  std::array<uint8_t, kEcBlockBytes> reply{};
  uint8_t* r = reply.data();
  if (le::LoadU16(&request[0]) != kEcRequestHeader) {
    Store16(r, 0, kEcNotARequest);
    return reply;
  }
  const uint16_t command = le::LoadU16(&request[2]);
  Store16(r, 2, command);
  uint16_t code = kEcSuccess;
  std::optional<EcRequest> kind;
  // What a device-status set stores once its reply is settled.
  std::optional<std::pair<uint16_t, uint16_t>> stored;

  if (command == kEcSystemStatus) {
    const uint8_t type = request[4];
    const bool legacy = LegacyLayout(profile_.data_version);
    std::optional<uint16_t> value;
    switch (type) {
      case 0: kind = EcRequest::kDataVersion; value = profile_.data_version; break;
      case 2:
        kind = EcRequest::kStatus2;
        value = machine_ ? (machine_->battery_boost() ? 1 : 0) : profile_.battery_boost;
        break;
      case 3:
        kind = EcRequest::kStatus3;
        value = machine_ && !machine_->ac_present() ? 0 : profile_.ac_status;
        break;
      case 4: kind = EcRequest::kStatus4; value = profile_.oc_capability; break;
      default: break;
    }
    if (!value) {
      code = kEcBadParameter;
      r[4] = type;
    } else if (legacy) {
      Store16(r, 4, *value);
      if (type == 0) Store16(r, 6, 0xFFFF);
    } else {
      r[4] = type;
      Store16(r, 6, *value);
    }
  } else if (command == kEcOcProfile && profile_.oc_profile) {
    r[4] = request[4];
    if (le::LoadU16(&request[4]) != kEcOcProfile) {
      code = kEcBadParameter;
    } else {
      kind = EcRequest::kOcProfile;
      for (size_t i = 0; i < 12; ++i) {
        const PackedField f = kOcProfileFields[i];
        if (f.width == 1) {
          r[f.offset] = static_cast<uint8_t>((*profile_.oc_profile)[i]);
        } else {
          Store16(r, f.offset, (*profile_.oc_profile)[i]);
        }
      }
    }
  } else if (command == kEcDeviceStatus) {
    const uint8_t operation = request[4];
    const uint8_t device = request[5];
    r[4] = operation;
    r[5] = device;
    const bool set = operation == 1;
    if (set || operation == 2) kind = set ? EcRequest::kDeviceSet : EcRequest::kDeviceGet;
    if (!kind) {
      code = kEcBadParameter;
    } else if (device != kEcKeyboardBacklight) {
      code = kEcNoSuchDevice;
    } else if (set && le::LoadU16(&request[6]) != 1) {
      code = kEcBadParameter;
    } else {
      if (set) stored.emplace(le::LoadU16(&request[8]), le::LoadU16(&request[10]));
      Store16(r, 6, 1);
      Store16(r, 8, stored ? stored->first : brightness_);
      Store16(r, 10, stored ? stored->second : timeout_);
    }
  } else {
    code = kEcUnknownCommand;
  }
  Store16(r, 0, code);

  const EcFault* fault = kind ? TakeFault(*kind) : nullptr;
  // A set answered with an error code stores nothing: the EC refused the values.
  if (stored && !(fault && fault->return_code && *fault->return_code != kEcSuccess)) {
    brightness_ = stored->first;
    timeout_ = stored->second;
  }
  if (fault == nullptr) return reply;
  if (fault->malformed) {
    Store16(r, 4, 0x00FF);
    Store16(r, 6, 0);
  }
  if (fault->return_code) Store16(r, 0, *fault->return_code);
  if (fault->echo_command) Store16(r, 2, *fault->echo_command);
  if (fault->echo_type) r[4] = *fault->echo_type;
  if (fault->echo_device) r[5] = *fault->echo_device;
  return reply;
}

}  // namespace sim
