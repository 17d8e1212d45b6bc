// The boot-logo commands and the two start-up helpers of the survey. The files are the whole
// state: a staged copy under ProgramData and the copy on the EFI system partition that the
// firmware shows at power-on. Nothing here locks; two logo commands at once work on the same
// files and the last writer wins.
#include "survey/boot_logo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/variant.h"
#include "base/win_codes.h"
#include "firmware/wmi_access.h"
#include "log/log_file.h"
#include "log/message_format.h"
#include "pipe/handler_log.h"
#include "pipe/protocol.h"
#include "platform/services.h"
#include "registry/registry_values.h"

namespace ironbark {
namespace {

constexpr size_t kMessageChars = kHandlerMessageChars;
constexpr size_t kPathMessageChars = 1024;
constexpr size_t kResolutionChars = 64;

constexpr const char* kProductFolder = "C:\\ProgramData\\oem\\Calvane\\";
constexpr const char* kStagingFolder = "C:\\ProgramData\\oem\\Calvane\\BIOSLogo";
constexpr const char* kStagedGif = "C:\\ProgramData\\oem\\Calvane\\BIOSLogo\\CorlanLogo.gif";
constexpr const char* kStagedJpg = "C:\\ProgramData\\oem\\Calvane\\BIOSLogo\\CorlanLogo.jpg";
constexpr const char* kPartitionFolder = "\\EFI\\OEM";
constexpr const char* kGifName = "\\CorlanLogo.gif";
constexpr const char* kJpgName = "\\CorlanLogo.jpg";

constexpr const char* kCimv2 = "ROOT\\CIMV2";
constexpr const char* kVolumeQuery = "SELECT * FROM Win32_Volume Where Label='ESP'";
constexpr const char* kResolutionQuery = "SELECT * FROM CIM_VideoControllerResolution";
constexpr const char* kCalvaneKey = "SOFTWARE\\OEM\\Calvane";

constexpr int32_t kDone = 1;
constexpr int32_t kFailed = -1;

void Log(const char* operation, const std::string& message) {
  LogProcessor(operation, message);
}

// The partition's logo folder and files, by plain concatenation: the volume name is used as WMI
// reports it ("S:\" gives "S:\\EFI\OEM", which Windows reads as "S:\EFI\OEM").
struct PartitionPaths {
  std::string folder;
  std::string gif;
  std::string jpg;
};

PartitionPaths BuildPaths(const std::string& volume) {
  PartitionPaths paths;
  paths.folder = volume + kPartitionFolder;
  paths.gif = paths.folder + kGifName;
  paths.jpg = paths.folder + kJpgName;
  return paths;
}

bool Exists(const std::string& path) { return platform::Files().PathExists(path); }
bool Delete(const std::string& path) { return platform::Files().DeleteFileW(path, nullptr); }

// Copies with overwriting allowed and answers the thread's last error right after the copy.
uint32_t Copy(const std::string& from, const std::string& to) {
  uint32_t last_error = 0;
  platform::Files().CopyFileW(from, to, false, &last_error);
  return last_error;
}

// Removes the staged GIF and JPEG where they exist; a delete that worked is logged.
void DeleteStagedLogos(const char* operation) {
  if (Exists(kStagedGif) && Delete(kStagedGif)) {
    Log(operation, "Delete CorlanLogo.gif on BIOSLogo folder");
  }
  if (Exists(kStagedJpg) && Delete(kStagedJpg)) {
    Log(operation, "Delete CorlanLogo.jpg on BIOSLogo folder");
  }
}

// Finds the partition for `operation`; logs the failure.
bool FindPartition(const char* operation, PartitionPaths* paths) {
  std::string volume;
  if (BootLogo::GetLogoVolume(&volume) != 1) {
    Log(operation, "GetLogoVolume fail!");
    return false;
  }
  *paths = BuildPaths(volume);
  return true;
}

void Respond(const char* handler, int32_t value, ironbark::CommandResponse& response) {
  ironbark::BuildResponse(response, {{&value, sizeof value}});
  Log(handler, FormatMessageSized(kMessageChars, "Rsponse errcode: %d", value));
}

// A resolution property as the unsigned 32-bit number it stands for. WMI hands uint32
// properties over as VT_I4, whose bits are kept as they are; a text is converted; an empty or
// null property counts as 0. False for anything else (the row is then ignored).
bool ResolutionValue(const wmi::Variant& property, uint32_t* value) {
  switch (property.type) {
    case wmi::VarType::kEmpty:
    case wmi::VarType::kNull:
      *value = 0;
      return true;
    case wmi::VarType::kI4:
    case wmi::VarType::kUI1:
    case wmi::VarType::kUI4:
      *value = static_cast<uint32_t>(property.bits);
      return true;
    default: {
      wmi::Variant copy = property;
      if (wmi::Failed(wmi::VariantChangeType(copy, wmi::VarType::kUI4))) return false;
      *value = static_cast<uint32_t>(copy.bits);
      return true;
    }
  }
}

}  // namespace

int BootLogo::GetLogoVolume(std::string* volume) {
  volume->clear();
  WmiConnection connection;
  if (!wmi_connect(connection, kCimv2)) return 0;
  wmi::Variant name;
  const WmiOutput properties[] = {{"Name", &name}};
  const bool ran = wmi_query_optional_row(connection, kVolumeQuery, properties);
  wmi_close(connection);
  if (!ran) return 0;
  if (name.type == wmi::VarType::kBstr) *volume = name.text;
  return 1;
}

int BootLogo::copy_bios_logo(int format) {
  constexpr const char* kOperation = "copy_bios_logo";
  Log(kOperation, "copy_bios_logo() - start");
  PartitionPaths partition;
  if (!FindPartition(kOperation, &partition)) return 0;

  // The delete lines are written whether or not the delete worked.
  if (Exists(partition.gif)) {
    Delete(partition.gif);
    Log(kOperation, "Delete CorlanLogo.gif on \\EFI\\OEM");
  }
  if (Exists(partition.jpg)) {
    Delete(partition.jpg);
    Log(kOperation, "Delete CorlanLogo.jpg on \\EFI\\OEM");
  }

  const bool gif = format == 0;
  const char* staged = gif ? kStagedGif : kStagedJpg;
  if (!Exists(staged)) {
    Log(kOperation, gif ? "CorlanLogo.gif no exist" : "CorlanLogo.jpg no exist");
    return 0;
  }
  const uint32_t last_error = Copy(staged, gif ? partition.gif : partition.jpg);
  Log(kOperation, FormatMessageSized(kMessageChars,
                                     gif ? "CorlanLogo.gif copy GetLastError: %d"
                                         : "CorlanLogo.jpg copy GetLastError: %d",
                                     static_cast<int>(last_error)));
  Log(kOperation, "copy_bios_logo() - end");
  return 1;
}

int BootLogo::del_bios_logo() {
  constexpr const char* kOperation = "del_bios_logo";
  Log(kOperation, "del_bios_logo() - start");
  PartitionPaths partition;
  if (!FindPartition(kOperation, &partition)) return 0;
  DeleteStagedLogos(kOperation);
  if (Exists(partition.gif)) Delete(partition.gif);
  if (Exists(partition.jpg)) Delete(partition.jpg);
  Log(kOperation, "del_bios_logo() - end");
  return 1;
}

int BootLogo::get_bios_logo() {
  constexpr const char* kOperation = "get_bios_logo";
  Log(kOperation, "get_bios_logo() - start");
  PartitionPaths partition;
  if (!FindPartition(kOperation, &partition)) return 0;
  DeleteStagedLogos(kOperation);
  // Only the staging folder itself: its parent is made by apply_bios_logo (or the log).
  platform::Files().CreateDirectoryW(kStagingFolder, nullptr);
  if (Exists(partition.gif)) {
    const uint32_t last_error = Copy(partition.gif, kStagedGif);
    Log(kOperation, FormatMessageSized(kMessageChars, "CorlanLogo.gif copy GetLastError: %d",
                                       static_cast<int>(last_error)));
  } else if (Exists(partition.jpg)) {
    const uint32_t last_error = Copy(partition.jpg, kStagedJpg);
    Log(kOperation, FormatMessageSized(kMessageChars, "CorlanLogo.jpg copy GetLastError: %d",
                                       static_cast<int>(last_error)));
  }
  Log(kOperation, "get_bios_logo() - end");
  return 1;
}

int BootLogo::check_BIOS_Logo_Folder_exist() {
  constexpr const char* kOperation = "check_BIOS_Logo_Folder_exist";
  Log(kOperation, "check_BIOS_Logo_Folder_exist() - start");
  PartitionPaths partition;
  if (!FindPartition(kOperation, &partition)) return 0;
  const uint32_t attributes = platform::Files().GetFileAttributesW(partition.folder);
  const bool exists = attributes != win::kInvalidFileAttributes &&
                      (attributes & win::kFileAttributeDirectory) != 0;
  Log(kOperation, exists ? "Customize POST Dir exist" : "Customize POST Dir no exist");
  Log(kOperation, "check_BIOS_Logo_Folder_exist() - end");
  return exists ? 1 : 0;
}

int BootLogo::GetDeviceResolution() {
  constexpr const char* kOperation = "GetDeviceResolution";
  Log(kOperation, "GetDeviceResolution() - start");
  WmiConnection connection;
  if (!wmi_connect(connection, kCimv2)) return 0;

  uint32_t horizontal = 0;
  uint32_t vertical = 0;
  const std::string_view names[] = {"HorizontalResolution", "VerticalResolution"};
  const bool ran = wmi_query_each_row(
      connection, kResolutionQuery,
      [&](std::vector<wmi::Variant> row) {
        if (row.size() < 2) return;
        uint32_t h = 0;
        uint32_t v = 0;
        if (!ResolutionValue(row[0], &h) || !ResolutionValue(row[1], &v)) return;
        if (h > horizontal || (h == horizontal && v > vertical)) {
          horizontal = h;
          vertical = v;
        }
      },
      names);
  if (!ran) {
    wmi_close(connection);
    return 0;
  }
  if (horizontal != 0) {
    const std::string text = FormatMessageSized(kResolutionChars, "%d,%d",
                                                static_cast<int>(horizontal),
                                                static_cast<int>(vertical));
    write_reg_string(kCalvaneKey, "Resolution", text.c_str());
    Log(kOperation, text);
  }
  Log(kOperation, "GetDeviceResolution() - successed");
  wmi_close(connection);
  return 1;
}

void BootLogo::apply_bios_logo(const ironbark::CommandRequest& request,
                               ironbark::CommandResponse& response) {
  constexpr const char* kHandler = "apply_bios_logo";
  // Both arguments are required, and the path must end inside the request: anything less is
  // answered as a failure before any file is touched.
  const std::optional<std::string> path = request.ArgumentText(0);
  if (!path || !request.HasArgument(1)) {
    Respond(kHandler, kFailed, response);
    return;
  }
  const int format = static_cast<int>(request.ArgumentU32(1));
  Log(kHandler, FormatMessageSized(kPathMessageChars, "File path: %s", path->c_str()));
  Log(kHandler, FormatMessageSized(kMessageChars, "Image format (gif = 0, jpg = 1): %d", format));

  // Either may exist already; only the copy below tells whether staging worked.
  platform::Files().CreateDirectoryW(kProductFolder, nullptr);
  platform::Files().CreateDirectoryW(kStagingFolder, nullptr);
  DeleteStagedLogos(kHandler);
  // A missing source is not reported here: copy_bios_logo then finds no staged image.
  if (Exists(*path)) Copy(*path, format == 0 ? kStagedGif : kStagedJpg);

  Respond(kHandler, copy_bios_logo(format) == 1 ? kDone : kFailed, response);
}

void BootLogo::restore_bios_logo(const ironbark::CommandRequest&,
                                 ironbark::CommandResponse& response) {
  constexpr const char* kHandler = "restore_bios_logo";
  Respond(kHandler, del_bios_logo() == 1 ? kDone : kFailed, response);
}

void BootLogo::get_bios_logo(const ironbark::CommandRequest&,
                             ironbark::CommandResponse& response) {
  constexpr const char* kHandler = "get_bios_logo";
  Respond(kHandler, get_bios_logo() == 1 ? kDone : kFailed, response);
}

}  // namespace ironbark
