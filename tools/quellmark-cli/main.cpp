#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "named_commands.h"

namespace {

void PrintUsage() {
  std::fputs(
      "usage: quellmark-cli [--root DIR] COMMAND ...\n"
      "\n"
      "commands:\n"
      "  send CODE [ARG...]      send one request to the broker and print the answer\n"
      "                          ARG: u32:N  u64:N  str:TEXT (UTF-16LE with NUL)  hex:BYTES  file:PATH\n"
      "  reg query KEY [/v NAME]\n"
      "  reg add KEY [/v NAME] [/t TYPE] [/d DATA] [/f]\n"
      "  reg delete KEY [/v NAME] [/f]\n"
      "                          work on the registry directly (no broker needed)\n"
      "  shutdown                ask the running broker to exit (Windows build)\n"
      "  ec-lock MS              hold the embedded controller's mutex for MS milliseconds\n"
      "  agent listen            play the agent service: print each event the broker sends,\n"
      "                          one line each, until killed\n"
      "  sim VERB [ARG...]       act on the running broker's simulated notebook (Linux build):\n"
      "                          ac plug|unplug, boost on|off, turbo, dp-notice\n"
      "\n"
      "--root DIR defaults to $QUELLMARK_ROOT, else ./quellmark-root.\n"
      "\n"
      "named commands (the answer printed as a number):\n",
      stderr);
  std::fputs(cli::NamedCommandUsage().c_str(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
  cli::Context context;
  const char* env_root = std::getenv("QUELLMARK_ROOT");
  context.root = env_root != nullptr && *env_root != '\0' ? env_root : "quellmark-root";

  int i = 1;
  while (i < argc && std::strncmp(argv[i], "--", 2) == 0) {
    if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
      context.root = argv[i + 1];
      i += 2;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      PrintUsage();
      return 0;
    } else {
      std::fprintf(stderr, "quellmark-cli: unknown option %s\n", argv[i]);
      PrintUsage();
      return 2;
    }
  }
  if (i >= argc) {
    PrintUsage();
    return 2;
  }
  const std::string command = argv[i++];
  const std::vector<std::string> args(argv + i, argv + argc);
  if (command == "send") return cli::RunSend(context, args);
  if (command == "reg") return cli::RunReg(context, args);
  if (command == "shutdown") return cli::RunShutdown(context, args);
  if (command == "ec-lock") return cli::RunEcLock(context, args);
  if (command == "agent") return cli::RunAgent(context, args);
  if (command == "sim") return cli::RunSim(context, args);
  if (cli::IsNamedCommand(command)) {
    std::vector<std::string> words{command};
    words.insert(words.end(), args.begin(), args.end());
    return cli::RunNamed(context, words);
  }
  std::fprintf(stderr, "quellmark-cli: unknown command '%s'\n", command.c_str());
  PrintUsage();
  return 2;
}
