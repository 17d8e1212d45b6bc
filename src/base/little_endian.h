// Little-endian integers, least significant byte first: how the pipes carry numbers and how
// the registry stores REG_DWORD and REG_QWORD data, whatever the host's own byte order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace le {

// Appends the low `width` bytes of `value` (`width` at most 8).
inline void Append(std::vector<uint8_t>& out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The low `width` bytes of `value` (`width` at most 8).
inline std::vector<uint8_t> Bytes(uint64_t value, size_t width) {
  std::vector<uint8_t> out;
  out.reserve(width);
  Append(out, value, width);
  return out;
}

// The value of up to 8 bytes; an empty span is 0.
inline uint64_t Load(std::span<const uint8_t> bytes) {
  uint64_t value = 0;
  for (size_t i = bytes.size(); i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(Load({p, 2})); }
inline uint32_t LoadU32(const uint8_t* p) { return static_cast<uint32_t>(Load({p, 4})); }

inline void StoreU16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace le
