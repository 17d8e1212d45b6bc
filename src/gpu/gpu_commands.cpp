#include "gpu/gpu_commands.h"

#include <string_view>

#include "gpu/gpu_monitor.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"

namespace ironbark {
namespace {

void Answer(ironbark::CommandResponse& response, int32_t value) {
  ironbark::BuildResponse(response, {{&value, sizeof value}});
}

void Log(std::string_view op, const char* format, int value) {
  LogProcessor(op, FormatMessageSized(kHandlerMessageChars, format, value));
}

uint32_t GraphicIndex(std::string_view op, const ironbark::CommandRequest& request) {
  uint32_t index = 0;
  if (request.HasArgument(0) && request.ArgumentLength(0) <= 4) index = request.ArgumentU32(0);
  Log(op, "Graphic card index: %d", static_cast<int>(index));
  return index;
}

// A metric of the indexed GPU: the vendor's query of `nvidia_type` / `amd_type`; a negative
// answer becomes -1.
void MetricCommand(std::string_view op, const ironbark::CommandRequest& request,
                   ironbark::CommandResponse& response, int32_t nvidia_type, int32_t amd_type,
                   const char* response_line) {
  const uint32_t index = GraphicIndex(op, request);
  int32_t value = -1;
  if (g_NvidiaGPUSupport.load() == 1) {
    get_nvidia_monitor_value(nvidia_type, index, &value);
  } else if (g_AMDGPUSupport.load() == 1) {
    get_amd_monitor_value(amd_type, index, &value);
  }
  if (value < 0) value = -1;
  Answer(response, value);
  Log(op, response_line, value);
}

}  // namespace

void GpuCommands::gpu_get_count(const ironbark::CommandRequest&,
                                ironbark::CommandResponse& response) {
  int32_t count = 0;
  if (g_NvidiaGPUSupport.load() == 1) {
    get_nvidia_monitor_value(kNvGpuCount, 0, &count);
  } else if (g_AMDGPUSupport.load() == 1) {
    get_amd_monitor_value(kAmdGpuCount, 0, &count);
  }
  Answer(response, count);
  Log("gpu_get_count", "Rsponse count: %d", count);
}

void GpuCommands::gpu_get_idle_state(const ironbark::CommandRequest&,
                                     ironbark::CommandResponse& response) {
  int32_t state = -1;
  if (g_NvidiaGPUSupport.load() == 1) {
    state = nvidia_get_coproc_status();
  } else if (g_AMDGPUSupport.load() == 1) {
    if (get_amd_monitor_value(kAmdActivity, 0, &state) == 0) state = 1;  // failed: active
  }
  Answer(response, state);
  Log("gpu_get_idle_state", "Rsponse state: %d", state);
}

void GpuCommands::gpu_get_frequency(const ironbark::CommandRequest& request,
                                    ironbark::CommandResponse& response) {
  MetricCommand("gpu_get_frequency", request, response, kNvGraphicsClock, kAmdGraphicsClock,
                "Rsponse gpu_frequency: %d");
}

void GpuCommands::gpu_get_max_frequency(const ironbark::CommandRequest& request,
                                        ironbark::CommandResponse& response) {
  MetricCommand("gpu_get_max_frequency", request, response, kNvMaxGraphicsClock,
                kAmdMaxGraphicsClock, "Rsponse gpu_max_frequency: %d");
}

void GpuCommands::gpu_get_usage(const ironbark::CommandRequest& request,
                                ironbark::CommandResponse& response) {
  MetricCommand("gpu_get_usage", request, response, kNvUtilization, kAmdUtilization,
                "Rsponse gpu_usage: %d");
}

}  // namespace ironbark
