#include "audio/dts_sound_mode.h"

#include <chrono>
#include <memory>
#include <string_view>
#include <thread>

#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"
#include "platform/services.h"

namespace DtsApoAppLib {
namespace {

constexpr std::string_view kGetFunction = "DtsApoAppLib::DTSAudioInterface::GetSoundMode";
constexpr std::string_view kSetFunction = "DtsApoAppLib::DTSAudioInterface::SetSoundMode";

// The library's C export hands the object out as a plain pointer: it is called through exactly
// that type (a call through any other function type is undefined) and converted afterwards.
using Factory = void* (*)();

// The interface object is built by the library's own code, with the library's own type
// information, so this program's dynamic-type check (the sanitizer's vptr check) can never
// recognise it; these calls reach it through the interface's slots alone, as the library's
// contract states, and are exempt from that check.
#if defined(__GNUC__)
#define FOREIGN_OBJECT_CALL __attribute__((no_sanitize("vptr")))
#else
#define FOREIGN_OBJECT_CALL
#endif
FOREIGN_OBJECT_CALL bool Connect(DtsApoInterface& apo) { return apo.InitializeConnection(); }
FOREIGN_OBJECT_CALL void Disconnect(DtsApoInterface& apo) { apo.CloseConnection(); }
FOREIGN_OBJECT_CALL void Release(DtsApoInterface& apo) { apo.Release(); }
FOREIGN_OBJECT_CALL int32_t ReadMode(DtsApoInterface& apo) { return apo.GetSoundMode(); }
FOREIGN_OBJECT_CALL void WriteMode(DtsApoInterface& apo, int32_t mode) { apo.SetSoundMode(mode); }

// Loads the library, connects and hands the connected interface to `use`; logs the step that
// fails under `function`. Unloads before returning.
template <typename Use>
void WithConnectedInterface(std::string_view function, Use use) {
  platform::LibraryLoader& loader = platform::Libraries();
  platform::LibraryLoader::Module library = loader.Load(kDtsLibraryName, kDtsLoadFlags);
  if (library == nullptr) {
    LogLine(kLogError, function, "LoadLibraryEx fail");
    return;
  }
  auto create = reinterpret_cast<Factory>(loader.Symbol(library, kDtsFactoryName));
  if (create == nullptr) {
    LogLine(kLogError, function, "GetProcAddress fail");
    loader.Free(library);
    return;
  }
  DtsApoInterface* apo = static_cast<DtsApoInterface*>(create());
  if (apo == nullptr) {
    LogLine(kLogError, function, "create_DtsApoInterface fail");
    loader.Free(library);
    return;
  }
  if (Connect(*apo)) {
    use(*apo);
    Disconnect(*apo);
  } else {
    LogLine(kLogError, function, "InitializeConnection fail");
  }
  Release(*apo);
  loader.Free(library);
}

}  // namespace

void DTSAudioInterface::GetSoundMode(SoundModeRead& result) {
  int32_t mode = kSoundModeNotRead;
  WithConnectedInterface(kGetFunction, [&](DtsApoInterface& apo) { mode = ReadMode(apo); });
  result.mode = mode;
  result.done.store(true, std::memory_order_release);
}

void DTSAudioInterface::SetSoundMode(int32_t mode) {
  WithConnectedInterface(kSetFunction, [&](DtsApoInterface& apo) { WriteMode(apo, mode); });
}

}  // namespace DtsApoAppLib

namespace ironbark {
namespace {

constexpr const char* kGetOperation = "get_dts_sound_mode";
constexpr const char* kSetOperation = "set_dts_sound_mode";
constexpr int kWaitSteps = 30;
constexpr std::chrono::milliseconds kWaitStep{100};


}  // namespace

void DtsSoundModeCommands::get_dts_sound_mode(const ironbark::CommandRequest&,
                                              ironbark::CommandResponse& response) {
  // Owned jointly with the worker: a detached worker may still write it after we answered.
  auto result = std::make_shared<DtsApoAppLib::SoundModeRead>();
  std::thread worker([result] { DtsApoAppLib::DTSAudioInterface().GetSoundMode(*result); });
  for (int step = 0; step < kWaitSteps; ++step) {
    if (result->done.load(std::memory_order_acquire)) break;
    platform::Time().SleepFor(kWaitStep);
  }
  int32_t mode = DtsApoAppLib::kSoundModeNotRead;
  if (result->done.load(std::memory_order_acquire)) {
    worker.join();
    mode = result->mode;
  } else {
    worker.detach();
    LogProcessor(kGetOperation, "Timeout!");
  }
  ironbark::BuildResponse(response, {{&mode, sizeof mode}});
  LogProcessor(kGetOperation, FormatMessageSized(kHandlerMessageChars, "Rsponse data: %d", mode));
}

void DtsSoundModeCommands::set_dts_sound_mode(const ironbark::CommandRequest& request,
                                              [[maybe_unused]] ironbark::CommandResponse& response) {
  // The response stays absent: the dispatcher writes nothing back.
  const int32_t mode = static_cast<int32_t>(request.ArgumentU32(0));
  LogProcessor(kSetOperation,
               FormatMessageSized(kHandlerMessageChars, "Input change sound mode: %d", mode));
  DtsApoAppLib::DTSAudioInterface().SetSoundMode(mode);
}

}  // namespace ironbark
