#include "sim/dts.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace sim {

using namespace profile_format;

Section DtsSection(DtsProfile& p) {
  return Keys("dts", {
      {"library", [&](std::string_view v) { p.library = v == "none" ? "" : NonEmpty(v); }},
      {"mode",
       [&](std::string_view v) { p.mode = static_cast<int32_t>(Number(v, 0xFFFFFFFFu, "mode")); }},
      {"delay_ms",
       [&](std::string_view v) { p.delay_ms = static_cast<uint32_t>(Number(v, 600000, "delay_ms")); }},
      {"hang", [&](std::string_view v) { p.hang = Switch(v); }},
      {"export", [&](std::string_view v) { p.exported = Switch(v); }},
      {"interface", [&](std::string_view v) { p.interface = Switch(v); }},
      {"connect", [&](std::string_view v) { p.connect = Switch(v); }},
  });
}

std::string DtsSettingsText(const DtsProfile& dts) {
  auto yes = [](bool b) { return b ? "yes" : "no"; };
  return "mode=" + std::to_string(dts.mode) + "\ndelay_ms=" + std::to_string(dts.delay_ms) +
         "\nhang=" + yes(dts.hang) + "\ninterface=" + yes(dts.interface) +
         "\nconnect=" + yes(dts.connect) + "\n";
}

void PlaceDtsLibrary(const DtsProfile& dts, const std::string& substitute_dir,
                     const std::string& host_path) {
  namespace fs = std::filesystem;
  const fs::path source =
      fs::path(substitute_dir) / (dts.exported ? kDtsSubstitute : kDtsSubstituteWithoutExport);
  std::error_code error;
  fs::create_directories(fs::path(host_path).parent_path(), error);
  // A fresh file rather than an overwrite: a library still mapped by a broker keeps its pages.
  fs::remove(host_path, error);
  if (!fs::copy_file(source, host_path, fs::copy_options::overwrite_existing, error)) {
    throw std::runtime_error("cannot place the DTS library " + source.string() + " at " +
                             host_path + ": " + error.message());
  }
  fs::remove(host_path + ".calls", error);
  std::ofstream settings(host_path + ".conf", std::ios::trunc);
  settings << DtsSettingsText(dts);
  if (!settings.flush()) throw std::runtime_error("cannot write " + host_path + ".conf");
}

std::string DtsSubstituteFolder(const std::string& program_dir) {
  std::error_code error;
  if (!program_dir.empty() &&
      std::filesystem::is_regular_file(std::filesystem::path(program_dir) / kDtsSubstitute, error)) {
    return program_dir;
  }
  return QUELLMARK_SUBSTITUTE_DIR;
}

}  // namespace sim
