#include "log/log_setup.h"

#include <memory>
#include <optional>

#include "base/text.h"
#include "base/win_codes.h"
#include "log/log_file.h"
#include "log/logger.h"
#include "log/message_format.h"
#include "platform/services.h"

namespace {

constexpr const char* kAppTitle = "Quellmark";
constexpr const char* kLogKey = "SOFTWARE\\OEM\\Calvane\\Log";
constexpr const char* kLogFolder = "OEM\\Calvane\\Log";
constexpr size_t kPathChars = 260;

// What a 260-character buffer receives: a variable that does not fit is not copied at all
// (the call only reports the size it would need), so the buffer stays empty.
std::string FitOrEmpty(std::optional<std::string> value) {
  if (!value) return std::string();
  if (text::Utf8ToUtf16(*value).size() >= kPathChars) return std::string();
  return *value;
}

}  // namespace

bool IsLoggingEnabled() {
  // No data buffer and any type: only the existence of the value counts.
  return platform::Reg().GetValue(win::RegRoot::kLocalMachine, kLogKey, kAppTitle,
                                  win::kRrfRtAny, nullptr, nullptr, nullptr) ==
         win::kErrorSuccess;
}

std::string BuildLogFilePath() {
  const std::string program_data = FitOrEmpty(platform::Environment().GetVariable("PROGRAMDATA"));
  const std::string account =
      text::TruncateToUtf16Units(platform::Environment().UserName(), kPathChars - 1);
  return FormatPath260("%s\\%s\\%s_%s.log", program_data.c_str(), kLogFolder, account.c_str(),
                       kAppTitle);
}

bool CreateLog() {
  if (g_LogFile.load(std::memory_order_acquire) != nullptr) return true;
  if (!IsLoggingEnabled()) return false;
  const std::string path = BuildLogFilePath();
  // A failure here surfaces as the first line that cannot be written.
  (void)platform::Files().MakeSureDirectoryPathExists(path);
  auto* log = new LogFile(kAppTitle, path);
  g_LogFile.store(log, std::memory_order_release);
  corlan::QRN300::SetLogger(std::make_shared<corlan::QRN300::IbLogAdapter>(log));
  return true;
}

void DestroyLog() {
  LogFile* log = DetachLogFile();
  if (log == nullptr) return;
  // The adapter holds a plain pointer to the LogFile: it goes first.
  corlan::QRN300::SetLogger(nullptr);
  delete log;
}

