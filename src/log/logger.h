// Logger interface of the HID library classes. The HID classes log through g_Logger; when
// file logging is on, an IbLogAdapter forwards their lines into the broker's LogFile.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class LogFile;

namespace corlan::QRN300 {

class Logger {
 public:
  virtual ~Logger() = default;
  virtual void Log(int32_t level, const std::string& function, const std::string& message) = 0;
};

// Writes the message and a newline to standard output; level and function are ignored. Lines
// from concurrent callers do not interleave.
class DefaultLogger : public Logger {
 public:
  void Log(int32_t level, const std::string& function, const std::string& message) override;
};

// Forwards into a LogFile it does not own; levels 0..3 keep their value, others become 0.
// Writes only while that LogFile is the installed g_LogFile, under the same guard as LogLine:
// once the log is detached at shutdown, lines from threads still running are dropped instead
// of reaching a LogFile that is being deleted.
class IbLogAdapter : public Logger {
 public:
  explicit IbLogAdapter(LogFile* log_file) : log_file_(log_file) {}
  void Log(int32_t level, const std::string& function, const std::string& message) override;

 private:
  LogFile* log_file_;
};

// The slot g_Logger is: any thread may log through it while start-up or shutdown replaces the
// logger. `g_Logger->Log(...)` holds the logger it found alive until the call returns.
class LoggerSlot {
 public:
  explicit LoggerSlot(std::shared_ptr<Logger> logger) : logger_(std::move(logger)) {}
  LoggerSlot(const LoggerSlot&) = delete;
  LoggerSlot& operator=(const LoggerSlot&) = delete;

  std::shared_ptr<Logger> get() const;
  std::shared_ptr<Logger> operator->() const { return get(); }
  void set(std::shared_ptr<Logger> logger);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<Logger> logger_;
};

// The library-wide logger; holds a DefaultLogger from static initialisation on.
extern LoggerSlot g_Logger;

// Moves `logger` into g_Logger, releasing the previous one; an empty pointer installs a new
// DefaultLogger instead.
void SetLogger(std::shared_ptr<Logger> logger);

}  // namespace corlan::QRN300
