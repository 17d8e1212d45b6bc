// `quellmark-cli send`: the command line of one request and the printed form of its answer.
// Pure functions (no I/O but reading a file: argument), shared by every platform's build of the client.
//
//   send [--raw] [--timeout MS] [--repeat N] [--hold MS] [--] CODE [ARG...]
//
// CODE is decimal or 0x-prefixed hexadecimal, 0..65535. Each ARG is typed:
//   u32:N     4 bytes, little-endian (N decimal or 0x hex; out of range is an error)
//   u64:N     8 bytes, little-endian
//   str:TEXT  UTF-16LE with the terminating NUL (TEXT is UTF-8 on the command line)
//   hex:BYTES raw bytes: hex digit pairs, optionally separated by '-', ':' or '.' between
//             bytes ("hex:01ab", "hex:01-ab"); "hex:" alone is a zero-length argument
//   file:PATH the bytes of a file, for arguments too large for a command line
// Options are recognised only before CODE, so an argument may look like an option.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

inline constexpr uint32_t kDefaultSendTimeoutMs = 10000;

struct SendCommandLine {
  uint16_t code = 0;
  std::vector<std::vector<uint8_t>> arguments;
  bool raw = false;                           // --raw: the whole response as hex only
  uint32_t timeout_ms = kDefaultSendTimeoutMs;  // --timeout: bound on connect + write + read
  uint32_t repeat = 1;   // --repeat: the request is sent this many times on one connection
  uint32_t hold_ms = 0;  // --hold: the connection stays open this long after the last answer
  bool expect_answer = true;  // false for a command the broker answers nothing to
};

// Unsigned integer in decimal or with a 0x/0X prefix in hexadecimal, nothing else (no sign, no
// spaces, no empty digits). nullopt when malformed or above `max`.
std::optional<uint64_t> ParseUnsigned(std::string_view text, uint64_t max);

// One typed argument to its wire bytes. On failure returns false and sets *error to a message
// naming the argument.
bool ParseTypedArgument(std::string_view typed, std::vector<uint8_t>* out, std::string* error);

// The words after "send". On failure returns false with *error set (a usage error).
bool ParseSendCommandLine(const std::vector<std::string>& args, SendCommandLine* out,
                          std::string* error);

// Bytes as lowercase hex pairs separated by single spaces ("01 ab"); empty for no bytes.
std::string HexBytes(std::span<const uint8_t> bytes);

// The text an item carries when it is UTF-16LE text ending with its NUL: an even length of at
// least 2, exactly one zero code unit (the last), surrogates paired, and no control characters
// other than tab, line feed and carriage return. nullopt otherwise.
std::optional<std::string> ItemText(std::span<const uint8_t> item);

// The printed form of one item, every line ending with '\n':
//   item N: L bytes
//     hex bytes, 16 per line (no line for an empty item)
//     u32: <dec> (0x<8 hex digits>)      for 4-byte items
//     u64: <dec> (0x<16 hex digits>)     for 8-byte items
//     text: <utf8>                       when ItemText finds text (for 4- and 8-byte
//                                        items: printable ASCII only); further lines of a
//                                        multi-line text are indented under the first, a
//                                        final line feed adds no empty line
std::string FormatItem(size_t index, std::span<const uint8_t> item);

// The printed form of a whole response: "items: M" then each item (raw false), or the
// response's bytes as one line of hex (raw true). nullopt when raw is false and the bytes are
// not a well-formed response.
std::optional<std::string> FormatResponse(std::span<const uint8_t> response, bool raw);

// Where an exchange with the broker stopped.
enum class ExchangeStage { kConnect, kWrite, kRead };

// The message (without "quellmark-cli: " and without a line feed) for an exchange that failed
// at `stage` with the Windows error code `error`; `pipe` is the pipe as DescribePipe shows it.
//   connect, 2:   "no broker is serving PIPE (error 2)"
//   read, 109:    "the broker closed the connection without an answer (unknown command or
//                 malformed request?)"
//   otherwise:    "cannot connect to PIPE (error N)", "writing the request to PIPE failed
//                 (error N)", "reading the answer from PIPE failed (error N)"
std::string ExchangeFailureMessage(ExchangeStage stage, uint32_t error, std::string_view pipe);

}  // namespace cli
