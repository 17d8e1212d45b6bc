#include "platform/win32/pipe_transport.h"

#include <windows.h>
#include <sddl.h>

#include <stdexcept>

#include "base/win_codes.h"
#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

// The broker asks for the minimum descriptor size of a 64-bit process.
constexpr SIZE_T kDescriptorBytes = 40;
static_assert(kDescriptorBytes == SECURITY_DESCRIPTOR_MIN_LENGTH);
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);

// One end of a pipe: a server instance or a client connection. Both kinds answer every call;
// the ones that make no sense on that end fail the way Windows makes them fail.
class Win32PipeHandle : public PipeHandle {
 public:
  Win32PipeHandle(HANDLE handle, bool server) : handle_(handle), server_(server) {}
  ~Win32PipeHandle() override { Close(); }

  uint32_t WaitForClient() override {
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    if (ConnectNamedPipe(handle_, nullptr)) return ERROR_SUCCESS;
    // ERROR_PIPE_CONNECTED: the client came between CreateNamedPipeW and this call.
    return GetLastError();
  }

  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t* read) override {
    *read = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    DWORD count = 0;
    const BOOL ok = ReadFile(handle_, buffer, capacity, &count, nullptr);
    // On ERROR_MORE_DATA the count is that of the part of the message that was copied.
    const uint32_t error = ok ? ERROR_SUCCESS : GetLastError();
    *read = count;
    return error;
  }

  uint32_t Write(const uint8_t* data, uint32_t size, uint32_t* written) override {
    *written = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    DWORD count = 0;
    if (!WriteFile(handle_, data, size, &count, nullptr)) return GetLastError();
    *written = count;
    return ERROR_SUCCESS;
  }

  uint32_t SetMessageReadMode() override {
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    DWORD mode = PIPE_READMODE_MESSAGE;
    return SetNamedPipeHandleState(handle_, &mode, nullptr, nullptr) ? ERROR_SUCCESS
                                                                      : GetLastError();
  }

  void Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

  // Asked on a client handle, the call would answer the client's own id: only the server end
  // reports one.
  uint32_t ClientProcessId() override {
    if (!server_ || handle_ == INVALID_HANDLE_VALUE) return 0;
    ULONG pid = 0;
    return GetNamedPipeClientProcessId(handle_, &pid) ? static_cast<uint32_t>(pid) : 0;
  }

 private:
  HANDLE handle_;
  bool server_;
};

}  // namespace

std::unique_ptr<PipeHandle> Win32PipeTransport::CreateInstance(const PipeInstanceParams& params) {
  const PSECURITY_DESCRIPTOR descriptor = LocalAlloc(LPTR, kDescriptorBytes);
  if (descriptor == nullptr) throw std::runtime_error("Allocation failed.");
  if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
    LocalFree(descriptor);
    throw std::runtime_error("SD initialization failed.");
  }
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = TRUE;
  // The conversion allocates a self-relative descriptor of its own and replaces the
  // initialised one in the attributes; both are released below.
  const std::wstring sddl = ToWide(params.sddl);
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
    LocalFree(descriptor);
    throw std::runtime_error("DACL creation failed.");
  }

  const std::wstring path = ToWide(params.path);
  const DWORD max_instances =
      params.max_instances == 0 ? PIPE_UNLIMITED_INSTANCES : params.max_instances;
  const HANDLE handle = CreateNamedPipeW(path.c_str(), params.open_mode, params.pipe_mode,
                                         max_instances, params.out_buffer_size,
                                         params.in_buffer_size, params.default_timeout_ms,
                                         &attributes);
  const DWORD error = GetLastError();
  LocalFree(attributes.lpSecurityDescriptor);
  LocalFree(descriptor);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error == ERROR_PIPE_BUSY) throw PipeInstanceLimitError();
    throw std::runtime_error("Named pipe creation failed.");
  }
  return std::make_unique<Win32PipeHandle>(handle, true);
}

std::unique_ptr<PipeHandle> Win32PipeTransport::Open(std::string_view path,
                                                     uint32_t desired_access, uint32_t* error) {
  const std::wstring wide = ToWide(path);
  const HANDLE handle =
      CreateFileW(wide.c_str(), desired_access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return nullptr;
  }
  *error = ERROR_SUCCESS;
  return std::make_unique<Win32PipeHandle>(handle, false);
}

uint32_t Win32PipeTransport::CurrentProcessId() {
  return static_cast<uint32_t>(GetCurrentProcessId());
}

uint32_t Win32PipeTransport::WaitForInstance(std::string_view path, uint32_t timeout_ms) {
  const std::wstring wide = ToWide(path);
  const DWORD timeout = timeout_ms == 0xFFFFFFFFu ? NMPWAIT_WAIT_FOREVER : timeout_ms;
  return WaitNamedPipeW(wide.c_str(), timeout) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace platform::win32
