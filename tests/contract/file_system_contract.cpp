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
  ASSERT_TRUE(files_.AppendToFile(F("Feature.ini"),
                                  "top=before any section\r\n"
                                  "[Keyboard]\r\n"
                                  "Type = 7 \r\n"
                                  "\tTabbed\t=\t x \t\r\n"
                                  "type=second\r\n"
                                  "Quoted=\"  in quotes  \"\r\n"
                                  "Single='one'\r\n"
                                  "Mixed=\"a'\r\n"
                                  "Inner=a \"b\" c\r\n"
                                  "Empty=\r\n"
                                  "Equals=a=b\r\n"
                                  "; Comment=no\r\n"
                                  "NoValue\r\n"
                                  "Long=abcdef\r\n"
                                  "  [ Other ]  trailing\r\n"
                                  "Key=other\n"
                                  "[keyboard]\n"
                                  "Only=in the second\n"
                                  "[Last]\n"
                                  "End=no newline"));
  std::u16string utf16 = u"\uFEFF[Sec]\r\nName=Gr\u00FC\u00DFe\r\n";
  ASSERT_TRUE(files_.AppendToFile(F("wide.ini"), std::string(reinterpret_cast<const char*>(utf16.data()),
                                                             utf16.size() * 2)));  // little-endian
  ASSERT_TRUE(files_.AppendToFile(F("sections.ini"), "[A]\nx=1\n[B\nz=3\n[]\ny=2\n[C]]\nw=4\n=v\n"));
  struct Case { const char* file; const char* section; const char* key; const char* def; size_t chars; const char* value; };
  for (const Case& c : std::vector<Case>{
           {"Feature.ini", "Keyboard", "Type", "d", 256, "7"},
           {"Feature.ini", "KEYBOARD", "type", "d", 256, "7"},  // first of two matches
           {"Feature.ini", "Keyboard", "Tabbed", "d", 256, "x"},
           {"Feature.ini", "Keyboard", "Quoted", "d", 256, "  in quotes  "},
           {"Feature.ini", "Keyboard", "Single", "d", 256, "one"},
           {"Feature.ini", "Keyboard", "Mixed", "d", 256, "\"a'"},
           {"Feature.ini", "Keyboard", "Inner", "d", 256, "a \"b\" c"},
           {"Feature.ini", "Keyboard", "Empty", "d", 256, ""},
           {"Feature.ini", "Keyboard", "Equals", "d", 256, "a=b"},
           {"Feature.ini", "Keyboard", "; Comment", "d", 256, "no"},  // no comment syntax
           {"Feature.ini", "Keyboard", "NoValue", "d", 256, "d"},
           {"Feature.ini", "Keyboard", "Long", "d", 4, "abc"},
           {"Feature.ini", "Keyboard", "Long", "d", 1, ""},
           {"Feature.ini", "Keyboard", "Key", "d", 256, "d"},
           {"Feature.ini", "Keyboard", "Only", "d", 256, "d"},  // only the first section counts
           {"Feature.ini", "other", "KEY", "d", 256, "other"},
           {"Feature.ini", "Last", "End", "d", 256, "no newline"},
           {"Feature.ini", "", "top", "d", 256, "before any section"},
           {"Feature.ini", "Keyboard", "Missing", " default  ", 256, " default"},
           {"Feature.ini", "Keyboard", "Missing", "default", 4, "def"},
           {"Feature.ini", "Keyboard", "Missing", "'default'", 256, "default"},
           {"Feature.ini", "Keyboard", "Missing", "\"a \"  ", 256, "a "},
           {"Feature.ini", "Keyboard", "Missing", "\"a", 256, "\"a"},
           {"sections.ini", "A", "z", "d", 256, "3"},  // "[B" without its bracket is no section
           {"sections.ini", "[B", "z", "d", 256, "d"},
           {"sections.ini", "", "y", "d", 256, "d"},  // the nameless one before [A] came first
           {"sections.ini", "C]", "w", "d", 256, "4"},  // the name ends at the last bracket
           {"sections.ini", "C", "w", "d", 256, "d"},
           {"sections.ini", "C]", "", "d", 256, "v"},
           {"Feature.ini", "None", "Type", "d", 256, "d"},
           {"none.ini", "Keyboard", "Type", "d", 256, "d"},
           {"wide.ini", "sec", "name", "d", 256, "Gr\xC3\xBC\xC3\x9F" "e"},
           {"wide.ini", "sec", "name", "d", 4, "Gr\xC3\xBC"}}) {
    SCOPED_TRACE(std::string(c.file) + " [" + c.section + "] " + c.key + " " + std::to_string(c.chars));
    EXPECT_EQ(files_.GetPrivateProfileStringW(c.section, c.key, c.def, c.chars, F(c.file)), c.value);
  }
}

}  // namespace
