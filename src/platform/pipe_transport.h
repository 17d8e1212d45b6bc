// Named-pipe seam: the pipe calls of the broker with Windows semantics and error codes.
// Windows: CreateNamedPipeW / ConnectNamedPipe / ReadFile / WriteFile / CreateFileW /
// WaitNamedPipeW / SetNamedPipeHandleState. Linux: AF_UNIX stream sockets that carry each
// pipe message behind a length prefix.
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

// The longest message either end of a pipe accepts, the same on every build. A reader refuses a
// longer one (ERROR_INVALID_DATA) and the connection is then of no further use.
inline constexpr uint32_t kMaxPipeMessageBytes = 16u << 20;

// One end of a pipe connection (a server instance or a client connection). Destroying it
// closes the handle.
class PipeHandle {
 public:
  virtual ~PipeHandle() = default;

  // ConnectNamedPipe on a server instance: blocks until a client connects. 0 when connected,
  // 535 (ERROR_PIPE_CONNECTED) when the client connected before the call, another error code
  // when the instance can no longer accept.
  virtual uint32_t WaitForClient() = 0;

  // ReadFile in message read mode: reads up to `capacity` bytes of the next message (or of the
  // rest of the current one). 0 when this read finished the message, 234 (ERROR_MORE_DATA)
  // when bytes of the same message remain, 109 (ERROR_BROKEN_PIPE) when the other end closed;
  // *read receives the count copied in every case.
  virtual uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t* read) = 0;

  // WriteFile of one whole message. 0 on success with *written set; else the error code.
  virtual uint32_t Write(const uint8_t* data, uint32_t size, uint32_t* written) = 0;

  // SetNamedPipeHandleState with PIPE_READMODE_MESSAGE on a client connection.
  virtual uint32_t SetMessageReadMode() = 0;

  // Closes the handle now (destruction does the same); later calls fail with 6.
  virtual void Close() = 0;

  // GetNamedPipeClientProcessId on a server instance: the process id of the connected client.
  // 0 when it is unknown: a client connection, an instance without a client, a closed handle,
  // or an operating system that cannot tell.
  virtual uint32_t ClientProcessId() = 0;
};

struct PipeInstanceParams {
  std::string path;          // "\\.\pipe\NAME"
  uint32_t open_mode = 0;    // PIPE_ACCESS_INBOUND / OUTBOUND / DUPLEX
  uint32_t pipe_mode = 0;    // 0, or PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE
  uint32_t max_instances = 0;
  uint32_t out_buffer_size = 0;
  uint32_t in_buffer_size = 0;
  uint32_t default_timeout_ms = 0;
  std::string sddl;          // security descriptor of the instance
};

// Thrown by CreateInstance when the pipe already has its maximum number of instances (every
// one of them serving a client). Its text is that of any other creation failure.
class PipeInstanceLimitError : public std::runtime_error {
 public:
  PipeInstanceLimitError() : std::runtime_error("Named pipe creation failed.") {}
};

// Keeps a pipe's name in existence while it lives; see PipeTransport::HoldName.
class PipeNameHold {
 public:
  virtual ~PipeNameHold() = default;
};

class PipeTransport {
 public:
  virtual ~PipeTransport() = default;

  // Creates one server instance. Throws std::runtime_error with the broker's messages
  // ("Allocation failed.", "SD initialization failed.", "DACL creation failed.",
  // "Named pipe creation failed.") when it cannot; PipeInstanceLimitError when the maximum
  // number of instances exists.
  virtual std::unique_ptr<PipeHandle> CreateInstance(const PipeInstanceParams& params) = 0;

  // Keeps the name `path` ("\\.\pipe\NAME") reachable for as long as the returned hold lives,
  // even at moments when the pipe has no instance. A server takes it for as long as it serves,
  // so that a connection that ends at once cannot make the name vanish before the next
  // instance exists: clients arriving meanwhile wait for that instance instead of finding no
  // pipe (2). Once the holds have ended, the name ends with the last instance. Throws the
  // creation errors of CreateInstance.
  virtual std::unique_ptr<PipeNameHold> HoldName(std::string_view path) = 0;

  // CreateFileW(OPEN_EXISTING) on a pipe path. Null with *error set on failure: 2 when no
  // server exists, 231 (ERROR_PIPE_BUSY) when every instance is busy.
  virtual std::unique_ptr<PipeHandle> Open(std::string_view path, uint32_t desired_access,
                                           uint32_t* error) = 0;

  // WaitNamedPipeW: waits until an instance of the pipe is free. 0 when one is, 121
  // (ERROR_SEM_TIMEOUT) after `timeout_ms`, 2 when no such pipe exists. 0xFFFFFFFF waits
  // without limit.
  virtual uint32_t WaitForInstance(std::string_view path, uint32_t timeout_ms) = 0;

  // GetCurrentProcessId: this process's id as PipeHandle::ClientProcessId reports it, so that
  // a server can tell the connections this very process opened to its own pipe.
  virtual uint32_t CurrentProcessId() = 0;
};

}  // namespace platform
