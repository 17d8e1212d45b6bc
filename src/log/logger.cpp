#include "log/logger.h"

#include <iostream>
#include <utility>

#include "log/log_file.h"

namespace corlan::QRN300 {

std::shared_ptr<Logger> g_Logger = std::make_shared<DefaultLogger>();

void DefaultLogger::Log(int32_t level, const std::string& function, const std::string& message) {
  std::cout << message << '\n';
  std::cout.flush();
}

void IbLogAdapter::Log(int32_t level, const std::string& function, const std::string& message) {
  const int mapped = level >= kLogInfo && level <= kLogException ? level : kLogInfo;
  if (log_file_ != nullptr) log_file_->Write(mapped, function, message);
}

void SetLogger(std::shared_ptr<Logger> logger) {
  g_Logger = std::move(logger);
  if (!g_Logger) g_Logger = std::make_shared<DefaultLogger>();
}

}  // namespace corlan::QRN300
