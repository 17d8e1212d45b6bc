// Named pipes of the Windows build: the seam's calls on real pipe handles, synchronous I/O.
#pragma once
#include "platform/pipe_transport.h"

namespace platform::win32 {

class Win32PipeTransport : public platform::PipeTransport {
 public:
  // The instance is created with a security descriptor built from params.sddl (revision 1),
  // passed in security attributes with handle inheritance on. max_instances 0 stands for
  // PIPE_UNLIMITED_INSTANCES, as in the Linux build. ERROR_PIPE_BUSY from CreateNamedPipeW
  // (every allowed instance exists) throws PipeInstanceLimitError.
  std::unique_ptr<PipeHandle> CreateInstance(const PipeInstanceParams& params) override;

  // A pipe name lives exactly as long as an instance handle: nothing to hold.
  std::unique_ptr<PipeNameHold> HoldName(std::string_view /*path*/) override {
    return std::make_unique<PipeNameHold>();
  }

  // CreateFileW(path, desired_access, no sharing, OPEN_EXISTING, no flags).
  std::unique_ptr<PipeHandle> Open(std::string_view path, uint32_t desired_access,
                                   uint32_t* error) override;

  // WaitNamedPipeW. 0xFFFFFFFF is NMPWAIT_WAIT_FOREVER; 0 is NMPWAIT_USE_DEFAULT_WAIT, the
  // time-out the server gave its instances.
  uint32_t WaitForInstance(std::string_view path, uint32_t timeout_ms) override;
  // GetCurrentProcessId; server instances answer GetNamedPipeClientProcessId.
  uint32_t CurrentProcessId() override;
};

}  // namespace platform::win32
