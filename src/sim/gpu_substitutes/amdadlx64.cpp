// A stand-in for AMD's amdadlx64.dll, for the Wine suite: the six entry points and one GPU
// behind the interfaces the broker reaches by method slot. 2100 MHz of a 500-2600 MHz range,
// 42.9 % busy, 30.5 W of a 3-100 W range, 64.5 °C. Objects count their references; the list,
// GPU, metrics and services objects live as long as the library.
#include <cstdint>

#include "platform/gpu_vendors.h"

namespace {

using Result = int32_t;
using platform::kAdlxFail;
using platform::kAdlxInvalidArgs;
using platform::kAdlxNotSupported;
using platform::kAdlxOk;

// IADLXInterface: Acquire, Release, QueryInterface at slots 0 to 2.
struct Interface {
  virtual long __stdcall Acquire() { return ++refs; }
  virtual long __stdcall Release() { return --refs; }
  virtual Result __stdcall QueryInterface(const wchar_t*, void**) { return kAdlxFail; }
  long refs = 0;
};

#define UNUSED_SLOT(n) \
  virtual Result __stdcall Unused##n() { return kAdlxNotSupported; }

struct Gpu : Interface {
  UNUSED_SLOT(3) UNUSED_SLOT(4) UNUSED_SLOT(5) UNUSED_SLOT(6)
  virtual Result __stdcall Name(const char** name) {  // slot 7
    *name = "Substitute Radeon";
    return kAdlxOk;
  }
};
Gpu g_gpu;

struct GpuList : Interface {
  virtual uint32_t __stdcall Size() { return 1; }         // 3
  virtual bool __stdcall Empty() { return false; }        // 4
  UNUSED_SLOT(5) UNUSED_SLOT(6) UNUSED_SLOT(7) UNUSED_SLOT(8) UNUSED_SLOT(9) UNUSED_SLOT(10)
  virtual Result __stdcall At(uint32_t index, Gpu** gpu) {  // 11
    if (index != 0) return kAdlxInvalidArgs;
    g_gpu.Acquire();
    *gpu = &g_gpu;
    return kAdlxOk;
  }
};
GpuList g_list;

struct MetricsSupport : Interface {
  virtual Result __stdcall IsSupportedGPUUsage(bool* s) { *s = true; return kAdlxOk; }        // 3
  virtual Result __stdcall IsSupportedGPUClockSpeed(bool* s) { *s = true; return kAdlxOk; }   // 4
  UNUSED_SLOT(5)
  virtual Result __stdcall IsSupportedGPUTemperature(bool* s) { *s = true; return kAdlxOk; }  // 6
  UNUSED_SLOT(7)
  virtual Result __stdcall IsSupportedGPUPower(bool* s) { *s = true; return kAdlxOk; }        // 8
  UNUSED_SLOT(9) UNUSED_SLOT(10) UNUSED_SLOT(11) UNUSED_SLOT(12)
  virtual Result __stdcall GetGPUUsageRange(int* lo, int* hi) { *lo = 0; *hi = 100; return kAdlxOk; }  // 13
  virtual Result __stdcall GetGPUClockSpeedRange(int* lo, int* hi) {                      // 14
    *lo = 500;
    *hi = 2600;
    return kAdlxOk;
  }
  UNUSED_SLOT(15) UNUSED_SLOT(16) UNUSED_SLOT(17)
  virtual Result __stdcall GetGPUPowerRange(int* lo, int* hi) { *lo = 3; *hi = 100; return kAdlxOk; }  // 18
};
MetricsSupport g_support;

struct Metrics : Interface {
  UNUSED_SLOT(3)
  virtual Result __stdcall GPUUsage(double* v) { *v = 42.9; return kAdlxOk; }        // 4
  virtual Result __stdcall GPUClockSpeed(int* v) { *v = 2100; return kAdlxOk; }      // 5
  UNUSED_SLOT(6)
  virtual Result __stdcall GPUTemperature(double* v) { *v = 64.5; return kAdlxOk; }  // 7
  UNUSED_SLOT(8)
  virtual Result __stdcall GPUPower(double* v) { *v = 30.5; return kAdlxOk; }        // 9
};
Metrics g_metrics;

struct Services : Interface {
  UNUSED_SLOT(3) UNUSED_SLOT(4) UNUSED_SLOT(5) UNUSED_SLOT(6) UNUSED_SLOT(7) UNUSED_SLOT(8)
  UNUSED_SLOT(9) UNUSED_SLOT(10) UNUSED_SLOT(11) UNUSED_SLOT(12) UNUSED_SLOT(13) UNUSED_SLOT(14)
  UNUSED_SLOT(15) UNUSED_SLOT(16) UNUSED_SLOT(17)
  virtual Result __stdcall GetCurrentGPUMetrics(Gpu* gpu, Metrics** m) {  // 18
    if (gpu != &g_gpu) return kAdlxInvalidArgs;
    g_metrics.Acquire();
    *m = &g_metrics;
    return kAdlxOk;
  }
  UNUSED_SLOT(19) UNUSED_SLOT(20)
  virtual Result __stdcall GetSupportedGPUMetrics(Gpu* gpu, MetricsSupport** s) {  // 21
    if (gpu != &g_gpu) return kAdlxInvalidArgs;
    g_support.Acquire();
    *s = &g_support;
    return kAdlxOk;
  }
};
Services g_services;

// IADLXSystem has no IADLXInterface base.
struct System {
  virtual Result __stdcall HybridGraphicsType(int* t) { *t = 0; return kAdlxOk; }  // 0
  virtual Result __stdcall GetGPUs(GpuList** list) {                            // 1
    g_list.Acquire();
    *list = &g_list;
    return kAdlxOk;
  }
  UNUSED_SLOT(2) UNUSED_SLOT(3) UNUSED_SLOT(4) UNUSED_SLOT(5) UNUSED_SLOT(6) UNUSED_SLOT(7)
  UNUSED_SLOT(8)
  virtual Result __stdcall GetPerformanceMonitoringServices(Services** s) {  // 9
    g_services.Acquire();
    *s = &g_services;
    return kAdlxOk;
  }
};
System g_system;
bool g_initialized = false;

}  // namespace

extern "C" {
__declspec(dllexport) Result ADLXQueryFullVersion(uint64_t* version) {
  *version = 0x1000300000055;
  return kAdlxOk;
}
__declspec(dllexport) Result ADLXQueryVersion(const char** version) {
  *version = "1.3.0.85";
  return kAdlxOk;
}
__declspec(dllexport) Result ADLXInitialize(uint64_t version, System** system) {
  if (version != 0x1000300000055) return kAdlxFail;
  if (g_initialized) return 2;  // already initialised
  g_initialized = true;
  *system = &g_system;
  return kAdlxOk;
}
__declspec(dllexport) Result ADLXInitializeWithIncompatibleDriver(uint64_t version, System** system) {
  return ADLXInitialize(version, system);
}
__declspec(dllexport) Result ADLXInitializeWithCallerAdl(uint64_t, System**, void**, void*, void*) {
  return kAdlxNotSupported;
}
__declspec(dllexport) Result ADLXTerminate() {
  g_initialized = false;
  return kAdlxOk;
}
}
