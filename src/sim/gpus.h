// The simulated notebook's graphics processors behind both GPU vendor seams: every [gpu]
// section of the machine profile is one GPU, of the vendor it names, in the order of the
// sections. The NVIDIA GPUs answer NVAPI (physical-GPU handles 1, 2, ... in profile order), the
// AMD GPUs answer ADLX; a machine with no GPU of a vendor behaves as one without that vendor's
// library (NvAPI_Initialize answers -2 (library not found), the ADLX initialisation 3 (fail)).
//
// What the vendor libraries do, as the simulation does it:
//   - NVAPI fills the version-3 clock, version-1 utilisation, version-3 P-state and version-2
//     thermal structures; any other version word answers -9 (incompatible structure version).
//     Clocks are given in kHz. SetPstates20 adds the written deltas of P0's graphics (domain 0)
//     and memory (domain 4) clocks to what the GPU keeps; GetPstates20 reports P0's graphics
//     clock as a range whose maximum is max_clock_khz plus that delta, and the memory clock as a
//     single frequency plus its delta.
//   - ADLX objects are references counted by the simulation: every Get/At hands out a new one,
//     Release gives it back; live_objects() tells a test whether the broker released all.
// Thread-safe.
//
// Profile section, once per GPU (machines/README.md has the long form):
//   [gpu]  vendor = nvidia | amd (required); name = text (required)
//          hardware_id = text: the display adapter's first hardware ID, listed by the device
//                        setup seam as a present display adapter (absent: not listed)
//          clock_khz, max_clock_khz, memory_clock_khz = numbers (NVIDIA clocks, 0)
//          usage = number with fraction (percent, 0)
//          temperatures = list of signed numbers (NVIDIA sensors, °C; none)
//          coproc_state = number (NVIDIA coprocessor state, 0)
//          vbios_revision = number (0)
//          clock_mhz, temperature, power = numbers (AMD metrics; 0)
//          clock_range, usage_range, power_range = MIN, MAX (AMD ranges; 0, 0)
//          unsupported = list of usage, clock, temperature, power (AMD metric support flags)
//          fail = list of call names that fail (see kGpuCalls in gpus.cpp, README)
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/gpu_vendors.h"
#include "sim/profile_format.h"

namespace sim {

enum class GpuVendor : uint8_t { kNvidia, kAmd };

struct GpuProfile {
  GpuVendor vendor = GpuVendor::kNvidia;
  std::string name;
  std::string hardware_id;  // empty: not a listed display adapter
  uint32_t clock_khz = 0;
  uint32_t max_clock_khz = 0;
  uint32_t memory_clock_khz = 0;
  double usage = 0;
  std::vector<int32_t> temperatures;
  uint32_t coproc_state = 0;
  uint32_t vbios_revision = 0;
  int32_t clock_mhz = 0;
  double temperature = 0;
  double power = 0;
  int32_t clock_range[2] = {0, 0};
  int32_t usage_range[2] = {0, 0};
  int32_t power_range[2] = {0, 0};
  std::set<std::string> unsupported;  // "usage", "clock", "temperature", "power"
  std::set<std::string> fail;         // call names
  bool name_given = false;
};

profile_format::Section GpuSection(GpuProfile& gpu);

// The NVIDIA GPUs of the profile behind the NVAPI seam.
class SimulatedNvApi : public platform::NvApi {
 public:
  explicit SimulatedNvApi(const std::vector<GpuProfile>& gpus);

  int32_t Initialize() override;
  int32_t EnumPhysicalGPUs(platform::NvGpuHandle handles[platform::kNvMaxPhysicalGpus],
                           uint32_t* count) override;
  int32_t GetFullName(platform::NvGpuHandle gpu, char name[platform::kNvShortStringChars]) override;
  int32_t GetAllClockFrequencies(platform::NvGpuHandle gpu,
                                 platform::NvClockFrequencies* clocks) override;
  int32_t GetDynamicPstatesInfoEx(platform::NvGpuHandle gpu,
                                  platform::NvDynamicPstatesInfoEx* info) override;
  int32_t GetPstates20(platform::NvGpuHandle gpu, platform::NvPstates20Info* info) override;
  int32_t SetPstates20(platform::NvGpuHandle gpu, const platform::NvPstates20Info* info) override;
  int32_t GetThermalSettings(platform::NvGpuHandle gpu, uint32_t sensor_index,
                             platform::NvThermalSettings* settings) override;
  int32_t GetVbiosOEMRevision(platform::NvGpuHandle gpu, uint32_t* revision) override;
  int32_t GetCoprocStatus(uint32_t* status, uint32_t* state) override;

  // For tests: the deltas (kHz) last written to GPU `index` (graphics, memory) and the number
  // of SetPstates20 calls.
  std::pair<int32_t, int32_t> applied_deltas(size_t index) const;
  size_t set_pstates_calls() const;

 private:
  const GpuProfile* Gpu(platform::NvGpuHandle handle) const;  // null: not a handle
  bool Fails(const char* call) const;                         // any GPU names the call

  std::vector<GpuProfile> gpus_;
  mutable std::mutex mutex_;
  std::vector<std::pair<int32_t, int32_t>> deltas_;
  size_t set_pstates_calls_ = 0;
};

// The AMD GPUs of the profile behind the ADLX seam.
class SimulatedAdlx : public platform::Adlx {
 public:
  explicit SimulatedAdlx(const std::vector<GpuProfile>& gpus);

  int32_t Initialize() override;
  int32_t Terminate() override;
  int32_t GetGPUs(platform::AdlxObject* list) override;
  int32_t GetPerformanceMonitoringServices(platform::AdlxObject* services) override;
  uint32_t ListSize(platform::AdlxObject list) override;
  bool ListEmpty(platform::AdlxObject list) override;
  int32_t ListAt(platform::AdlxObject list, uint32_t index, platform::AdlxObject* gpu) override;
  int32_t GpuName(platform::AdlxObject gpu, std::string* name) override;
  int32_t GetCurrentGPUMetrics(platform::AdlxObject services, platform::AdlxObject gpu,
                               platform::AdlxObject* metrics) override;
  int32_t GetSupportedGPUMetrics(platform::AdlxObject services, platform::AdlxObject gpu,
                                 platform::AdlxObject* support) override;
  int32_t IsSupported(platform::AdlxObject support, platform::AdlxMetric metric,
                      bool* supported) override;
  int32_t GetRange(platform::AdlxObject support, platform::AdlxMetric metric, int32_t* min,
                   int32_t* max) override;
  int32_t GPUClockSpeed(platform::AdlxObject metrics, int32_t* mhz) override;
  int32_t MetricValue(platform::AdlxObject metrics, platform::AdlxMetric metric,
                      double* value) override;
  void Release(platform::AdlxObject object) override;

  // For tests: references handed out and not yet released.
  size_t live_objects() const;

 private:
  enum class Kind : uint8_t { kList, kServices, kGpu, kMetrics, kSupport };
  struct Object {
    Kind kind;
    size_t gpu;  // kGpu, kMetrics, kSupport
  };
  bool Fails(const char* call) const;
  int32_t New(Kind kind, size_t gpu, platform::AdlxObject* out);
  const GpuProfile* Of(platform::AdlxObject object, Kind kind) const;

  std::vector<GpuProfile> gpus_;
  mutable std::mutex mutex_;
  bool initialized_ = false;
  std::map<platform::AdlxObject, Object> objects_;
  platform::AdlxObject next_object_ = 0x1000;
};

}  // namespace sim
