// What the dispatcher knows of a command, and the command processor's own pipe operations.
//
// Every command-pipe handler is a static operation of ironbark::IbClientCommandProcessor. Each
// subsystem declares its share in a struct of its own (this header the pipe's, PipeOperations);
// app/command_catalogue.h assembles the class from them and lists every command in one
// catalogue, from which the dispatcher's table is derived.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "pipe/protocol.h"

class NamedPipeServer;

namespace ironbark {

// A command handler: reads its arguments from the request and sets the response (leaving it
// absent writes nothing back).
using CommandHandler = void (*)(const ironbark::CommandRequest& request,
                                ironbark::CommandResponse& response);

// One command as the dispatcher runs it.
struct CommandEntry {
  CommandHandler handler;
  // The handler's name: its log lines carry "ironbark::IbClientCommandProcessor::" + operation.
  const char* operation;
  // Logged (INFO, under the operation) right before the handler runs; null for a command that
  // logs no entry line.
  const char* log_name = nullptr;
  // For a command that must not overlap with itself: held from before the entry line until the
  // handler returns. Null for the others.
  std::mutex* lock = nullptr;
};

// Command code (the 16-bit wire code zero-extended) to its entry.
using CommandTable = std::unordered_map<uint32_t, CommandEntry>;

// Runs one command the way the dispatcher does: takes the entry's lock, logs the entry line,
// calls the handler. An exception of the handler passes through.
void RunCommand(const CommandEntry& entry, const ironbark::CommandRequest& request,
                ironbark::CommandResponse& response);

// The dispatcher loop of one connection over `table`: reads requests, answers them and returns
// when the connection ends. Does not close `pipe`.
void ServeCommands(NamedPipeServer& pipe, const CommandTable& table);

struct PipeOperations {
  // Serves one connection of the command pipe over `table` until it ends; owns and destroys
  // `pipe`.
  static void process_pipe(std::unique_ptr<NamedPipeServer> pipe, const CommandTable& table);

  // Command 0: answers a text describing the arguments, for diagnostics.
  static void dump_arguments(const ironbark::CommandRequest& request,
                             ironbark::CommandResponse& response);
};

}  // namespace ironbark
