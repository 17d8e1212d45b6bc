// The one mapping from Windows paths to the Linux build's directory tree.
#pragma once
#include <string>
#include <string_view>

namespace platform::posix {

// Maps a Windows path below `root`:
//   "C:\ProgramData\x"  -> ROOT/C/ProgramData/x   (drive letter upper-cased)
//   "\OEM\x"            -> ROOT/C/OEM/x           (root of the current drive, which is C:)
//   "OEM\x"             -> ROOT/C/OEM/x           (relative paths start at C:\ as well)
//   "\\.\pipe\NAME"     -> ROOT/pipe/NAME
//   "S:\\EFI\OEM"       -> ROOT/S/EFI/OEM         (doubled separators count once, as on Windows)
// Components compare case-insensitively as on Windows: where a directory entry already exists
// whose name differs only in case, its spelling is used. "." and empty components are dropped;
// ".." never climbs above the drive.
std::string MapWindowsPath(std::string_view root, std::string_view windows_path);

}  // namespace platform::posix
