// The simulated notebook's DTS audio library. At start the Linux broker's host services copy
// the substitute library (built from sim/dts_apo/, a real shared library exporting
// create_DtsApoInterface) to the Windows path the profile names, mapped below the root, and
// write its settings file beside it (the library's path + ".conf"; sim/dts_apo/dts_apo_library.cpp
// describes the file and the call journal ".calls" the library keeps beside it).
//
// Profile section (machines/README.md has the long form):
//   [dts]  library = Windows path of the library (none: no DTS library installed); the broker
//                    looks for "DtsApoAppWin32DLL.dll" in its own folder and in
//                    C:\Windows\System32 (platform/library_loader.h)
//          mode = the sound mode the library starts with (0)
//          delay_ms = how long each read of the mode takes (0)
//          hang = yes | no (no): a read of the mode never returns
//          export = yes | no (yes): the library exports create_DtsApoInterface
//          interface = yes | no (yes): create_DtsApoInterface returns an object
//          connect = yes | no (yes): the connection to the audio processing object is made
#pragma once
#include <cstdint>
#include <string>

#include "sim/profile_format.h"

namespace sim {

struct DtsProfile {
  std::string library;
  int32_t mode = 0;
  uint32_t delay_ms = 0;
  bool hang = false;
  bool exported = true;
  bool interface = true;
  bool connect = true;
};

profile_format::Section DtsSection(DtsProfile& dts);

// The substitute library's file name in the build (and install) folder, with and without the
// create_DtsApoInterface export.
inline constexpr char kDtsSubstitute[] = "libquellmark-dts-apo.so";
inline constexpr char kDtsSubstituteWithoutExport[] = "libquellmark-dts-apo-noexport.so";

// The settings file's text for `dts` (mode, delay, hang, interface, connect).
std::string DtsSettingsText(const DtsProfile& dts);

// Copies the substitute from `substitute_dir` to `host_path` (its folders created) and writes
// the settings file beside it. Throws std::runtime_error when it cannot.
void PlaceDtsLibrary(const DtsProfile& dts, const std::string& substitute_dir,
                     const std::string& host_path);

// The folder holding the built substitutes: `program_dir` when they are there, else the build
// folder this broker was built in.
std::string DtsSubstituteFolder(const std::string& program_dir);

}  // namespace sim
