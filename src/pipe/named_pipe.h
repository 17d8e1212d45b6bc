// Pipe objects of the command service: the server-side instance and the client connection.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/pipe_transport.h"

// The command pipe's name; the full path is "\\.\pipe\" followed by it.
extern const char* const kCommandPipeName;
// Security descriptor of every command-pipe instance: guests and anonymous logons are denied,
// authenticated users may read, write and execute, administrators have full access.
extern const char* const kCommandPipeSddl;

// "\\.\pipe\" + name.
std::string PipePath(const char* pipe_name);

// One server-side instance, created on construction.
class NamedPipeServer {
 public:
  // direction 0/1/2 -> inbound/outbound/duplex; transmission_mode 0 byte stream, 1 message.
  // Throws std::invalid_argument("pipe_name" / "direction" / "transmission_mode") before
  // creating anything, and the transport's std::runtime_error when creation fails.
  NamedPipeServer(const char* pipe_name, uint32_t direction, uint32_t transmission_mode,
                  uint32_t in_buffer_size, uint32_t out_buffer_size);
  NamedPipeServer(const NamedPipeServer&) = delete;
  NamedPipeServer& operator=(const NamedPipeServer&) = delete;

  // Closes the instance's handle (destruction does the same).
  void Close() { handle.reset(); }

  std::string path;
  uint32_t openMode = 0;
  uint32_t pipeMode = 0;
  std::unique_ptr<platform::PipeHandle> handle;
};

// One client connection; constructed unconnected.
class NamedPipeClient {
 public:
  // Throws std::invalid_argument("pipe_name") for a null name.
  explicit NamedPipeClient(const char* pipe_name);
  NamedPipeClient(const NamedPipeClient&) = delete;
  NamedPipeClient& operator=(const NamedPipeClient&) = delete;

  // Opens the pipe for reading and writing; while every instance is busy, waits for one
  // (at most busy_wait_ms per wait, 0xFFFFFFFF = without limit) and tries again; then switches
  // to message read mode. 0 on success, else the Windows error code of the failing step.
  uint32_t ConnectPipe(uint32_t busy_wait_ms = 0xFFFFFFFFu);

  // Writes one request message. 0 when every byte was written, else the error code.
  uint32_t WritePipeMessage(uint16_t code, std::span<const std::vector<uint8_t>> arguments);

  // Reads one whole message into `message`. 0 on success; else the error code (109 when the
  // server closed the connection).
  uint32_t ReadPipeMessage(std::vector<uint8_t>* message);

  void Close() { handle.reset(); }

  std::string path;
  uint32_t desiredAccess = 0;
  std::unique_ptr<platform::PipeHandle> handle;
};

// Receives one message from `pipe` the way every reader of the command pipe does: reads of up
// to 512 bytes; while a read reports 234 (ERROR_MORE_DATA) the buffer grows (zero-filled) to
// twice the bytes received so far and the next chunk is appended. `buffer` keeps its grown
// size for the next call. 0 with *size set when a whole message of at least one byte arrived;
// otherwise the read's error (a read of zero bytes answers 109). A message longer than
// platform::kMaxPipeMessageBytes answers 13 (ERROR_INVALID_DATA) once that shows, and the buffer
// never grows past that size; the connection is then of no further use.
uint32_t ReceivePipeMessage(platform::PipeHandle& pipe, std::vector<uint8_t>& buffer,
                            uint32_t* size);
