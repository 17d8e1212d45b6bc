#include "pipe/named_pipe.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/win_codes.h"
#include "pipe/protocol.h"
#include "platform/services.h"

const char* const kCommandPipeName = "vexorhelm_hardware_service_";
const char* const kCommandPipeSddl =
    "D:(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GRGWGX;;;AU)(A;OICI;GA;;;BA)";

namespace {
constexpr uint32_t kReadChunk = 512;
constexpr uint32_t kDefaultPipeTimeoutMs = 1000;
}  // namespace

std::string PipePath(const char* pipe_name) { return std::string("\\\\.\\pipe\\") + pipe_name; }

NamedPipeServer::NamedPipeServer(const char* pipe_name, uint32_t direction,
                                 uint32_t transmission_mode, uint32_t in_buffer_size,
                                 uint32_t out_buffer_size) {
  if (pipe_name == nullptr) throw std::invalid_argument("pipe_name");
  switch (direction) {
    case 0: openMode = win::kPipeAccessInbound; break;
    case 1: openMode = win::kPipeAccessOutbound; break;
    case 2: openMode = win::kPipeAccessDuplex; break;
    default: throw std::invalid_argument("direction");
  }
  switch (transmission_mode) {
    case 0: pipeMode = win::kPipeTypeByte; break;
    case 1: pipeMode = win::kPipeTypeMessage | win::kPipeReadmodeMessage; break;
    default: throw std::invalid_argument("transmission_mode");
  }
  path = PipePath(pipe_name);
  platform::PipeInstanceParams params;
  params.path = path;
  params.open_mode = openMode;
  params.pipe_mode = pipeMode;
  params.max_instances = win::kPipeUnlimitedInstances;
  params.out_buffer_size = out_buffer_size;
  params.in_buffer_size = in_buffer_size;
  params.default_timeout_ms = kDefaultPipeTimeoutMs;
  params.sddl = kCommandPipeSddl;
  handle = platform::Pipes().CreateInstance(params);
  if (!handle) throw std::runtime_error("Named pipe creation failed.");
}

NamedPipeClient::NamedPipeClient(const char* pipe_name) {
  if (pipe_name == nullptr) throw std::invalid_argument("pipe_name");
  path = std::string("\\\\") + "." + "\\pipe\\" + pipe_name;
  desiredAccess = win::kGenericRead | win::kGenericWrite;
}

uint32_t NamedPipeClient::ConnectPipe(uint32_t busy_wait_ms) {
  for (;;) {
    uint32_t error = 0;
    handle = platform::Pipes().Open(path, desiredAccess, &error);
    if (handle) break;
    if (error != win::kErrorPipeBusy) return error;
    const uint32_t wait_error = platform::Pipes().WaitForInstance(path, busy_wait_ms);
    if (wait_error != 0) return wait_error;
  }
  return handle->SetMessageReadMode();
}

uint32_t NamedPipeClient::WritePipeMessage(uint16_t code,
                                           std::span<const std::vector<uint8_t>> arguments) {
  if (!handle) return win::kErrorInvalidHandle;
  const std::vector<uint8_t> message = ironbark::EncodeRequest(code, arguments);
  uint32_t written = 0;
  const uint32_t error =
      handle->Write(message.data(), static_cast<uint32_t>(message.size()), &written);
  if (error != 0) return error;
  return written == message.size() ? 0 : win::kErrorWriteFault;
}

uint32_t NamedPipeClient::ReadPipeMessage(std::vector<uint8_t>* message) {
  if (!handle) return win::kErrorInvalidHandle;
  std::vector<uint8_t> buffer;
  uint32_t size = 0;
  const uint32_t error = ReceivePipeMessage(*handle, buffer, &size);
  if (error != 0) return error;
  message->assign(buffer.begin(), buffer.begin() + size);
  return 0;
}

uint32_t ReceivePipeMessage(platform::PipeHandle& pipe, std::vector<uint8_t>& buffer,
                            uint32_t* size) {
  constexpr uint32_t kCap = platform::kMaxPipeMessageBytes;
  // The buffer grows towards twice the bytes received so far, but never past the cap.
  const auto grow = [&buffer](size_t wanted) {
    wanted = std::min<size_t>(wanted, platform::kMaxPipeMessageBytes);
    if (buffer.size() < wanted) buffer.resize(wanted, 0);
  };
  grow(kReadChunk);
  uint8_t chunk[kReadChunk];
  uint32_t received = 0;
  for (;;) {
    uint32_t got = 0;
    const uint32_t error = pipe.Read(chunk, kReadChunk, &got);
    if (error != 0 && error != win::kErrorMoreData) return error;
    // A message longer than the cap is refused as soon as that shows.
    const bool more = error == win::kErrorMoreData;
    if (got > kCap - received || (more && received + got == kCap)) return win::kErrorInvalidData;
    if (received + got > buffer.size()) {
      grow(std::max<size_t>(static_cast<size_t>(received) * 2, received + got));
    }
    std::memcpy(buffer.data() + received, chunk, got);
    received += got;
    if (!more) break;
    // The message continues: make room for at least the next chunk.
    grow(static_cast<size_t>(received) * 2);
  }
  if (received == 0) return win::kErrorBrokenPipe;
  *size = received;
  return 0;
}
