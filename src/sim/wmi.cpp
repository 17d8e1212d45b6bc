#include "sim/wmi.h"

#include <cstdio>
#include <optional>

#include "base/text.h"
#include "sim/simulated_notebook.h"
#include "sim/wql.h"

namespace sim {
using namespace profile_format;

namespace {

using platform::WmiEnumerator;
using platform::WmiLocator;
using platform::WmiObject;
using platform::WmiServices;
using wmi::HRESULT;
using wmi::Variant;
using wmi::VarType;

// WMI compares class, property and namespace names without regard to case.
struct CaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return text::AsciiLower(a) < text::AsciiLower(b);
  }
};

bool SameName(std::string_view a, std::string_view b) {
  return text::AsciiLower(a) == text::AsciiLower(b);
}

using PropertyMap = std::map<std::string, Variant, CaseLess>;

enum class Namespace { kWmi, kCimV2 };

constexpr std::string_view kSmbiosClass = "MSSMBios_RawSMBiosTables";
constexpr std::string_view kComputerSystemClass = "Win32_ComputerSystem";
constexpr std::string_view kVolumeClass = "Win32_Volume";
constexpr std::string_view kVideoModeClass = "CIM_VideoControllerResolution";

// Integers as the profile says they reach the caller.
struct Encoder {
  IntegerOutputs style;

  Variant U64(uint64_t v) const {
    return style == IntegerOutputs::kWmi ? Variant::Text(std::to_string(v)) : Variant::UI8(v);
  }
  Variant U32(uint32_t v) const {
    return style == IntegerOutputs::kWmi ? Variant::I4(static_cast<int32_t>(v)) : Variant::UI4(v);
  }
  static Variant U8(uint8_t v) { return Variant{VarType::kUI1, v, {}, {}}; }
  static Variant Bool(bool v) { return Variant{VarType::kBool, v ? 1u : 0u, {}, {}}; }
};

Variant OptionalText(const std::optional<std::string>& s) {
  return s ? Variant::Text(*s) : Variant::Null();
}

const FirmwareClassProfile* FirmwareClass(const MachineProfile& p, std::string_view name) {
  const FirmwareClassProfile* cls = nullptr;
  if (SameName(name, kGamingFunctionClass)) cls = &p.firmware.gaming_function;
  if (SameName(name, kFwxActionClass)) cls = &p.firmware.fwx_action;
  return cls != nullptr && cls->present ? cls : nullptr;
}

// The class as this namespace spells it, or nullopt when the namespace lacks it on this machine.
std::optional<std::string_view> CanonicalClass(const MachineProfile& p, Namespace ns,
                                               std::string_view name) {
  if (ns == Namespace::kWmi) {
    if (FirmwareClass(p, name) != nullptr) {
      return SameName(name, kGamingFunctionClass) ? kGamingFunctionClass : kFwxActionClass;
    }
    if (SameName(name, kSmbiosClass) && p.smbios.present) return kSmbiosClass;
    return std::nullopt;
  }
  for (std::string_view c : {kComputerSystemClass, kVolumeClass, kVideoModeClass}) {
    if (SameName(name, c)) return c;
  }
  return std::nullopt;
}

std::vector<std::string> Schema(std::string_view cls) {
  if (cls == kGamingFunctionClass || cls == kFwxActionClass) return {"InstanceName", "Active"};
  if (cls == kSmbiosClass) {
    return {"InstanceName", "Active", "SMBiosData", "SmbiosMajorVersion", "SmbiosMinorVersion",
            "Size", "DmiRevision", "Used20CallingMethod"};
  }
  if (cls == kComputerSystemClass) {
    return {"Name", "Manufacturer", "Model", "SystemFamily", "SystemType"};
  }
  if (cls == kVolumeClass) return {"Name", "Label", "DriveLetter", "FileSystem", "DeviceID"};
  return {"SettingID", "Caption", "HorizontalResolution", "VerticalResolution", "RefreshRate"};
}

// Every instance of `cls` (a canonical class name), in the order the service lists them; an
// empty entry stands for an instance the provider fails to deliver.
std::vector<std::optional<PropertyMap>> Instances(const SimulatedNotebook& notebook,
                                                  std::string_view cls) {
  const MachineProfile& p = notebook.profile();
  const Encoder enc{p.firmware.integer_outputs};
  std::vector<std::optional<PropertyMap>> rows;
  if (const FirmwareClassProfile* fw = FirmwareClass(p, cls)) {
    for (InstanceDefect defect : fw->leading_instances) {
      PropertyMap row{{"Active", Encoder::Bool(true)}};
      if (defect == InstanceDefect::kNullName) row["InstanceName"] = Variant::Null();
      if (defect == InstanceDefect::kEmptyName) row["InstanceName"] = Variant::Text("");
      rows.push_back(std::move(row));
    }
    rows.push_back(PropertyMap{{"InstanceName", Variant::Text(fw->instance_name)}, {"Active", Encoder::Bool(true)}});
  } else if (cls == kSmbiosClass) {
    std::vector<uint8_t> table = SmbiosTable(p.system, p.smbios);
    const uint32_t size = static_cast<uint32_t>(table.size());
    rows.push_back(PropertyMap{{"InstanceName", Variant::Text("SMBiosData")},
                    {"Active", Encoder::Bool(true)},
                    {"SMBiosData", Variant::Bytes(std::move(table))},
                    {"SmbiosMajorVersion", Encoder::U8(p.smbios.major_version)},
                    {"SmbiosMinorVersion", Encoder::U8(p.smbios.minor_version)},
                    {"Size", enc.U32(size)},
                    {"DmiRevision", Encoder::U8(0)},
                    {"Used20CallingMethod", Encoder::Bool(false)}});
  } else if (cls == kComputerSystemClass) {
    rows.push_back(PropertyMap{{"Name", Variant::Text("VEXOR-SIM")},
                    {"Manufacturer", OptionalText(p.system.manufacturer)},
                    {"Model", OptionalText(p.system.model)},
                    {"SystemFamily", OptionalText(p.system.family)},
                    {"SystemType", Variant::Text("x64-based PC")}});
  } else if (cls == kVolumeClass) {
    for (size_t i = 0; i < p.volumes.size(); ++i) {
      const VolumeProfile& v = p.volumes[i];
      char guid[64];
      std::snprintf(guid, sizeof guid, "\\\\?\\Volume{5e1f0000-0000-0000-0000-%012zx}\\", i + 1);
      rows.push_back(PropertyMap{{"Name", Variant::Text(v.name)},
                      {"Label", OptionalText(v.label)},
                      {"DriveLetter", OptionalText(v.drive_letter)},
                      {"FileSystem", OptionalText(v.file_system)},
                      {"DeviceID", Variant::Text(guid)}});
    }
  } else if (cls == kVideoModeClass) {
    for (const VideoModeProfile& m : p.video_modes) {
      if (m.fails) {
        rows.emplace_back();
        continue;
      }
      const std::string setting = std::to_string(m.horizontal) + " by " +
                                  std::to_string(m.vertical) + " " +
                                  std::to_string(m.refresh_rate) + " Hertz";
      rows.push_back(PropertyMap{{"SettingID", Variant::Text(setting)},
                                 {"Caption", Variant::Text(setting)},
                                 {"HorizontalResolution", enc.U32(m.horizontal)},
                                 {"VerticalResolution", enc.U32(m.vertical)},
                                 {"RefreshRate", enc.U32(m.refresh_rate)}});
    }
  }
  return rows;
}

// The integer a property holds, for WHERE prop = number.
std::optional<uint64_t> IntegerOf(const Variant& v) {
  switch (v.type) {
    case VarType::kI4:
      if (static_cast<int32_t>(v.bits) < 0) return std::nullopt;
      return v.bits & 0xFFFFFFFFu;
    case VarType::kUI1:
    case VarType::kUI4:
    case VarType::kUI8:
    case VarType::kBool:
      return v.bits;
    case VarType::kI8:
      if (static_cast<int64_t>(v.bits) < 0) return std::nullopt;
      return v.bits;
    case VarType::kBstr: {
      // WMI hands 64-bit integers over as text.
      if (v.text.empty() || v.text.size() > 20) return std::nullopt;
      uint64_t n = 0;
      for (char c : v.text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(c - '0');
      }
      return n;
    }
    default:
      return std::nullopt;
  }
}

bool Matches(const PropertyMap& row, const WqlCondition& condition) {
  const auto it = row.find(condition.property);
  if (it == row.end()) return false;
  if (condition.is_number) {
    const std::optional<uint64_t> n = IntegerOf(it->second);
    return n && *n == condition.number;
  }
  return it->second.type == VarType::kBstr && SameName(it->second.text, condition.text);
}

// An instance, class definition or parameter object. A firmware class definition or instance
// also answers GetMethod.
class SimObject : public WmiObject {
 public:
  SimObject(PropertyMap properties, std::shared_ptr<SimulatedNotebook> notebook = nullptr,
            std::string_view method_class = {})
      : properties_(std::move(properties)),
        notebook_(std::move(notebook)),
        method_class_(method_class) {}

  HRESULT Get(std::string_view name, Variant* value) override {
    std::lock_guard lock(mutex_);
    const auto it = properties_.find(name);
    if (it == properties_.end()) return wmi::kWbemE_NotFound;
    *value = it->second;
    return wmi::kS_OK;
  }

  HRESULT Put(std::string_view name, const Variant& value) override {
    std::lock_guard lock(mutex_);
    properties_[std::string(name)] = value;
    return wmi::kS_OK;
  }

  HRESULT GetMethod(std::string_view method, std::unique_ptr<WmiObject>* in_params) override {
    if (notebook_ == nullptr) return wmi::kWbemE_NotFound;
    const FirmwareMethodSpec* method_def = FindFirmwareMethod(method_class_, method);
    const MethodFault* fault = notebook_->profile().firmware.FaultFor(method);
    if (method_def == nullptr || (fault != nullptr && fault->missing)) return wmi::kWbemE_NotFound;
    if (method_def->input_bits == 0) {
      in_params->reset();
      return wmi::kS_OK;
    }
    *in_params = std::make_unique<SimObject>(
        PropertyMap{{"__CLASS", Variant::Text("__PARAMETERS")},
                    {std::string(method_def->input_property), Variant::Null()}});
    return wmi::kS_OK;
  }

 private:
  std::mutex mutex_;
  PropertyMap properties_;
  std::shared_ptr<SimulatedNotebook> notebook_;
  std::string_view method_class_;
};

class SimEnumerator : public WmiEnumerator {
 public:
  explicit SimEnumerator(std::vector<std::unique_ptr<WmiObject>> rows) : rows_(std::move(rows)) {}

  // A null row is one the provider cannot deliver: the enumeration fails there, and stays
  // failed.
  HRESULT Next(std::unique_ptr<WmiObject>* row) override {
    std::lock_guard lock(mutex_);
    if (next_ >= rows_.size()) return wmi::kWbemS_False;
    if (!rows_[next_]) return wmi::kWbemE_Failed;
    *row = std::move(rows_[next_++]);
    return wmi::kS_OK;
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<WmiObject>> rows_;
  size_t next_ = 0;
};

// Splits  Class.InstanceName="escaped"  into the class and the unescaped name.
std::optional<std::pair<std::string, std::string>> ParseInstancePath(std::string_view path) {
  const size_t dot = path.find('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  constexpr std::string_view kKey = "instancename=\"";
  const std::string_view rest = path.substr(dot + 1);
  if (rest.size() < kKey.size() + 1 || !SameName(rest.substr(0, kKey.size()), kKey) ||
      rest.back() != '"') {
    return std::nullopt;
  }
  const std::string_view quoted = rest.substr(kKey.size(), rest.size() - kKey.size() - 1);
  std::string name;
  for (size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] == '"') return std::nullopt;
    if (quoted[i] != '\\') {
      name.push_back(quoted[i]);
      continue;
    }
    // Inside the quotes a backslash only escapes a backslash or a quote; a single one is a
    // malformed path, which is what an instance name with unescaped backslashes gives.
    if (i + 1 == quoted.size() || (quoted[i + 1] != '\\' && quoted[i + 1] != '"')) {
      return std::nullopt;
    }
    name.push_back(quoted[++i]);
  }
  return std::make_pair(std::string(path.substr(0, dot)), std::move(name));
}

// Reads the method's input: decimal digits as text, as the firmware driver receives them.
HRESULT ReadInput(const FirmwareMethodSpec& method_def, WmiObject* in_params, uint64_t* input) {
  *input = 0;
  if (method_def.input_bits == 0) return wmi::kS_OK;
  if (in_params == nullptr) return wmi::kWbemE_InvalidParameter;
  Variant v;
  if (wmi::Failed(in_params->Get(method_def.input_property, &v))) return wmi::kWbemE_InvalidParameter;
  if (v.type == VarType::kNull || v.type == VarType::kEmpty) return wmi::kWbemE_InvalidParameter;
  if (v.type != VarType::kBstr || v.text.empty()) return kWbemE_TypeMismatch;
  const uint64_t max = method_def.input_bits == 32 ? 0xFFFFFFFFull : ~0ull;
  uint64_t n = 0;
  for (char c : v.text) {
    if (c < '0' || c > '9') return kWbemE_TypeMismatch;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n > (max - digit) / 10) return kWbemE_TypeMismatch;
    n = n * 10 + digit;
  }
  *input = n;
  return wmi::kS_OK;
}

// The object stub's state: the one reference it holds on the sink, given back when the stub,
// its sink interface and every subscription delivering through them are gone.
class SinkForwarder {
 public:
  explicit SinkForwarder(platform::WmiObjectSink* sink) : sink_(sink) { sink_->AddRef(); }
  ~SinkForwarder() { sink_->Release(); }
  SinkForwarder(const SinkForwarder&) = delete;
  SinkForwarder& operator=(const SinkForwarder&) = delete;
  platform::WmiObjectSink& sink() const { return *sink_; }

 private:
  platform::WmiObjectSink* sink_;
};

class SimStubSink : public platform::WmiStubSink {
 public:
  explicit SimStubSink(std::shared_ptr<SinkForwarder> target) : target(std::move(target)) {}
  std::shared_ptr<SinkForwarder> target;
};

class SimObjectStub : public platform::WmiObjectStub {
 public:
  explicit SimObjectStub(std::shared_ptr<SinkForwarder> target) : target_(std::move(target)) {}
  HRESULT QuerySink(std::unique_ptr<platform::WmiStubSink>* sink) override {
    *sink = std::make_unique<SimStubSink>(target_);
    return wmi::kS_OK;
  }

 private:
  std::shared_ptr<SinkForwarder> target_;
};

class SimUnsecuredApartment : public platform::WmiUnsecuredApartment {
 public:
  HRESULT CreateObjectStub(platform::WmiObjectSink* sink,
                           std::unique_ptr<platform::WmiObjectStub>* stub) override {
    if (sink == nullptr) return wmi::kWbemE_InvalidParameter;
    *stub = std::make_unique<SimObjectStub>(std::make_shared<SinkForwarder>(sink));
    return wmi::kS_OK;
  }
};

constexpr std::string_view kFirmwareEventClass = "FwxEvent";

class SimServices : public WmiServices {
 public:
  SimServices(std::shared_ptr<SimulatedNotebook> notebook, Namespace ns)
      : notebook_(std::move(notebook)), ns_(ns) {}
  // Releasing the services ends the subscriptions made through them.
  ~SimServices() override {
    for (const uint64_t id : subscriptions_) notebook_->Unsubscribe(id);
  }

  // The firmware's event class FwxEvent lives in ROOT\WMI beside FwxAction, from the same
  // driver. Each event reaches the sink as one object of that class whose "EventDetail" is the
  // event's bytes.
  HRESULT ExecNotificationQueryAsync(std::string_view query, int32_t /*flags*/,
                                     platform::WmiStubSink* sink) override {
    const std::optional<WqlQuery> parsed = ParseWql(query);
    if (!parsed) return wmi::kWbemE_InvalidQuery;
    if (ns_ != Namespace::kWmi || !SameName(parsed->class_name, kFirmwareEventClass) ||
        FirmwareClass(notebook_->profile(), kFwxActionClass) == nullptr) {
      return wmi::kWbemE_InvalidClass;
    }
    const auto* stub = dynamic_cast<SimStubSink*>(sink);
    if (stub == nullptr) return wmi::kWbemE_InvalidParameter;
    std::shared_ptr<SinkForwarder> target = stub->target;
    subscriptions_.push_back(notebook_->Subscribe([target](const std::vector<uint8_t>& detail) {
      SimObject event(PropertyMap{{"__CLASS", Variant::Text(std::string(kFirmwareEventClass))},
                                  {"EventDetail", Variant::Bytes(detail)}});
      WmiObject* objects[] = {&event};
      target->sink().Indicate(objects);
    }));
    return wmi::kS_OK;
  }

  HRESULT SetProxyBlanket() override { return wmi::kS_OK; }

  HRESULT ExecQuery(std::string_view query, std::unique_ptr<WmiEnumerator>* rows) override {
    const std::optional<WqlQuery> parsed = ParseWql(query);
    if (!parsed) return wmi::kWbemE_InvalidQuery;
    const std::optional<std::string_view> cls = Class(parsed->class_name);
    if (!cls) return wmi::kWbemE_InvalidClass;
    const std::vector<std::string> schema = Schema(*cls);
    const auto known = [&schema](const std::string& name) {
      for (const std::string& s : schema) {
        if (SameName(s, name)) return true;
      }
      return false;
    };
    for (const std::string& name : parsed->properties) {
      if (!known(name)) return wmi::kWbemE_InvalidQuery;
    }
    if (parsed->where && !known(parsed->where->property)) return wmi::kWbemE_InvalidQuery;

    std::vector<std::unique_ptr<WmiObject>> objects;
    for (std::optional<PropertyMap>& instance : Instances(*notebook_, *cls)) {
      if (!instance) {
        objects.push_back(nullptr);
        continue;
      }
      PropertyMap& row = *instance;
      if (parsed->where && !Matches(row, *parsed->where)) continue;
      if (!parsed->properties.empty()) {
        PropertyMap selected;
        for (const std::string& name : parsed->properties) {
          const auto it = row.find(name);
          if (it != row.end()) selected[it->first] = it->second;
        }
        row = std::move(selected);
      }
      objects.push_back(MakeInstance(*cls, std::move(row)));
    }
    *rows = std::make_unique<SimEnumerator>(std::move(objects));
    return wmi::kS_OK;
  }

  HRESULT GetObject(std::string_view class_name, std::unique_ptr<WmiObject>* object) override {
    const std::optional<std::string_view> cls = Class(class_name);
    if (!cls) return wmi::kWbemE_NotFound;
    PropertyMap definition{{"__CLASS", Variant::Text(std::string(*cls))}};
    for (const std::string& name : Schema(*cls)) definition[name] = Variant::Null();
    *object = std::make_unique<SimObject>(std::move(definition), notebook_, *cls);
    return wmi::kS_OK;
  }

  HRESULT ExecMethod(std::string_view object_path, std::string_view method, WmiObject* in_params,
                     std::unique_ptr<WmiObject>* out_params) override {
    const auto path = ParseInstancePath(object_path);
    if (!path) return kWbemE_InvalidObjectPath;
    const std::optional<std::string_view> cls = Class(path->first);
    if (!cls) return wmi::kWbemE_InvalidClass;
    const MachineProfile& profile = notebook_->profile();
    const FirmwareClassProfile* fw = FirmwareClass(profile, *cls);
    if (fw == nullptr || fw->instance_name != path->second) return wmi::kWbemE_NotFound;

    const FirmwareMethodSpec* method_def = FindFirmwareMethod(*cls, method);
    const MethodFault* fault = profile.firmware.FaultFor(method);
    if (method_def == nullptr || (fault != nullptr && fault->missing)) return wmi::kWbemE_InvalidMethod;
    if (fault != nullptr && fault->exec_error != 0) return fault->exec_error;

    uint64_t input = 0;
    if (const HRESULT hr = ReadInput(*method_def, in_params, &input); wmi::Failed(hr)) return hr;

    FirmwareReply reply = notebook_->Invoke(method_def->id, input);
    if (fault != nullptr && fault->status != 0) reply.value = (reply.value & ~0xFFull) | fault->status;

    const Encoder enc{profile.firmware.integer_outputs};
    PropertyMap out{{"__CLASS", Variant::Text("__PARAMETERS")}};
    const std::string output_name(method_def->output_property);
    if (method_def->id == FirmwareMethod::kGetGamingLED) {
      out["gmReturn"] = enc.U64(reply.value);
      out[output_name] = Variant::Bytes(std::move(reply.bytes));
    } else if (method_def->output_bits == 64) {
      out[output_name] = enc.U64(reply.value);
    } else {
      out[output_name] = enc.U32(static_cast<uint32_t>(reply.value));
    }
    if (fault != nullptr) {
      switch (fault->output) {
        case OutputFault::kNone: break;
        case OutputFault::kNull: out[output_name] = Variant::Null(); break;
        case OutputFault::kAbsent: out.erase(output_name); break;
        case OutputFault::kText: out[output_name] = Variant::Text(fault->output_text); break;
      }
    }
    *out_params = std::make_unique<SimObject>(std::move(out));
    return wmi::kS_OK;
  }

  HRESULT CreateInstanceEnum(std::string_view class_name,
                             std::unique_ptr<WmiEnumerator>* instances) override {
    const std::optional<std::string_view> cls = Class(class_name);
    if (!cls) return wmi::kWbemE_InvalidClass;
    std::vector<std::unique_ptr<WmiObject>> objects;
    for (std::optional<PropertyMap>& row : Instances(*notebook_, *cls)) {
      objects.push_back(row ? MakeInstance(*cls, std::move(*row)) : nullptr);
    }
    *instances = std::make_unique<SimEnumerator>(std::move(objects));
    return wmi::kS_OK;
  }

 private:
  std::optional<std::string_view> Class(std::string_view name) const {
    return CanonicalClass(notebook_->profile(), ns_, name);
  }

  std::unique_ptr<WmiObject> MakeInstance(std::string_view cls, PropertyMap row) const {
    if (FirmwareClass(notebook_->profile(), cls) != nullptr) {
      return std::make_unique<SimObject>(std::move(row), notebook_, cls);
    }
    return std::make_unique<SimObject>(std::move(row));
  }

  std::shared_ptr<SimulatedNotebook> notebook_;
  Namespace ns_;
  std::vector<uint64_t> subscriptions_;
};

class SimLocator : public WmiLocator {
 public:
  explicit SimLocator(std::shared_ptr<SimulatedNotebook> notebook) : notebook_(std::move(notebook)) {}

  HRESULT ConnectServer(std::string_view name_space,
                        std::unique_ptr<WmiServices>* services) override {
    std::string name = text::AsciiUpper(name_space);
    if (name.rfind("\\\\.\\", 0) == 0) name.erase(0, 4);
    if (name == "ROOT\\WMI") {
      *services = std::make_unique<SimServices>(notebook_, Namespace::kWmi);
    } else if (name == "ROOT\\CIMV2") {
      *services = std::make_unique<SimServices>(notebook_, Namespace::kCimV2);
    } else {
      return wmi::kWbemE_InvalidNamespace;
    }
    return wmi::kS_OK;
  }

 private:
  std::shared_ptr<SimulatedNotebook> notebook_;
};

}  // namespace

Section ComSection(ComProfile& com) {
  return Keys("com", {
      {"apartment",
       [&](std::string_view v) {
         if (v == "multithreaded") {
           com.single_threaded = false;
         } else if (v == "single-threaded") {
           com.single_threaded = true;
         } else {
           throw LineError{"'" + std::string(v) + "' is not multithreaded or single-threaded"};
         }
       }},
  });
}

Section VolumeSection(VolumeProfile& vol) {
  Section s = Keys("volume", {
      {"name", [&](std::string_view v) { vol.name = NonEmpty(v); }},
      {"label", [&](std::string_view v) { vol.label = std::string(v); }},
      {"drive_letter", [&](std::string_view v) { vol.drive_letter = std::string(v); }},
      {"file_system", [&](std::string_view v) { vol.file_system = std::string(v); }},
      {"folders",
       [&](std::string_view v) {
         vol.folders.clear();
         for (std::string_view item : SplitList(v, ',')) {
           if (item.empty() || item.front() != '\\') {
             throw LineError{"folder '" + std::string(item) +
                             "' must start with a backslash (\\EFI\\OEM)"};
           }
           vol.folders.emplace_back(item);
         }
       }},
  });
  s.finish = [&vol] {
    if (vol.name.empty()) throw LineError{"[volume] needs a name"};
  };
  return s;
}

Section VideoModeSection(VideoModeProfile& mode) {
  const auto dimension = [](uint32_t& field) {
    return [&field](std::string_view v) {
      field = static_cast<uint32_t>(Number(v, kMax16));
      if (field == 0) throw LineError{"a resolution must be 1..65535"};
    };
  };
  Section s = Keys("video_mode", {
      {"horizontal", dimension(mode.horizontal)},
      {"vertical", dimension(mode.vertical)},
      {"refresh_rate",
       [&](std::string_view v) { mode.refresh_rate = static_cast<uint32_t>(Number(v, 1000)); }},
      {"fails", [&](std::string_view v) { mode.fails = Switch(v); }},
  });
  s.finish = [&mode] {
    if (mode.horizontal == 0 || mode.vertical == 0) {
      throw LineError{"[video_mode] needs horizontal and vertical"};
    }
  };
  return s;
}

SimWmiProvider::SimWmiProvider(std::shared_ptr<SimulatedNotebook> notebook)
    : notebook_(std::move(notebook)) {}

SimWmiProvider::~SimWmiProvider() = default;

bool SimWmiProvider::SingleThreaded(std::thread::id thread) const {
  return notebook_->profile().com.single_threaded || single_threaded_.count(thread) != 0;
}

HRESULT SimWmiProvider::CoInitializeEx() {
  std::lock_guard lock(mutex_);
  const std::thread::id self = std::this_thread::get_id();
  if (SingleThreaded(self)) return wmi::kRpcE_ChangedMode;
  return ++initialized_[self] == 1 ? wmi::kS_OK : wmi::kS_FALSE;
}

void SimWmiProvider::CoUninitialize() {
  std::lock_guard lock(mutex_);
  const auto it = initialized_.find(std::this_thread::get_id());
  if (it == initialized_.end()) return;
  if (--it->second == 0) initialized_.erase(it);
}

HRESULT SimWmiProvider::CreateLocator(std::unique_ptr<WmiLocator>* locator) {
  {
    std::lock_guard lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (!SingleThreaded(self) && initialized_.empty()) return kCoE_NotInitialized;
  }
  *locator = std::make_unique<SimLocator>(notebook_);
  return wmi::kS_OK;
}

HRESULT SimWmiProvider::CreateUnsecuredApartment(
    std::unique_ptr<platform::WmiUnsecuredApartment>* apartment) {
  {
    std::lock_guard lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    if (!SingleThreaded(self) && initialized_.empty()) return kCoE_NotInitialized;
  }
  *apartment = std::make_unique<SimUnsecuredApartment>();
  return wmi::kS_OK;
}

void SimWmiProvider::EnterSingleThreadedApartment() {
  std::lock_guard lock(mutex_);
  single_threaded_.insert(std::this_thread::get_id());
}

void SimWmiProvider::LeaveSingleThreadedApartment() {
  std::lock_guard lock(mutex_);
  single_threaded_.erase(std::this_thread::get_id());
}

int SimWmiProvider::ComInitializations() const {
  std::lock_guard lock(mutex_);
  const auto it = initialized_.find(std::this_thread::get_id());
  return it == initialized_.end() ? 0 : it->second;
}

}  // namespace sim
