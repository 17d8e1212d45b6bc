// Clients of command 0 (the echo) shared by the in-process and the whole-process tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The text of a one-item answer of command 0 ("<bad answer>" when it is not one).
std::string EchoText(const std::vector<uint8_t>& response);

// `clients` threads, each on its own connection to the command pipe of the installed services,
// send `requests` echo requests carrying (client, request) and check every answer. Returns
// how many clients got every answer right.
int RunConcurrentEchoClients(int clients, int requests);

}  // namespace testsupport
