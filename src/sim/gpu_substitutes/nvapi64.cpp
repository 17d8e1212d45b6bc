// A stand-in for the NVIDIA driver's nvapi64.dll, for the Wine suite: one GPU answering the
// calls the broker makes through nvapi_QueryInterface, with the driver's structure-version
// checks. Placed beside quellmark.exe it is found first (the application directory leads the
// DLL search order). Clocks: 1 234 567 kHz now, P0 up to 2 000 000 kHz; 12 % busy; one sensor at
// 55 °C; the coprocessor state 1. SetPstates20 keeps the P0 deltas it was given.
#include <cstdint>
#include <cstring>

#include "platform/gpu_vendors.h"

namespace {

using namespace platform;

constexpr NvGpuHandle kGpu = 0x5A5A0001;
constexpr int32_t kIncompatibleVersion = -9;
constexpr int32_t kInvalidHandle = -8;
int32_t g_graphics_delta = 0;
int32_t g_memory_delta = 0;

int32_t Initialize() { return kNvOk; }
int32_t Enum(NvGpuHandle* handles, uint32_t* count) {
  handles[0] = kGpu;
  *count = 1;
  return kNvOk;
}
int32_t FullName(NvGpuHandle gpu, char* name) {
  if (gpu != kGpu) return kInvalidHandle;
  std::strcpy(name, "Substitute GeForce");
  return kNvOk;
}
int32_t Clocks(NvGpuHandle gpu, NvClockFrequencies* c) {
  if (gpu != kGpu) return kInvalidHandle;
  if (c->version != kNvClockFrequenciesVersion) return kIncompatibleVersion;
  c->domain[kNvClockGraphics] = {1, 1234567};
  return kNvOk;
}
int32_t Usage(NvGpuHandle gpu, NvDynamicPstatesInfoEx* info) {
  if (gpu != kGpu) return kInvalidHandle;
  if (info->version != kNvDynamicPstatesInfoExVersion) return kIncompatibleVersion;
  info->utilization[0] = {1, 12};
  return kNvOk;
}
int32_t GetPstates(NvGpuHandle gpu, NvPstates20Info* info) {
  if (gpu != kGpu) return kInvalidHandle;
  if (info->version != kNvPstates20InfoVersion) return kIncompatibleVersion;
  info->num_pstates = 1;
  info->num_clocks = 2;
  info->pstates[0].clocks[0].type_id = 1;
  info->pstates[0].clocks[0].max_freq_khz = static_cast<uint32_t>(2000000 + g_graphics_delta);
  info->pstates[0].clocks[1].domain_id = kNvClockMemory;
  info->pstates[0].clocks[1].freq_khz = static_cast<uint32_t>(7000000 + g_memory_delta);
  return kNvOk;
}
int32_t SetPstates(NvGpuHandle gpu, const NvPstates20Info* info) {
  if (gpu != kGpu) return kInvalidHandle;
  if (info->version != kNvPstates20InfoVersion) return kIncompatibleVersion;
  g_graphics_delta = info->pstates[0].clocks[0].freq_delta_khz.value;
  g_memory_delta = info->pstates[0].clocks[1].freq_delta_khz.value;
  return kNvOk;
}
int32_t Thermal(NvGpuHandle gpu, uint32_t, NvThermalSettings* s) {
  if (gpu != kGpu) return kInvalidHandle;
  if (s->version != kNvThermalSettingsVersion) return kIncompatibleVersion;
  s->count = 1;
  s->sensor[0].current_temp = 55;
  return kNvOk;
}
int32_t Vbios(NvGpuHandle gpu, uint32_t* revision) {
  if (gpu != kGpu) return kInvalidHandle;
  *revision = 0x95;
  return kNvOk;
}
int32_t Coproc(uint32_t* status, uint32_t* state) {
  *status = 0;
  *state = 1;
  return kNvOk;
}

}  // namespace

extern "C" __declspec(dllexport) void* nvapi_QueryInterface(uint32_t id) {
  switch (id) {
    case 0x0150E828: return reinterpret_cast<void*>(&Initialize);
    case 0xE5AC921F: return reinterpret_cast<void*>(&Enum);
    case 0xCEEE8E9F: return reinterpret_cast<void*>(&FullName);
    case 0xDCB616C3: return reinterpret_cast<void*>(&Clocks);
    case 0x60DED2ED: return reinterpret_cast<void*>(&Usage);
    case 0x6FF81213: return reinterpret_cast<void*>(&GetPstates);
    case 0x0F4DAE6B: return reinterpret_cast<void*>(&SetPstates);
    case 0xE3640A56: return reinterpret_cast<void*>(&Thermal);
    case 0x2D43FB31: return reinterpret_cast<void*>(&Vbios);
    case 0x1EFC3957: return reinterpret_cast<void*>(&Coproc);
    default: return nullptr;
  }
}
