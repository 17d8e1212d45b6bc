#include "base/variant.h"

#include <limits>
#include <optional>

namespace wmi {
namespace {

// A number as the conversions see it: magnitude plus sign, so that every source value
// (kI8 down to INT64_MIN, kUI8 up to UINT64_MAX) is represented exactly.
struct Number {
  bool negative = false;
  uint64_t magnitude = 0;
};

bool IsNumeric(VarType t) {
  switch (t) {
    case VarType::kI4:
    case VarType::kUI1:
    case VarType::kUI4:
    case VarType::kI8:
    case VarType::kUI8:
    case VarType::kBool:
      return true;
    default:
      return false;
  }
}

Number FromSigned(int64_t v) {
  if (v >= 0) return {false, static_cast<uint64_t>(v)};
  // Negating in unsigned arithmetic keeps INT64_MIN exact.
  return {true, 0 - static_cast<uint64_t>(v)};
}

// The stored value of a numeric variant. `bits` may hold garbage above the type's width
// (a caller filling the struct by hand); only the type's own bits count.
Number NumberOf(const Variant& v) {
  switch (v.type) {
    case VarType::kI4:
      return FromSigned(static_cast<int32_t>(static_cast<uint32_t>(v.bits)));
    case VarType::kI8:
      return FromSigned(static_cast<int64_t>(v.bits));
    case VarType::kUI1:
      return {false, v.bits & 0xFFu};
    case VarType::kUI4:
      return {false, v.bits & 0xFFFFFFFFu};
    case VarType::kUI8:
      return {false, v.bits};
    case VarType::kBool:
      // A true VARIANT_BOOL is -1 wherever it becomes a number.
      return v.bits != 0 ? Number{true, 1} : Number{false, 0};
    default:
      return {};
  }
}

// Decimal digits with an optional leading minus; nothing else (no spaces, no plus, no
// hexadecimal). nullopt when the text is not such a number, `overflow` when its magnitude
// does not fit 64 bits.
std::optional<Number> ParseDecimal(const std::string& s, bool* overflow) {
  *overflow = false;
  size_t i = 0;
  Number n;
  if (i < s.size() && s[i] == '-') {
    n.negative = true;
    ++i;
  }
  if (i == s.size()) return std::nullopt;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n.magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
      *overflow = true;  // keep scanning: a later non-digit still makes it a mismatch
    } else {
      n.magnitude = n.magnitude * 10 + digit;
    }
  }
  if (n.magnitude == 0) n.negative = false;  // "-0"
  return n;
}

std::string ToDecimal(Number n) {
  std::string digits = n.magnitude == 0 ? "0" : "";
  for (uint64_t m = n.magnitude; m != 0; m /= 10) {
    digits.insert(digits.begin(), static_cast<char>('0' + m % 10));
  }
  return n.negative ? "-" + digits : digits;
}

// Stores `n` as numeric type `to`, or answers kDispE_Overflow when it does not fit.
HRESULT StoreNumber(Number n, VarType to, Variant* out) {
  uint64_t unsigned_max = 0;
  uint64_t negative_max = 0;  // largest magnitude allowed for a negative value
  switch (to) {
    case VarType::kUI1: unsigned_max = 0xFFu; break;
    case VarType::kUI4: unsigned_max = 0xFFFFFFFFu; break;
    case VarType::kUI8: unsigned_max = std::numeric_limits<uint64_t>::max(); break;
    case VarType::kI4: unsigned_max = 0x7FFFFFFFu; negative_max = 0x80000000u; break;
    case VarType::kI8:
      unsigned_max = 0x7FFFFFFFFFFFFFFFu;
      negative_max = 0x8000000000000000u;
      break;
    case VarType::kBool:
      *out = Variant{VarType::kBool, n.magnitude != 0 ? 1u : 0u, {}, {}};
      return kS_OK;
    default:
      return kDispE_TypeMismatch;
  }
  if (n.negative ? n.magnitude > negative_max : n.magnitude > unsigned_max) return kDispE_Overflow;
  // A negative value is stored sign-extended to 64 bits, as Variant::I4 stores it.
  *out = Variant{to, n.negative ? 0 - n.magnitude : n.magnitude, {}, {}};
  return kS_OK;
}

bool SameWidthOtherSign(VarType from, VarType to) {
  return (from == VarType::kI4 && to == VarType::kUI4) ||
         (from == VarType::kUI4 && to == VarType::kI4) ||
         (from == VarType::kI8 && to == VarType::kUI8) ||
         (from == VarType::kUI8 && to == VarType::kI8);
}

}  // namespace

void VariantClear(Variant& v) { v = Variant{}; }

HRESULT VariantChangeType(Variant& v, VarType to) {
  if (v.type == to) return kS_OK;
  // The result is built aside and only moved in on success: a failure leaves `v` as it was.
  Variant result;
  HRESULT hr = kDispE_TypeMismatch;
  if (v.type == VarType::kEmpty) {
    if (to == VarType::kBstr) {
      result = Variant::Text("");
      hr = kS_OK;
    } else if (IsNumeric(to)) {
      hr = StoreNumber(Number{}, to, &result);
    }
  } else if (SameWidthOtherSign(v.type, to)) {
    const uint64_t mask = to == VarType::kUI4 ? 0xFFFFFFFFu : ~uint64_t{0};
    const uint64_t bits = v.bits & mask;
    // kI4 keeps its value sign-extended to 64 bits, as Variant::I4 stores it.
    result = Variant{to, to == VarType::kI4 ? static_cast<uint64_t>(static_cast<int64_t>(
                                                  static_cast<int32_t>(bits)))
                                            : bits,
                     {}, {}};
    hr = kS_OK;
  } else if (IsNumeric(v.type)) {
    if (to == VarType::kBstr) {
      result = Variant::Text(ToDecimal(NumberOf(v)));
      hr = kS_OK;
    } else if (IsNumeric(to)) {
      hr = StoreNumber(NumberOf(v), to, &result);
    }
  } else if (v.type == VarType::kBstr) {
    if (IsNumeric(to)) {
      bool overflow = false;
      const std::optional<Number> n = ParseDecimal(v.text, &overflow);
      if (!n) {
        hr = kDispE_TypeMismatch;
      } else if (overflow) {
        hr = kDispE_Overflow;
      } else {
        hr = StoreNumber(*n, to, &result);
      }
    }
  }
  // kNull, kUI1Array and unknown types convert to nothing but themselves.
  if (Failed(hr)) return hr;
  v = std::move(result);
  return kS_OK;
}

}  // namespace wmi
