#include "gpu/gpu_monitor.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "log/log_file.h"
#include "log/message_format.h"
#include "platform/services.h"
#include "registry/registry_values.h"

std::atomic<int32_t> g_NvidiaGPUSupport{0};
std::atomic<int32_t> g_AMDGPUSupport{0};

namespace {

using platform::AdlxMetric;
using platform::AdlxObject;

constexpr const char* kCalvaneKey = "SOFTWARE\\OEM\\Calvane";
constexpr size_t kMessageChars = 256;
constexpr size_t kValueNameChars = 260;

std::mutex g_NvidiaMonitorMutex;
std::mutex g_AMDMonitorMutex;
// Whether discovery initialised ADLX (g_ADLXHelp holds the library and its system services).
std::atomic<bool> g_AdlxInitialized{false};

std::string Format(const char* format, int a, int b = 0) {
  return FormatMessageSized(kMessageChars, format, a, b);
}

// Every ADLX reference one query holds, released in the order GPU metrics, supported metrics,
// GPU, list, services on every way out.
struct AdlxRefs {
  AdlxObject metrics = 0, support = 0, gpu = 0, list = 0, services = 0;
  ~AdlxRefs() {
    platform::Adlx& adlx = platform::Amd();
    for (AdlxObject o : {metrics, support, gpu, list, services}) {
      if (o != 0) adlx.Release(o);
    }
  }
};

// NVAPI initialised and the GPUs enumerated afresh; false when either fails.
bool EnumerateNvidia(platform::NvGpuHandle handles[platform::kNvMaxPhysicalGpus],
                     uint32_t* count) {
  std::fill_n(handles, platform::kNvMaxPhysicalGpus, platform::NvGpuHandle{0});
  *count = 0;
  platform::NvApi& nv = platform::Nvidia();
  return nv.Initialize() == platform::kNvOk && nv.EnumPhysicalGPUs(handles, count) == platform::kNvOk;
}

void WriteGpuName(int number, const std::string& name) {
  const std::string value = FormatMessageSized(kValueNameChars, "GPU_Name%d", number);
  write_reg_string(kCalvaneKey, value, name.c_str());  // failures ignored
}

// The NVMonitorType's call on `gpu`; false with its failure message when it fails.
bool QueryNvidia(int32_t type, platform::NvGpuHandle gpu, uint32_t count, int32_t* answer,
                 const char** line, const char** failure) {
  platform::NvApi& nv = platform::Nvidia();
  switch (type) {
    case kNvGraphicsClock: {
      platform::NvClockFrequencies clocks{};
      clocks.version = platform::kNvClockFrequenciesVersion;
      clocks.clock_type_bits = 0;  // current frequencies
      *failure = "NvAPI_GPU_GetAllClockFrequencies() fail";
      if (nv.GetAllClockFrequencies(gpu, &clocks) != platform::kNvOk) return false;
      *answer = static_cast<int32_t>(clocks.domain[platform::kNvClockGraphics].frequency_khz / 1000u);
      *line = "GPU frequency: %d";
      return true;
    }
    case kNvUtilization: {
      platform::NvDynamicPstatesInfoEx info{};
      info.version = platform::kNvDynamicPstatesInfoExVersion;
      *failure = "NvAPI_GPU_GetDynamicPstatesInfoEx() fail";
      if (nv.GetDynamicPstatesInfoEx(gpu, &info) != platform::kNvOk) return false;
      *answer = static_cast<int32_t>(info.utilization[0].percentage);
      *line = "GPU usage: %d";
      return true;
    }
    case kNvMaxGraphicsClock: {
      auto info = std::make_unique<platform::NvPstates20Info>();
      std::memset(info.get(), 0, sizeof *info);
      info->version = platform::kNvPstates20InfoVersion;
      *failure = "NvAPI_GPU_GetPstates20() fail";
      if (nv.GetPstates20(gpu, info.get()) != platform::kNvOk) return false;
      *answer = static_cast<int32_t>(info->pstates[0].clocks[0].max_freq_khz / 1000u);
      *line = "GPU max frequency: %d";
      return true;
    }
    case kNvGpuCount:
      *answer = static_cast<int32_t>(count);
      *line = "GPU count: %d";
      return true;
    case kNvMaxTemperature: {
      platform::NvThermalSettings settings{};
      settings.version = platform::kNvThermalSettingsVersion;
      *failure = "NvAPI_GPU_GetThermalSettings() fail";
      if (nv.GetThermalSettings(gpu, platform::kNvThermalAllSensors, &settings) !=
          platform::kNvOk) {
        return false;
      }
      int32_t hottest = 0;
      const uint32_t sensors = std::min<uint32_t>(settings.count, 3);
      for (uint32_t i = 0; i < sensors; ++i) {
        hottest = std::max(hottest, settings.sensor[i].current_temp);
      }
      *answer = hottest;
      *line = "GPU max temperature: %d";
      return true;
    }
    default:
      *line = nullptr;  // nothing queried, nothing answered
      return true;
  }
}

// The activity test on GPU metrics `metrics` with support object `support`: true when at least
// one of the clock, power and usage steps ran; *out 1 when one found the GPU busy.
bool ActivityTest(AdlxObject support, AdlxObject metrics, int32_t* out) {
  platform::Adlx& adlx = platform::Amd();
  bool ran = false;
  bool supported = false;
  int32_t min = 0, max = 0;
  if (adlx.IsSupported(support, AdlxMetric::kClockSpeed, &supported) == platform::kAdlxOk &&
      supported) {
    int32_t clock = 0;
    if (adlx.GPUClockSpeed(metrics, &clock) == platform::kAdlxOk &&
        adlx.GetRange(support, AdlxMetric::kClockSpeed, &min, &max) == platform::kAdlxOk) {
      ran = true;
      if (clock >= min + 100) *out = 1;
    }
  }
  supported = false;
  if (adlx.IsSupported(support, AdlxMetric::kPower, &supported) == platform::kAdlxOk &&
      supported) {
    double power = 0;
    if (adlx.MetricValue(metrics, AdlxMetric::kPower, &power) == platform::kAdlxOk &&
        adlx.GetRange(support, AdlxMetric::kPower, &min, &max) == platform::kAdlxOk) {
      ran = true;
      if (power >= static_cast<double>(min) + 10.0) *out = 1;
    }
  }
  supported = false;
  if (adlx.IsSupported(support, AdlxMetric::kUsage, &supported) == platform::kAdlxOk &&
      supported) {
    double usage = 0;
    if (adlx.MetricValue(metrics, AdlxMetric::kUsage, &usage) == platform::kAdlxOk &&
        adlx.GetRange(support, AdlxMetric::kUsage, &min, &max) == platform::kAdlxOk) {
      ran = true;
      if (usage >= static_cast<double>(min) + 3.0) *out = 1;
    }
  }
  return ran;
}

// A floating metric (usage, temperature) of types 1 and 5: "<label> supported: %d, %d" when
// the support query fails or the metric is unsupported; the value truncated toward zero.
bool FloatMetric(AdlxObject support, AdlxObject metrics, AdlxMetric metric, const char* support_line,
                 const char* value_line, int32_t* out) {
  platform::Adlx& adlx = platform::Amd();
  bool supported = false;
  const bool asked = adlx.IsSupported(support, metric, &supported) == platform::kAdlxOk;
  if (!asked || !supported) {
    LogLine(kLogInfo, "get_amd_monitor_value", Format(support_line, asked ? 1 : 0, supported));
    return false;
  }
  double value = 0;
  if (adlx.MetricValue(metrics, metric, &value) != platform::kAdlxOk) return false;
  *out = static_cast<int32_t>(value);
  LogLine(kLogInfo, "get_amd_monitor_value", Format(value_line, *out));
  return true;
}

}  // namespace

void check_gpu_name() {
  constexpr const char* kFn = "check_gpu_name";
  LogLine(kLogInfo, kFn, "write_gpu_name - start");
  platform::NvGpuHandle handles[platform::kNvMaxPhysicalGpus];
  uint32_t count = 0;
  if (EnumerateNvidia(handles, &count)) {
    for (uint32_t i = 0; i < count && i < platform::kNvMaxPhysicalGpus; ++i) {
      char name[platform::kNvShortStringChars] = {};
      if (platform::Nvidia().GetFullName(handles[i], name) != platform::kNvOk) continue;
      name[sizeof name - 1] = '\0';
      WriteGpuName(static_cast<int>(i) + 1, name);
    }
    if (count != 0) {
      g_NvidiaGPUSupport.store(1);
      LogLine(kLogInfo, kFn, "Nvidia GPU support.");
    }
  } else {
    count = 0;
  }
  if (g_NvidiaGPUSupport.load() != 1) {
    LogLine(kLogInfo, kFn, "Start Check AMD GPU");
    platform::Adlx& adlx = platform::Amd();
    const int32_t result = adlx.Initialize();
    g_AdlxInitialized.store(true);  // the library may be loaded even when initialisation failed
    if (result > platform::kAdlxAlreadyInitialized || result < 0) {
      LogLine(kLogInfo, kFn, "g_ADLXHelp initialize failed.");
    } else {
      AdlxObject list = 0;
      if (adlx.GetGPUs(&list) != platform::kAdlxOk || adlx.ListEmpty(list)) {
        if (list != 0) adlx.Release(list);
        LogLine(kLogInfo, kFn, "Failed to get the AMD GPU list.");
      } else {
        AdlxObject gpu = 0;
        for (uint32_t i = 0; i < adlx.ListSize(list); ++i) {
          if (gpu != 0) adlx.Release(gpu);
          gpu = 0;
          if (adlx.ListAt(list, i, &gpu) != platform::kAdlxOk) {
            gpu = 0;
            continue;
          }
          std::string name;
          if (adlx.GpuName(gpu, &name) != platform::kAdlxOk) continue;
          WriteGpuName(static_cast<int>(count + 1 + i), name);
        }
        g_AMDGPUSupport.store(1);
        LogLine(kLogInfo, kFn, "AMD GPU support.");
        if (gpu != 0) adlx.Release(gpu);
        adlx.Release(list);
      }
    }
  }
  LogLine(kLogInfo, kFn, "check_gpu_name - end");
}

int get_nvidia_monitor_value(int32_t type, uint32_t graphic_index, int32_t* out) {
  constexpr const char* kFn = "get_nvidia_monitor_value";
  std::lock_guard lock(g_NvidiaMonitorMutex);
  LogLine(kLogInfo, kFn, "get_nvdia_monitor_value - start");
  LogLine(kLogInfo, kFn,
          Format("Input NVMonitorType: %d, Graphic index: %d", type, static_cast<int>(graphic_index)));
  platform::NvGpuHandle handles[platform::kNvMaxPhysicalGpus];
  uint32_t count = 0;
  std::fill_n(handles, platform::kNvMaxPhysicalGpus, platform::NvGpuHandle{0});
  if (platform::Nvidia().Initialize() != platform::kNvOk) {
    LogLine(kLogError, kFn, "NvAPI_Initialize() fail");
    return 0;
  }
  if (platform::Nvidia().EnumPhysicalGPUs(handles, &count) != platform::kNvOk || count == 0 ||
      graphic_index >= count || graphic_index >= platform::kNvMaxPhysicalGpus ||
      handles[graphic_index] == 0) {
    LogLine(kLogError, kFn, "NvAPI_EnumPhysicalGPUs() fail");
    return 0;
  }
  int32_t answer = 0;
  const char* line = nullptr;
  const char* failure = nullptr;
  if (!QueryNvidia(type, handles[graphic_index], count, &answer, &line, &failure)) {
    LogLine(kLogError, kFn, failure);
    return 0;
  }
  if (line != nullptr) {
    *out = answer;
    LogLine(kLogInfo, kFn, Format(line, answer));
  }
  LogLine(kLogInfo, kFn, "get_nvdia_monitor_value - end");
  return 1;
}

int get_amd_monitor_value(int32_t type, uint32_t index, int32_t* out) {
  constexpr const char* kFn = "get_amd_monitor_value";
  std::lock_guard lock(g_AMDMonitorMutex);
  LogLine(kLogInfo, kFn, "Start");
  LogLine(kLogInfo, kFn, Format("Input AMDGPULibType: %d index: %d", type, static_cast<int>(index)));
  platform::Adlx& adlx = platform::Amd();
  int produced = 0;
  {
    AdlxRefs refs;
    const bool services =
        adlx.GetPerformanceMonitoringServices(&refs.services) == platform::kAdlxOk;
    if (!services) refs.services = 0;
    const bool list = adlx.GetGPUs(&refs.list) == platform::kAdlxOk;
    if (!list) refs.list = 0;
    const bool gpu = list && adlx.ListAt(refs.list, index, &refs.gpu) == platform::kAdlxOk;
    if (!gpu) refs.gpu = 0;
    bool metrics = false;
    if (services && gpu) {
      metrics = adlx.GetCurrentGPUMetrics(refs.services, refs.gpu, &refs.metrics) ==
                platform::kAdlxOk;
      if (!metrics) refs.metrics = 0;
    }
    if (!services || !list || !gpu || !metrics) {
      LogLine(kLogInfo, kFn, "ADLX initial fail.");
    } else {
      bool ready =
          adlx.GetSupportedGPUMetrics(refs.services, refs.gpu, &refs.support) == platform::kAdlxOk;
      if (!ready) refs.support = 0;
      // The second fetch replaces the first set.
      adlx.Release(refs.metrics);
      refs.metrics = 0;
      if (adlx.GetCurrentGPUMetrics(refs.services, refs.gpu, &refs.metrics) != platform::kAdlxOk) {
        refs.metrics = 0;
        ready = false;
      }
      if (ready && type >= 0 && type <= kAmdActivity) {
        bool supported = false;
        switch (type) {
          case kAmdGraphicsClock: {
            if (adlx.IsSupported(refs.support, AdlxMetric::kClockSpeed, &supported) !=
                platform::kAdlxOk) {
              LogLine(kLogInfo, kFn, Format("GPU frequency supported: %d, %d", 0, supported));
              break;
            }
            int32_t mhz = 0;
            if (supported && adlx.GPUClockSpeed(refs.metrics, &mhz) == platform::kAdlxOk) {
              *out = mhz;
              produced = 1;
              LogLine(kLogInfo, kFn, Format("GPU frequency: %d", mhz));
            }
            break;
          }
          case kAmdUtilization:
            produced = FloatMetric(refs.support, refs.metrics, AdlxMetric::kUsage,
                                   "GPU usage supported: %d, %d", "GPU usage: %d", out);
            break;
          case kAmdMaxGraphicsClock: {
            int32_t min = 0, max = 0;
            const int32_t result = adlx.GetRange(refs.support, AdlxMetric::kClockSpeed, &min, &max);
            if (result == platform::kAdlxOk) {
              *out = max;
              produced = 1;
              LogLine(kLogInfo, kFn, Format("GPU max frequency: %d", max));
            } else if (result == platform::kAdlxNotSupported) {
              LogLine(kLogInfo, kFn, "GPU clock speed range not support.");
            } else {
              LogLine(kLogInfo, kFn, "get GPU max frequency fail.");
            }
            break;
          }
          case kAmdGpuCount:
            *out = static_cast<int32_t>(adlx.ListSize(refs.list));
            LogLine(kLogInfo, kFn, Format("GPU count: %d", *out));
            break;
          case kAmdTemperature:
            produced = FloatMetric(refs.support, refs.metrics, AdlxMetric::kTemperature,
                                   "GPU temperature supported: %d, %d", "GPU temperature: %d", out);
            break;
          case kAmdActivity:
            *out = 0;
            produced = ActivityTest(refs.support, refs.metrics, out) ? 1 : 0;
            break;
          default:  // kAmdNone: nothing is answered
            break;
        }
      }
    }
    LogLine(kLogInfo, kFn, "End");
  }
  return produced;
}

int32_t nvidia_get_coproc_status() {
  constexpr const char* kFn = "nvidia_get_coproc_status";
  LogLine(kLogInfo, kFn, "nvidia_get_coproc_status() - start");
  // The vendor leaves the state unset when the call fails: the command's unknown value then.
  constexpr uint32_t kStateUnknown = 0xFFFFFFFFu;
  uint32_t status = 0;
  uint32_t state = 0;
  if (platform::Nvidia().GetCoprocStatus(&status, &state) != platform::kNvOk) {
    LogLine(kLogInfo, kFn, "NvAPI_Coproc_GetCoprocStatus() fail");
    state = kStateUnknown;
  }
  LogLine(kLogInfo, kFn, Format("pCoprocState: %d", static_cast<int32_t>(state)));
  LogLine(kLogInfo, kFn, "nvidia_get_coproc_status() - end");
  return static_cast<int32_t>(state);
}

int32_t TerminateAdlxHelper() {
  if (!g_AdlxInitialized.exchange(false)) return 0;
  return platform::Amd().Terminate();
}

void ResetGpuDiscoveryForTest() {
  g_NvidiaGPUSupport.store(0);
  g_AMDGPUSupport.store(0);
  g_AdlxInitialized.store(false);
}
