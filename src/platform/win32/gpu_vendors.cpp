#include "platform/win32/gpu_vendors.h"

#include <windows.h>

#include <cstring>

namespace platform::win32 {
namespace {

// NVAPI interface ids (nvapi_QueryInterface).
constexpr uint32_t kNvInitialize = 0x0150E828;
constexpr uint32_t kNvEnumPhysicalGPUs = 0xE5AC921F;
constexpr uint32_t kNvGetFullName = 0xCEEE8E9F;
constexpr uint32_t kNvGetAllClockFrequencies = 0xDCB616C3;
constexpr uint32_t kNvGetDynamicPstatesInfoEx = 0x60DED2ED;
constexpr uint32_t kNvGetPstates20 = 0x6FF81213;
constexpr uint32_t kNvSetPstates20 = 0x0F4DAE6B;
constexpr uint32_t kNvGetThermalSettings = 0xE3640A56;
constexpr uint32_t kNvGetVbiosOEMRevision = 0x2D43FB31;
constexpr uint32_t kNvCoprocGetCoprocStatus = 0x1EFC3957;

using NvQueryInterfaceFn = void* (*)(uint32_t);

// Search the application directory, the user directories, System32 and the default ones.
constexpr DWORD kAdlxLoadFlags = 0x1E00;
static_assert((LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
               LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) == kAdlxLoadFlags);

// Method slots of the ADLX interfaces (IADLXInterface: 0 Acquire, 1 Release, 2 QueryInterface).
constexpr int kRelease = 1;
constexpr int kSystemGetGPUs = 1;
constexpr int kSystemGetPerformanceMonitoringServices = 9;
constexpr int kListSize = 3;
constexpr int kListEmpty = 4;
constexpr int kListAtGpu = 11;
constexpr int kGpuName = 7;
constexpr int kServicesGetCurrentGPUMetrics = 18;
constexpr int kServicesGetSupportedGPUMetrics = 21;
constexpr int kSupportIsSupported[] = {3, 4, 6, 8};  // usage, clock speed, temperature, power
constexpr int kSupportRange[] = {13, 14, -1, 18};
constexpr int kMetricsGPUClockSpeed = 5;
constexpr int kMetricsValue[] = {4, -1, 7, 9};  // usage, -, temperature, power

// Method `slot` of interface `object`, called with the object first (stdcall = the x64 ABI).
template <typename R, typename... Args>
R Call(void* object, int slot, Args... args) {
  using Method = R(__stdcall*)(void*, Args...);
  void** vtable = *static_cast<void***>(object);
  return reinterpret_cast<Method>(vtable[slot])(object, args...);
}

void* Ptr(AdlxObject object) { return reinterpret_cast<void*>(object); }

}  // namespace

// ---- NVAPI ----------------------------------------------------------------------------------

void* Win32NvApi::Function(uint32_t id, int32_t* status) {
  std::lock_guard lock(mutex_);
  if (!tried_) {
    tried_ = true;
    HMODULE library = LoadLibraryW(L"nvapi64.dll");
    if (library != nullptr) {
      library_ = library;
      query_interface_ = reinterpret_cast<void*>(GetProcAddress(library, "nvapi_QueryInterface"));
    }
  }
  if (query_interface_ == nullptr) {
    *status = kNvLibraryNotFound;
    return nullptr;
  }
  void* function = reinterpret_cast<NvQueryInterfaceFn>(query_interface_)(id);
  if (function == nullptr) *status = kNvNoImplementation;
  return function;
}

#define NV_CALL(id, signature, ...)                                  \
  int32_t status = kNvOk;                                            \
  void* f = Function(id, &status);                                   \
  if (f == nullptr) return status;                                   \
  return reinterpret_cast<int32_t(__cdecl*) signature>(f)(__VA_ARGS__)

int32_t Win32NvApi::Initialize() { NV_CALL(kNvInitialize, (), ); }
int32_t Win32NvApi::EnumPhysicalGPUs(NvGpuHandle handles[kNvMaxPhysicalGpus], uint32_t* count) {
  NV_CALL(kNvEnumPhysicalGPUs, (NvGpuHandle*, uint32_t*), handles, count);
}
int32_t Win32NvApi::GetFullName(NvGpuHandle gpu, char name[kNvShortStringChars]) {
  NV_CALL(kNvGetFullName, (NvGpuHandle, char*), gpu, name);
}
int32_t Win32NvApi::GetAllClockFrequencies(NvGpuHandle gpu, NvClockFrequencies* clocks) {
  NV_CALL(kNvGetAllClockFrequencies, (NvGpuHandle, NvClockFrequencies*), gpu, clocks);
}
int32_t Win32NvApi::GetDynamicPstatesInfoEx(NvGpuHandle gpu, NvDynamicPstatesInfoEx* info) {
  NV_CALL(kNvGetDynamicPstatesInfoEx, (NvGpuHandle, NvDynamicPstatesInfoEx*), gpu, info);
}
int32_t Win32NvApi::GetPstates20(NvGpuHandle gpu, NvPstates20Info* info) {
  NV_CALL(kNvGetPstates20, (NvGpuHandle, NvPstates20Info*), gpu, info);
}
int32_t Win32NvApi::SetPstates20(NvGpuHandle gpu, const NvPstates20Info* info) {
  NV_CALL(kNvSetPstates20, (NvGpuHandle, const NvPstates20Info*), gpu, info);
}
int32_t Win32NvApi::GetThermalSettings(NvGpuHandle gpu, uint32_t sensor_index,
                                       NvThermalSettings* settings) {
  NV_CALL(kNvGetThermalSettings, (NvGpuHandle, uint32_t, NvThermalSettings*), gpu, sensor_index,
          settings);
}
int32_t Win32NvApi::GetVbiosOEMRevision(NvGpuHandle gpu, uint32_t* revision) {
  NV_CALL(kNvGetVbiosOEMRevision, (NvGpuHandle, uint32_t*), gpu, revision);
}
int32_t Win32NvApi::GetCoprocStatus(uint32_t* status_word, uint32_t* state) {
  NV_CALL(kNvCoprocGetCoprocStatus, (uint32_t*, uint32_t*), status_word, state);
}

#undef NV_CALL

// ---- ADLX -----------------------------------------------------------------------------------

Win32Adlx::~Win32Adlx() { Terminate(); }

int32_t Win32Adlx::Initialize() {
  if (library_ == nullptr) {
    HMODULE library = LoadLibraryExW(L"amdadlx64.dll", nullptr, kAdlxLoadFlags);
    library_ = library;
    if (library != nullptr) {
      query_full_version_ =
          reinterpret_cast<QueryFullVersionFn>(GetProcAddress(library, "ADLXQueryFullVersion"));
      query_version_ = reinterpret_cast<QueryVersionFn>(GetProcAddress(library, "ADLXQueryVersion"));
      initialize_with_caller_adl_ = reinterpret_cast<InitializeWithCallerAdlFn>(
          GetProcAddress(library, "ADLXInitializeWithCallerAdl"));
      initialize_with_incompatible_driver_ = reinterpret_cast<InitializeFn>(
          GetProcAddress(library, "ADLXInitializeWithIncompatibleDriver"));
      initialize_ = reinterpret_cast<InitializeFn>(GetProcAddress(library, "ADLXInitialize"));
      terminate_ = reinterpret_cast<TerminateFn>(GetProcAddress(library, "ADLXTerminate"));
    }
  }
  if (query_full_version_ == nullptr || query_version_ == nullptr ||
      initialize_with_caller_adl_ == nullptr || initialize_with_incompatible_driver_ == nullptr ||
      initialize_ == nullptr || terminate_ == nullptr) {
    return kAdlxFail;
  }
  query_full_version_(&full_version_);
  query_version_(&version_);
  return initialize_(kAdlxFullVersion, &system_);
}

int32_t Win32Adlx::Terminate() {
  if (library_ == nullptr) return 0;
  full_version_ = 0;
  version_ = nullptr;
  system_ = nullptr;
  adl_mapping_ = nullptr;
  int32_t result = 0;
  if (terminate_ != nullptr) result = terminate_();
  query_full_version_ = nullptr;
  query_version_ = nullptr;
  initialize_with_caller_adl_ = nullptr;
  initialize_with_incompatible_driver_ = nullptr;
  initialize_ = nullptr;
  terminate_ = nullptr;
  FreeLibrary(static_cast<HMODULE>(library_));
  library_ = nullptr;
  return result;
}

int32_t Win32Adlx::GetGPUs(AdlxObject* list) {
  if (system_ == nullptr) return kAdlxFail;
  void* out = nullptr;
  const int32_t result = Call<int32_t>(system_, kSystemGetGPUs, &out);
  *list = reinterpret_cast<AdlxObject>(out);
  return result;
}

int32_t Win32Adlx::GetPerformanceMonitoringServices(AdlxObject* services) {
  if (system_ == nullptr) return kAdlxFail;
  void* out = nullptr;
  const int32_t result = Call<int32_t>(system_, kSystemGetPerformanceMonitoringServices, &out);
  *services = reinterpret_cast<AdlxObject>(out);
  return result;
}

uint32_t Win32Adlx::ListSize(AdlxObject list) {
  return list == 0 ? 0 : Call<uint32_t>(Ptr(list), kListSize);
}

bool Win32Adlx::ListEmpty(AdlxObject list) {
  return list == 0 || Call<bool>(Ptr(list), kListEmpty);
}

int32_t Win32Adlx::ListAt(AdlxObject list, uint32_t index, AdlxObject* gpu) {
  if (list == 0) return kAdlxInvalidArgs;
  void* out = nullptr;
  const int32_t result = Call<int32_t>(Ptr(list), kListAtGpu, index, &out);
  *gpu = reinterpret_cast<AdlxObject>(out);
  return result;
}

int32_t Win32Adlx::GpuName(AdlxObject gpu, std::string* name) {
  if (gpu == 0) return kAdlxInvalidArgs;
  const char* text = nullptr;
  const int32_t result = Call<int32_t>(Ptr(gpu), kGpuName, &text);
  if (result == kAdlxOk) *name = text != nullptr ? text : "";
  return result;
}

int32_t Win32Adlx::GetCurrentGPUMetrics(AdlxObject services, AdlxObject gpu, AdlxObject* metrics) {
  if (services == 0 || gpu == 0) return kAdlxInvalidArgs;
  void* out = nullptr;
  const int32_t result =
      Call<int32_t>(Ptr(services), kServicesGetCurrentGPUMetrics, Ptr(gpu), &out);
  *metrics = reinterpret_cast<AdlxObject>(out);
  return result;
}

int32_t Win32Adlx::GetSupportedGPUMetrics(AdlxObject services, AdlxObject gpu,
                                          AdlxObject* support) {
  if (services == 0 || gpu == 0) return kAdlxInvalidArgs;
  void* out = nullptr;
  const int32_t result =
      Call<int32_t>(Ptr(services), kServicesGetSupportedGPUMetrics, Ptr(gpu), &out);
  *support = reinterpret_cast<AdlxObject>(out);
  return result;
}

int32_t Win32Adlx::IsSupported(AdlxObject support, AdlxMetric metric, bool* supported) {
  if (support == 0) return kAdlxInvalidArgs;
  return Call<int32_t>(Ptr(support), kSupportIsSupported[static_cast<int>(metric)], supported);
}

int32_t Win32Adlx::GetRange(AdlxObject support, AdlxMetric metric, int32_t* min, int32_t* max) {
  const int slot = kSupportRange[static_cast<int>(metric)];
  if (support == 0 || slot < 0) return kAdlxInvalidArgs;
  return Call<int32_t>(Ptr(support), slot, min, max);
}

int32_t Win32Adlx::GPUClockSpeed(AdlxObject metrics, int32_t* mhz) {
  if (metrics == 0) return kAdlxInvalidArgs;
  return Call<int32_t>(Ptr(metrics), kMetricsGPUClockSpeed, mhz);
}

int32_t Win32Adlx::MetricValue(AdlxObject metrics, AdlxMetric metric, double* value) {
  const int slot = kMetricsValue[static_cast<int>(metric)];
  if (metrics == 0 || slot < 0) return kAdlxInvalidArgs;
  return Call<int32_t>(Ptr(metrics), slot, value);
}

void Win32Adlx::Release(AdlxObject object) {
  if (object != 0) Call<long>(Ptr(object), kRelease);
}

}  // namespace platform::win32
