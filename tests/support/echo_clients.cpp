#include "support/echo_clients.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "base/text.h"
#include "pipe/named_pipe.h"
#include "pipe/protocol.h"

namespace testsupport {

std::string EchoText(const std::vector<uint8_t>& response) {
  std::vector<std::vector<uint8_t>> items;
  if (!ironbark::ParseResponse(response.data(), response.size(), &items) || items.size() != 1 ||
      items[0].size() < 2 || items[0][items[0].size() - 1] != 0 || items[0][items[0].size() - 2] != 0)
    return "<bad answer>";
  return text::FromWireText(items[0].data(), items[0].size());
}

int RunConcurrentEchoClients(int clients, int requests) {
  std::atomic<int> served{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      NamedPipeClient client(kCommandPipeName);
      if (client.ConnectPipe(5000) != 0) return;
      for (int r = 0; r < requests; ++r) {
        const std::vector<std::vector<uint8_t>> args = {
            {static_cast<uint8_t>(c), static_cast<uint8_t>(r)}};
        if (client.WritePipeMessage(0, args) != 0) return;
        std::vector<uint8_t> reply;
        if (client.ReadPipeMessage(&reply) != 0) return;
        char expected[64];
        std::snprintf(expected, sizeof(expected), "arg0 size: 2, content: %02x %02x \n",
                      c & 0xFF, r & 0xFF);
        if (EchoText(reply).find(expected) == std::string::npos) return;
      }
      ++served;
    });
  }
  for (auto& t : threads) t.join();
  return served.load();
}

}  // namespace testsupport
