// Any bytes as one command-pipe message: the request parser, then the handler of its code run
// against the simulated notebook.
#include "fuzz_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzhost::Install();
  fuzzhost::Dispatch(std::vector<uint8_t>(data, data + size));
  return 0;
}
