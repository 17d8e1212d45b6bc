// GPU overclock levels: the clock offsets applied when the operation mode changes.
#pragma once
#include <cstdint>

// Applies the clock offsets of `level` (0..3) to the machine's GPUs. Without overclocking
// support it only logs "gpu_set_oc_level" and the warning "Not support GPU overclock". Never
// fails towards the caller: whatever happens is only logged. Callable from any thread.
void gpu_set_oc_level(uint32_t level);
