// The boot logo: the commands that stage a custom logo for the firmware's POST screen, and the
// steps they and the start-up survey share.
#pragma once
#include <string>

#include "pipe/protocol.h"

namespace ironbark {

struct BootLogo {
  // Boot logo commands. The image is staged as
  // "C:\ProgramData\oem\Calvane\BIOSLogo\CorlanLogo.gif" or "...\CorlanLogo.jpg" and
  // kept on the EFI system partition as V + "\EFI\OEM\CorlanLogo.gif" / ".jpg", V being the
  // name of the volume labelled "ESP" exactly as WMI reports it (empty without such a volume:
  // the current drive's "\EFI\OEM"). Each answers 4 bytes: 1 done, -1 failed.
  // apply_bios_logo: argument 0 the image's path (UTF-16LE with its NUL), argument 1 the
  // format (32-bit, 0 = GIF, anything else = JPEG; longer than 4 bytes counts as 0); stages the
  // image (old staged logos removed first), then copy_bios_logo. A request without both
  // arguments, or whose path has no NUL, is answered -1 and touches no file.
  // restore_bios_logo: del_bios_logo. get_bios_logo: the fetch-back get_bios_logo().
  // Arguments beyond those listed are ignored.
  static void apply_bios_logo(const ironbark::CommandRequest& request,
                              ironbark::CommandResponse& response);
  static void restore_bios_logo(const ironbark::CommandRequest& request,
                                ironbark::CommandResponse& response);
  static void get_bios_logo(const ironbark::CommandRequest& request,
                            ironbark::CommandResponse& response);

  // The boot-logo steps; each answers 1 on success and 0 on failure, and every one that needs
  // the partition fails (logging "GetLogoVolume fail!") when GetLogoVolume does.
  // GetLogoVolume: runs "SELECT * FROM Win32_Volume Where Label='ESP'" on ROOT\CIMV2 and
  // stores the first row's "Name" text in *volume (empty without a row or a text). 0 only
  // when the query could not be run (no connection, a failing query).
  static int GetLogoVolume(std::string* volume);
  // Staging to partition: removes both logos from the partition, then copies the staged
  // image of `format` there. 0 when the staged image is missing; a failed copy is only logged
  // ("copy GetLastError: %d") and still answers 1. The partition folder is never created.
  static int copy_bios_logo(int format);
  // Removes both staged logos and both partition logos; missing files are skipped.
  static int del_bios_logo();
  // The fetch-back (same name as the command; told apart by its empty parameter list):
  // removes both staged logos, creates the staging folder and copies the partition's GIF
  // there, or its JPEG when it has no GIF, or nothing.
  static int get_bios_logo();
  // Start-up survey helpers (run on the survey thread). check_BIOS_Logo_Folder_exist: 1 when
  // the partition's "\EFI\OEM" is a directory, else 0. GetDeviceResolution: the largest
  // CIM_VideoControllerResolution (horizontal first, then vertical) written as "%d,%d" to
  // HKLM "SOFTWARE\OEM\Calvane" "Resolution" (nothing without a non-zero one); 0 only when
  // WMI could not be queried.
  static int check_BIOS_Logo_Folder_exist();
  static int GetDeviceResolution();
};

}  // namespace ironbark
