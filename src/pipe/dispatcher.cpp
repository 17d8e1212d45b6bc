#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

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
    // Formatted only for a log that takes it: with logging off this is every answer's cost.
    if (g_LogFile.load() != nullptr) {
      LogLine(kLogInfo, kProcessPipe, FormatMessage64("Response namedpipe error: %d", error));
    }
    if (error != 0) break;
  }
}

namespace {

// Appends ASCII text, given in pieces, in the wire's UTF-16LE.
void AppendWireAscii(std::vector<uint8_t>& wire, std::initializer_list<std::string_view> pieces) {
  for (const std::string_view piece : pieces) {
    size_t at = wire.size();
    wire.resize(at + 2 * piece.size());
    for (const char c : piece) {
      wire[at++] = static_cast<uint8_t>(c);
      wire[at++] = 0;
    }
  }
}

}  // namespace

void PipeOperations::dump_arguments(const ironbark::CommandRequest& request,
                                    ironbark::CommandResponse& response) {
  // The text is "Number of arguments: %d\n", then per argument "arg%d size: %d, content: ",
  // "%02x " per byte and a line feed, each piece as if formatted into 64 wide characters. Every
  // piece is ASCII and far shorter than that (the longest, "arg254 size: 16777216, content: ",
  // has 32 characters: a message never exceeds platform::kMaxPipeMessageBytes), so none is ever
  // cut, and the text goes straight into UTF-16LE without a formatter.
  static constexpr char kHexDigits[] = "0123456789abcdef";
  size_t units = 32;
  for (size_t i = 0; i < request.argument_count(); ++i) units += 40 + 3 * request.ArgumentLength(i);
  std::vector<uint8_t> wire;
  wire.reserve(2 * units + 2);
  AppendWireAscii(wire, {"Number of arguments: ", std::to_string(request.argument_count()), "\n"});
  for (size_t i = 0; i < request.argument_count(); ++i) {
    const auto argument = request.Argument(i);
    AppendWireAscii(wire, {"arg", std::to_string(i), " size: ", std::to_string(argument.size()),
                           ", content: "});
    for (const uint8_t byte : argument) {
      const char pair[3] = {kHexDigits[byte >> 4], kHexDigits[byte & 0xF], ' '};
      AppendWireAscii(wire, {std::string_view(pair, sizeof pair)});
    }
    AppendWireAscii(wire, {"\n"});
  }
  wire.push_back(0);  // the terminating zero
  wire.push_back(0);
  ironbark::BuildResponse(response, {{wire.data(), static_cast<uint32_t>(wire.size())}});
}

}  // namespace ironbark
