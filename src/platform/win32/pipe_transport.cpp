#include "platform/win32/pipe_transport.h"

#include <windows.h>
#include <sddl.h>

#include <cctype>
#include <stdexcept>
#include <utility>

#include "base/win_codes.h"
#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

// The broker asks for the minimum descriptor size of a 64-bit process.
constexpr SIZE_T kDescriptorBytes = 40;
static_assert(kDescriptorBytes == SECURITY_DESCRIPTOR_MIN_LENGTH);
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24);

// Pipe names compare case-insensitively.
std::string NameKey(std::string_view path) {
  std::string key(path);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

// One end of a pipe: a server instance (with the transport that created it) or a client
// connection (without). Both kinds answer every call; the ones that make no sense on that end
// fail the way Windows makes them fail.
class Win32PipeHandle : public PipeHandle {
 public:
  Win32PipeHandle(HANDLE handle, Win32PipeTransport* transport, std::string key)
      : handle_(handle), transport_(transport), key_(std::move(key)) {}
  ~Win32PipeHandle() override { Close(); }

  uint32_t WaitForClient() override {
    if (handle_ == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
    // ERROR_PIPE_CONNECTED: the client came between CreateNamedPipeW and this call.
    const DWORD error = ConnectNamedPipe(handle_, nullptr) ? ERROR_SUCCESS : GetLastError();
    connected_ = error == ERROR_SUCCESS || error == ERROR_PIPE_CONNECTED;
    return error;
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
    const HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
    if (transport_ == nullptr || !transport_->KeepClosingInstance(key_, handle, connected_)) {
      CloseHandle(handle);
    }
  }

  // Asked on a client handle, the call would answer the client's own id: only the server end
  // reports one.
  uint32_t ClientProcessId() override {
    if (transport_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return 0;
    ULONG pid = 0;
    return GetNamedPipeClientProcessId(handle_, &pid) ? static_cast<uint32_t>(pid) : 0;
  }

 private:
  HANDLE handle_;
  Win32PipeTransport* transport_;
  std::string key_;
  bool connected_ = false;
};

class Win32NameHold : public PipeNameHold {
 public:
  Win32NameHold(Win32PipeTransport* transport, std::string key)
      : transport_(transport), key_(std::move(key)) {}
  ~Win32NameHold() override { transport_->ReleaseHold(key_); }

 private:
  Win32PipeTransport* transport_;
  std::string key_;
};

Win32PipeTransport::~Win32PipeTransport() {
  for (auto& [key, name] : names_) {
    if (name.kept != nullptr) CloseHandle(name.kept);
  }
}

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
  std::string key = NameKey(params.path);
  // Two flags beyond the caller's modes, neither of which a local client can tell:
  // - while this transport has no instance of the name, the new one must be the name's first
  //   (FILE_FLAG_FIRST_PIPE_INSTANCE), so a process that created the name before the broker
  //   cannot have the broker's instances join its pipe and read its clients' requests; the
  //   creation then fails with ERROR_ACCESS_DENIED;
  // - PIPE_REJECT_REMOTE_CLIENTS: the pipe serves this machine only, whatever the descriptor
  //   would let a network logon do.
  const auto create = [&] {
    bool first = true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto it = names_.find(key);
      first = it == names_.end() || (it->second.instances == 0 && it->second.kept == nullptr);
    }
    const DWORD open_mode = params.open_mode | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return CreateNamedPipeW(path.c_str(), open_mode, params.pipe_mode | PIPE_REJECT_REMOTE_CLIENTS,
                            max_instances, params.out_buffer_size, params.in_buffer_size,
                            params.default_timeout_ms, &attributes);
  };
  HANDLE handle = create();
  DWORD error = GetLastError();
  // A handle kept for a hold takes up an instance; where it is the one too many, it gives way.
  if (handle == INVALID_HANDLE_VALUE && error == ERROR_PIPE_BUSY && CloseKeptInstance(key)) {
    handle = create();
    error = GetLastError();
  }
  LocalFree(attributes.lpSecurityDescriptor);
  LocalFree(descriptor);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error == ERROR_PIPE_BUSY) throw PipeInstanceLimitError();
    throw std::runtime_error("Named pipe creation failed.");
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++names_[key].instances;
  }
  // Another instance exists now: a handle kept for the name is not needed any more.
  CloseKeptInstance(key);
  return std::make_unique<Win32PipeHandle>(handle, this, std::move(key));
}

bool Win32PipeTransport::CloseKeptInstance(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(key);
  if (it == names_.end() || it->second.kept == nullptr) return false;
  CloseHandle(std::exchange(it->second.kept, nullptr));
  return true;
}

std::unique_ptr<PipeNameHold> Win32PipeTransport::HoldName(std::string_view path) {
  std::string key = NameKey(path);
  std::lock_guard<std::mutex> lock(mutex_);
  ++names_[key].holds;
  return std::make_unique<Win32NameHold>(this, std::move(key));
}

bool Win32PipeTransport::KeepClosingInstance(const std::string& key, void* handle,
                                             bool connected) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(key);
  if (it == names_.end()) return false;
  Name& name = it->second;
  --name.instances;
  if (connected && name.instances == 0 && name.holds > 0 && name.kept == nullptr) {
    name.kept = handle;
    return true;
  }
  if (name.instances == 0 && name.holds == 0 && name.kept == nullptr) names_.erase(it);
  return false;
}

void Win32PipeTransport::ReleaseHold(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(key);
  if (it == names_.end()) return;
  Name& name = it->second;
  if (--name.holds > 0) return;
  if (name.kept != nullptr) CloseHandle(std::exchange(name.kept, nullptr));
  if (name.instances == 0) names_.erase(it);
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
  return std::make_unique<Win32PipeHandle>(handle, nullptr, std::string());
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
