// Logger interface of the HID library classes. The HID classes log through g_Logger; when
// file logging is on, an IbLogAdapter forwards their lines into the broker's LogFile.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

class LogFile;

namespace corlan::QRN300 {

class Logger {
 public:
  virtual ~Logger() = default;
  virtual void Log(int32_t level, const std::string& function, const std::string& message) = 0;
};

// Writes the message and a newline to standard output; level and function are ignored.
class DefaultLogger : public Logger {
 public:
  void Log(int32_t level, const std::string& function, const std::string& message) override;
};

// Forwards into a LogFile it does not own; levels 0..3 keep their value, others become 0.
class IbLogAdapter : public Logger {
 public:
  explicit IbLogAdapter(LogFile* log_file) : log_file_(log_file) {}
  void Log(int32_t level, const std::string& function, const std::string& message) override;

 private:
  LogFile* log_file_;
};

// The library-wide logger; holds a DefaultLogger from static initialisation on.
extern std::shared_ptr<Logger> g_Logger;

// Moves `logger` into g_Logger, releasing the previous one; an empty pointer installs a new
// DefaultLogger instead.
void SetLogger(std::shared_ptr<Logger> logger);

}  // namespace corlan::QRN300
