// The INI reader over any file text, with the section, key, default and buffer size drawn
// from the input; the answer never exceeds the buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include "base/text.h"
#include "platform/private_profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string section = in.ConsumeRandomLengthString(64);
  const std::string key = in.ConsumeRandomLengthString(64);
  const std::string fallback = in.ConsumeRandomLengthString(64);
  const size_t buffer = in.ConsumeIntegralInRange<size_t>(0, 300);
  const std::string ini = in.ConsumeRemainingBytesAsString();
  const std::string answer = platform::ReadPrivateProfileText(ini, section, key, fallback, buffer);
  if (text::ToWireText(answer).size() / 2 > std::max<size_t>(buffer, 1)) __builtin_trap();
  return 0;
}
