#include "gpu/overclock.h"

#include "log/log_file.h"

namespace {
constexpr const char* kFunction = "gpu_set_oc_level";
}  // namespace

void gpu_set_oc_level(uint32_t /*level*/) {
  LogLine(kLogInfo, kFunction, "gpu_set_oc_level");
  // No overclock table has been loaded on this machine, so there are no offsets to apply.
  LogLine(kLogWarning, kFunction, "Not support GPU overclock");
}
