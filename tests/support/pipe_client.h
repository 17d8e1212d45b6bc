// A client of the broker's command pipe and readers of the log file the broker writes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipe/named_pipe.h"

namespace testsupport {

// A client connected to the command pipe of the installed services (a test failure if not).
std::unique_ptr<NamedPipeClient> ConnectCommandPipe(uint32_t busy_wait_ms = 5000);
uint32_t SendRaw(NamedPipeClient& client, const std::vector<uint8_t>& message);
// Sends a raw message and reads the answer; 109 when the server closed the connection.
uint32_t Exchange(NamedPipeClient& client, const std::vector<uint8_t>& message,
                  std::vector<uint8_t>* response);
// The text of a one-item answer of command 0 ("<bad answer>" when it is not one).
std::string EchoText(const std::vector<uint8_t>& response);

std::string ReadText(const std::string& path);
size_t Occurrences(const std::string& text, const std::string& needle);
// Waits until the file holds `count` copies of `text`: a broker logs after it answered.
bool WaitForText(const std::string& path, const std::string& text, size_t count = 1,
                 int timeout_ms = 5000);

}  // namespace testsupport
