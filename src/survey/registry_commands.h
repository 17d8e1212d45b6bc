// The registry commands of the command pipe (codes 1 to 6): the control application, which
// runs without administrative rights, asks the broker to create, change, read and delete
// registry keys and values on its behalf.
//
// Arguments (framing as on the command pipe):
//   1 reg_create_key    KEY
//   2 reg_delete_key    KEY                      (the key with all its subkeys and values)
//   3 reg_create_value  KEY, NAME, TYPE, DATA    (creates the key when needed)
//   4 reg_delete_value  KEY, NAME
//   5 reg_set_value     KEY, NAME, TYPE, DATA    (only when the value exists)
//   6 reg_get_value     KEY, NAME, FLAGS, SIZE, DEFAULT
// KEY is "ROOT\subkey" or "ROOT" alone, UTF-16LE with its NUL; ROOT is compared after ASCII
// upper-casing with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CURRENT_CONFIG,
// HKEY_CLASSES_ROOT and HKEY_USERS (no abbreviations; anything else answers 2 and touches
// nothing). NAME is UTF-16LE with its NUL. TYPE, FLAGS and SIZE are 32-bit little-endian; an
// argument longer than 4 bytes counts as 0. DATA and DEFAULT are raw value bytes.
//
// Answers: commands 1 to 5 one 4-byte item, the Windows error code (0 on success); command 6
// the code and a second item with the data read. Every handler logs one line,
// "Rsponse error code: 0x%d" filled with the code (decimal behind the literal "0x"), under its
// qualified name, and nothing else.
//
// Requests the handlers cannot read. A request with fewer arguments than its command lists,
// or whose KEY or NAME carries no terminating NUL (within its bytes rounded down to an even
// count), is answered ERROR_INVALID_PARAMETER (87) in the command's usual layout (command 6
// with an empty data item) and logged like any other answer; the registry is not touched and
// nothing is forwarded. Arguments beyond the listed ones are ignored; bytes after a text's
// NUL are ignored.
//
// reg_get_value. The answer is what RegGetValueW gives with a buffer of SIZE bytes, yet SIZE
// bytes are never reserved as such (a client may ask for gigabytes): the value's size is asked
// first (a failure there is the read's failure), and the read gets a buffer of that size, at
// most SIZE. A value that grows between the two calls but still fits SIZE is read again (a
// few times at most) rather than answered 234. When even the value's own size cannot be
// reserved the answer is ERROR_NOT_ENOUGH_MEMORY (8) and nothing is written. A read that fails
// with flags other than exactly RRF_RT_ANY writes DEFAULT as the value (type REG_SZ for
// RRF_RT_REG_SZ, REG_DWORD for RRF_RT_REG_DWORD, the flags themselves otherwise) and reads
// again. A read that fails only because SIZE is too small (ERROR_MORE_DATA, 234) means the
// value exists: it is never overwritten, and the answer is 234 with no data. Whenever the
// answer is not 0, the data item is empty: a failed read delivers no bytes worth sending. A
// successful answer carries the bytes the read reported, never more than SIZE.
//
// Forward. When the registry refuses the operation with ERROR_ACCESS_DENIED (5), the handler
// passes the same command to the command pipe (this broker's own pipe) and answers what that
// answers: texts are sent as at most kMaxForwardedTextUnits UTF-16 units and their NUL,
// numbers as 4 bytes, data whole; command 6 reads the whole answer and keeps at most SIZE
// bytes of its data. A request is never forwarded a second time: a connection whose client is
// this very process (or cannot be identified; pipe/connection_context.h) serves a forward,
// and its handlers answer the 5 themselves. So one client request makes at most one forward,
// and the forward at most one more registry attempt. A KEY or NAME longer than
// kMaxForwardedTextUnits units is not forwarded either (cut short, it would name another key
// or value): the answer stays 5. A forward that cannot reach the pipe answers the write's
// error (6 when no connection could be opened); a broken answer (shorter than one 4-byte code)
// answers ERROR_INVALID_DATA (13).
#pragma once
#include <cstdint>

#include "base/win_codes.h"
#include "pipe/protocol.h"

namespace ironbark {

inline constexpr uint32_t kMaxForwardedTextUnits = 255;
// Answer to a request with missing or unreadable arguments.
inline constexpr uint32_t kMalformedRequestAnswer = win::kErrorInvalidParameter;

}  // namespace ironbark

namespace ironbark {

struct RegistryCommands {
  static void reg_create_key(const ironbark::CommandRequest& request,
                             ironbark::CommandResponse& response);
  static void reg_delete_key(const ironbark::CommandRequest& request,
                             ironbark::CommandResponse& response);
  static void reg_create_value(const ironbark::CommandRequest& request,
                               ironbark::CommandResponse& response);
  static void reg_delete_value(const ironbark::CommandRequest& request,
                               ironbark::CommandResponse& response);
  static void reg_set_value(const ironbark::CommandRequest& request,
                            ironbark::CommandResponse& response);
  static void reg_get_value(const ironbark::CommandRequest& request,
                            ironbark::CommandResponse& response);
};

}  // namespace ironbark
