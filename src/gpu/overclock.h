// GPU overclock levels: the clock offsets a model's INI file lists per GPU, read once at start
// (search_cpu_gpu_oc_support) and applied whenever the operation mode changes
// (gpu_set_oc_level). Log lines go under the function's own name.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// 1 once the machine's GPU was found in the INI file; never cleared.
extern std::atomic<int32_t> g_GPUOCSupport;

// The offsets in MHz: [level][0] graphics, [level][1] memory, levels 0 (Quiet) to 3 (Turbo).
// Each cell is written whole (atomically) once, on the survey thread.
double GpuOcOffset(uint32_t level, int memory);

// Reads the INI file of `model_name` (the executable's directory, a backslash, the model and
// ".ini"; "C:\ProgramData\oem\Calvane\VexorHelm.ini" instead when that exists), matches the
// listed GPUs against the present display adapters, fills the table and writes
// HKLM "SOFTWARE\OEM\Calvane\Overclock" "GPU_OC_Support" = 1 when one matched.
void search_cpu_gpu_oc_support(std::string model_name);

// 1 when one of `names` occurs (case-sensitively) in the first hardware ID of a present display
// adapter, with *index its position in `names`; adapters in enumeration order, names in list
// order, the first hit wins. 0 otherwise, *index untouched.
int find_gpu_device(std::vector<std::string> names, int32_t* index);

// Applies the clock offsets of `level` (0..3; any other level: 0, the stock clocks) to every
// NVIDIA GPU; on AMD machines only logs. Never fails towards the caller: whatever happens is
// only logged. Callable from any thread; takes no lock.
void gpu_set_oc_level(uint32_t level);

// 1 when every present NVIDIA GPU was handled, 0 at the first failure.
int nvidiaOC_set_oclevel(uint32_t level);

// For tests: the table, the flag back to their start values.
void ResetGpuOverclockForTest();
