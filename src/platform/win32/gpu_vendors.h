// The GPU vendor seams on Windows: nvapi64.dll and amdadlx64.dll, both loaded at run time, so
// the broker needs neither vendor's SDK and starts on machines that lack either library.
#pragma once
#include <cstdint>
#include <mutex>

#include "platform/gpu_vendors.h"

namespace platform::win32 {

// nvapi64.dll, loaded at the first call and kept loaded (NVAPI is never unloaded by the broker).
// Every function is reached through the library's one export, nvapi_QueryInterface(id). Without
// the library every call answers -2 (library not found); a function the library does not offer
// answers -3 (no implementation).
class Win32NvApi : public NvApi {
 public:
  int32_t Initialize() override;
  int32_t EnumPhysicalGPUs(NvGpuHandle handles[kNvMaxPhysicalGpus], uint32_t* count) override;
  int32_t GetFullName(NvGpuHandle gpu, char name[kNvShortStringChars]) override;
  int32_t GetAllClockFrequencies(NvGpuHandle gpu, NvClockFrequencies* clocks) override;
  int32_t GetDynamicPstatesInfoEx(NvGpuHandle gpu, NvDynamicPstatesInfoEx* info) override;
  int32_t GetPstates20(NvGpuHandle gpu, NvPstates20Info* info) override;
  int32_t SetPstates20(NvGpuHandle gpu, const NvPstates20Info* info) override;
  int32_t GetThermalSettings(NvGpuHandle gpu, uint32_t sensor_index,
                             NvThermalSettings* settings) override;
  int32_t GetVbiosOEMRevision(NvGpuHandle gpu, uint32_t* revision) override;
  int32_t GetCoprocStatus(uint32_t* status, uint32_t* state) override;

 private:
  // The function of interface id `id`; null when the library or the function is missing
  // (*status then says which).
  void* Function(uint32_t id, int32_t* status);
  std::mutex mutex_;
  void* library_ = nullptr;
  void* query_interface_ = nullptr;
  bool tried_ = false;
};

// amdadlx64.dll behind the ADLX seam: the helper's state (library, versions, system services,
// the six entry points) and the interfaces reached by their method slots. Objects are the
// interface pointers themselves.
class Win32Adlx : public Adlx {
 public:
  ~Win32Adlx() override;
  int32_t Initialize() override;
  int32_t Terminate() override;
  int32_t GetGPUs(AdlxObject* list) override;
  int32_t GetPerformanceMonitoringServices(AdlxObject* services) override;
  uint32_t ListSize(AdlxObject list) override;
  bool ListEmpty(AdlxObject list) override;
  int32_t ListAt(AdlxObject list, uint32_t index, AdlxObject* gpu) override;
  int32_t GpuName(AdlxObject gpu, std::string* name) override;
  int32_t GetCurrentGPUMetrics(AdlxObject services, AdlxObject gpu, AdlxObject* metrics) override;
  int32_t GetSupportedGPUMetrics(AdlxObject services, AdlxObject gpu,
                                 AdlxObject* support) override;
  int32_t IsSupported(AdlxObject support, AdlxMetric metric, bool* supported) override;
  int32_t GetRange(AdlxObject support, AdlxMetric metric, int32_t* min, int32_t* max) override;
  int32_t GPUClockSpeed(AdlxObject metrics, int32_t* mhz) override;
  int32_t MetricValue(AdlxObject metrics, AdlxMetric metric, double* value) override;
  void Release(AdlxObject object) override;

 private:
  using QueryFullVersionFn = int32_t (*)(uint64_t*);
  using QueryVersionFn = int32_t (*)(const char**);
  using InitializeFn = int32_t (*)(uint64_t, void**);
  using InitializeWithCallerAdlFn = int32_t (*)(uint64_t, void**, void**, void*, void*);
  using TerminateFn = int32_t (*)();

  // The fields of the helper, in their order.
  void* library_ = nullptr;
  uint64_t full_version_ = 0;
  const char* version_ = nullptr;
  void* system_ = nullptr;       // IADLXSystem
  void* adl_mapping_ = nullptr;  // IADLMapping (unused: ADLX is not initialised with ADL)
  QueryFullVersionFn query_full_version_ = nullptr;
  QueryVersionFn query_version_ = nullptr;
  InitializeWithCallerAdlFn initialize_with_caller_adl_ = nullptr;
  InitializeFn initialize_with_incompatible_driver_ = nullptr;
  InitializeFn initialize_ = nullptr;
  TerminateFn terminate_ = nullptr;
};

}  // namespace platform::win32
