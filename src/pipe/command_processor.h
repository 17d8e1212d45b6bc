// The command processor: every command-pipe handler is one of its static operations, spread
// over the subsystem folders that own them.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "pipe/protocol.h"

class NamedPipeServer;

namespace ironbark {


// A command handler: reads its arguments from the request and sets the response (leaving it
// absent writes nothing back).
using CommandHandler = void (*)(const pipeproto::CommandRequest& request,
                                pipeproto::CommandResponse& response);

class IbClientCommandProcessor {
 public:
  // Serves one connection of the command pipe until it ends; owns and destroys `pipe`.
  static void process_pipe(std::unique_ptr<NamedPipeServer> pipe);

  // Command 0: answers a text describing the arguments, for diagnostics.
  static void dump_arguments(const pipeproto::CommandRequest& request,
                             pipeproto::CommandResponse& response);
};

using CommandTable = std::unordered_map<uint32_t, CommandHandler>;

// The dispatcher loop of one connection over `table` (process_pipe passes g_CommandHandlers):
// reads requests, answers them and returns when the connection ends. Does not close `pipe`.
void ServeCommands(NamedPipeServer& pipe, const CommandTable& table);

}  // namespace ironbark

// Command code (the 16-bit wire code zero-extended) to handler; filled at static
// initialisation, read-only afterwards.
extern const ironbark::CommandTable g_CommandHandlers;
