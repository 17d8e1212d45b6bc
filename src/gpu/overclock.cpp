#include "gpu/overclock.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>

#include "base/text.h"
#include "gpu/gpu_monitor.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "platform/services.h"
#include "registry/registry_values.h"

std::atomic<int32_t> g_GPUOCSupport{0};

namespace {

constexpr size_t kMessageChars = 256;
constexpr size_t kProfileChars = 260;
constexpr const char* kNull = "NULL";
constexpr const char* kProgramDataIni = "C:\\ProgramData\\oem\\Calvane\\VexorHelm.ini";
constexpr const char* kOverclockKey = "SOFTWARE\\OEM\\Calvane\\Overclock";
constexpr int kAttempts = 5;
constexpr auto kRetryPause = std::chrono::milliseconds(100);

// g_GPUOCTable: [level][graphics, memory], MHz.
std::atomic<double> g_GPUOCTable[4][2];

// The twelve keys in reading order, their cells and log lines.
struct OcKey {
  const char* key;
  int level;
  int memory;
  const char* line;
};
constexpr OcKey kOcKeys[] = {
    {"Quiet", 0, 0, "GPU Quiet overclock frequency: %f"},
    {"Default", 1, 0, "GPU Default overclock frequency: %f"},
    {"Balanced", 1, 0, "GPU Balanced overclock frequency: %f"},
    {"Extreme", 2, 0, "GPU Extreme overclock frequency: %f"},
    {"Performance", 2, 0, "GPU Performance overclock frequency: %f"},
    {"Turbo", 3, 0, "GPU Turbo overclock frequency: %f"},
    {"RAM_Quiet", 0, 1, "GPU RAM_Quiet overclock frequency: %f"},
    {"RAM_Default", 1, 1, "GPU RAM_Default overclock frequency: %f"},
    {"RAM_Balanced", 1, 1, "GPU RAM_Balanced overclock frequency: %f"},
    {"RAM_Extreme", 2, 1, "GPU RAM_Extreme overclock frequency: %f"},
    {"RAM_Performance", 2, 1, "GPU RAM_Performance overclock frequency: %f"},
    {"RAM_Turbo", 3, 1, "GPU RAM_Turbo overclock frequency: %f"},
};

void Log(const char* function, const std::string& message, int level = kLogInfo) {
  LogLine(level, function, message);
}

std::string ReadIni(const std::string& path, std::string_view section, std::string_view key) {
  return platform::Files().GetPrivateProfileStringW(section, key, kNull, kProfileChars, path);
}

// A reading of the VBIOS OEM revision before each P-state call; only its failure is logged.
void ReadVbiosRevision(platform::NvGpuHandle gpu) {
  uint32_t revision = 0;
  if (platform::Nvidia().GetVbiosOEMRevision(gpu, &revision) != platform::kNvOk) {
    Log("nvidiaOC_set_oclevel", "NvAPI_GPU_GetVbiosOEMRevision() fail", kLogError);
  }
}

// Up to five attempts of `call`, each logging "<name>() try count: N" and reading the VBIOS
// revision first, 100 ms after each failure (the last one included).
template <typename Call>
bool Attempts(const char* name, platform::NvGpuHandle gpu, Call call) {
  constexpr const char* kFn = "nvidiaOC_set_oclevel";
  int attempt = 0;
  const bool done = platform::RetryWithPause(kAttempts, kRetryPause, [&] {
    Log(kFn, FormatMessageSized(kMessageChars, "%s() try count: %d", name, attempt++));
    ReadVbiosRevision(gpu);
    if (call() == platform::kNvOk) return true;
    Log(kFn, FormatMessageSized(kMessageChars, "%s() fail", name), kLogError);
    return false;
  });
  if (done) return true;
  Log(kFn, FormatMessageSized(kMessageChars, "%s() fail", name), kLogError);
  return false;
}

}  // namespace

double GpuOcOffset(uint32_t level, int memory) {
  return level < 4 ? g_GPUOCTable[level][memory != 0 ? 1 : 0].load() : 0.0;
}

void search_cpu_gpu_oc_support(std::string model_name) {
  constexpr const char* kFn = "search_cpu_gpu_oc_support";
  std::string path = FormatPath260("%s\\%s.ini", platform::Launcher().ModuleDirectory().c_str(),
                                   model_name.c_str());
  if (platform::Files().PathExists(kProgramDataIni)) path = kProgramDataIni;
  Log(kFn, FormatMessageSized(kMessageChars, "VH_INI_FILE_PATH: %s", path.c_str()));
  const std::string count_text = ReadIni(path, "OC_GPU", "Count");
  Log(kFn, FormatMessageSized(kMessageChars, "OC_GPU->Count: %s", count_text.c_str()));
  const int32_t count = text::LeadingDecimal(count_text);
  if (count_text == kNull || count == 0) return;
  std::vector<std::string> names;
  for (int32_t i = 1; i <= count; ++i) {
    const std::string key = FormatMessageSized(kProfileChars, "GPUName%d", i);
    std::string name = ReadIni(path, "OC_GPU", key);
    Log(kFn, FormatMessageSized(kMessageChars, "OC_GPU->%s: %s", key.c_str(), name.c_str()));
    names.push_back(std::move(name));
  }
  int32_t index = -1;
  if (find_gpu_device(names, &index) == 0) return;
  g_GPUOCSupport.store(1);
  const std::string& section = names.at(static_cast<size_t>(index));
  for (const OcKey& k : kOcKeys) {
    const std::string value = ReadIni(path, section, k.key);
    if (value == kNull) continue;
    const double mhz = text::LeadingFloat(value);
    g_GPUOCTable[k.level][k.memory].store(mhz);
    Log(kFn, FormatMessageSized(kMessageChars, k.line, mhz));
  }
  write_reg_dword(kOverclockKey, "GPU_OC_Support", 1);
}

int find_gpu_device(std::vector<std::string> names, int32_t* index) {
  constexpr const char* kFn = "find_gpu_device";
  Log(kFn, "find_gpu_device() - start");
  std::vector<std::optional<std::string>> adapters;
  if (!platform::Devices().ListDisplayAdapters(&adapters)) {
    Log(kFn, "hDevInfo not found handle", kLogError);
    return 0;
  }
  for (const std::optional<std::string>& id : adapters) {
    if (!id) continue;  // the property could not be read
    for (size_t n = 0; n < names.size(); ++n) {
      if (id->find(names[n]) == std::string::npos) continue;
      *index = static_cast<int32_t>(n);
      Log(kFn, FormatMessageSized(kMessageChars, "Find the same GPU HWID: %s", id->c_str()));
      Log(kFn, "find_gpu_device() - end");
      return 1;
    }
  }
  Log(kFn, "find_gpu_device() - end");
  return 0;
}

int nvidiaOC_set_oclevel(uint32_t level) {
  constexpr const char* kFn = "nvidiaOC_set_oclevel";
  Log(kFn, "nvidiaOC_set_oclevel() - start");
  Log(kFn, FormatMessageSized(kMessageChars, "Overclock level flag: %d", static_cast<int>(level)));
  const double graphics_khz = GpuOcOffset(level, 0) * 1000.0;
  const double memory_khz = GpuOcOffset(level, 1) * 1000.0;
  platform::NvApi& nv = platform::Nvidia();
  if (nv.Initialize() != platform::kNvOk) {
    Log(kFn, "NvAPI_Initialize() fail", kLogError);
    return 0;
  }
  platform::NvGpuHandle handles[platform::kNvMaxPhysicalGpus] = {};
  uint32_t count = 0;
  if (nv.EnumPhysicalGPUs(handles, &count) != platform::kNvOk) {
    Log(kFn, "NvAPI_EnumPhysicalGPUs() fail", kLogError);
    return 0;
  }
  // One read structure for every GPU and attempt.
  auto read = std::make_unique<platform::NvPstates20Info>();
  std::memset(read.get(), 0, sizeof *read);
  read->version = platform::kNvPstates20InfoVersion;
  for (uint32_t i = 0; i < count && i < platform::kNvMaxPhysicalGpus; ++i) {
    Log(kFn, FormatMessageSized(kMessageChars, "Graphic index: %d", static_cast<int>(i)));
    const platform::NvGpuHandle gpu = handles[i];
    if (gpu == 0) {
      Log(kFn, "nvGPUHandle[graphic_index] == NULL", kLogError);
      continue;
    }
    if (!Attempts("NvAPI_GPU_GetPstates20", gpu, [&] { return nv.GetPstates20(gpu, read.get()); })) {
      return 0;
    }
    const int32_t graphics_delta = static_cast<int32_t>(graphics_khz);  // toward zero
    const int32_t memory_delta = static_cast<int32_t>(memory_khz);
    const platform::NvPstates20Info::Pstate& p0 = read->pstates[0];
    Log(kFn, FormatMessageSized(kMessageChars, "Current overclock freqency: %d kHz",
                                static_cast<int>(p0.clocks[0].max_freq_khz)));
    Log(kFn, FormatMessageSized(kMessageChars, "Need shift overclock freqency: %d kHz", graphics_delta));
    Log(kFn, FormatMessageSized(kMessageChars, "Current memory freqency: %d kHz",
                                static_cast<int>(p0.clocks[1].freq_khz)));
    Log(kFn, FormatMessageSized(kMessageChars, "Need shift memory freqency: %d kHz", memory_delta));

    auto write = std::make_unique<platform::NvPstates20Info>();
    std::memset(write.get(), 0, sizeof *write);
    write->version = platform::kNvPstates20InfoVersion;
    write->editable_bits = 1;
    write->num_pstates = 1;
    write->num_clocks = 2;
    write->num_base_voltages = 0;
    platform::NvPstates20Info::Pstate& w0 = write->pstates[0];
    w0.pstate_id = 0;  // P0
    w0.editable_bits = 1;
    w0.clocks[0].domain_id = platform::kNvClockGraphics;
    w0.clocks[0].type_id = 0;  // single frequency
    w0.clocks[0].editable_bits = 1;
    w0.clocks[0].freq_delta_khz.value = graphics_delta;
    w0.clocks[1].domain_id = platform::kNvClockMemory;
    w0.clocks[1].type_id = 0;
    w0.clocks[1].editable_bits = 1;
    w0.clocks[1].freq_delta_khz.value = memory_delta;
    if (!Attempts("NvAPI_GPU_SetPstates20", gpu, [&] { return nv.SetPstates20(gpu, write.get()); })) {
      return 0;
    }
  }
  Log(kFn, "nvidiaOC_set_oclevel() - end");
  return 1;
}

void gpu_set_oc_level(uint32_t level) {
  constexpr const char* kFn = "gpu_set_oc_level";
  Log(kFn, "gpu_set_oc_level");
  if (g_GPUOCSupport.load() == 0) {
    Log(kFn, "Not support GPU overclock", kLogWarning);
    return;
  }
  Log(kFn, FormatMessageSized(kMessageChars, "Input overlock level: %d", static_cast<int>(level)));
  if (g_NvidiaGPUSupport.load() == 1) {
    nvidiaOC_set_oclevel(level);
    return;
  }
  if (g_AMDGPUSupport.load() == 1) {
    // amd_gpu_lib_function: the AMD branch applies nothing.
    constexpr const char* kAmd = "amd_gpu_lib_function";
    Log(kAmd, "amd_gpu_lib_function - start");
    Log(kAmd, FormatMessageSized(kMessageChars, "Input AMDGPULibType: %d", 4));
    Log(kAmd, FormatMessageSized(kMessageChars, "rslt: %d", -1));
    Log(kAmd, "amd_gpu_lib_function - end");
    return;
  }
  Log(kFn, "Not support GPU model", kLogWarning);
}

void ResetGpuOverclockForTest() {
  g_GPUOCSupport.store(0);
  for (auto& row : g_GPUOCTable) {
    for (auto& cell : row) cell.store(0.0);
  }
}
