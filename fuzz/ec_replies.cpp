// Any 64-byte block as the embedded controller's reply to each request the broker sends.
#include <cstring>
#include <string>

#include "hid/ec_protocol.h"

using namespace corlan::QRN300;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 + sizeof(EcBlock)) return 0;
  EcBlock reply;
  std::memcpy(reply.data(), data + 2, reply.size());
  const uint8_t type = data[0];
  const uint32_t version = data[1] == 0xFF ? kEcVersionUnknown : data[1] << 8;
  uint32_t value = 0, v0 = 0, v1 = 0, v2 = 0;
  EcCheckDataVersion(reply, &value);
  EcCheckSystemStatus(reply, type, version, &value);
  OCProfile profile;
  EcCheckOCProfile(reply, &profile);
  std::string error;
  const uint16_t code = EcCheckDeviceStatusGet(reply, type, &v0, &v1, &v2, &error);
  if ((code == kEcSuccess) != error.empty()) __builtin_trap();
  EcCheckDeviceStatusSet(reply, type);
  return 0;
}
