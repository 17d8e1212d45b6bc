// A portable subset of the COM VARIANT, as the WMI layer passes values, with the in-place
// conversion VariantChangeType performs. Texts are UTF-8 inside the core.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wmi {

using HRESULT = int32_t;

inline constexpr HRESULT kS_OK = 0;
inline constexpr HRESULT kS_FALSE = 1;
inline constexpr HRESULT kWbemS_False = 1;                                    // WBEM_S_FALSE
inline constexpr HRESULT kWbemE_Failed = static_cast<HRESULT>(0x80041001);      // WBEM_E_FAILED
inline constexpr HRESULT kWbemE_NotFound = static_cast<HRESULT>(0x80041002);    // WBEM_E_NOT_FOUND
inline constexpr HRESULT kWbemE_InvalidNamespace = static_cast<HRESULT>(0x8004100E);
inline constexpr HRESULT kWbemE_InvalidClass = static_cast<HRESULT>(0x80041010);
inline constexpr HRESULT kWbemE_InvalidMethod = static_cast<HRESULT>(0x8004102E);
inline constexpr HRESULT kWbemE_InvalidQuery = static_cast<HRESULT>(0x80041017);
inline constexpr HRESULT kWbemE_InvalidParameter = static_cast<HRESULT>(0x80041008);
inline constexpr HRESULT kWbemE_InvalidMethodParameters = static_cast<HRESULT>(0x8004102F);
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER): a formatted text did not fit its buffer.
inline constexpr HRESULT kStrsafeE_InsufficientBuffer = static_cast<HRESULT>(0x8007007A);
inline constexpr HRESULT kRpcE_ChangedMode = static_cast<HRESULT>(0x80010106);  // RPC_E_CHANGED_MODE
inline constexpr HRESULT kDispE_TypeMismatch = static_cast<HRESULT>(0x80020005);
inline constexpr HRESULT kDispE_Overflow = static_cast<HRESULT>(0x8002000A);
inline constexpr HRESULT kE_Fail = static_cast<HRESULT>(0x80004005);

inline bool Succeeded(HRESULT hr) { return hr >= 0; }
inline bool Failed(HRESULT hr) { return hr < 0; }

// VARTYPE values (the COM numbering).
enum class VarType : uint16_t {
  kEmpty = 0,
  kNull = 1,
  kI4 = 3,
  kBstr = 8,
  kBool = 11,
  kUI1 = 17,
  kUI4 = 19,
  kI8 = 20,
  kUI8 = 21,
  kUI1Array = 0x2000 | 17,  // VT_ARRAY | VT_UI1
};

struct Variant {
  VarType type = VarType::kEmpty;
  uint64_t bits = 0;           // kI4, kUI1, kUI4, kI8, kUI8, kBool (0 / 1) as stored
  std::string text;            // kBstr (UTF-8)
  std::vector<uint8_t> bytes;  // kUI1Array

  static Variant Null() { return Variant{VarType::kNull, 0, {}, {}}; }
  static Variant UI4(uint32_t v) { return Variant{VarType::kUI4, v, {}, {}}; }
  static Variant UI8(uint64_t v) { return Variant{VarType::kUI8, v, {}, {}}; }
  static Variant I4(int32_t v) {
    return Variant{VarType::kI4, static_cast<uint64_t>(static_cast<int64_t>(v)), {}, {}};
  }
  static Variant Text(std::string v) { return Variant{VarType::kBstr, 0, std::move(v), {}}; }
  static Variant Bytes(std::vector<uint8_t> v) {
    return Variant{VarType::kUI1Array, 0, {}, std::move(v)};
  }

  bool operator==(const Variant&) const = default;
};

// VariantClear: back to empty.
void VariantClear(Variant& v);

// VariantChangeType in place, for the conversions the broker makes:
// - numbers (kI4, kUI1, kUI4, kI8, kUI8, kBool) to kBstr: their decimal digits, a minus sign
//   for negative values ("0", "18446744073709551615", "-5"); a true kBool counts as -1;
// - numbers and kBstr to any number type, range-checked (kDispE_Overflow when the value does
//   not fit, a negative value into an unsigned type included). A text converts only when it is
//   decimal digits with an optional leading minus, nothing else (no spaces, no sign "+", no
//   hexadecimal, not ""): kDispE_TypeMismatch otherwise;
// - except between the signed and unsigned integer of the same width (kI4 and kUI4, kI8 and
//   kUI8): there the bits are kept, as OLE does (kI4 -1 becomes kUI4 0xFFFFFFFF). WMI hands a
//   uint32 property over as VT_I4, so a firmware output of 0x80000000 or more arrives negative;
// - kEmpty to 0 for numbers and "" for text;
// - a type to itself (kUI1Array included): unchanged, S_OK.
// Everything else (kNull to anything, kUI1Array to anything else, anything to kUI1Array)
// answers kDispE_TypeMismatch. Any failure leaves `v` unchanged.
HRESULT VariantChangeType(Variant& v, VarType to);

}  // namespace wmi
