#include "support/pipe_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/text.h"
#include "base/win_codes.h"
#include "pipe/protocol.h"

namespace testsupport {

std::unique_ptr<NamedPipeClient> ConnectCommandPipe(uint32_t busy_wait_ms) {
  auto client = std::make_unique<NamedPipeClient>(kCommandPipeName);
  EXPECT_EQ(client->ConnectPipe(busy_wait_ms), 0u);
  return client;
}

uint32_t SendRaw(NamedPipeClient& client, const std::vector<uint8_t>& message) {
  if (!client.handle) return win::kErrorInvalidHandle;
  uint32_t written = 0;
  return client.handle->Write(message.data(), static_cast<uint32_t>(message.size()), &written);
}

uint32_t Exchange(NamedPipeClient& client, const std::vector<uint8_t>& message,
                  std::vector<uint8_t>* response) {
  const uint32_t error = SendRaw(client, message);
  return error != 0 ? error : client.ReadPipeMessage(response);
}

std::string EchoText(const std::vector<uint8_t>& response) {
  std::vector<std::vector<uint8_t>> items;
  if (!ironbark::ParseResponse(response.data(), response.size(), &items) || items.size() != 1)
    return "<bad answer>";
  return text::FromWireText(items[0].data(), items[0].size());
}

std::string ReadText(const std::string& path) {
  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

size_t Occurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

bool WaitForText(const std::string& path, const std::string& text, size_t count, int timeout_ms) {
  for (int waited = 0; Occurrences(ReadText(path), text) < count; waited += 10) {
    if (waited >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace testsupport
