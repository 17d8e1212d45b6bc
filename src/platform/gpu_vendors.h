// GPU vendor seams: the NVIDIA driver interface (NVAPI) and the AMD ADLX library, each offering
// exactly the calls the broker makes and nothing more. Windows: nvapi64.dll reached through its
// one export nvapi_QueryInterface, amdadlx64.dll with its six entry points and its interfaces'
// method slots, both loaded at run time (platform/win32/gpu_vendors.cpp). Linux: the simulated
// notebook's GPUs from the machine profile ([gpu] sections, sim/gpus.h).
//
// What is asked, in which order, how results are checked and logged is the core's (gpu/); the
// seams only report what the vendor answers. The NVAPI structures are declared here byte for
// byte (packing 8, the version word size | version << 16), so both backends fill the same
// layout the driver does.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// ---- NVAPI ----------------------------------------------------------------------------------

// NvAPI_Status values the broker names.
inline constexpr int32_t kNvOk = 0;
inline constexpr int32_t kNvError = -1;
inline constexpr int32_t kNvLibraryNotFound = -2;
inline constexpr int32_t kNvNoImplementation = -3;
inline constexpr int32_t kNvApiNotInitialized = -4;
inline constexpr int32_t kNvInvalidArgument = -5;
inline constexpr int32_t kNvDeviceNotFound = -6;
inline constexpr int32_t kNvNotSupported = -104;

inline constexpr size_t kNvMaxPhysicalGpus = 64;
inline constexpr size_t kNvShortStringChars = 64;  // NvAPI_ShortString
using NvGpuHandle = std::uintptr_t;                // NvPhysicalGpuHandle; 0 is the empty handle

constexpr uint32_t NvVersionWord(size_t size, uint32_t version) {
  return static_cast<uint32_t>(size) | (version << 16);
}

inline constexpr uint32_t kNvClockGraphics = 0;  // NVAPI_GPU_PUBLIC_CLOCK_GRAPHICS
inline constexpr uint32_t kNvClockMemory = 4;    // NVAPI_GPU_PUBLIC_CLOCK_MEMORY
inline constexpr uint32_t kNvClockDomains = 32;
inline constexpr uint32_t kNvThermalAllSensors = 15;  // NVAPI_THERMAL_TARGET_ALL

// NV_GPU_CLOCK_FREQUENCIES, version 3.
struct NvClockFrequencies {
  uint32_t version;
  uint32_t clock_type_bits;  // bits 0..3 the clock type (0: current); bits 4..31 reserved
  struct Domain {
    uint32_t present_bits;  // bit 0: the domain is present
    uint32_t frequency_khz;
  } domain[kNvClockDomains];
};
static_assert(sizeof(NvClockFrequencies) == 264 && offsetof(NvClockFrequencies, domain) == 8);
inline constexpr uint32_t kNvClockFrequenciesVersion = NvVersionWord(264, 3);
static_assert(kNvClockFrequenciesVersion == 0x30108);

// NV_GPU_DYNAMIC_PSTATES_INFO_EX, version 1.
struct NvDynamicPstatesInfoEx {
  uint32_t version;
  uint32_t flags;
  struct Utilization {
    uint32_t present_bits;
    uint32_t percentage;
  } utilization[8];
};
static_assert(sizeof(NvDynamicPstatesInfoEx) == 72 &&
              offsetof(NvDynamicPstatesInfoEx, utilization) + 4 == 12);
inline constexpr uint32_t kNvDynamicPstatesInfoExVersion = NvVersionWord(72, 1);
static_assert(kNvDynamicPstatesInfoExVersion == 0x10048);

// NV_GPU_PERF_PSTATES20_INFO, version 3. A clock entry holds either a single frequency or a
// range; `freq_khz` is the single frequency and the range's minimum alike.
struct NvPstates20Info {
  struct ParamDelta {
    int32_t value;
    int32_t min;
    int32_t max;
  };
  struct Clock {
    uint32_t domain_id;
    uint32_t type_id;  // 0 single, 1 range
    uint32_t editable_bits;
    ParamDelta freq_delta_khz;
    uint32_t freq_khz;  // single frequency / range minimum
    uint32_t max_freq_khz;
    uint32_t range_domain_id;
    uint32_t min_voltage_uv;
    uint32_t max_voltage_uv;
  };
  struct BaseVoltage {
    uint32_t domain_id;
    uint32_t editable_bits;
    uint32_t volt_uv;
    ParamDelta volt_delta_uv;
  };
  struct Pstate {
    uint32_t pstate_id;
    uint32_t editable_bits;
    Clock clocks[8];
    BaseVoltage base_voltages[4];
  };
  uint32_t version;
  uint32_t editable_bits;
  uint32_t num_pstates;
  uint32_t num_clocks;
  uint32_t num_base_voltages;
  Pstate pstates[16];
  struct {
    uint32_t num_voltages;
    BaseVoltage voltages[4];
  } over_voltage;
};
static_assert(sizeof(NvPstates20Info::Clock) == 44 && sizeof(NvPstates20Info::Pstate) == 456);
static_assert(offsetof(NvPstates20Info, pstates) == 20);
static_assert(offsetof(NvPstates20Info, over_voltage) == 7316);
static_assert(sizeof(NvPstates20Info) == 7416);
inline constexpr uint32_t kNvPstates20InfoVersion = NvVersionWord(7416, 3);
static_assert(kNvPstates20InfoVersion == 0x31CF8);

// NV_GPU_THERMAL_SETTINGS, version 2.
struct NvThermalSettings {
  uint32_t version;
  uint32_t count;
  struct Sensor {
    uint32_t controller;
    int32_t default_min_temp;
    int32_t default_max_temp;
    int32_t current_temp;  // degrees Celsius
    uint32_t target;
  } sensor[3];
};
static_assert(sizeof(NvThermalSettings) == 68 &&
              offsetof(NvThermalSettings, sensor) + offsetof(NvThermalSettings::Sensor,
                                                             current_temp) == 20);
inline constexpr uint32_t kNvThermalSettingsVersion = NvVersionWord(68, 2);
static_assert(kNvThermalSettingsVersion == 0x20044);

// The NVAPI functions the broker calls, each answering its NvAPI_Status. A structure argument
// arrives with its version word set; a version the implementation does not know answers -9.
class NvApi {
 public:
  virtual ~NvApi() = default;
  virtual int32_t Initialize() = 0;
  // Fills up to 64 handles and *count.
  virtual int32_t EnumPhysicalGPUs(NvGpuHandle handles[kNvMaxPhysicalGpus], uint32_t* count) = 0;
  // A NUL-terminated UTF-8 name in 64 bytes.
  virtual int32_t GetFullName(NvGpuHandle gpu, char name[kNvShortStringChars]) = 0;
  virtual int32_t GetAllClockFrequencies(NvGpuHandle gpu, NvClockFrequencies* clocks) = 0;
  virtual int32_t GetDynamicPstatesInfoEx(NvGpuHandle gpu, NvDynamicPstatesInfoEx* info) = 0;
  virtual int32_t GetPstates20(NvGpuHandle gpu, NvPstates20Info* info) = 0;
  virtual int32_t SetPstates20(NvGpuHandle gpu, const NvPstates20Info* info) = 0;
  virtual int32_t GetThermalSettings(NvGpuHandle gpu, uint32_t sensor_index,
                                     NvThermalSettings* settings) = 0;
  virtual int32_t GetVbiosOEMRevision(NvGpuHandle gpu, uint32_t* revision) = 0;
  // NvAPI_Coproc_GetCoprocStatus: two words out; *state is the coprocessor state.
  virtual int32_t GetCoprocStatus(uint32_t* status, uint32_t* state) = 0;
};

// ---- ADLX -----------------------------------------------------------------------------------

// ADLX_RESULT values the broker names.
inline constexpr int32_t kAdlxOk = 0;
inline constexpr int32_t kAdlxAlreadyEnabled = 1;
inline constexpr int32_t kAdlxAlreadyInitialized = 2;
inline constexpr int32_t kAdlxFail = 3;
inline constexpr int32_t kAdlxInvalidArgs = 4;
inline constexpr int32_t kAdlxNotSupported = 12;
inline constexpr uint64_t kAdlxFullVersion = 0x1000300000055;  // 1.3.0.85
static_assert(kAdlxFullVersion == (uint64_t{1} << 48 | uint64_t{3} << 32 | 85));

// An ADLX interface the caller holds: a reference it gives back with Release. 0 is none.
using AdlxObject = std::uintptr_t;

// The metrics of IADLXGPUMetricsSupport / IADLXGPUMetrics the broker reads.
enum class AdlxMetric : uint8_t { kUsage, kClockSpeed, kTemperature, kPower };

// The ADLX calls the broker makes, on the interfaces they belong to. Every out-object is a new
// reference, valid only when the call answers kAdlxOk.
class Adlx {
 public:
  virtual ~Adlx() = default;
  // Loads the library when not yet loaded (LoadLibraryExW flags 0x1E00) and resolves
  // ADLXQueryFullVersion, ADLXQueryVersion, ADLXInitializeWithCallerAdl,
  // ADLXInitializeWithIncompatibleDriver, ADLXInitialize, ADLXTerminate in that order: kAdlxFail
  // when any is missing. Then queries both versions and answers ADLXInitialize(kAdlxFullVersion).
  virtual int32_t Initialize() = 0;
  // Clears the interfaces, calls ADLXTerminate when resolved, frees the library: its result,
  // 0 when not called.
  virtual int32_t Terminate() = 0;

  // IADLXSystem
  virtual int32_t GetGPUs(AdlxObject* list) = 0;
  virtual int32_t GetPerformanceMonitoringServices(AdlxObject* services) = 0;
  // IADLXGPUList
  virtual uint32_t ListSize(AdlxObject list) = 0;
  virtual bool ListEmpty(AdlxObject list) = 0;
  virtual int32_t ListAt(AdlxObject list, uint32_t index, AdlxObject* gpu) = 0;
  // IADLXGPU: the UTF-8 name.
  virtual int32_t GpuName(AdlxObject gpu, std::string* name) = 0;
  // IADLXPerformanceMonitoringServices
  virtual int32_t GetCurrentGPUMetrics(AdlxObject services, AdlxObject gpu,
                                       AdlxObject* metrics) = 0;
  virtual int32_t GetSupportedGPUMetrics(AdlxObject services, AdlxObject gpu,
                                         AdlxObject* support) = 0;
  // IADLXGPUMetricsSupport: IsSupportedGPU<metric>, GetGPU<metric>Range (usage, clock speed,
  // power; temperature has no range here).
  virtual int32_t IsSupported(AdlxObject support, AdlxMetric metric, bool* supported) = 0;
  virtual int32_t GetRange(AdlxObject support, AdlxMetric metric, int32_t* min,
                           int32_t* max) = 0;
  // IADLXGPUMetrics: GPUClockSpeed (MHz, integer).
  virtual int32_t GPUClockSpeed(AdlxObject metrics, int32_t* mhz) = 0;
  // IADLXGPUMetrics: GPUUsage (percent), GPUTemperature (°C), GPUPower (W), floating.
  virtual int32_t MetricValue(AdlxObject metrics, AdlxMetric metric, double* value) = 0;
  // IADLXInterface::Release. Releasing 0 does nothing.
  virtual void Release(AdlxObject object) = 0;
};

}  // namespace platform
