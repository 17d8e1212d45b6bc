// GPU discovery and monitoring: which vendor's GPU the notebook has (decided once at start by
// check_gpu_name), the names it publishes, and the metric queries behind the GPU commands.
// NVIDIA GPUs are reached through the NVAPI seam, AMD GPUs through the ADLX seam
// (platform/gpu_vendors.h); at most one vendor is ever active, NVIDIA first.
//
// Log lines go under the function's own name ("check_gpu_name", "get_nvidia_monitor_value",
// "get_amd_monitor_value", "nvidia_get_coproc_status").
#pragma once
#include <atomic>
#include <cstdint>

// Set to 1 by check_gpu_name when NVAPI enumerates at least one GPU, resp. when ADLX lists a
// non-empty GPU list (examined only without NVIDIA). Never cleared; read without a lock from
// any thread.
extern std::atomic<int32_t> g_NvidiaGPUSupport;
extern std::atomic<int32_t> g_AMDGPUSupport;

// NVMonitorType: the selector of get_nvidia_monitor_value.
enum NVMonitorType : int32_t {
  kNvGraphicsClock = 0,     // current graphics clock, MHz (kHz / 1000, remainder dropped)
  kNvUtilization = 1,       // GPU utilisation, percent
  kNvMaxGraphicsClock = 2,  // P0's graphics clock range maximum, MHz
  kNvGpuCount = 3,          // the enumerated count
  kNvMaxTemperature = 4,    // the largest sensor temperature, °C, never below 0
};

// AMDGPULibType: the selector of get_amd_monitor_value.
enum AMDGPULibType : int32_t {
  kAmdGraphicsClock = 0,
  kAmdUtilization = 1,
  kAmdMaxGraphicsClock = 2,
  kAmdGpuCount = 3,
  kAmdNone = 4,
  kAmdTemperature = 5,
  kAmdActivity = 6,  // 1 active, 0 idle (the activity test)
};

// Start-up discovery, run once by the survey: "GPU_Name<n>" under HKLM SOFTWARE\OEM\Calvane for
// every GPU whose name reads (n counts from 1; a GPU whose name fails leaves its number unused)
// and the vendor flags.
void check_gpu_name();

// 1 on success (also for a selector outside 0..4, which answers nothing), 0 on failure. *out is
// written only on success of a known selector. Serialised by g_NvidiaMonitorMutex.
int get_nvidia_monitor_value(int32_t type, uint32_t graphic_index, int32_t* out);

// 1 when a value for types 0, 1, 2, 5 or 6 was produced, otherwise 0 (type 3 writes the count
// yet answers 0). *out is written only when a value was produced, except that type 6 first sets
// it to 0. Serialised by g_AMDMonitorMutex.
int get_amd_monitor_value(int32_t type, uint32_t index, int32_t* out);

// NvAPI_Coproc_GetCoprocStatus's state. When the call fails the answer is -1 (the command's
// "unknown" value): the vendor leaves the state unset then. No lock, no NvAPI_Initialize.
int32_t nvidia_get_coproc_status();

// The process-wide ADLX access's end, in the shutdown order: terminates ADLX and unloads its
// library when discovery initialised it; nothing otherwise. Answers ADLXTerminate's result, 0
// when it was not called.
int32_t TerminateAdlxHelper();

// For tests: both vendor flags back to 0 and ADLX forgotten (as at process start).
void ResetGpuDiscoveryForTest();
