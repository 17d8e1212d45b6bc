// quellmark-cli shutdown (Windows): the broker's own Exit command, posted to its hidden window.
#include <windows.h>

#include <cstdio>

#include "cli.h"

namespace cli {
namespace {
// The broker's window class (its string resource 109) and its menu's Exit command.
constexpr const wchar_t* kBrokerWindowClass = L"QUELLMARK";
constexpr WPARAM kExitCommand = 105;
}  // namespace

int RunShutdown(const Context& /*context*/, const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::fputs("quellmark-cli: shutdown takes no arguments\n", stderr);
    return 2;
  }
  const HWND window = FindWindowW(kBrokerWindowClass, nullptr);
  if (window == nullptr) {
    std::fputs("quellmark-cli: no broker window found in this session\n", stderr);
    return 1;
  }
  // Posted, not sent: the broker runs its shutdown sequence on its own thread and exits;
  // this client does not wait for it.
  if (!PostMessageW(window, WM_COMMAND, kExitCommand, 0)) {
    std::fprintf(stderr, "quellmark-cli: posting the exit command failed (error %lu)\n",
                 GetLastError());
    return 1;
  }
  return 0;
}

}  // namespace cli
