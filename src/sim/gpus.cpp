#include "sim/gpus.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace sim {
using namespace profile_format;
using platform::AdlxMetric;
using platform::AdlxObject;

namespace {

// Every call a profile may make fail. Calls that concern one GPU fail on that GPU only; the
// library-wide ones (Initialize, EnumPhysicalGPUs, GetCoprocStatus, GetGPUs,
// GetPerformanceMonitoringServices) fail when any GPU of the vendor names them.
constexpr const char* kGpuCalls[] = {
    "Initialize", "EnumPhysicalGPUs", "GetFullName", "GetAllClockFrequencies",
    "GetDynamicPstatesInfoEx", "GetPstates20", "SetPstates20", "GetThermalSettings",
    "GetVbiosOEMRevision", "GetCoprocStatus", "GetGPUs", "GetPerformanceMonitoringServices",
    "ListAt", "GpuName", "GetCurrentGPUMetrics", "GetSupportedGPUMetrics", "IsSupported",
    "GetRange", "GPUClockSpeed", "MetricValue"};
constexpr const char* kMetricNames[] = {"usage", "clock", "temperature", "power"};

double Decimal(std::string_view s) {
  const std::string text(s);
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) {
    throw LineError{"'" + text + "' is not a decimal number"};
  }
  return v;
}

int32_t Signed(std::string_view s) {
  const bool negative = !s.empty() && s.front() == '-';
  const uint64_t magnitude = Number(negative ? s.substr(1) : s, 0x7FFFFFFF);
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : magnitude);
}

void Range(std::string_view s, int32_t range[2]) {
  const std::vector<std::string_view> items = SplitList(s, ',');
  if (items.size() != 2) throw LineError{"expected MIN, MAX"};
  range[0] = Signed(items[0]);
  range[1] = Signed(items[1]);
}

std::set<std::string> Names(std::string_view s, std::span<const char* const> allowed) {
  std::set<std::string> names;
  for (std::string_view item : SplitList(s, ',')) {
    if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return item == a; })) {
      throw LineError{"unknown name '" + std::string(item) + "'"};
    }
    names.emplace(item);
  }
  return names;
}

const char* MetricName(AdlxMetric metric) { return kMetricNames[static_cast<size_t>(metric)]; }

std::vector<GpuProfile> OfVendor(const std::vector<GpuProfile>& gpus, GpuVendor vendor) {
  std::vector<GpuProfile> chosen;
  for (const GpuProfile& gpu : gpus) {
    if (gpu.vendor == vendor) chosen.push_back(gpu);
  }
  return chosen;
}

}  // namespace

Section GpuSection(GpuProfile& gpu) {
  const auto u32 = [](uint32_t& field) {
    return [&field](std::string_view v) { field = static_cast<uint32_t>(Number(v, 0xFFFFFFFF)); };
  };
  Section s = Keys("gpu", {
      {"vendor",
       [&](std::string_view v) {
         if (v == "nvidia") gpu.vendor = GpuVendor::kNvidia;
         else if (v == "amd") gpu.vendor = GpuVendor::kAmd;
         else throw LineError{"'" + std::string(v) + "' is not nvidia or amd"};
       }},
      {"name", [&](std::string_view v) { gpu.name = NonEmpty(v); gpu.name_given = true; }},
      {"hardware_id", [&](std::string_view v) { gpu.hardware_id = NonEmpty(v); }},
      {"clock_khz", u32(gpu.clock_khz)},
      {"max_clock_khz", u32(gpu.max_clock_khz)},
      {"memory_clock_khz", u32(gpu.memory_clock_khz)},
      {"usage", [&](std::string_view v) { gpu.usage = Decimal(v); }},
      {"temperatures",
       [&](std::string_view v) {
         gpu.temperatures.clear();
         for (std::string_view t : SplitList(v, ',')) gpu.temperatures.push_back(Signed(t));
         if (gpu.temperatures.size() > 3) throw LineError{"at most 3 sensors"};
       }},
      {"coproc_state", u32(gpu.coproc_state)},
      {"vbios_revision", u32(gpu.vbios_revision)},
      {"clock_mhz", [&](std::string_view v) { gpu.clock_mhz = Signed(v); }},
      {"temperature", [&](std::string_view v) { gpu.temperature = Decimal(v); }},
      {"power", [&](std::string_view v) { gpu.power = Decimal(v); }},
      {"clock_range", [&](std::string_view v) { Range(v, gpu.clock_range); }},
      {"usage_range", [&](std::string_view v) { Range(v, gpu.usage_range); }},
      {"power_range", [&](std::string_view v) { Range(v, gpu.power_range); }},
      {"unsupported", [&](std::string_view v) { gpu.unsupported = Names(v, kMetricNames); }},
      {"fail", [&](std::string_view v) { gpu.fail = Names(v, kGpuCalls); }},
  });
  s.finish = [&gpu] {
    if (!gpu.name_given) throw LineError{"[gpu] needs a name"};
  };
  return s;
}

// ---- NVAPI ----------------------------------------------------------------------------------

SimulatedNvApi::SimulatedNvApi(const std::vector<GpuProfile>& gpus)
    : gpus_(OfVendor(gpus, GpuVendor::kNvidia)), deltas_(gpus_.size()) {}

bool SimulatedNvApi::Fails(const char* call) const {
  return std::any_of(gpus_.begin(), gpus_.end(),
                     [call](const GpuProfile& g) { return g.fail.count(call) != 0; });
}

const GpuProfile* SimulatedNvApi::Gpu(platform::NvGpuHandle handle) const {
  if (handle == 0 || handle > gpus_.size()) return nullptr;
  return &gpus_[handle - 1];
}

int32_t SimulatedNvApi::Initialize() {
  if (gpus_.empty()) return platform::kNvLibraryNotFound;
  return Fails("Initialize") ? platform::kNvError : platform::kNvOk;
}

int32_t SimulatedNvApi::EnumPhysicalGPUs(platform::NvGpuHandle handles[], uint32_t* count) {
  if (gpus_.empty()) return platform::kNvApiNotInitialized;
  if (Fails("EnumPhysicalGPUs")) return platform::kNvDeviceNotFound;
  const size_t n = std::min(gpus_.size(), platform::kNvMaxPhysicalGpus);
  for (size_t i = 0; i < n; ++i) handles[i] = i + 1;
  *count = static_cast<uint32_t>(n);
  return platform::kNvOk;
}

#define SIM_NV_GPU(call)                                          \
  const GpuProfile* g = Gpu(gpu);                                 \
  if (g == nullptr) return -8; /* NVAPI_INVALID_HANDLE */         \
  if (g->fail.count(call) != 0) return platform::kNvNotSupported

int32_t SimulatedNvApi::GetFullName(platform::NvGpuHandle gpu, char name[]) {
  SIM_NV_GPU("GetFullName");
  std::memset(name, 0, platform::kNvShortStringChars);
  std::memcpy(name, g->name.data(), std::min(g->name.size(), platform::kNvShortStringChars - 1));
  return platform::kNvOk;
}

int32_t SimulatedNvApi::GetAllClockFrequencies(platform::NvGpuHandle gpu,
                                               platform::NvClockFrequencies* clocks) {
  SIM_NV_GPU("GetAllClockFrequencies");
  if (clocks->version != platform::kNvClockFrequenciesVersion) return -9;
  if ((clocks->clock_type_bits & 0xF) != 0) return platform::kNvNotSupported;  // base, boost
  clocks->domain[platform::kNvClockGraphics] = {1, g->clock_khz};
  clocks->domain[platform::kNvClockMemory] = {1, g->memory_clock_khz};
  return platform::kNvOk;
}

int32_t SimulatedNvApi::GetDynamicPstatesInfoEx(platform::NvGpuHandle gpu,
                                                platform::NvDynamicPstatesInfoEx* info) {
  SIM_NV_GPU("GetDynamicPstatesInfoEx");
  if (info->version != platform::kNvDynamicPstatesInfoExVersion) return -9;
  info->flags = 1;  // dynamic P-states enabled
  info->utilization[0] = {1, static_cast<uint32_t>(g->usage)};
  return platform::kNvOk;
}

int32_t SimulatedNvApi::GetPstates20(platform::NvGpuHandle gpu, platform::NvPstates20Info* info) {
  SIM_NV_GPU("GetPstates20");
  if (info->version != platform::kNvPstates20InfoVersion) return -9;
  std::lock_guard lock(mutex_);
  const auto [graphics, memory] = deltas_[gpu - 1];
  info->editable_bits = 1;
  info->num_pstates = 1;
  info->num_clocks = 2;
  platform::NvPstates20Info::Pstate& p0 = info->pstates[0];
  p0.pstate_id = 0;
  p0.editable_bits = 1;
  p0.clocks[0] = {platform::kNvClockGraphics, 1, 1, {graphics, -1000000, 1000000},
                  g->clock_khz, static_cast<uint32_t>(g->max_clock_khz + graphics),
                  platform::kNvClockGraphics, 0, 0};
  p0.clocks[1] = {platform::kNvClockMemory, 0, 1, {memory, -1000000, 1000000},
                  static_cast<uint32_t>(g->memory_clock_khz + memory), 0, 0, 0, 0};
  return platform::kNvOk;
}

int32_t SimulatedNvApi::SetPstates20(platform::NvGpuHandle gpu,
                                     const platform::NvPstates20Info* info) {
  SIM_NV_GPU("SetPstates20");
  if (info->version != platform::kNvPstates20InfoVersion) return -9;
  if (info->num_pstates != 1 || info->pstates[0].pstate_id != 0) return platform::kNvInvalidArgument;
  std::lock_guard lock(mutex_);
  ++set_pstates_calls_;
  for (uint32_t c = 0; c < info->num_clocks && c < 8; ++c) {
    const platform::NvPstates20Info::Clock& clock = info->pstates[0].clocks[c];
    if ((clock.editable_bits & 1) == 0) continue;
    if (clock.domain_id == platform::kNvClockGraphics) {
      deltas_[gpu - 1].first = clock.freq_delta_khz.value;
    } else if (clock.domain_id == platform::kNvClockMemory) {
      deltas_[gpu - 1].second = clock.freq_delta_khz.value;
    }
  }
  return platform::kNvOk;
}

int32_t SimulatedNvApi::GetThermalSettings(platform::NvGpuHandle gpu, uint32_t sensor_index,
                                           platform::NvThermalSettings* settings) {
  SIM_NV_GPU("GetThermalSettings");
  if (settings->version != platform::kNvThermalSettingsVersion) return -9;
  if (sensor_index != platform::kNvThermalAllSensors && sensor_index >= g->temperatures.size()) {
    return platform::kNvInvalidArgument;
  }
  settings->count = static_cast<uint32_t>(g->temperatures.size());
  for (size_t i = 0; i < g->temperatures.size(); ++i) {
    settings->sensor[i] = {1, -40, 127, g->temperatures[i], 1};
  }
  return platform::kNvOk;
}

int32_t SimulatedNvApi::GetVbiosOEMRevision(platform::NvGpuHandle gpu, uint32_t* revision) {
  SIM_NV_GPU("GetVbiosOEMRevision");
  *revision = g->vbios_revision;
  return platform::kNvOk;
}

#undef SIM_NV_GPU

int32_t SimulatedNvApi::GetCoprocStatus(uint32_t* status, uint32_t* state) {
  if (gpus_.empty()) return platform::kNvApiNotInitialized;
  if (Fails("GetCoprocStatus")) return platform::kNvNotSupported;
  *status = 0;
  *state = gpus_.front().coproc_state;
  return platform::kNvOk;
}

std::pair<int32_t, int32_t> SimulatedNvApi::applied_deltas(size_t index) const {
  std::lock_guard lock(mutex_);
  return deltas_.at(index);
}

size_t SimulatedNvApi::set_pstates_calls() const {
  std::lock_guard lock(mutex_);
  return set_pstates_calls_;
}

// ---- ADLX -----------------------------------------------------------------------------------

SimulatedAdlx::SimulatedAdlx(const std::vector<GpuProfile>& gpus)
    : gpus_(OfVendor(gpus, GpuVendor::kAmd)) {}

bool SimulatedAdlx::Fails(const char* call) const {
  return std::any_of(gpus_.begin(), gpus_.end(),
                     [call](const GpuProfile& g) { return g.fail.count(call) != 0; });
}

int32_t SimulatedAdlx::New(Kind kind, size_t gpu, AdlxObject* out) {
  const AdlxObject id = next_object_++;
  objects_[id] = Object{kind, gpu};
  *out = id;
  return platform::kAdlxOk;
}

const GpuProfile* SimulatedAdlx::Of(AdlxObject object, Kind kind) const {
  const auto it = objects_.find(object);
  if (it == objects_.end() || it->second.kind != kind) return nullptr;
  return &gpus_[it->second.gpu];
}

int32_t SimulatedAdlx::Initialize() {
  std::lock_guard lock(mutex_);
  // No AMD GPU: the library is not installed, so its entry points are missing.
  if (gpus_.empty() || Fails("Initialize")) return platform::kAdlxFail;
  if (initialized_) return platform::kAdlxAlreadyInitialized;
  initialized_ = true;
  return platform::kAdlxOk;
}

int32_t SimulatedAdlx::Terminate() {
  std::lock_guard lock(mutex_);
  if (!initialized_) return platform::kAdlxOk;
  initialized_ = false;
  return platform::kAdlxOk;
}

int32_t SimulatedAdlx::GetGPUs(AdlxObject* list) {
  std::lock_guard lock(mutex_);
  if (!initialized_ || Fails("GetGPUs")) return platform::kAdlxFail;
  return New(Kind::kList, 0, list);
}

int32_t SimulatedAdlx::GetPerformanceMonitoringServices(AdlxObject* services) {
  std::lock_guard lock(mutex_);
  if (!initialized_ || Fails("GetPerformanceMonitoringServices")) return platform::kAdlxFail;
  return New(Kind::kServices, 0, services);
}

uint32_t SimulatedAdlx::ListSize(AdlxObject list) {
  std::lock_guard lock(mutex_);
  const auto it = objects_.find(list);
  return it != objects_.end() && it->second.kind == Kind::kList
             ? static_cast<uint32_t>(gpus_.size())
             : 0;
}

bool SimulatedAdlx::ListEmpty(AdlxObject list) { return ListSize(list) == 0; }

int32_t SimulatedAdlx::ListAt(AdlxObject list, uint32_t index, AdlxObject* gpu) {
  std::lock_guard lock(mutex_);
  const auto it = objects_.find(list);
  if (it == objects_.end() || it->second.kind != Kind::kList) return platform::kAdlxInvalidArgs;
  if (index >= gpus_.size()) return platform::kAdlxInvalidArgs;  // ADLX_OUT_OF_RANGE is not named
  if (gpus_[index].fail.count("ListAt") != 0) return platform::kAdlxFail;
  return New(Kind::kGpu, index, gpu);
}

int32_t SimulatedAdlx::GpuName(AdlxObject gpu, std::string* name) {
  std::lock_guard lock(mutex_);
  const GpuProfile* g = Of(gpu, Kind::kGpu);
  if (g == nullptr) return platform::kAdlxInvalidArgs;
  if (g->fail.count("GpuName") != 0) return platform::kAdlxFail;
  *name = g->name;
  return platform::kAdlxOk;
}

int32_t SimulatedAdlx::GetCurrentGPUMetrics(AdlxObject services, AdlxObject gpu,
                                            AdlxObject* metrics) {
  std::lock_guard lock(mutex_);
  const auto it = objects_.find(gpu);
  if (!objects_.count(services) || it == objects_.end() || it->second.kind != Kind::kGpu) {
    return platform::kAdlxInvalidArgs;
  }
  if (gpus_[it->second.gpu].fail.count("GetCurrentGPUMetrics") != 0) return platform::kAdlxFail;
  return New(Kind::kMetrics, it->second.gpu, metrics);
}

int32_t SimulatedAdlx::GetSupportedGPUMetrics(AdlxObject services, AdlxObject gpu,
                                              AdlxObject* support) {
  std::lock_guard lock(mutex_);
  const auto it = objects_.find(gpu);
  if (!objects_.count(services) || it == objects_.end() || it->second.kind != Kind::kGpu) {
    return platform::kAdlxInvalidArgs;
  }
  if (gpus_[it->second.gpu].fail.count("GetSupportedGPUMetrics") != 0) return platform::kAdlxFail;
  return New(Kind::kSupport, it->second.gpu, support);
}

int32_t SimulatedAdlx::IsSupported(AdlxObject support, AdlxMetric metric, bool* supported) {
  std::lock_guard lock(mutex_);
  const GpuProfile* g = Of(support, Kind::kSupport);
  if (g == nullptr) return platform::kAdlxInvalidArgs;
  if (g->fail.count("IsSupported") != 0) return platform::kAdlxFail;
  *supported = g->unsupported.count(MetricName(metric)) == 0;
  return platform::kAdlxOk;
}

int32_t SimulatedAdlx::GetRange(AdlxObject support, AdlxMetric metric, int32_t* min,
                                int32_t* max) {
  std::lock_guard lock(mutex_);
  const GpuProfile* g = Of(support, Kind::kSupport);
  if (g == nullptr || metric == AdlxMetric::kTemperature) return platform::kAdlxInvalidArgs;
  if (g->fail.count("GetRange") != 0) return platform::kAdlxFail;
  if (g->unsupported.count(MetricName(metric)) != 0) return platform::kAdlxNotSupported;
  const int32_t* range = metric == AdlxMetric::kUsage        ? g->usage_range
                         : metric == AdlxMetric::kClockSpeed ? g->clock_range
                                                             : g->power_range;
  *min = range[0];
  *max = range[1];
  return platform::kAdlxOk;
}

int32_t SimulatedAdlx::GPUClockSpeed(AdlxObject metrics, int32_t* mhz) {
  std::lock_guard lock(mutex_);
  const GpuProfile* g = Of(metrics, Kind::kMetrics);
  if (g == nullptr) return platform::kAdlxInvalidArgs;
  if (g->fail.count("GPUClockSpeed") != 0) return platform::kAdlxFail;
  if (g->unsupported.count("clock") != 0) return platform::kAdlxNotSupported;
  *mhz = g->clock_mhz;
  return platform::kAdlxOk;
}

int32_t SimulatedAdlx::MetricValue(AdlxObject metrics, AdlxMetric metric, double* value) {
  std::lock_guard lock(mutex_);
  const GpuProfile* g = Of(metrics, Kind::kMetrics);
  if (g == nullptr || metric == AdlxMetric::kClockSpeed) return platform::kAdlxInvalidArgs;
  if (g->fail.count("MetricValue") != 0) return platform::kAdlxFail;
  if (g->unsupported.count(MetricName(metric)) != 0) return platform::kAdlxNotSupported;
  *value = metric == AdlxMetric::kUsage         ? g->usage
           : metric == AdlxMetric::kTemperature ? g->temperature
                                                : g->power;
  return platform::kAdlxOk;
}

void SimulatedAdlx::Release(AdlxObject object) {
  std::lock_guard lock(mutex_);
  objects_.erase(object);
}

size_t SimulatedAdlx::live_objects() const {
  std::lock_guard lock(mutex_);
  return objects_.size();
}

}  // namespace sim
