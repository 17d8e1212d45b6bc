// quellmark-cli send: one request to the broker's command pipe, its answer printed.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "cli.h"
#include "cli_pipes.h"
#include "named_commands.h"
#include "pipe/named_pipe.h"
#include "platform/services.h"
#include "send_arguments.h"

namespace cli {

namespace {

struct ExchangeResult {
  ExchangeStage stage = ExchangeStage::kConnect;
  uint32_t error = 0;
  std::vector<std::vector<uint8_t>> responses;
  std::unique_ptr<NamedPipeClient> client;  // kept open for --hold
};

// Connect (waiting while every instance is busy), write the request, read one message.
ExchangeResult Exchange(const SendCommandLine& command) {
  ExchangeResult result;
  result.client = std::make_unique<NamedPipeClient>(kCommandPipeName);
  NamedPipeClient& client = *result.client;
  result.error = client.ConnectPipe(command.timeout_ms);
  if (result.error != 0) return result;
  for (uint32_t i = 0; i < command.repeat; ++i) {
    result.stage = ExchangeStage::kWrite;
    result.error = client.WritePipeMessage(command.code, command.arguments);
    if (result.error != 0) return result;
    if (!command.expect_answer) {
      // Nothing comes back; an echo (command 0) on the same connection is answered once the
      // broker has read and run the request, which closing at once could cut short.
      result.error = client.WritePipeMessage(0, {});
      if (result.error != 0) return result;
      result.stage = ExchangeStage::kRead;
      std::vector<uint8_t> echo;
      result.error = client.ReadPipeMessage(&echo);
      if (result.error != 0) return result;
      continue;
    }
    result.stage = ExchangeStage::kRead;
    result.error = client.ReadPipeMessage(&result.responses.emplace_back());
    if (result.error != 0) {
      result.responses.pop_back();
      return result;
    }
  }
  return result;
}

// Sends `command` and prints its answers with `format`.
int Deliver(const Context& context, const SendCommandLine& command,
            std::optional<std::string> (*format)(std::span<const uint8_t>, bool)) {
  const std::unique_ptr<platform::PipeTransport> transport = OpenPipeTransport(context);
  platform::Services services;
  services.pipes = transport.get();
  platform::InstallServices(&services);

  // The pipe calls block without a bound of their own (a broker that never answers keeps the
  // read waiting forever), so the exchange runs on a helper thread and this thread waits for
  // it with the time-out. A blocked read cannot be cancelled portably; on time-out the process
  // ends from here, which also ends the helper and closes the connection.
  std::mutex mutex;
  std::condition_variable done_signal;
  bool done = false;
  ExchangeResult result;
  std::thread worker([&] {
    ExchangeResult r = Exchange(command);
    std::lock_guard<std::mutex> lock(mutex);
    result = std::move(r);
    done = true;
    done_signal.notify_one();
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    if (!done_signal.wait_for(lock, std::chrono::milliseconds(command.timeout_ms),
                              [&] { return done; })) {
      std::fprintf(stderr, "quellmark-cli: no answer from the broker within %u ms\n",
                   command.timeout_ms);
      std::fflush(nullptr);
      std::_Exit(1);
    }
  }
  worker.join();

  // Answers that arrived are printed even when a later request of a --repeat failed.
  for (const auto& response : result.responses) {
    const auto printed = format(response, command.raw);
    if (!printed) {
      std::fprintf(stderr, "quellmark-cli: the answer is not a well-formed response: %s\n",
                   HexBytes(response).c_str());
      return 1;
    }
    std::fputs(printed->c_str(), stdout);
  }
  std::fflush(stdout);
  if (result.error != 0) {
    const std::string pipe = DescribePipe(context, PipePath(kCommandPipeName));
    std::fprintf(stderr, "quellmark-cli: %s\n",
                 ExchangeFailureMessage(result.stage, result.error, pipe).c_str());
    return 1;
  }
  if (command.hold_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(command.hold_ms));
  result.client.reset();
  platform::InstallServices(nullptr);
  return 0;
}

}  // namespace

int RunSend(const Context& context, const std::vector<std::string>& args) {
  SendCommandLine command;
  std::string error;
  if (!ParseSendCommandLine(args, &command, &error)) {
    std::fprintf(stderr,
                 "quellmark-cli: %s\n"
                 "usage: quellmark-cli [--root DIR] send [--raw] [--timeout MS] [--repeat N] [--hold MS]\n"
                 "                                       CODE [ARG...]\n"
                 "  ARG: u32:N  u64:N  str:TEXT  hex:BYTES  file:PATH\n",
                 error.c_str());
    return 2;
  }
  return Deliver(context, command, &FormatResponse);
}

int RunNamed(const Context& context, const std::vector<std::string>& words) {
  SendCommandLine command;
  std::string error;
  if (!ParseNamedCommand(words, &command, &error)) {
    std::fprintf(stderr, "quellmark-cli: %s\n", error.c_str());
    return 2;
  }
  return Deliver(context, command, [](std::span<const uint8_t> response, bool) {
    return FormatNamedAnswer(response);
  });
}

}  // namespace cli
