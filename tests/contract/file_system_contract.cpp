// The file-system seam's contract, the same on the mapped Linux tree and on Windows: folder
// creation, appending, the boot-logo calls with the codes GetLastError gives, and the INI
// reading of GetPrivateProfileStringW (the system's own on Windows, the Linux build's reader
// judged against it).
#include <gtest/gtest.h>

#include <string>

#include "contract/backends.h"

namespace {

using namespace win;

class FileSystemContract : public ::testing::Test {
 protected:
  std::string F(const std::string& relative) const { return b_->dir + "\\" + relative; }
  bool IsDirectory(const std::string& relative) {
    const uint32_t attributes = files_.GetFileAttributesW(F(relative));
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) != 0;
  }

  std::unique_ptr<contract::FileSystemBackend> b_ = contract::MakeFileSystemBackend();
  platform::FileSystem& files_ = *b_->files;
};

TEST_F(FileSystemContract, FoldersAreMadeUpToTheLastSeparatorAndAppendsKeepExactBytes) {
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(F("a\\b\\c\\file.log")));
  EXPECT_TRUE(IsDirectory("a\\b\\c"));
  EXPECT_FALSE(files_.PathExists(F("a\\b\\c\\file.log"))) << "the last part is a file name";
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(F("a\\b\\c\\file.log")));
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(F("s/t\\\\u/")));
  EXPECT_TRUE(IsDirectory("s\\t\\u"));
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists(F("gr\xC3\xBC\xC3\x9F" "e\\x")));
  EXPECT_TRUE(IsDirectory("GR\xC3\xBC\xC3\x9F" "E")) << "one name in any (ASCII) case";
  EXPECT_TRUE(files_.MakeSureDirectoryPathExists("no-separator.log"));

  const std::string binary("one\r\n\0\xFF", 7);
  EXPECT_TRUE(files_.AppendToFile(F("a\\x.log"), binary));
  EXPECT_TRUE(files_.AppendToFile(F("A\\X.LOG"), "tail"));
  EXPECT_TRUE(files_.AppendToFile(F("a\\x.log"), ""));
  EXPECT_EQ(b_->Read(F("a\\x.log")), binary + "tail") << "binary: no newline translation";
  EXPECT_EQ(files_.GetFileAttributesW(F("A\\X.LOG")) & kFileAttributeDirectory, 0u);
  EXPECT_TRUE(files_.PathExists(F("a\\x.log")) && files_.PathExists(F("A")));
  for (const std::string& missing : {F("a\\none"), std::string()}) {  // "" is not the current drive
    EXPECT_EQ(files_.GetFileAttributesW(missing), kInvalidFileAttributes) << missing;
    EXPECT_FALSE(files_.PathExists(missing)) << missing;
  }
  EXPECT_FALSE(files_.AppendToFile(F("missing\\x.log"), "x")) << "the folder is not made";
  EXPECT_FALSE(files_.PathExists(F("missing")));
  EXPECT_FALSE(files_.AppendToFile(F("a"), "x")) << "a folder is no file";
  EXPECT_FALSE(files_.MakeSureDirectoryPathExists(F("a\\x.log\\sub\\file.log")));
  EXPECT_FALSE(files_.PathExists(F("a\\x.log\\sub")));
}

TEST_F(FileSystemContract, CreateAndDeleteAnswerWindowsCodes) {
  ASSERT_TRUE(files_.AppendToFile(F("f"), "x"));
  uint32_t error = 99;
  ASSERT_TRUE(files_.CreateDirectoryW(F("a\\"), &error)) << "a trailing separator is allowed";
  EXPECT_TRUE(IsDirectory("a"));
  ASSERT_TRUE(files_.AppendToFile(F("a\\Logo.gif"), "x"));
  struct Case { bool del; std::string path; uint32_t code; };  // DeleteFileW, else CreateDirectoryW
  for (const Case& c : std::vector<Case>{
           {false, F("b\\c"), kErrorPathNotFound},  // one level only
           {false, F("A"), kErrorAlreadyExists},    // names differing in case are one name
           {false, F("f"), kErrorAlreadyExists},    // a file of that name
           {false, F("f\\sub"), kErrorPathNotFound}, {false, "", kErrorPathNotFound},
           {true, F("A\\LOGO.GIF"), kErrorSuccess}, {true, F("a\\Logo.gif"), kErrorFileNotFound},
           {true, F("missing\\Logo.gif"), kErrorPathNotFound}, {true, F("a"), kErrorAccessDenied},
           {true, "", kErrorPathNotFound}}) {
    SCOPED_TRACE((c.del ? "DeleteFileW " : "CreateDirectoryW ") + c.path);
    error = 99;
    EXPECT_EQ(c.del ? files_.DeleteFileW(c.path, &error) : files_.CreateDirectoryW(c.path, &error),
              c.code == kErrorSuccess);
    // After a success Windows leaves whatever the last error was.
    EXPECT_TRUE(error == c.code || (c.code == kErrorSuccess && contract::kWindows)) << error;
  }
  EXPECT_TRUE(IsDirectory("a"));
  EXPECT_FALSE(files_.PathExists(F("b")));
}

TEST_F(FileSystemContract, CopyReplacesOrRefusesAndLeavesNothingHalfDone) {
  ASSERT_TRUE(files_.MakeSureDirectoryPathExists(F("EFI\\OEM\\")));
  std::string big(200'003, '\0');  // larger than one copy buffer, with every byte value
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(files_.AppendToFile(F("big.gif"), big));
  ASSERT_TRUE(files_.AppendToFile(F("small.gif"), "GIF"));
  // A volume name ending in a backslash with "\EFI\OEM" appended, as the logo commands build it.
  const std::string logo = b_->dir + "\\\\EFI\\OEM\\CorlanLogo.gif";
  uint32_t error = 99;
  EXPECT_TRUE(files_.CopyFileW(F("big.gif"), logo, false, &error));
  EXPECT_EQ(b_->Read(F("EFI\\OEM\\CorlanLogo.gif")), big);
  EXPECT_TRUE(files_.CopyFileW(F("small.gif"), F("efi\\oem\\corlanlogo.GIF"), false, &error));
  EXPECT_EQ(b_->Read(F("EFI\\OEM\\CorlanLogo.gif")), "GIF") << "no tail of the longer file";

  struct Case { std::string from, to; bool fail_if_exists; uint32_t code; };
  for (const Case& c : std::vector<Case>{
           {F("big.gif"), logo, true, kErrorFileExists},
           {F("none.gif"), F("x.gif"), false, kErrorFileNotFound},
           {F("nowhere\\none.gif"), F("x.gif"), false, kErrorPathNotFound},
           {F("small.gif"), F("no\\x.gif"), false, kErrorPathNotFound},
           {F("EFI"), F("x.gif"), false, kErrorAccessDenied},
           {F("small.gif"), F("EFI"), false, kErrorAccessDenied},
           {"", F("x.gif"), false, kErrorPathNotFound},
           {F("small.gif"), "", false, kErrorPathNotFound},
           {F("big.gif"), F("BIG.GIF"), false, kErrorSharingViolation}}) {  // one file
    SCOPED_TRACE(c.from + " -> " + c.to);
    error = 99;
    EXPECT_FALSE(files_.CopyFileW(c.from, c.to, c.fail_if_exists, &error));
    EXPECT_EQ(error, c.code);
  }
  EXPECT_EQ(b_->Read(F("EFI\\OEM\\CorlanLogo.gif")), "GIF");
  EXPECT_FALSE(files_.PathExists(F("x.gif")));
  EXPECT_FALSE(files_.PathExists(F("no")));
  EXPECT_EQ(b_->Read(F("big.gif")), big);
}

TEST_F(FileSystemContract, PrivateProfileStringsAsTheSystemReadsThem) {
  ASSERT_TRUE(files_.AppendToFile(F("a.ini"), "top=before any section\r\n[Keyboard]\r\nType = 7 \r\n"
      "\tTabbed\t=\t x \t\r\ntype=second\r\nQuoted=\"  in \"  \r\nSingle='one'\r\nMixed=\"a'\r\nEmpty=\r\n"
      "Equals=a=b\r\n; Comment=no\r\nNoValue\r\nLong=abcdef\r\n  [ Other ]  tail\r\nKey=other\n[B\nz=3\n"
      "[keyboard]\nOnly=second\n[]\ny=2\n[C]]\nw=4\n=v"));
  const std::u16string utf16 = u"\uFEFF[Sec]\r\nName=Gr\u00FC\u00DFe\r\n";  // little-endian
  ASSERT_TRUE(files_.AppendToFile(F("w.ini"), std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2)));
  struct Case { const char *file, *section, *key, *def; size_t chars; const char* value; };
  for (const Case& c : std::vector<Case>{  // the first [keyboard] and its first "type" count
           {"a.ini", "Keyboard", "Type", "d", 9, "7"}, {"a.ini", "KEYBOARD", "type", "d", 9, "7"},
           {"a.ini", "Keyboard", "Only", "d", 9, "d"}, {"a.ini", "Keyboard", "Tabbed", "d", 9, "x"},
           {"a.ini", "Keyboard", "Quoted", "d", 9, "  in "}, {"a.ini", "Keyboard", "Single", "d", 9, "one"},
           {"a.ini", "Keyboard", "Mixed", "d", 9, "\"a'"}, {"a.ini", "Keyboard", "Empty", "d", 9, ""},
           {"a.ini", "Keyboard", "Equals", "d", 9, "a=b"}, {"a.ini", "Keyboard", "; Comment", "d", 9, "no"},
           {"a.ini", "Keyboard", "NoValue", "d", 9, "d"}, {"a.ini", "Keyboard", "Long", "d", 4, "abc"},
           {"a.ini", "Keyboard", "Long", "d", 1, ""}, {"a.ini", "Keyboard", "Key", "d", 9, "d"},
           {"a.ini", "other", "KEY", "d", 9, "other"}, {"a.ini", "", "top", "d", 99, "before any section"},
           {"a.ini", "other", "z", "d", 9, "3"}, {"a.ini", "[B", "z", "d", 9, "d"},  // "[B" is no section
           {"a.ini", "", "y", "d", 9, "d"}, {"a.ini", "C]", "w", "d", 9, "4"},  // [] comes second; the last ']'
           {"a.ini", "C", "w", "d", 9, "d"}, {"a.ini", "C]", "", "d", 9, "v"},
           {"a.ini", "None", "Type", " def  ", 9, " def"}, {"a.ini", "None", "Type", "default", 4, "def"},
           {"a.ini", "None", "Type", "'def'", 9, "def"}, {"a.ini", "None", "Type", "\"a \"  ", 9, "a "},
           {"a.ini", "None", "Type", "\"a", 9, "\"a"}, {"none.ini", "Keyboard", "Type", "d", 9, "d"},
           {"w.ini", "sec", "name", "d", 9, "Gr\xC3\xBC\xC3\x9F" "e"}, {"w.ini", "sec", "name", "d", 4, "Gr\xC3\xBC"}}) {
    SCOPED_TRACE(std::string(c.file) + " [" + c.section + "] " + c.key + " " + std::to_string(c.chars));
    EXPECT_EQ(files_.GetPrivateProfileStringW(c.section, c.key, c.def, c.chars, F(c.file)), c.value);
  }
}

}  // namespace
