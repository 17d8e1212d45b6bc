#include "log/log_file.h"

#include <chrono>
#include <ctime>
#include <thread>
#include <utility>

#include "base/text.h"
#include "log/message_format.h"
#include "platform/services.h"

std::atomic<LogFile*> g_LogFile{nullptr};

namespace {

// Every tag is 11 characters; a level outside the table has no tag at all, so its line starts
// with the separating space.
std::string_view LevelTag(int level) {
  switch (level) {
    case kLogInfo: return "[INFO]     ";
    case kLogWarning: return "[WARNING]  ";
    case kLogError: return "[ERROR]    ";
    case kLogException: return "[EXCEPTION]";
    default: return "";
  }
}

// std::localtime hands out one static buffer on some runtimes; the portable core has no
// localtime_r, so the conversion is serialised here (outside the file lock).
std::mutex g_localtime_lock;

}  // namespace

std::string LogTimestamp(std::chrono::system_clock::time_point now) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now.time_since_epoch()) % 1000;
  char date[64] = {};
  {
    std::lock_guard<std::mutex> guard(g_localtime_lock);
    const std::tm* local = std::localtime(&seconds);
    if (local != nullptr) std::strftime(date, sizeof date, "%Y%m%d_%H:%M:%S", local);
  }
  return FormatMessage64("%s.%03d", date, static_cast<int>(millis.count()));
}

namespace {

// Callers hand over null-terminated wide strings; anything after an embedded zero never
// reached the file.
std::string_view UpToZero(std::string_view s) {
  const size_t zero = s.find('\0');
  return zero == std::string_view::npos ? s : s.substr(0, zero);
}

}  // namespace

LogFile::LogFile(std::string name, std::string path)
    : name_(std::move(name)), path_(std::move(path)) {}

int LogFile::Write(int level, std::string_view function, std::string_view message) {
  const std::string timestamp = LogTimestamp(std::chrono::system_clock::now());
  const std::string_view tag = LevelTag(level);

  std::string line;
  function = UpToZero(function);
  message = UpToZero(message);
  line.reserve(tag.size() + timestamp.size() + name_.size() + function.size() +
               message.size() + 16);
  line.append(tag).append(" ").append(timestamp);
  line.append(" | ").append(name_);
  line.append(" | ").append(function);
  line.append(" | ").append(message);
  line.append("\r\n");
  const std::string bytes = text::NarrowToSingleByte(line);

  std::lock_guard<std::mutex> guard(lock_);
  return platform::Files().AppendToFile(path_, bytes) ? 1 : 0;
}

namespace {
// LogLine calls between taking g_LogFile and finishing their Write.
std::atomic<int> g_LogLinesInFlight{0};

// Writes through g_LogFile when it is set and, given `only`, is that LogFile.
void WriteInFlight(const LogFile* only, int level, std::string_view function,
                   std::string_view message) {
  // Announcing the call before reading the pointer (both sequentially consistent) means that
  // DetachLogFile either sees this call in flight or this call sees the null pointer.
  g_LogLinesInFlight.fetch_add(1);
  LogFile* log = g_LogFile.load();
  if (log != nullptr && (only == nullptr || log == only)) log->Write(level, function, message);
  g_LogLinesInFlight.fetch_sub(1);
}

}  // namespace

void LogLine(int level, std::string_view function, std::string_view message) {
  WriteInFlight(nullptr, level, function, message);
}

void LogLineTo(const LogFile* log, int level, std::string_view function,
               std::string_view message) {
  if (log != nullptr) WriteInFlight(log, level, function, message);
}

LogFile* DetachLogFile() {
  LogFile* log = g_LogFile.exchange(nullptr);
  while (g_LogLinesInFlight.load() != 0) std::this_thread::yield();
  return log;
}
