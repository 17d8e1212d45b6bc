#include "platform/posix/path_mapping.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::posix::MapWindowsPath;

TEST(PathMappingTest, DrivesAndRelativePaths) {
  const std::string root = "/nonexistent-root";
  EXPECT_EQ(MapWindowsPath(root, "C:\\ProgramData\\x.log"), root + "/C/ProgramData/x.log");
  EXPECT_EQ(MapWindowsPath(root, "d:\\Data\\f"), root + "/D/Data/f");
  EXPECT_EQ(MapWindowsPath(root, "\\OEM\\x"), root + "/C/OEM/x");
  EXPECT_EQ(MapWindowsPath(root, "OEM\\x"), root + "/C/OEM/x");
  EXPECT_EQ(MapWindowsPath(root, "C:OEM\\x"), root + "/C/OEM/x");
  EXPECT_EQ(MapWindowsPath(root, "C:/mixed\\sep/x"), root + "/C/mixed/sep/x");
  EXPECT_EQ(MapWindowsPath(root, "\\\\?\\C:\\long\\x"), root + "/C/long/x");
  EXPECT_EQ(MapWindowsPath(root, "C:\\"), root + "/C");
  EXPECT_EQ(MapWindowsPath(root + "/", "C:\\a"), root + "/C/a");
}

TEST(PathMappingTest, DotsAndEmptyComponents) {
  const std::string root = "/r";
  EXPECT_EQ(MapWindowsPath(root, "C:\\a\\.\\b\\\\c\\"), "/r/C/a/b/c");
  // A volume name as WMI reports it ("S:\") with a folder appended, and the same folder
  // without a volume: the current drive.
  EXPECT_EQ(MapWindowsPath(root, "S:\\\\EFI\\OEM\\CorlanLogo.gif"), "/r/S/EFI/OEM/CorlanLogo.gif");
  EXPECT_EQ(MapWindowsPath(root, "s:\\\\\\EFI//OEM"), "/r/S/EFI/OEM");
  EXPECT_EQ(MapWindowsPath(root, "\\EFI\\OEM"), "/r/C/EFI/OEM");
  EXPECT_EQ(MapWindowsPath(root, "C:\\a\\b\\..\\c"), "/r/C/a/c");
  EXPECT_EQ(MapWindowsPath(root, "C:\\..\\..\\etc\\passwd"), "/r/C/etc/passwd");
  EXPECT_EQ(MapWindowsPath(root, "..\\..\\x"), "/r/C/x");
  EXPECT_EQ(MapWindowsPath(root, "D:\\a\\..\\..\\..\\b"), "/r/D/b");
  EXPECT_EQ(MapWindowsPath(root, "\\\\server\\share\\..\\..\\..\\x"), "/r/UNC/x");
}

TEST(PathMappingTest, PipePaths) {
  const std::string root = "/r";
  EXPECT_EQ(MapWindowsPath(root, "\\\\.\\pipe\\vexorhelm_hardware_service_"),
            "/r/pipe/vexorhelm_hardware_service_");
  EXPECT_EQ(MapWindowsPath(root, "\\\\.\\PIPE\\Name"), "/r/pipe/Name");
  EXPECT_EQ(MapWindowsPath(root, "\\\\.\\pipe\\a\\..\\b"), "/r/pipe/a_.._b")
      << "a pipe name is one socket file and cannot climb";
}

TEST(PathMappingTest, ExistingEntriesKeepTheirSpelling) {
  testsupport::TempDir dir;
  fs::create_directories(dir.path() + "/C/ProgramData/OEM");
  fs::create_directories(dir.path() + "/pipe");
  { std::ofstream(dir.path() + "/pipe/Vexorhelm_Agent"); }

  EXPECT_EQ(MapWindowsPath(dir.path(), "c:\\programdata\\oem\\calvane\\Log\\x.log"),
            dir.path() + "/C/ProgramData/OEM/calvane/Log/x.log");
  EXPECT_EQ(MapWindowsPath(dir.path(), "\\PROGRAMDATA\\Oem"), dir.path() + "/C/ProgramData/OEM");
  EXPECT_EQ(MapWindowsPath(dir.path(), "\\\\.\\pipe\\VEXORHELM_AGENT"),
            dir.path() + "/pipe/Vexorhelm_Agent");

  // An exact spelling that exists wins over another one that differs only in case.
  fs::create_directories(dir.path() + "/C/programdata");
  EXPECT_EQ(MapWindowsPath(dir.path(), "C:\\programdata"), dir.path() + "/C/programdata");
  EXPECT_EQ(MapWindowsPath(dir.path(), "C:\\ProgramData"), dir.path() + "/C/ProgramData");
}

}  // namespace
