// The registry commands (codes 1-6) on the scratch registry database, with their arguments
// drawn from the input: a key under one of the roots (or any text), UTF-16 texts that may lack
// their NUL or carry unpaired surrogates, any type, flags, size and data.
#include <fuzzer/FuzzedDataProvider.h>

#include "base/registry_roots.h"
#include "base/text.h"
#include "fuzz_host.h"

namespace {

std::vector<uint8_t> Text(FuzzedDataProvider& in, std::string_view prefix) {
  std::vector<uint8_t> wire = text::ToWireText(prefix);
  wire.resize(wire.size() - 2);  // without its NUL
  const std::string units = in.ConsumeRandomLengthString(512);
  wire.insert(wire.end(), units.begin(), units.end());
  if (in.ConsumeBool()) wire.insert(wire.end(), {0, 0});
  return wire;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzhost::Install();
  FuzzedDataProvider in(data, size);
  const uint16_t code = in.ConsumeIntegralInRange<uint16_t>(1, 6);
  const size_t root = in.ConsumeIntegralInRange<size_t>(0, std::size(win::kRegRootNames));
  const std::string prefix =
      root < std::size(win::kRegRootNames) ? std::string(win::kRegRootNames[root].name) + "\\" : "";
  std::vector<std::vector<uint8_t>> arguments{Text(in, prefix), Text(in, "")};
  const size_t extra = in.ConsumeIntegralInRange<size_t>(0, 4);
  for (size_t i = 0; i < extra; ++i) {
    const size_t length = in.ConsumeBool() ? 4 : in.ConsumeIntegralInRange<size_t>(0, 4096);
    arguments.push_back(in.ConsumeBytes<uint8_t>(length));
  }
  if (in.ConsumeBool()) arguments.resize(in.ConsumeIntegralInRange<size_t>(0, arguments.size()));
  fuzzhost::Dispatch(ironbark::EncodeRequest(code, arguments));
  return 0;
}
