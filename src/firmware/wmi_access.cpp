#include "firmware/wmi_access.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "base/text.h"
#include "platform/services.h"

using wmi::HRESULT;
using wmi::Variant;
using wmi::VarType;

namespace {

constexpr std::string_view kRootWmi = "ROOT\\WMI";
constexpr std::string_view kGamingClass = "CorlanGamingFunction";
constexpr std::string_view kGamingQuery = "SELECT * FROM CorlanGamingFunction";
constexpr std::string_view kActionClass = "FwxAction";
constexpr std::string_view kActionQuery = "SELECT * FROM FwxAction";
constexpr std::chrono::milliseconds kPauseAfterCall{30};

// A connection whose services are missing was never connected, or connecting failed: every
// operation on it fails the same way instead of dereferencing nothing.
bool HasServices(WmiConnection& connection) {
  if (connection.services) return true;
  connection.hr = wmi::kE_Fail;
  return false;
}

// Undoes a connection attempt that failed part-way: what was obtained is released and COM is
// balanced at once, so that the owner's later wmi_close has nothing left to do.
void Abandon(WmiConnection& connection) {
  connection.services.reset();
  connection.locator.reset();
  if (connection.com_initialized && connection.uninitialize_com) platform::Wmi().CoUninitialize();
  connection.com_initialized = false;
}

std::string DoubleBackslashes(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (char c : s) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out;
}

void PauseAfterCall() { platform::Time().SleepFor(kPauseAfterCall); }

// Shared by wmi_query_first_row and wmi_query_optional_row; they differ only in what a query
// without rows answers.
bool QueryRow(WmiConnection& connection, std::string_view query,
              std::span<const WmiOutput> properties, bool row_required) {
  try {
    if (!HasServices(connection)) return false;
    std::unique_ptr<platform::WmiEnumerator> rows;
    connection.hr = connection.services->ExecQuery(query, &rows);
    if (wmi::Failed(connection.hr)) return false;
    if (!rows) {
      connection.hr = wmi::kE_Fail;
      return false;
    }
    std::unique_ptr<platform::WmiObject> row;
    // A Next that fails delivers no row, like the end of the rows.
    connection.hr = rows->Next(&row);
    if (connection.hr != wmi::kS_OK || !row) return !row_required;
    for (const WmiOutput& p : properties) {
      connection.hr = row->Get(p.name, p.value);
      // Whatever a failed read may have left behind, the caller sees an empty VARIANT.
      if (wmi::Failed(connection.hr)) wmi::VariantClear(*p.value);
    }
    return true;
  } catch (...) {
    connection.hr = wmi::kWbemE_Failed;
    return false;
  }
}

// One firmware method, as the wrappers invoke it.
struct FirmwareMethod {
  std::string_view class_name;
  std::string_view query;
  std::string_view method;
  std::string_view input;  // empty: the method is invoked without an input property
  std::string_view output;
};

constexpr FirmwareMethod Gaming(std::string_view method) {
  return {kGamingClass, kGamingQuery, method, "gmInput", "gmOutput"};
}
constexpr FirmwareMethod Action(std::string_view method) {
  return {kActionClass, kActionQuery, method, "uiInput", "uiOutput"};
}

// The common body of the wrappers: the input (a kUI4 or kUI8 variant, or null for none) goes
// out as decimal text, the output comes back converted to `output_type`, whose bits land in
// *value. *value is written only on success.
bool CallFirmware(const FirmwareMethod& m, const Variant* input, VarType output_type,
                  uint64_t* value) {
  Variant in;
  if (input != nullptr) {
    in = *input;
    if (wmi::Failed(wmi::VariantChangeType(in, VarType::kBstr))) return false;
  }
  WmiConnection connection;
  bool ok = false;
  if (wmi_connect(connection, kRootWmi)) {
    Variant out;
    const WmiInput inputs[] = {{m.input, &in}};      // 2 input words (none for no input)
    const WmiOutput outputs[] = {{m.output, &out}};  // 2 output words
    const std::span<const WmiInput> sent =
        input != nullptr ? std::span<const WmiInput>(inputs) : std::span<const WmiInput>();
    if (wmi_exec_method(connection, m.class_name, m.method, m.query, sent, outputs) &&
        wmi::Succeeded(wmi::VariantChangeType(out, output_type))) {
      *value = out.bits;
      wmi::VariantClear(in);
      wmi::VariantClear(out);
      // The firmware needs a moment after each successful call before the next one; the pause
      // is taken while the connection is still open, as it always has been.
      PauseAfterCall();
      ok = true;
    }
  }
  wmi_close(connection);
  return ok;
}

// Reading methods: 32-bit input, 64-bit output.
bool Read(const FirmwareMethod& m, uint32_t input, uint64_t* output) {
  const Variant in = Variant::UI4(input);
  uint64_t value = 0;
  if (!CallFirmware(m, &in, VarType::kUI8, &value)) return false;
  *output = value;
  return true;
}

// Writing methods: 64-bit input, 32-bit output.
bool Write(const FirmwareMethod& m, uint64_t input, uint32_t* output) {
  const Variant in = Variant::UI8(input);
  uint64_t value = 0;
  if (!CallFirmware(m, &in, VarType::kUI4, &value)) return false;
  *output = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

WmiConnection::~WmiConnection() { wmi_close(*this); }

bool wmi_connect(WmiConnection& connection, std::string_view name_space) {
  wmi_close(connection);
  connection.uninitialize_com = true;
  connection.com_initialized = false;
  connection.hr = wmi::kS_OK;
  try {
    platform::WmiProvider& com = platform::Wmi();
    connection.hr = com.CoInitializeEx();
    connection.com_initialized = true;
    // Another failure of CoInitializeEx is not checked here: creating the locator then fails.
    if (connection.hr == wmi::kRpcE_ChangedMode) connection.uninitialize_com = false;

    connection.hr = com.CreateLocator(&connection.locator);
    if (wmi::Succeeded(connection.hr) && !connection.locator) connection.hr = wmi::kE_Fail;
    if (wmi::Succeeded(connection.hr)) {
      connection.hr = connection.locator->ConnectServer(name_space, &connection.services);
      if (wmi::Succeeded(connection.hr) && !connection.services) connection.hr = wmi::kE_Fail;
    }
    if (wmi::Succeeded(connection.hr)) connection.hr = connection.services->SetProxyBlanket();
    if (wmi::Succeeded(connection.hr)) return true;
  } catch (...) {
    connection.hr = wmi::kWbemE_Failed;
  }
  Abandon(connection);
  return false;
}

void wmi_close(WmiConnection& connection) {
  connection.services.reset();
  connection.locator.reset();
  connection.extra.reset();
  if (connection.com_initialized && connection.uninitialize_com) platform::Wmi().CoUninitialize();
  connection.com_initialized = false;
}

HRESULT wmi_build_instance_path(WmiConnection& connection, std::string_view class_name,
                                std::string_view query, std::string* path) {
  path->clear();
  try {
    if (!HasServices(connection)) return connection.hr;
    std::unique_ptr<platform::WmiEnumerator> rows;
    connection.hr = connection.services->ExecQuery(query, &rows);
    if (wmi::Failed(connection.hr)) return connection.hr;
    if (!rows) return connection.hr = wmi::kE_Fail;

    std::string instance_name;
    for (;;) {
      std::unique_ptr<platform::WmiObject> row;
      connection.hr = rows->Next(&row);
      if (connection.hr != wmi::kS_OK || !row) break;
      Variant name;
      connection.hr = row->Get("InstanceName", &name);
      // Only a real text names an instance; null, empty and other types are passed over.
      if (wmi::Succeeded(connection.hr) && name.type == VarType::kBstr && !name.text.empty()) {
        instance_name = std::move(name.text);
        break;
      }
    }
    rows.reset();
    if (wmi::Failed(connection.hr) || instance_name.empty()) return connection.hr;

    std::string formatted =
        std::string(class_name) + ".InstanceName=\"" + DoubleBackslashes(instance_name) + "\"";
    // The path buffer holds wide characters, so the limit counts UTF-16 units and the zero.
    if (text::Utf8ToUtf16(formatted).size() + 1 > kWmiObjectPathCapacity) {
      return connection.hr = wmi::kStrsafeE_InsufficientBuffer;
    }
    *path = std::move(formatted);
    return connection.hr;
  } catch (...) {
    path->clear();
    return connection.hr = wmi::kWbemE_Failed;
  }
}

bool wmi_exec_method(WmiConnection& connection, std::string_view class_name,
                     std::string_view method, std::string_view query,
                     std::span<const WmiInput> inputs, std::span<const WmiOutput> outputs) {
  connection.hr = wmi::kS_OK;
  try {
    std::string path;
    if (wmi::Failed(wmi_build_instance_path(connection, class_name, query, &path))) return false;

    // Declared in reverse so that leaving the scope releases the class definition first,
    // then the input- and then the output-parameter object.
    std::unique_ptr<platform::WmiObject> out_params;
    std::unique_ptr<platform::WmiObject> in_params;
    std::unique_ptr<platform::WmiObject> class_definition;

    connection.hr = connection.services->GetObject(class_name, &class_definition);
    if (wmi::Failed(connection.hr)) return false;
    if (!class_definition) {
      connection.hr = wmi::kE_Fail;
      return false;
    }
    connection.hr = class_definition->GetMethod(method, &in_params);
    if (wmi::Failed(connection.hr)) return false;

    if (!inputs.empty() && !in_params) {
      connection.hr = wmi::kWbemE_InvalidMethodParameters;
      return false;
    }
    for (const WmiInput& input : inputs) {
      const Variant copy = *input.value;
      connection.hr = in_params->Put(input.name, copy);
      if (wmi::Failed(connection.hr)) return false;
    }

    connection.hr = connection.services->ExecMethod(
        path, method, inputs.empty() ? nullptr : in_params.get(), &out_params);
    if (wmi::Failed(connection.hr)) return false;

    bool received = false;
    for (const WmiOutput& output : outputs) {
      if (!out_params) {
        connection.hr = wmi::kWbemE_NotFound;
        return false;
      }
      Variant value;
      connection.hr = out_params->Get(output.name, &value);
      if (wmi::Failed(connection.hr)) return false;
      *output.value = std::move(value);
      received = true;
    }
    return received;
  } catch (...) {
    connection.hr = wmi::kWbemE_Failed;
    return false;
  }
}

bool wmi_get_first_instance(WmiConnection& connection, std::string_view class_name,
                            std::span<const WmiOutput> properties) {
  try {
    if (!HasServices(connection)) return false;
    std::unique_ptr<platform::WmiEnumerator> instances;
    connection.hr = connection.services->CreateInstanceEnum(class_name, &instances);
    if (wmi::Failed(connection.hr)) return false;
    if (!instances) {
      connection.hr = wmi::kE_Fail;
      return false;
    }
    std::unique_ptr<platform::WmiObject> instance;
    connection.hr = instances->Next(&instance);
    if (connection.hr != wmi::kS_OK || !instance) return false;
    for (const WmiOutput& p : properties) {
      Variant value;
      connection.hr = instance->Get(p.name, &value);
      if (wmi::Failed(connection.hr)) return false;
      *p.value = std::move(value);
    }
    return true;
  } catch (...) {
    connection.hr = wmi::kWbemE_Failed;
    return false;
  }
}

bool wmi_query_first_row(WmiConnection& connection, std::string_view query,
                         std::span<const WmiOutput> properties) {
  return QueryRow(connection, query, properties, /*row_required=*/true);
}

bool wmi_query_optional_row(WmiConnection& connection, std::string_view query,
                            std::span<const WmiOutput> properties) {
  return QueryRow(connection, query, properties, /*row_required=*/false);
}

bool wmi_query_each_row(WmiConnection& connection, std::string_view query,
                        const WmiRowCallback& on_row, std::span<const std::string_view> names) {
  try {
    if (!HasServices(connection)) return false;
    std::unique_ptr<platform::WmiEnumerator> rows;
    connection.hr = connection.services->ExecQuery(query, &rows);
    if (wmi::Failed(connection.hr)) return false;
    if (!rows) {
      connection.hr = wmi::kE_Fail;
      return false;
    }
    for (;;) {
      std::unique_ptr<platform::WmiObject> row;
      connection.hr = rows->Next(&row);
      if (connection.hr != wmi::kS_OK || !row) break;
      std::vector<Variant> values(names.size());
      for (size_t i = 0; i < names.size(); ++i) {
        if (wmi::Failed(row->Get(names[i], &values[i]))) wmi::VariantClear(values[i]);
      }
      // An empty callback throws std::bad_function_call here, which ends the walk as false.
      on_row(values);
    }
    // Whatever Next answered last (end of rows or a failure), the rows were exhausted.
    return true;
  } catch (...) {
    connection.hr = wmi::kWbemE_Failed;
    return false;
  }
}

bool GetFunction(uint32_t input, uint64_t* output) {
  return Read(Action("GetFunction"), input, output);
}

bool SetFunction(uint64_t input, uint32_t* output) {
  return Write(Action("SetFunction"), input, output);
}

bool SetGamingProfileConfigurationFunction(uint64_t input, uint32_t* output) {
  return Write(Gaming("SetGamingProfile"), input, output);
}

bool GetGamingProfileConfigurationFunction(uint32_t input, uint64_t* output) {
  return Read(Gaming("GetGamingProfile"), input, output);
}

bool GetGamingSystemInformationFunction(uint32_t input, uint64_t* output) {
  return Read(Gaming("GetGamingSysInfo"), input, output);
}

bool SetGamingFanGroupBehaviorFunction(uint64_t input, uint32_t* output) {
  return Write(Gaming("SetGamingFanBehavior"), input, output);
}

bool GetGamingFanGroupBehaviorFunction(uint32_t input, uint64_t* output) {
  return Read(Gaming("GetGamingFanBehavior"), input, output);
}

bool SetGamingFanGroupSpeedFunction(uint64_t input, uint32_t* output) {
  return Write(Gaming("SetGamingFanSpeed"), input, output);
}

bool GetGamingFanGroupSpeedFunction(uint32_t input, uint64_t* output) {
  return Read(Gaming("GetGamingFanSpeed"), input, output);
}

bool SetGamingFanTableFunction(uint64_t input, uint32_t* output) {
  return Write(Gaming("SetGamingFanTable"), input, output);
}

bool GetGamingFanTableFunction(uint32_t /*input*/, uint64_t* output) {
  // The firmware's fan-table method takes no input: it is invoked with 0 input words.
  uint64_t value = 0;
  if (!CallFirmware(Gaming("GetGamingFanTable"), nullptr, VarType::kUI8, &value)) return false;
  *output = value;
  return true;
}

bool SetGamingMiscSettingFunction(uint64_t input, uint32_t* output) {
  return Write(Gaming("SetGamingMiscSetting"), input, output);
}

bool GetGamingMiscSettingFunction(uint32_t input, uint64_t* output) {
  return Read(Gaming("GetGamingMiscSetting"), input, output);
}

bool GetGamingLEDBehaviorFunction(std::array<uint8_t, kGamingLedResultSize>* result) {
  Variant in = Variant::UI4(1);
  if (wmi::Failed(wmi::VariantChangeType(in, VarType::kBstr))) return false;
  WmiConnection connection;
  bool ok = false;
  if (wmi_connect(connection, kRootWmi)) {
    Variant status;
    Variant bytes;
    const WmiInput inputs[] = {{"gmInput", &in}};                               // 2 input words
    const WmiOutput outputs[] = {{"gmReturn", &status}, {"gmOutput", &bytes}};  // 4 output words
    if (wmi_exec_method(connection, kGamingClass, "GetGamingLED", kGamingQuery, inputs, outputs) &&
        wmi::Succeeded(wmi::VariantChangeType(status, VarType::kUI8)) &&
        wmi::Succeeded(wmi::VariantChangeType(bytes, VarType::kUI1Array))) {
      std::array<uint8_t, kGamingLedResultSize> r{};
      r[0] = static_cast<uint8_t>(status.bits & 0xFF);
      const size_t n = std::min(bytes.bytes.size(), kGamingLedResultSize - 1);
      std::copy_n(bytes.bytes.begin(), n, r.begin() + 1);
      *result = r;
      wmi::VariantClear(in);
      wmi::VariantClear(status);
      wmi::VariantClear(bytes);
      PauseAfterCall();
      ok = true;
    }
  }
  wmi_close(connection);
  return ok;
}

