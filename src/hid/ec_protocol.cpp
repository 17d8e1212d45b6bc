#include "hid/ec_protocol.h"

#include "base/little_endian.h"
#include "log/message_format.h"

namespace corlan::QRN300 {
namespace {

constexpr size_t kMessageChars = 256;

uint16_t U16(const EcBlock& block, size_t at) { return le::LoadU16(block.data() + at); }

EcBlock Request(uint16_t command) {
  EcBlock block{};
  le::StoreU16(block.data(), kEcRequestHeader);
  le::StoreU16(block.data() + 2, command);
  return block;
}

EcCheck Fail(std::string error = {}) { return {false, std::move(error)}; }

}  // namespace

bool EcUsesLegacyLayout(uint32_t version) {
  return version != kEcVersionUnknown && (version & 0xFF) == 0 && ((version >> 8) & 0xFF) < 6;
}

EcBlock EcSystemStatusRequest(uint8_t type) {
  EcBlock block = Request(kEcCmdSystemStatus);
  block[4] = type;
  return block;
}

EcBlock EcOCProfileRequest() {
  EcBlock block = Request(kEcCmdOCProfile);
  le::StoreU16(block.data() + 4, kEcCmdOCProfile);
  return block;
}

EcBlock EcDeviceStatusGetRequest(uint8_t device) {
  EcBlock block = Request(kEcCmdDeviceStatus);
  block[4] = 2;
  block[5] = device;
  return block;
}

EcBlock EcDeviceStatusSetRequest(uint8_t device, uint16_t value1, uint16_t value2) {
  EcBlock block = Request(kEcCmdDeviceStatus);
  block[4] = 1;
  block[5] = device;
  le::StoreU16(block.data() + 6, 1);
  le::StoreU16(block.data() + 8, value1);
  le::StoreU16(block.data() + 10, value2);
  return block;
}

EcCheck EcCheckDataVersion(const EcBlock& reply, uint32_t* version) {
  if (U16(reply, 0) != kEcSuccess) {
    return Fail(FormatMessageSized(kMessageChars, "HID return code: %04X", unsigned{U16(reply, 0)}));
  }
  if (U16(reply, 2) != kEcCmdSystemStatus) return Fail();
  if (U16(reply, 6) == 0xFFFF) {
    *version = U16(reply, 4);
  } else if ((U16(reply, 4) & 0xFF) == kEcStatusDataVersion) {
    *version = U16(reply, 6);
  } else {
    return Fail("Error getting data version");
  }
  return {true, {}};
}

EcCheck EcCheckSystemStatus(const EcBlock& reply, uint8_t type, uint32_t cached_version,
                            uint32_t* value) {
  if (U16(reply, 0) != kEcSuccess) {
    return Fail(FormatMessageSized(kMessageChars, "Type %d return code: %04X", int{type},
                                   unsigned{U16(reply, 0)}));
  }
  if (U16(reply, 2) != kEcCmdSystemStatus) {
    return Fail(FormatMessageSized(kMessageChars, "Type %d Command ID: %04X not match", int{type},
                                   unsigned{U16(reply, 2)}));
  }
  if (EcUsesLegacyLayout(cached_version)) {
    *value = U16(reply, 4);
    return {true, {}};
  }
  if ((U16(reply, 4) & 0xFF) != type) {
    return Fail(FormatMessageSized(kMessageChars, "Type %d Feature Command: %02X not match",
                                   int{type}, unsigned{U16(reply, 4)}));
  }
  *value = U16(reply, 6);
  return {true, {}};
}

EcCheck EcCheckOCProfile(const EcBlock& reply, OCProfile* profile) {
  if (U16(reply, 0) != kEcSuccess) {
    return Fail(FormatMessageSized(kMessageChars, "HID return code: %04X", unsigned{U16(reply, 0)}));
  }
  if (U16(reply, 2) != kEcCmdOCProfile) return Fail();
  // Packed fields: a byte, five u16, three bytes, three unaligned u16.
  constexpr struct { uint8_t at, width; } kFields[12] = {
      {5, 1}, {6, 2}, {8, 2}, {10, 2}, {12, 2}, {14, 2}, {16, 1}, {17, 1}, {18, 1},
      {19, 2}, {21, 2}, {23, 2}};
  for (size_t i = 0; i < 12; ++i) {
    profile->values[i] = kFields[i].width == 1 ? reply[kFields[i].at] : U16(reply, kFields[i].at);
  }
  return {true, {}};
}

uint16_t EcCheckDeviceStatusGet(const EcBlock& reply, uint8_t device, uint32_t* value0,
                                uint32_t* value1, uint32_t* value2, std::string* error) {
  if (U16(reply, 2) != kEcCmdDeviceStatus) {
    *error = FormatMessageSized(kMessageChars, "device %d return command: %04X not match",
                                int{device}, unsigned{U16(reply, 2)});
    return kEcEchoMismatch;
  }
  if (reply[5] != device) {
    *error = FormatMessageSized(kMessageChars, "device %d return device index: %02X not match",
                                int{device}, unsigned{reply[5]});
    return kEcEchoMismatch;
  }
  if (U16(reply, 0) != kEcSuccess) {
    *error = FormatMessageSized(kMessageChars, "device %d return code: %04X", int{device},
                                unsigned{U16(reply, 0)});
    return U16(reply, 0);
  }
  *value0 = U16(reply, 6);
  *value1 = U16(reply, 8);
  *value2 = U16(reply, 10);
  return kEcSuccess;
}

EcCheck EcCheckDeviceStatusSet(const EcBlock& reply, uint8_t device) {
  if (U16(reply, 0) != kEcSuccess) {
    return Fail(FormatMessageSized(kMessageChars, "device %d return code: %04X", int{device},
                                   unsigned{U16(reply, 0)}));
  }
  if (U16(reply, 2) != kEcCmdDeviceStatus) {
    return Fail(FormatMessageSized(kMessageChars, "device %d return command: %04X not match",
                                   int{device}, unsigned{U16(reply, 2)}));
  }
  if (reply[5] != device) {
    return Fail(FormatMessageSized(kMessageChars, "device %d return device index: %02X not match",
                                   int{device}, unsigned{reply[5]}));
  }
  return {true, {}};
}

}  // namespace corlan::QRN300
