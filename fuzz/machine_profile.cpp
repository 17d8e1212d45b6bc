// Any text as a machine profile: it parses or throws ProfileError, nothing else.
#include <string_view>

#include "sim/machine_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    sim::ParseMachineProfile(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.profile");
  } catch (const sim::ProfileError&) {
  }
  return 0;
}
