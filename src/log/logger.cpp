#include "log/logger.h"

#include <iostream>
#include <utility>

#include "log/log_file.h"

namespace corlan::QRN300 {

LoggerSlot g_Logger{std::make_shared<DefaultLogger>()};

void DefaultLogger::Log(int32_t level, const std::string& function, const std::string& message) {
  static std::mutex output;
  std::lock_guard<std::mutex> lock(output);
  std::cout << message << '\n';
  std::cout.flush();
}

void IbLogAdapter::Log(int32_t level, const std::string& function, const std::string& message) {
  const int mapped = level >= kLogInfo && level <= kLogException ? level : kLogInfo;
  if (log_file_ != nullptr) LogLineTo(log_file_, mapped, function, message);
}

std::shared_ptr<Logger> LoggerSlot::get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return logger_;
}

void LoggerSlot::set(std::shared_ptr<Logger> logger) {
  // The previous logger is released outside the lock: its destructor may log or take time.
  std::lock_guard<std::mutex> lock(mutex_);
  logger_.swap(logger);
}

void SetLogger(std::shared_ptr<Logger> logger) {
  if (!logger) logger = std::make_shared<DefaultLogger>();
  g_Logger.set(std::move(logger));
}

}  // namespace corlan::QRN300
