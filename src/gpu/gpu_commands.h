// The five GPU commands of the command pipe (codes 8 to 12). Each answers one little-endian
// 32-bit value and logs under "ironbark::IbClientCommandProcessor::" + its name. The vendor is
// the one check_gpu_name found (gpu/gpu_monitor.h), NVIDIA first; without one the count answers
// 0 and the others -1.
//
// The graphic card index is argument 0 as a 32-bit little-endian number; an argument longer
// than 4 bytes, or none at all, counts as index 0.
#pragma once
#include "pipe/protocol.h"

namespace ironbark {

struct GpuCommands {
  // 8: the number of GPUs; 0 when no vendor was found or the query failed.
  static void gpu_get_count(const ironbark::CommandRequest& request,
                            ironbark::CommandResponse& response);
  // 9: NVIDIA: the coprocessor state (-1 when it cannot be read); AMD: 1 active, 0 idle, 1 when
  // the query failed; -1 without a vendor.
  static void gpu_get_idle_state(const ironbark::CommandRequest& request,
                                 ironbark::CommandResponse& response);
  // 10, 11, 12: current graphics clock (MHz), maximum graphics clock (MHz), utilisation
  // (percent) of the indexed GPU; -1 when unknown.
  static void gpu_get_frequency(const ironbark::CommandRequest& request,
                                ironbark::CommandResponse& response);
  static void gpu_get_max_frequency(const ironbark::CommandRequest& request,
                                    ironbark::CommandResponse& response);
  static void gpu_get_usage(const ironbark::CommandRequest& request,
                            ironbark::CommandResponse& response);
};

}  // namespace ironbark
