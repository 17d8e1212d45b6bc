#include "pipe/protocol.h"

#include <cstring>

#include "base/little_endian.h"
#include "base/text.h"

namespace ironbark {

uint32_t CommandRequest::ArgumentLength(size_t i) const {
  if (!HasArgument(i)) return 0;
  return le::LoadU32(bytes_ + offsets_[i] - 4);
}

std::span<const uint8_t> CommandRequest::Argument(size_t i) const {
  if (!HasArgument(i)) return {};
  return {bytes_ + offsets_[i], ArgumentLength(i)};
}

uint32_t CommandRequest::ArgumentU32(size_t i) const {
  const auto arg = Argument(i);
  return arg.size() > 4 ? 0 : static_cast<uint32_t>(le::Load(arg));
}

uint64_t CommandRequest::ArgumentU64(size_t i) const {
  const auto arg = Argument(i);
  return arg.size() > 8 ? 0 : le::Load(arg);
}

std::optional<std::string> CommandRequest::ArgumentText(size_t i) const {
  if (!HasArgument(i)) return std::nullopt;
  const auto arg = Argument(i);
  bool terminated = false;
  std::string value = text::FromWireText(arg.data(), arg.size() & ~size_t{1}, &terminated);
  if (!terminated) return std::nullopt;
  return value;
}

ParseStatus ParseRequest(const uint8_t* bytes, uint32_t size, std::optional<CommandRequest>* out) {
  if (size < kRequestHeaderSize) return ParseStatus::kTooShort;
  const uint16_t code = RequestCode(bytes);
  const uint8_t count = bytes[2];
  std::vector<uint32_t> offsets;
  offsets.reserve(count);
  uint32_t pos = kRequestHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - pos < 4) return ParseStatus::kMalformed;
    const uint32_t length = le::LoadU32(bytes + pos);
    pos += 4;
    // size - pos cannot wrap: pos <= size holds on every path here.
    if (length > size - pos) return ParseStatus::kMalformed;
    offsets.push_back(pos);
    pos += length;
  }
  out->emplace(bytes, size, code, std::move(offsets));
  return ParseStatus::kOk;
}

uint16_t RequestCode(const uint8_t* bytes) {
  return le::LoadU16(bytes);
}

std::vector<uint8_t> EncodeRequest(uint16_t code, std::span<const std::vector<uint8_t>> arguments) {
  size_t total = kRequestHeaderSize;
  for (const auto& a : arguments) total += 4 + a.size();
  std::vector<uint8_t> out;
  out.reserve(total);
  le::Append(out, code, 2);
  out.push_back(static_cast<uint8_t>(arguments.size() & 0xFF));
  for (const auto& a : arguments) {
    le::Append(out, a.size(), 4);
    out.insert(out.end(), a.begin(), a.end());
  }
  return out;
}

void BuildResponse(CommandResponse& response, std::initializer_list<ResponseItem> items) {
  size_t total = 1;
  for (const auto& item : items) total += 4 + item.size;
  response.bytes.clear();
  response.bytes.reserve(total);
  response.bytes.push_back(static_cast<uint8_t>(items.size() & 0xFF));
  for (const auto& item : items) {
    le::Append(response.bytes, item.size, 4);
    const auto* p = static_cast<const uint8_t*>(item.data);
    if (item.size > 0) response.bytes.insert(response.bytes.end(), p, p + item.size);
  }
  response.present = true;
}

bool ParseResponse(const uint8_t* bytes, size_t size, std::vector<std::vector<uint8_t>>* items) {
  items->clear();
  if (size < 1) return false;
  const uint8_t count = bytes[0];
  size_t pos = 1;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - pos < 4) return false;
    const uint32_t length = le::LoadU32(bytes + pos);
    pos += 4;
    if (length > size - pos) return false;
    items->emplace_back(bytes + pos, bytes + pos + length);
    pos += length;
  }
  return true;
}

}  // namespace ironbark
