// Named pipes of the Windows build: the seam's calls on real pipe handles, synchronous I/O.
#pragma once
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/pipe_transport.h"

namespace platform::win32 {

class Win32PipeTransport : public platform::PipeTransport {
 public:
  Win32PipeTransport() = default;
  // Closes an instance handle still kept for a hold.
  ~Win32PipeTransport() override;

  // The instance is created with a security descriptor built from params.sddl (revision 1),
  // passed in security attributes with handle inheritance on. max_instances 0 stands for
  // PIPE_UNLIMITED_INSTANCES, as in the Linux build. ERROR_PIPE_BUSY from CreateNamedPipeW
  // (every allowed instance exists) throws PipeInstanceLimitError. Every instance rejects
  // remote clients, and one created while this transport has no instance of the name must be
  // the name's first: where another process already serves the name, creation fails
  // ("Named pipe creation failed.").
  std::unique_ptr<PipeHandle> CreateInstance(const PipeInstanceParams& params) override;

  // A pipe name lives exactly as long as an instance handle is open. While the name is held,
  // the handle of the pipe's last instance therefore stays open when that instance is closed
  // after a client connected to it, until another instance exists or the hold ends: clients
  // arriving meanwhile find every instance busy (231) and wait for the next one, instead of
  // finding no pipe (2). The closed instance's client sees its connection end only then. The
  // kept handle takes up one of the pipe's instances; where the next instance would be one
  // too many, it gives way.
  std::unique_ptr<PipeNameHold> HoldName(std::string_view path) override;

  // CreateFileW(path, desired_access, no sharing, OPEN_EXISTING, no flags).
  std::unique_ptr<PipeHandle> Open(std::string_view path, uint32_t desired_access,
                                   uint32_t* error) override;

  // WaitNamedPipeW. 0xFFFFFFFF is NMPWAIT_WAIT_FOREVER; 0 is NMPWAIT_USE_DEFAULT_WAIT, the
  // time-out the server gave its instances.
  uint32_t WaitForInstance(std::string_view path, uint32_t timeout_ms) override;
  // GetCurrentProcessId; server instances answer GetNamedPipeClientProcessId.
  uint32_t CurrentProcessId() override;

 private:
  friend class Win32PipeHandle;
  friend class Win32NameHold;

  // The instances of one pipe this transport created, keyed by the path in lower case.
  struct Name {
    uint32_t instances = 0;     // open and not kept for a hold
    uint32_t holds = 0;
    void* kept = nullptr;       // the last instance's handle, kept open for the holds
  };
  // An instance's handle is being closed: false when the caller closes it, true when the
  // transport keeps it for the pipe's holds (only an instance a client connected to, which no
  // other client can connect to any more).
  bool KeepClosingInstance(const std::string& key, void* handle, bool connected);
  void ReleaseHold(const std::string& key);
  // Closes the handle kept for the pipe's holds; false when there is none.
  bool CloseKeptInstance(const std::string& key);

  std::mutex mutex_;
  std::unordered_map<std::string, Name> names_;
};

}  // namespace platform::win32
