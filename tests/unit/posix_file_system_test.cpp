#include "platform/posix/file_system.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/win_codes.h"
#include "platform/posix/process_environment.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(PosixFileSystemTest, MakesDirectoriesUpToTheLastBackslash) {
  testsupport::TempDir dir;
  platform::posix::PosixFileSystem files(dir.path() + "/root");
  EXPECT_TRUE(files.MakeSureDirectoryPathExists("C:\\ProgramData\\OEM\\Calvane\\Log\\a.log"));
  EXPECT_TRUE(fs::is_directory(dir.path() + "/root/C/ProgramData/OEM/Calvane/Log"));
  EXPECT_FALSE(fs::exists(dir.path() + "/root/C/ProgramData/OEM/Calvane/Log/a.log"));
  struct stat st;
  ASSERT_EQ(::stat((dir.path() + "/root/C/ProgramData/OEM").c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask);

  EXPECT_TRUE(files.MakeSureDirectoryPathExists("\\BIOSLogo\\"));
  EXPECT_TRUE(fs::is_directory(dir.path() + "/root/C/BIOSLogo"));
  EXPECT_TRUE(files.MakeSureDirectoryPathExists("no-separator"));
}

TEST(PosixFileSystemTest, ReusesAnExistingDirectoryOfAnotherCase) {
  testsupport::TempDir dir;
  fs::create_directories(dir.path() + "/C/ProgramData");
  platform::posix::PosixFileSystem files(dir.path());
  ASSERT_TRUE(files.MakeSureDirectoryPathExists("c:\\programdata\\oem\\Log\\x.log"));
  ASSERT_TRUE(files.AppendToFile("C:\\PROGRAMDATA\\OEM\\log\\x.log", "abc"));
  EXPECT_EQ(ReadAll(dir.path() + "/C/ProgramData/oem/Log/x.log"), "abc");
  EXPECT_FALSE(fs::exists(dir.path() + "/C/programdata"));
}

TEST(PosixFileSystemTest, AppendCreatesAppendsAndFailsWithoutDirectory) {
  testsupport::TempDir dir;
  platform::posix::PosixFileSystem files(dir.path());
  EXPECT_FALSE(files.AppendToFile("C:\\missing\\x.log", "a"));
  EXPECT_FALSE(fs::exists(dir.path() + "/C/missing"));

  ASSERT_TRUE(files.MakeSureDirectoryPathExists("C:\\d\\"));
  const std::string binary("a\0\r\n\xff", 5);
  EXPECT_TRUE(files.AppendToFile("C:\\d\\x.log", binary));
  EXPECT_TRUE(files.AppendToFile("C:\\d\\x.log", "tail"));
  EXPECT_EQ(ReadAll(dir.path() + "/C/d/x.log"), binary + "tail");

  // A directory in the way is a failure to open, not a crash.
  EXPECT_FALSE(files.AppendToFile("C:\\d", "x"));
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(PosixFileSystemTest, CreateDirectoryMakesOneLevelAndAnswersWindowsCodes) {
  testsupport::TempDir dir;
  platform::posix::PosixFileSystem files(dir.path());
  uint32_t error = 99;
  EXPECT_FALSE(files.CreateDirectoryW("C:\\a\\b", &error));
  EXPECT_EQ(error, win::kErrorPathNotFound) << "no parent, and nothing made on the way";
  EXPECT_FALSE(fs::exists(dir.path() + "/C"));

  EXPECT_TRUE(files.CreateDirectoryW("C:\\", &error));
  EXPECT_EQ(error, win::kErrorSuccess);
  EXPECT_TRUE(files.CreateDirectoryW("C:\\a\\", &error)) << "a trailing separator is allowed";
  EXPECT_TRUE(fs::is_directory(dir.path() + "/C/a"));
  EXPECT_FALSE(files.CreateDirectoryW("C:\\A", &error));
  EXPECT_EQ(error, win::kErrorAlreadyExists) << "names differing in case are one name";

  WriteFile(dir.path() + "/C/f", "x");
  EXPECT_FALSE(files.CreateDirectoryW("C:\\f", &error));
  EXPECT_EQ(error, win::kErrorAlreadyExists);
  EXPECT_FALSE(files.CreateDirectoryW("C:\\f\\sub", &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_FALSE(files.CreateDirectoryW("", &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_TRUE(files.CreateDirectoryW("C:\\a\\\\b", nullptr));
  EXPECT_TRUE(fs::is_directory(dir.path() + "/C/a/b"));
}

TEST(PosixFileSystemTest, DeleteRemovesFilesOnlyAndTellsMissingFileFromMissingFolder) {
  testsupport::TempDir dir;
  platform::posix::PosixFileSystem files(dir.path());
  fs::create_directories(dir.path() + "/C/d/sub");
  WriteFile(dir.path() + "/C/d/Logo.gif", "x");
  uint32_t error = 99;

  EXPECT_TRUE(files.DeleteFileW("c:\\D\\LOGO.GIF", &error));
  EXPECT_EQ(error, win::kErrorSuccess);
  EXPECT_FALSE(fs::exists(dir.path() + "/C/d/Logo.gif"));
  EXPECT_FALSE(files.DeleteFileW("C:\\d\\Logo.gif", &error));
  EXPECT_EQ(error, win::kErrorFileNotFound);
  EXPECT_FALSE(files.DeleteFileW("C:\\missing\\Logo.gif", &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_FALSE(files.DeleteFileW("C:\\d\\sub", &error));
  EXPECT_EQ(error, win::kErrorAccessDenied);
  EXPECT_TRUE(fs::is_directory(dir.path() + "/C/d/sub"));
  EXPECT_FALSE(files.DeleteFileW("", &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
}

TEST(PosixFileSystemTest, CopyReplacesOrRefusesAndLeavesNothingHalfDone) {
  testsupport::TempDir dir;
  platform::posix::PosixFileSystem files(dir.path());
  fs::create_directories(dir.path() + "/C/src");
  fs::create_directories(dir.path() + "/S/EFI/OEM");
  // Larger than one copy buffer, with every byte value.
  std::string big(200'003, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFile(dir.path() + "/C/src/big.gif", big);
  WriteFile(dir.path() + "/C/src/small.gif", "GIF");
  uint32_t error = 99;

  EXPECT_TRUE(files.CopyFileW("C:\\src\\big.gif", "S:\\\\EFI\\OEM\\CorlanLogo.gif", false, &error));
  EXPECT_EQ(error, win::kErrorSuccess);
  EXPECT_EQ(ReadAll(dir.path() + "/S/EFI/OEM/CorlanLogo.gif"), big);
  // Overwriting with a shorter file leaves no tail of the longer one.
  EXPECT_TRUE(files.CopyFileW("C:\\src\\small.gif", "S:\\EFI\\OEM\\corlanlogo.GIF", false, &error));
  EXPECT_EQ(ReadAll(dir.path() + "/S/EFI/OEM/CorlanLogo.gif"), "GIF");
  EXPECT_FALSE(fs::exists(dir.path() + "/S/EFI/OEM/corlanlogo.GIF"));

  EXPECT_FALSE(files.CopyFileW("C:\\src\\big.gif", "S:\\EFI\\OEM\\CorlanLogo.gif", true, &error));
  EXPECT_EQ(error, win::kErrorFileExists);
  EXPECT_EQ(ReadAll(dir.path() + "/S/EFI/OEM/CorlanLogo.gif"), "GIF");

  EXPECT_FALSE(files.CopyFileW("C:\\src\\none.gif", "C:\\src\\x.gif", false, &error));
  EXPECT_EQ(error, win::kErrorFileNotFound);
  EXPECT_FALSE(files.CopyFileW("C:\\nowhere\\none.gif", "C:\\src\\x.gif", false, &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_FALSE(files.CopyFileW("C:\\src\\small.gif", "\\EFI\\OEM\\CorlanLogo.gif", false, &error));
  EXPECT_EQ(error, win::kErrorPathNotFound) << "the target's folder is not created";
  EXPECT_FALSE(fs::exists(dir.path() + "/C/EFI"));
  EXPECT_FALSE(files.CopyFileW("C:\\src", "C:\\x.gif", false, &error));
  EXPECT_EQ(error, win::kErrorAccessDenied);
  EXPECT_FALSE(files.CopyFileW("C:\\src\\small.gif", "S:\\EFI", false, &error));
  EXPECT_EQ(error, win::kErrorAccessDenied);
  EXPECT_FALSE(files.CopyFileW("", "C:\\x.gif", false, &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_FALSE(fs::exists(dir.path() + "/C/x.gif"));

  // One file under two spellings: refused, and not truncated.
  EXPECT_FALSE(files.CopyFileW("C:\\src\\big.gif", "c:\\SRC\\BIG.GIF", false, &error));
  EXPECT_EQ(error, win::kErrorSharingViolation);
  EXPECT_EQ(ReadAll(dir.path() + "/C/src/big.gif"), big);
}

TEST(PosixFileSystemTest, ReadOnlyFilesCopyAsReadOnlyAndRefuseOverwriting) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
  testsupport::TempDir dir;
  platform::posix::PosixFileSystem files(dir.path());
  fs::create_directories(dir.path() + "/C");
  WriteFile(dir.path() + "/C/ro.gif", "R");
  WriteFile(dir.path() + "/C/rw.gif", "W");
  ASSERT_EQ(::chmod((dir.path() + "/C/ro.gif").c_str(), 0444), 0);
  uint32_t error = 99;
  ASSERT_TRUE(files.CopyFileW("C:\\ro.gif", "C:\\copy.gif", false, &error));
  EXPECT_EQ(files.GetFileAttributesW("C:\\copy.gif"),
            win::kFileAttributeArchive | win::kFileAttributeReadonly);
  EXPECT_FALSE(files.CopyFileW("C:\\rw.gif", "C:\\copy.gif", false, &error));
  EXPECT_EQ(error, win::kErrorAccessDenied);
  EXPECT_EQ(ReadAll(dir.path() + "/C/copy.gif"), "R");
}

TEST(PosixFileSystemTest, ExistenceAndAttributes) {
  testsupport::TempDir dir;
  platform::posix::PosixFileSystem files(dir.path());
  fs::create_directories(dir.path() + "/S/EFI/OEM");
  WriteFile(dir.path() + "/S/EFI/OEM/CorlanLogo.jpg", "J");

  EXPECT_EQ(files.GetFileAttributesW("S:\\\\EFI\\OEM"), win::kFileAttributeDirectory);
  EXPECT_EQ(files.GetFileAttributesW("s:\\efi\\oem\\corlanlogo.jpg"), win::kFileAttributeArchive);
  EXPECT_EQ(files.GetFileAttributesW("\\EFI\\OEM"), win::kInvalidFileAttributes);
  EXPECT_EQ(files.GetFileAttributesW(""), win::kInvalidFileAttributes);

  EXPECT_TRUE(files.PathExists("S:\\EFI\\OEM\\CorlanLogo.jpg"));
  EXPECT_TRUE(files.PathExists("S:\\EFI\\OEM"));
  EXPECT_FALSE(files.PathExists("S:\\EFI\\OEM\\CorlanLogo.gif"));
  EXPECT_FALSE(files.PathExists("")) << "an empty path names nothing, not the current drive";
}

TEST(PosixEnvironmentTest, VariablesCompareCaseInsensitivelyWithProgramDataDefault) {
  platform::posix::PosixEnvironment env;
  ASSERT_EQ(::setenv("QuellmarkTestVar", "value-1", 1), 0);
  EXPECT_EQ(env.GetVariable("QuellmarkTestVar"), "value-1");
  EXPECT_EQ(env.GetVariable("QUELLMARKTESTVAR"), "value-1");
  ::unsetenv("QuellmarkTestVar");
  EXPECT_EQ(env.GetVariable("QuellmarkTestVar"), std::nullopt);

  const char* saved = std::getenv("PROGRAMDATA");
  const std::string saved_value = saved != nullptr ? saved : "";
  ::unsetenv("PROGRAMDATA");
  EXPECT_EQ(env.GetVariable("PROGRAMDATA"), "C:\\ProgramData");
  EXPECT_EQ(env.GetVariable("ProgramData"), "C:\\ProgramData");
  ::setenv("PROGRAMDATA", "D:\\Elsewhere", 1);
  EXPECT_EQ(env.GetVariable("PROGRAMDATA"), "D:\\Elsewhere");
  if (saved != nullptr) {
    ::setenv("PROGRAMDATA", saved_value.c_str(), 1);
  } else {
    ::unsetenv("PROGRAMDATA");
  }
}

TEST(PosixEnvironmentTest, UserNameIsTheEffectiveAccount) {
  platform::posix::PosixEnvironment env;
  const std::string name = env.UserName();
  ASSERT_FALSE(name.empty());
  const struct passwd* entry = ::getpwuid(::geteuid());
  if (entry != nullptr) {
    EXPECT_EQ(name, entry->pw_name);
  } else {
    EXPECT_EQ(name, std::to_string(::geteuid()));
  }
}

}  // namespace
