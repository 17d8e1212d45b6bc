// Request and response messages of the command pipe.
//
// Request (one pipe message, little-endian):
//   u16 command code | u8 argument count N | N x (u32 length L, L bytes)
// Response:
//   u8 item count M | M x (u32 length L, L bytes)
// Bytes after the last argument of a request are ignored.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ironbark {

inline constexpr uint32_t kRequestHeaderSize = 3;

// A validated request. The bytes are borrowed: the view lives no longer than the buffer the
// request was read into. Every accessor checks its index against the argument count, so a
// handler given fewer arguments than its command lists never reads outside the request.
class CommandRequest {
 public:
  CommandRequest(const uint8_t* bytes, uint32_t size, uint16_t code,
                 std::vector<uint32_t> offsets)
      : bytes_(bytes), size_(size), code_(code), offsets_(std::move(offsets)) {}

  uint16_t code() const { return code_; }
  const uint8_t* bytes() const { return bytes_; }
  uint32_t size() const { return size_; }
  // Offset of argument i's first data byte; its length is the u32 just before it.
  const std::vector<uint32_t>& offsets() const { return offsets_; }
  size_t argument_count() const { return offsets_.size(); }

  bool HasArgument(size_t i) const { return i < offsets_.size(); }
  // Length of argument i; 0 when absent.
  uint32_t ArgumentLength(size_t i) const;
  // The argument's bytes; empty when absent.
  std::span<const uint8_t> Argument(size_t i) const;
  // Unsigned little-endian integers of the handler's width: an absent argument, or one longer
  // than the width, counts as 0; a shorter one is zero-extended.
  uint32_t ArgumentU32(size_t i) const;
  uint64_t ArgumentU64(size_t i) const;
  // A UTF-16LE text argument (bytes rounded down to an even count) up to its terminating NUL;
  // nullopt when absent or when it carries no NUL.
  std::optional<std::string> ArgumentText(size_t i) const;

 private:
  const uint8_t* bytes_;
  uint32_t size_;
  uint16_t code_;
  std::vector<uint32_t> offsets_;
};

enum class ParseStatus {
  kOk,
  kTooShort,   // fewer than 3 bytes
  kMalformed,  // an argument's length field or data run past the end of the message
};

// Validates a request and builds its argument offsets. Bounds are compared without
// wrap-around, so no length value can make a later read leave the message.
ParseStatus ParseRequest(const uint8_t* bytes, uint32_t size, std::optional<CommandRequest>* out);

// Peeks at the command code of a message of at least 3 bytes.
uint16_t RequestCode(const uint8_t* bytes);

// Encodes one request. Only the low 8 bits of the argument count are sent, as on the wire.
std::vector<uint8_t> EncodeRequest(uint16_t code, std::span<const std::vector<uint8_t>> arguments);

// One item of a response: a length and the bytes it covers.
struct ResponseItem {
  const void* data;
  uint32_t size;
};

// The response a handler produces; `present` false means "no response" (nothing is written).
struct CommandResponse {
  bool present = false;
  std::vector<uint8_t> bytes;
};

// Builds the response: the low 8 bits of the item count, then each item's length and bytes.
void BuildResponse(CommandResponse& response, std::initializer_list<ResponseItem> items);

// Decodes a response into its items; false when the message is empty or an item runs past the
// end. Bytes after the last item are ignored.
bool ParseResponse(const uint8_t* bytes, size_t size, std::vector<std::vector<uint8_t>>* items);

}  // namespace ironbark
