// quellmark-cli ec-lock MS: holds the embedded controller's cross-process mutex for MS
// milliseconds, as another program talking to the EC would, then releases it. The broker's EC
// exchanges meanwhile wait at most a second each, log "Timeout" and go on.
#include <cstdio>
#include <thread>

#include "cli.h"
#include "hid/ec_hid.h"
#include "send_arguments.h"

namespace cli {

int RunEcLock(const Context& context, const std::vector<std::string>& args) {
  const std::optional<uint64_t> hold = args.size() == 1 ? ParseUnsigned(args[0], 3600000) : std::nullopt;
  if (!hold) {
    std::fputs("usage: quellmark-cli ec-lock MILLISECONDS\n", stderr);
    return 2;
  }
  using corlan::QRN300::EcHID;
  const std::string name = EcHID::GlobalMutexName(EcHID::kVendorId, EcHID::kProductId);
  std::unique_ptr<platform::NamedMutexes> mutexes = OpenMutexes(context);
  uint32_t error = 0;
  // Like every client, this one only joins a mutex the service created.
  const platform::MutexHandle mutex = mutexes->Open(name, &error);
  if (mutex == platform::kNoMutex) {
    std::fprintf(stderr, "quellmark-cli: cannot open %s (error %u)\n", name.c_str(), error);
    return 1;
  }
  if (mutexes->Wait(mutex, std::chrono::seconds(5), &error) != platform::MutexWait::kAcquired) {
    std::fprintf(stderr, "quellmark-cli: %s is held elsewhere (error %u)\n", name.c_str(), error);
    mutexes->Close(mutex);
    return 1;
  }
  std::printf("holding %s for %llu ms\n", name.c_str(), static_cast<unsigned long long>(*hold));
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::milliseconds(*hold));
  mutexes->Release(mutex);
  mutexes->Close(mutex);
  return 0;
}

}  // namespace cli
