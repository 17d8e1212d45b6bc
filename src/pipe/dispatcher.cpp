#include <exception>
#include <vector>

#include "base/text.h"
#include "base/win_codes.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/command_processor.h"
#include "pipe/connection_context.h"
#include "pipe/handler_log.h"
#include "pipe/named_pipe.h"
#include "platform/services.h"

namespace ironbark {
namespace {

constexpr const char* kProcessPipe = "ironbark::IbClientCommandProcessor::process_pipe";

// Runs the command; a handler that throws must not take the process down. Its connection is
// then ended without an answer: the command's effect is unknown and no answer can be trusted.
bool RunHandler(const CommandEntry& entry, const ironbark::CommandRequest& request,
                ironbark::CommandResponse& response) {
  try {
    RunCommand(entry, request, response);
    return true;
  } catch (const std::exception& e) {
    LogLine(kLogError, kProcessPipe,
            FormatMessageSized(256, "Command %d failed: %s", request.code(), e.what()));
  } catch (...) {
    LogLine(kLogError, kProcessPipe,
            FormatMessageSized(256, "Command %d failed: unknown exception", request.code()));
  }
  return false;
}

}  // namespace

void RunCommand(const CommandEntry& entry, const ironbark::CommandRequest& request,
                ironbark::CommandResponse& response) {
  std::unique_lock<std::mutex> lock;
  if (entry.lock != nullptr) lock = std::unique_lock<std::mutex>(*entry.lock);
  if (entry.log_name != nullptr) LogProcessor(entry.operation, entry.log_name);
  entry.handler(request, response);
}

void PipeOperations::process_pipe(std::unique_ptr<NamedPipeServer> pipe,
                                  const CommandTable& table) {
  ServeCommands(*pipe, table);
  pipe->Close();
}

void ServeCommands(NamedPipeServer& pipe, const CommandTable& table) {
  // The client is known from the moment it connected; the handlers of this connection run on
  // this thread and find the context there.
  ConnectionContext context;
  context.client_process_id = pipe.handle->ClientProcessId();
  context.from_this_process = context.client_process_id == 0 ||
                              context.client_process_id == platform::Pipes().CurrentProcessId();
  const ScopedConnectionContext scope(context);

  std::vector<uint8_t> buffer(512, 0);
  for (;;) {
    uint32_t size = 0;
    if (ReceivePipeMessage(*pipe.handle, buffer, &size) != 0) break;
    if (size < ironbark::kRequestHeaderSize) break;

    const uint16_t code = ironbark::RequestCode(buffer.data());
    const auto entry = table.find(code);
    if (entry == table.end()) {
      LogLine(kLogError, kProcessPipe, FormatMessage64("Unknown namedpipe command code: %d", code));
      break;
    }

    std::optional<ironbark::CommandRequest> request;
    if (ironbark::ParseRequest(buffer.data(), size, &request) != ironbark::ParseStatus::kOk) break;

    ironbark::CommandResponse response;
    if (!RunHandler(entry->second, *request, response)) break;
    if (!response.present) continue;

    uint32_t written = 0;
    uint32_t error = pipe.handle->Write(response.bytes.data(),
                                         static_cast<uint32_t>(response.bytes.size()), &written);
    if (error == 0 && written != response.bytes.size()) error = win::kErrorWriteFault;
    LogLine(kLogInfo, kProcessPipe, FormatMessage64("Response namedpipe error: %d", error));
    if (error != 0) break;
  }
}

void PipeOperations::dump_arguments(const ironbark::CommandRequest& request,
                                    ironbark::CommandResponse& response) {
  std::string dump = FormatMessage64("Number of arguments: %d\n",
                                     static_cast<int>(request.argument_count()));
  for (size_t i = 0; i < request.argument_count(); ++i) {
    const auto argument = request.Argument(i);
    dump += FormatMessage64("arg%d size: %d, content: ", static_cast<int>(i),
                            static_cast<int>(argument.size()));
    for (uint8_t byte : argument) dump += FormatMessage64("%02x ", byte);
    dump += FormatMessage64("\n");
  }
  const std::vector<uint8_t> wire = text::ToWireText(dump);
  ironbark::BuildResponse(response, {{wire.data(), static_cast<uint32_t>(wire.size())}});
}

}  // namespace ironbark
