// quellmark-cli: command-line client of the broker.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/named_mutex.h"

namespace cli {

struct Context {
  std::string root;  // Linux build: the broker's root directory
};

// quellmark-cli send CODE [ARG...]
int RunSend(const Context& context, const std::vector<std::string>& args);
// quellmark-cli NOUN VERB [VALUE]: a named command (named_commands.h)
int RunNamed(const Context& context, const std::vector<std::string>& words);
// quellmark-cli reg query|add|delete ...
int RunReg(const Context& context, const std::vector<std::string>& args);
// quellmark-cli shutdown: asks the running broker to exit (Windows: its Exit menu command;
// Linux: prints that SIGTERM stops the broker and answers 2).
int RunShutdown(const Context& context, const std::vector<std::string>& args);

// quellmark-cli agent listen: serves the agent pipe and prints each event, one line each.
int RunAgent(const Context& context, const std::vector<std::string>& args);

// quellmark-cli sim VERB [ARG...]: acts on the running Linux broker's simulated notebook
// (0 when the broker accepted the request; 1 on an error reply or no broker; 2 usage). The
// Windows build answers 2.
int RunSim(const Context& context, const std::vector<std::string>& args);

// quellmark-cli ec-lock MS: holds the embedded controller's named mutex for MS milliseconds.
int RunEcLock(const Context& context, const std::vector<std::string>& args);
// The machine's named mutexes as a client (not elevated) sees them; Linux: under the root.
std::unique_ptr<platform::NamedMutexes> OpenMutexes(const Context& context);

}  // namespace cli
