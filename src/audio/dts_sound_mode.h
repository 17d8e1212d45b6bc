// The DTS sound mode: the audio path's DTS processing object, reached through the DTS library
// "DtsApoAppWin32DLL.dll". The library is loaded for one operation and freed again; reading
// runs on a worker thread that the handler waits for about 3 seconds, because the library can
// block.
#pragma once
#include <atomic>
#include <cstdint>

#include "pipe/protocol.h"
#include "platform/library_loader.h"

namespace DtsApoAppLib {

// The library's interface object as create_DtsApoInterface hands it out: these virtual
// operations, in this slot order, and nothing else.
class DtsApoInterface {
 public:
  virtual bool InitializeConnection() = 0;     // slot 0: true when connected
  virtual void CloseConnection() = 0;          // slot 1
  virtual void SetSoundMode(int32_t mode) = 0; // slot 2
  virtual int32_t GetSoundMode() = 0;          // slot 3
  virtual void Release() = 0;                  // slot 4: the object is finished with

 protected:
  ~DtsApoInterface() = default;
};

inline constexpr wchar_t kDtsLibraryName[] = L"DtsApoAppWin32DLL.dll";
inline constexpr char kDtsFactoryName[] = "create_DtsApoInterface";
inline constexpr uint32_t kDtsLoadFlags =
    platform::kLoadLibrarySearchApplicationDir | platform::kLoadLibrarySearchSystem32;
inline constexpr int32_t kSoundModeNotRead = -1;

// A read's result, shared by the handler and its worker: the worker stores the mode, then sets
// `done`.
struct SoundModeRead {
  int32_t mode = kSoundModeNotRead;
  std::atomic<bool> done{false};
};

// Each operation loads the library, creates, uses and releases one interface object, and
// frees the library; nothing is held between calls. Failures are logged and leave the mode
// unread or unchanged.
class DTSAudioInterface {
 public:
  virtual ~DTSAudioInterface() = default;
  // Stores the mode (or -1) in `result`, then sets its completion flag.
  void GetSoundMode(SoundModeRead& result);
  void SetSoundMode(int32_t mode);

 private:
  uintptr_t reserved_ = 0;
};

}  // namespace DtsApoAppLib

namespace ironbark {

struct DtsSoundModeCommands {
  // Command 22: answers the sound mode as 4 bytes, -1 when the library failed or did not answer
  // within about 3 seconds ("Timeout!"; the worker then runs on, detached, and its result is
  // discarded).
  static void get_dts_sound_mode(const ironbark::CommandRequest& request,
                                 ironbark::CommandResponse& response);
  // Command 23: argument 0 is the sound mode (32-bit; longer counts as 0). Sets it on the
  // connection thread and answers nothing.
  static void set_dts_sound_mode(const ironbark::CommandRequest& request,
                                 ironbark::CommandResponse& response);
};

}  // namespace ironbark
