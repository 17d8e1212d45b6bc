// The broker's road to WMI: the connection, the generic operations the rest of the broker
// reads ordinary WMI data with, and the wrappers around the firmware's gaming methods of the
// classes CorlanGamingFunction and FwxAction in ROOT\WMI.
//
// The layer is stateless. Every operation works on a WmiConnection its caller owns; every
// firmware wrapper opens its own connection, invokes one method and closes it again. Nothing is
// cached, and there is no lock: calls from several threads at once are safe as long as each
// uses its own connection (COM is initialised multithreaded on the calling thread).
//
// Failures are reported as false (or a failing HRESULT); the reason is kept in the
// connection's `hr` only. Nothing here logs and nothing throws.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/variant.h"
#include "platform/wmi.h"

// Something a connection holds besides its services and locator and lets go of at close. The
// operations of this layer never fill it; the firmware event subscription keeps its sink stub
// there. Any owned object fits through WmiHold below.
class WmiReleasable {
 public:
  virtual ~WmiReleasable() = default;
};

// Wraps an owned object of any type so that a connection's `extra` releases (destroys) it.
template <typename T>
std::unique_ptr<WmiReleasable> WmiHold(std::unique_ptr<T> object) {
  struct Holder final : WmiReleasable {
    explicit Holder(std::unique_ptr<T> o) : held(std::move(o)) {}
    std::unique_ptr<T> held;
  };
  return std::make_unique<Holder>(std::move(object));
}

// One connection to a WMI namespace. Owned by the caller, normally a local of one operation;
// neither copied nor moved. Its destructor runs wmi_close, so a connection that its owner
// forgot to close still balances COM; an explicit wmi_close is the rule and makes the
// destructor's a no-op.
struct WmiConnection {
  wmi::HRESULT hr = wmi::kS_OK;  // result of the last COM/WMI step
  bool uninitialize_com = true;  // false when CoInitializeEx answered RPC_E_CHANGED_MODE
  bool com_initialized = false;  // CoInitializeEx was called and not yet balanced
  std::unique_ptr<platform::WmiServices> services;
  std::unique_ptr<platform::WmiLocator> locator;
  std::unique_ptr<WmiReleasable> extra;

  WmiConnection() = default;
  WmiConnection(const WmiConnection&) = delete;
  WmiConnection& operator=(const WmiConnection&) = delete;
  ~WmiConnection();
};

// Opens `connection` on `name_space` ("ROOT\WMI", "ROOT\CIMV2") through platform::Wmi():
// CoInitializeEx (multithreaded), the WBEM locator, ConnectServer, SetProxyBlanket. A
// connection still open from an earlier use is closed first. True on success. On failure the
// connection holds nothing, COM is already balanced, `hr` holds the failing step's result, and
// a later wmi_close does nothing more. RPC_E_CHANGED_MODE from CoInitializeEx (the thread runs
// COM single-threaded already) is tolerated: the connection works and will not uninitialise COM.
bool wmi_connect(WmiConnection& connection, std::string_view name_space);

// Releases `services`, then `locator`, then `extra`, where present; then CoUninitialize when
// `com_initialized` and `uninitialize_com` are both set. Afterwards the connection holds
// nothing and a second wmi_close does nothing.
void wmi_close(WmiConnection& connection);

// Capacity of an object path in wide characters, the terminating zero included.
inline constexpr size_t kWmiObjectPathCapacity = 260;

// The object path of the first instance `query` returns that has a usable "InstanceName" (a
// non-empty text; rows where reading it fails, or where it is empty, null or not a text, are
// skipped), formatted as "%s.InstanceName=\"%s\"" with `class_name` and the instance name in
// which every backslash is doubled. Answers the connection's `hr`:
// - ExecQuery's failure, or a failing Next (path empty);
// - kStrsafeE_InsufficientBuffer when the path would not fit kWmiObjectPathCapacity UTF-16
//   units with its terminator (path empty);
// - otherwise a success code; `path` is empty when no instance qualified (a method invoked on
//   that path then fails).
wmi::HRESULT wmi_build_instance_path(WmiConnection& connection, std::string_view class_name,
                                     std::string_view query, std::string* path);

// One property of a variadic WMI operation: a name and a VARIANT. Each pair stands for two of
// the "words" that a C-style caller would count, so a span of N pairs is 2N words.
struct WmiInput {
  std::string_view name;
  const wmi::Variant* value;  // sent as it is (copied)
};
struct WmiOutput {
  std::string_view name;
  wmi::Variant* value;  // receives a copy of the property
};

// Invokes `method` of `class_name` on the first instance `query` selects:
// 1. builds the object path (wmi_build_instance_path); a failing code ends the call;
// 2. GetObject(class_name): the class definition;
// 3. GetMethod(method): the method's input-parameter object;
// 4. Puts each input, in order, on that object (no instance of it is spawned);
// 5. ExecMethod(path, method, the input-parameter object, or none when `inputs` is empty);
// 6. Gets each output, in order, from the output-parameter object into the caller's VARIANT;
// 7. releases the class definition, the input- and the output-parameter objects.
// True when the method ran and every output was received; false on any failure and always
// when `outputs` is empty. Outputs received before a failing one keep their new value. Inputs
// given to a method without an input-parameter object fail (kWbemE_InvalidMethodParameters).
// An exception from below sets `hr` to kWbemE_Failed and answers false.
bool wmi_exec_method(WmiConnection& connection, std::string_view class_name,
                     std::string_view method, std::string_view query,
                     std::span<const WmiInput> inputs, std::span<const WmiOutput> outputs);

// Copies the named properties of the first instance of `class_name` (CreateInstanceEnum) into
// the caller's VARIANTs. True when there was an instance and every property was copied; a
// failing property ends the call (properties before it keep their new value).
bool wmi_get_first_instance(WmiConnection& connection, std::string_view class_name,
                            std::span<const WmiOutput> properties);

// Reads the named properties of the first row of the WQL `query` into the caller's VARIANTs.
// A property that cannot be read leaves its VARIANT empty and does not stop the others.
// wmi_query_first_row: true when the query returned a row.
// wmi_query_optional_row: true when the query succeeded, with or without a row; without one
// the VARIANTs are left untouched.
// Both answer false when ExecQuery fails. A Next that fails counts as "no more rows": no row.
bool wmi_query_first_row(WmiConnection& connection, std::string_view query,
                         std::span<const WmiOutput> properties);
bool wmi_query_optional_row(WmiConnection& connection, std::string_view query,
                            std::span<const WmiOutput> properties);

// Calls `on_row` once per row of the WQL `query`, with the named properties in the order of
// `names` (names.size() is the count of property names); a property that cannot be read is an
// empty VARIANT in its place. True when the rows were exhausted (a Next that fails ends them
// like the last row does); false when ExecQuery failed or an exception stopped it — an exception from the callback included, and an empty
// `on_row` as soon as there is a row to give it.
using WmiRowCallback = std::function<void(std::vector<wmi::Variant> row)>;
bool wmi_query_each_row(WmiConnection& connection, std::string_view query,
                        const WmiRowCallback& on_row, std::span<const std::string_view> names);

// ---------------------------------------------------------------------------------------------
// Firmware method wrappers. Each connects to ROOT\WMI, invokes one method of CorlanGamingFunction
// ("SELECT * FROM CorlanGamingFunction") or FwxAction ("SELECT * FROM FwxAction") with one input
// property sent as decimal text, converts the one output property to the caller's integer type,
// pauses 30 ms, closes and answers true. On any failure — connection, no instance, method,
// Put, ExecMethod, a missing, null or unconvertible output — it answers false at once (no pause)
// and leaves `*output` untouched. Reading wrappers (Get…) take 32 bits and give 64, with byte 0
// of the output a status that is 0 on success; writing wrappers (Set…) take 64 and give 32.

// FwxAction "GetFunction": "uiInput" -> "uiOutput".
bool GetFunction(uint32_t input, uint64_t* output);
// FwxAction "SetFunction": "uiInput" -> "uiOutput".
bool SetFunction(uint64_t input, uint32_t* output);
// CorlanGamingFunction "SetGamingProfile": "gmInput" -> "gmOutput".
bool SetGamingProfileConfigurationFunction(uint64_t input, uint32_t* output);
// CorlanGamingFunction "GetGamingProfile": "gmInput" -> "gmOutput".
bool GetGamingProfileConfigurationFunction(uint32_t input, uint64_t* output);
// CorlanGamingFunction "GetGamingSysInfo": "gmInput" -> "gmOutput".
bool GetGamingSystemInformationFunction(uint32_t input, uint64_t* output);
// CorlanGamingFunction "SetGamingFanBehavior": "gmInput" -> "gmOutput".
bool SetGamingFanGroupBehaviorFunction(uint64_t input, uint32_t* output);
// CorlanGamingFunction "GetGamingFanBehavior": "gmInput" -> "gmOutput".
bool GetGamingFanGroupBehaviorFunction(uint32_t input, uint64_t* output);
// CorlanGamingFunction "SetGamingFanSpeed": "gmInput" -> "gmOutput".
bool SetGamingFanGroupSpeedFunction(uint64_t input, uint32_t* output);
// CorlanGamingFunction "GetGamingFanSpeed": "gmInput" -> "gmOutput".
bool GetGamingFanGroupSpeedFunction(uint32_t input, uint64_t* output);
// CorlanGamingFunction "SetGamingFanTable": "gmInput" -> "gmOutput".
bool SetGamingFanTableFunction(uint64_t input, uint32_t* output);
// CorlanGamingFunction "GetGamingFanTable": no input property at all -> "gmOutput". `input` is
// accepted for its caller's sake (which logs it) and never reaches the firmware.
bool GetGamingFanTableFunction(uint32_t input, uint64_t* output);
// CorlanGamingFunction "SetGamingMiscSetting": "gmInput" -> "gmOutput". Input bits 0..7 select
// the setting, bits 8..15 carry its new value.
bool SetGamingMiscSettingFunction(uint64_t input, uint32_t* output);
// CorlanGamingFunction "GetGamingMiscSetting": "gmInput" (bits 0..7 select the setting) ->
// "gmOutput".
bool GetGamingMiscSettingFunction(uint32_t input, uint64_t* output);

// CorlanGamingFunction "GetGamingLED" with "gmInput" 1, two outputs: result byte 0 is the low
// byte of "gmReturn" (the status, 0 on success), bytes 1..10 the first 10 bytes of the byte
// array "gmOutput" (zeros where the array is shorter). Byte 1 bits 0..1: turbo-key state.
inline constexpr size_t kGamingLedResultSize = 11;
bool GetGamingLEDBehaviorFunction(std::array<uint8_t, kGamingLedResultSize>* result);

