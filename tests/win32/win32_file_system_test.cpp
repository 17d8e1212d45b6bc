// The Win32 file-system backend in a fresh directory under %TEMP%: directory creation up to
// the last separator, appending with the log's sharing, and the log line written through it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "base/win_codes.h"
#include "log/log_file.h"
#include "platform/services.h"
#include "platform/win32/file_system.h"
#include "platform/win32/wide_text.h"
#include "win32_test_support.h"

namespace {

using win32test::FileExists;
using win32test::IsDirectory;
using win32test::ReadWholeFile;

class Win32FileSystemTest : public ::testing::Test {
 protected:
  win32test::TempDir temp_;
  platform::win32::Win32FileSystem files_;
};

TEST_F(Win32FileSystemTest, DirectoriesAreCreatedUpToTheLastSeparator) {
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(temp_.File("a\\b\\c\\file.log")));
  EXPECT_TRUE(IsDirectory(temp_.File("a\\b\\c")));
  EXPECT_FALSE(IsDirectory(temp_.File("a\\b\\c\\file.log")));
  EXPECT_FALSE(FileExists(temp_.File("a\\b\\c\\file.log"))) << "the last part is a file name";

  // Existing directories, forward slashes, doubled separators and a trailing separator.
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(temp_.File("a\\b\\c\\file.log")));
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(temp_.File("s/t\\\\u/")));
  EXPECT_TRUE(IsDirectory(temp_.File("s\\t\\u")));
  // Non-ASCII names reach the file system as the same characters.
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(temp_.File("gr\xC3\xBC\xC3\x9F" "e\\x")));
  EXPECT_NE(GetFileAttributesW((platform::win32::ToWide(temp_.path()) + L"\\gr\u00fc\u00dfe").c_str()),
            INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(files_.MakeSureDirectoryPathExists("no-separator.log"));
}

TEST_F(Win32FileSystemTest, DirectoryCreationFailsBelowAFile) {
  ASSERT_TRUE(files_.AppendToFile(temp_.File("plain"), "x"));
  EXPECT_FALSE(files_.MakeSureDirectoryPathExists(temp_.File("plain\\sub\\file.log")));
  EXPECT_FALSE(IsDirectory(temp_.File("plain\\sub")));
}

TEST_F(Win32FileSystemTest, AppendCreatesThenAppendsExactBytes) {
  const std::string path = temp_.File("out.bin");
  const std::string first("one\r\n\0\xFF", 7);
  const std::string second("two\n", 4);
  ASSERT_TRUE(files_.AppendToFile(path, first));
  ASSERT_TRUE(files_.AppendToFile(path, second));
  ASSERT_TRUE(files_.AppendToFile(path, ""));
  EXPECT_EQ(ReadWholeFile(path), first + second) << "binary: no newline translation";

  EXPECT_FALSE(files_.AppendToFile(temp_.File("missing\\out.bin"), "x"))
      << "the directory is not created";
  EXPECT_FALSE(IsDirectory(temp_.File("missing")));
  EXPECT_FALSE(files_.AppendToFile(temp_.path(), "x")) << "a directory is no file";
}

TEST_F(Win32FileSystemTest, AppendSharesTheFileWithOtherOpenHandles) {
  const std::string path = temp_.File("shared.log");
  const std::wstring wide = platform::win32::ToWide(path);
  ASSERT_TRUE(files_.AppendToFile(path, "a"));

  // A reader and writer that shares both ways (as a log viewer, or a second broker) does not
  // stop the append.
  HANDLE sharing = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(sharing, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(files_.AppendToFile(path, "b"));
  char seen[4] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(sharing, seen, sizeof seen, &got, nullptr));
  EXPECT_EQ(std::string(seen, got), "ab");
  CloseHandle(sharing);

  // A handle that shares nothing keeps the append out.
  HANDLE exclusive = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(files_.AppendToFile(path, "c"));
  CloseHandle(exclusive);
  EXPECT_EQ(ReadWholeFile(path), "ab");
}

TEST_F(Win32FileSystemTest, CreateDirectoryAndDeleteAnswerWindowsCodes) {
  uint32_t error = 99;
  EXPECT_FALSE(files_.CreateDirectoryW(temp_.File("a\\b"), &error));
  EXPECT_EQ(error, win::kErrorPathNotFound) << "one level only";
  EXPECT_TRUE(files_.CreateDirectoryW(temp_.File("a\\"), &error));
  EXPECT_TRUE(IsDirectory(temp_.File("a")));
  EXPECT_FALSE(files_.CreateDirectoryW(temp_.File("A"), &error));
  EXPECT_EQ(error, win::kErrorAlreadyExists);
  EXPECT_FALSE(files_.CreateDirectoryW("", &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);

  ASSERT_TRUE(files_.AppendToFile(temp_.File("a\\Logo.gif"), "x"));
  EXPECT_TRUE(files_.DeleteFileW(temp_.File("A\\LOGO.GIF"), &error));
  EXPECT_FALSE(FileExists(temp_.File("a\\Logo.gif")));
  EXPECT_FALSE(files_.DeleteFileW(temp_.File("a\\Logo.gif"), &error));
  EXPECT_EQ(error, win::kErrorFileNotFound);
  EXPECT_FALSE(files_.DeleteFileW(temp_.File("missing\\Logo.gif"), &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_FALSE(files_.DeleteFileW(temp_.File("a"), &error));
  EXPECT_EQ(error, win::kErrorAccessDenied);
  EXPECT_TRUE(IsDirectory(temp_.File("a")));
}

TEST_F(Win32FileSystemTest, CopyReplacesOrRefusesAndVolumePathsWithDoubledSeparatorsWork) {
  ASSERT_TRUE(files_.MakeSureDirectoryPathExists(temp_.File("EFI\\OEM\\")));
  std::string big(200003, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(files_.AppendToFile(temp_.File("big.gif"), big));
  ASSERT_TRUE(files_.AppendToFile(temp_.File("small.gif"), "GIF"));
  // A volume name ending in a backslash with "\EFI\OEM" appended, as the logo commands build it.
  const std::string logo = temp_.path() + "\\\\EFI\\OEM\\CorlanLogo.gif";
  uint32_t error = 99;

  EXPECT_TRUE(files_.CopyFileW(temp_.File("big.gif"), logo, false, &error));
  EXPECT_EQ(ReadWholeFile(temp_.File("EFI\\OEM\\CorlanLogo.gif")), big);
  EXPECT_TRUE(files_.CopyFileW(temp_.File("small.gif"), logo, false, &error));
  EXPECT_EQ(ReadWholeFile(temp_.File("EFI\\OEM\\CorlanLogo.gif")), "GIF");
  EXPECT_FALSE(files_.CopyFileW(temp_.File("big.gif"), logo, true, &error));
  EXPECT_EQ(error, win::kErrorFileExists);
  EXPECT_EQ(ReadWholeFile(temp_.File("EFI\\OEM\\CorlanLogo.gif")), "GIF");

  EXPECT_FALSE(files_.CopyFileW(temp_.File("none.gif"), temp_.File("x.gif"), false, &error));
  EXPECT_EQ(error, win::kErrorFileNotFound);
  EXPECT_FALSE(files_.CopyFileW(temp_.File("small.gif"), temp_.File("no\\x.gif"), false, &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_FALSE(IsDirectory(temp_.File("no")));
  EXPECT_FALSE(files_.CopyFileW(temp_.File("small.gif"), "", false, &error));
  EXPECT_EQ(error, win::kErrorPathNotFound);
  EXPECT_EQ(ReadWholeFile(temp_.File("big.gif")), big);
}

TEST_F(Win32FileSystemTest, ExistenceAndAttributes) {
  ASSERT_TRUE(files_.MakeSureDirectoryPathExists(temp_.File("EFI\\OEM\\")));
  ASSERT_TRUE(files_.AppendToFile(temp_.File("EFI\\OEM\\CorlanLogo.jpg"), "J"));
  const uint32_t folder = files_.GetFileAttributesW(temp_.path() + "\\\\EFI\\OEM");
  ASSERT_NE(folder, win::kInvalidFileAttributes);
  EXPECT_NE(folder & win::kFileAttributeDirectory, 0u);
  const uint32_t file = files_.GetFileAttributesW(temp_.File("efi\\oem\\corlanlogo.jpg"));
  ASSERT_NE(file, win::kInvalidFileAttributes);
  EXPECT_EQ(file & win::kFileAttributeDirectory, 0u);
  EXPECT_EQ(files_.GetFileAttributesW(temp_.File("EFI\\none")), win::kInvalidFileAttributes);
  EXPECT_EQ(files_.GetFileAttributesW(""), win::kInvalidFileAttributes);

  EXPECT_TRUE(files_.PathExists(temp_.File("EFI\\OEM\\CorlanLogo.jpg")));
  EXPECT_TRUE(files_.PathExists(temp_.File("EFI\\OEM")));
  EXPECT_FALSE(files_.PathExists(temp_.File("EFI\\OEM\\CorlanLogo.gif")));
  EXPECT_FALSE(files_.PathExists(""));
}

// LogFile over the Win32 file system, as the broker writes its log.
class Win32LogFileTest : public Win32FileSystemTest {
 protected:
  void SetUp() override {
    services_.files = &files_;
    platform::InstallServices(&services_);
  }
  void TearDown() override { platform::InstallServices(nullptr); }

  platform::Services services_;
};

TEST_F(Win32LogFileTest, LinesAreAppendedNarrowedAndRecreatedAfterDeletion) {
  const std::string path = temp_.File("logs\\20240101_Quellmark.log");
  ASSERT_TRUE(files_.MakeSureDirectoryPathExists(path));
  LogFile log("Quellmark", path);
  // "ä" (U+00E4) keeps its value as one byte; "€" (U+20AC) has none and becomes '?'.
  ASSERT_EQ(log.Write(kLogWarning, "Probe", "w\xC3\xA4rme \xE2\x82\xAC"), 1);
  ASSERT_EQ(log.Write(kLogInfo, "Probe", "second"), 1);

  const std::string contents = ReadWholeFile(path);
  const size_t first_end = contents.find("\r\n");
  ASSERT_NE(first_end, std::string::npos);
  const std::string first = contents.substr(0, first_end);
  // "[WARNING]   YYYYMMDD_HH:MM:SS.mmm | Quellmark | Probe | w\xE4rme ?"
  const std::string tag = "[WARNING]   ";
  ASSERT_EQ(first.rfind(tag, 0), 0u) << first;
  const std::string stamp = first.substr(tag.size(), 21);
  for (size_t i = 0; i < stamp.size(); ++i) {
    const char c = stamp[i];
    const char expected = i == 8 ? '_' : (i == 11 || i == 14) ? ':' : i == 17 ? '.' : '0';
    if (expected == '0') {
      EXPECT_TRUE(c >= '0' && c <= '9') << stamp;
    } else {
      EXPECT_EQ(c, expected) << stamp;
    }
  }
  EXPECT_EQ(first.substr(tag.size() + 21), " | Quellmark | Probe | w\xE4rme ?");
  EXPECT_EQ(contents.substr(first_end + 2, 12), "[INFO]      ");
  const std::string second_end = " | Quellmark | Probe | second\r\n";
  ASSERT_GT(contents.size(), second_end.size());
  EXPECT_EQ(contents.substr(contents.size() - second_end.size()), second_end);

  // Each line opens the file afresh: a deleted log starts again with the next line.
  ASSERT_TRUE(DeleteFileW(platform::win32::ToWide(path).c_str()));
  ASSERT_EQ(log.Write(kLogError, "Probe", "third"), 1);
  const std::string again = ReadWholeFile(path);
  EXPECT_EQ(again.rfind("[ERROR]     ", 0), 0u);
  EXPECT_EQ(again.find("\r\n"), again.size() - 2) << "one line only";

  LogFile nowhere("Quellmark", temp_.File("absent\\x_Quellmark.log"));
  EXPECT_EQ(nowhere.Write(kLogInfo, "Probe", "dropped"), 0);
}

}  // namespace
