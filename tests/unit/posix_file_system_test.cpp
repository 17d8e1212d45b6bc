#include "platform/posix/file_system.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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
