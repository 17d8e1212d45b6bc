// Byte literals for wire fixtures: Bytes({0x15, 0, 1}).
#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testsupport {

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

}  // namespace testsupport
