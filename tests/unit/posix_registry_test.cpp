#include "platform/posix/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "support/temp_dir.h"

namespace {

using platform::posix::SqliteRegistry;
using Bytes = std::vector<uint8_t>;
constexpr win::RegRoot kLm = win::RegRoot::kLocalMachine;
constexpr win::RegRoot kCu = win::RegRoot::kCurrentUser;

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

uint32_t Set(SqliteRegistry& reg, std::string_view key, std::string_view name, uint32_t type,
             const Bytes& data, win::RegRoot root = kLm) {
  return reg.SetKeyValue(root, key, name, type, data.data(), static_cast<uint32_t>(data.size()));
}

struct Read {
  uint32_t rc = 0;
  uint32_t type = 0xDEAD;
  uint32_t size = 0;
  Bytes data;  // the whole buffer, pre-filled with 0xCC, to show what was left alone
};

Read Get(SqliteRegistry& reg, std::string_view key, std::string_view name, uint32_t flags,
         uint32_t capacity = 64, win::RegRoot root = kLm) {
  Read r{0, 0xDEAD, capacity, Bytes(capacity, 0xCC)};
  r.rc = reg.GetValue(root, key, name, flags, &r.type, r.data.data(), &r.size);
  return r;
}

class SqliteRegistryTest : public ::testing::Test {
 protected:
  std::string db() const { return dir_.path() + "/registry.db"; }
  testsupport::TempDir dir_;
};

TEST_F(SqliteRegistryTest, NamesAreCaseInsensitiveKeepTheirSpellingAndSortUpperFolded) {
  SqliteRegistry reg(db());
  EXPECT_EQ(reg.OpenKey(kLm, "K", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenKey(kCu, "", win::kKeyAllAccess), 0u);  // every root exists
  // Upper-case folding puts '_' (0x5F) after the letters; lower-case folding would not.
  for (const char* name : {"b", "_x", "A", "C"}) {
    ASSERT_EQ(reg.CreateKey(kLm, std::string("K\\") + name, win::kKeyAllAccess), 0u);
    ASSERT_EQ(Set(reg, "K", name, win::kRegDword, Le32(name[0])), 0u);
  }
  EXPECT_EQ(reg.OpenKey(kLm, "k\\B\\", win::kKeyRead), 0u);  // trailing '\'
  EXPECT_EQ(reg.CreateKey(kLm, "k\\a", win::kKeyAllAccess), 0u);
  EXPECT_EQ(reg.OpenKey(kCu, "K", win::kKeyRead), win::kErrorFileNotFound);
  ASSERT_EQ(Set(reg, "k", "a", win::kRegBinary, {9}), 0u);  // overwrites "A", keeps its name
  ASSERT_EQ(Set(reg, "K", "", win::kRegSz, {0, 0}), 0u);     // the default value
  std::vector<std::string> names;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "k", &names), 0u);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "C", "_x"}));
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "k", &values), 0u);
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].name, "");
  EXPECT_EQ(values[1].name, "A");
  EXPECT_EQ(values[1].type, win::kRegBinary);
  EXPECT_EQ(values[1].data, Bytes{9});
  EXPECT_EQ(values[2].data, Le32('b'));
  EXPECT_EQ(values[4].name, "_x");
  EXPECT_EQ(reg.EnumValues(kLm, "missing", &values), win::kErrorFileNotFound);
  EXPECT_TRUE(values.empty());
}

TEST_F(SqliteRegistryTest, RejectsMalformedPathsRootsAndFilesWithoutCreatingAnything) {
  SqliteRegistry reg(db());
  for (const auto& [path, rc] : std::vector<std::pair<std::string, uint32_t>>{
           {"\\A", win::kErrorBadPathname}, {"A\\\\B", win::kErrorBadPathname},
           {"A\\\\", win::kErrorBadPathname},
           {std::string(256, 'k'), win::kErrorInvalidParameter}}) {
    EXPECT_EQ(reg.CreateKey(kLm, path, win::kKeyAllAccess), rc) << path;
    EXPECT_EQ(Set(reg, path, "v", win::kRegDword, Le32(1)), rc) << path;
  }
  EXPECT_EQ(reg.CreateKey(kLm, std::string(255, 'k'), win::kKeyAllAccess), 0u);
  const auto bogus = static_cast<win::RegRoot>(0x80000004u);  // HKEY_PERFORMANCE_DATA
  EXPECT_EQ(reg.OpenKey(bogus, "", win::kKeyRead), win::kErrorInvalidHandle);
  EXPECT_EQ(Set(reg, "", "v", win::kRegDword, Le32(1), bogus), win::kErrorInvalidHandle);
  EXPECT_EQ(reg.SetKeyValue(kLm, "T", "v", win::kRegBinary, nullptr, 4),
            win::kErrorInvalidParameter);
  std::vector<std::string> names;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "", &names), 0u);
  EXPECT_EQ(names, std::vector<std::string>{std::string(255, 'k')});

  FILE* junk = std::fopen((dir_.path() + "/junk.db").c_str(), "wb");
  ASSERT_NE(junk, nullptr);
  std::fputs(std::string(4096, 'x').c_str(), junk);
  std::fclose(junk);
  EXPECT_THROW(SqliteRegistry(dir_.path() + "/junk.db"), std::runtime_error);
  EXPECT_THROW(SqliteRegistry(dir_.path() + "/no/such/dir/registry.db"), std::runtime_error);
}

TEST_F(SqliteRegistryTest, ReadsFollowTheRrfTableAndReturnTheBytesExactly) {
  SqliteRegistry reg(db());
  const Bytes sz = text::ToWireText("Grüße");
  const Bytes expand = text::ToWireText("%ProgramData%\\x");
  const Bytes qword = {1, 2, 3, 4, 5, 6, 7, 0x88};
  const Bytes bin4 = {'A', 0, 'B', 0};  // looks like an unterminated string: stays as it is
  const Bytes bin5 = {0, 0xFF, 0, 0x80, 0};
  using namespace win;
  struct Stored { const char* name; uint32_t type; Bytes data; };
  for (const Stored& s : std::vector<Stored>{
           {"sz", kRegSz, sz}, {"expand", kRegExpandSz, expand}, {"dword3", kRegDword, {1, 2, 3}},
           {"dword", kRegDword, Le32(0x12345678)}, {"qword", kRegQword, qword},
           {"qword9", kRegQword, Bytes(9, 1)}, {"multi", kRegMultiSz, {'a', 0, 0, 0, 'b', 0}},
           {"none", kRegNone, {}}, {"custom", 0x12345678u, {0xAB, 0, 0xCD}},
           {"bare", kRegSz, {'A', 0}}, {"odd", kRegSz, {'A', 0, 'B'}}, {"empty", kRegSz, {}},
           {"bin4", kRegBinary, bin4}, {"bin5", kRegBinary, bin5}, {"bin8", kRegBinary, qword}}) {
    ASSERT_EQ(Set(reg, "T", s.name, s.type, s.data), 0u) << s.name;
  }
  const uint32_t kUnsupported = kErrorUnsupportedType, kMismatch = kErrorDatatypeMismatch;
  struct Case {
    const char* name;
    uint32_t flags, rc, type = 0;
    Bytes data = {};
  };
  for (const Case& c : std::vector<Case>{
           {"sz", kRrfRtRegSz, 0, kRegSz, sz},
           {"sz", kRrfRtDword, kUnsupported}, {"sz", 0, kErrorInvalidParameter},
           // REG_EXPAND_SZ reads as REG_SZ unless RRF_NOEXPAND; this backend expands nothing.
           {"expand", kRrfRtRegSz, 0, kRegSz, expand},
           {"expand", kRrfRtAny, 0, kRegSz, expand},
           {"expand", kRrfRtRegExpandSz | kRrfNoExpand, 0, kRegExpandSz, expand},
           {"expand", kRrfRtRegExpandSz, kErrorInvalidParameter},  // expanding is the default
           {"expand", kRrfRtRegSz | kRrfNoExpand, kUnsupported},
           {"dword", kRrfRtRegDword, 0, kRegDword, Le32(0x12345678)},
           {"dword", kRrfRtDword, 0, kRegDword, Le32(0x12345678)},
           {"dword", kRrfRtRegQword, kUnsupported}, {"dword", kRrfRtRegSz, kUnsupported},
           {"dword3", kRrfRtRegDword, kMismatch}, {"dword3", kRrfRtDword, kMismatch},
           {"dword3", kRrfRtAny, 0, kRegDword, {1, 2, 3}},
           {"qword", kRrfRtQword, 0, kRegQword, qword},
           {"qword", kRrfRtDword, kUnsupported}, {"qword9", kRrfRtQword, kMismatch},
           {"multi", kRrfRtRegMultiSz, 0, kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0}},
           {"multi", kRrfRtRegSz, kUnsupported}, {"none", kRrfRtRegBinary, kUnsupported},
           {"none", kRrfRtRegNone, 0, kRegNone, {}},
           // A type without an RRF_RT bit passes only RRF_RT_ANY, not every named bit.
           {"custom", kRrfRtAny, 0, 0x12345678u, {0xAB, 0, 0xCD}},
           {"custom", 0x7F | kRrfNoExpand, kUnsupported},
           // Strings without their terminator get one, counted in the size.
           {"bare", kRrfRtRegSz, 0, kRegSz, {'A', 0, 0, 0}},
           {"odd", kRrfRtRegSz, 0, kRegSz, {'A', 0, 'B', 0, 0, 0}},
           {"empty", kRrfRtRegSz, 0, kRegSz, {0, 0}},
           // Binary data count as a DWORD (QWORD) only at 4 (8) bytes and only under the
           // combined RRF_RT_DWORD (RRF_RT_QWORD).
           {"bin4", kRrfRtDword, 0, kRegBinary, bin4},
           {"bin4", kRrfRtRegDword, kUnsupported}, {"bin4", kRrfRtQword, kMismatch},
           {"bin8", kRrfRtQword, 0, kRegBinary, qword}, {"bin8", kRrfRtDword, kMismatch},
           {"bin5", kRrfRtDword | kRrfRtQword, kMismatch},
           {"bin5", kRrfRtRegBinary, 0, kRegBinary, bin5}}) {
    SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(c.flags));
    const Read r = Get(reg, "T", c.name, c.flags);
    EXPECT_EQ(r.rc, c.rc);
    if (c.rc != 0) {
      EXPECT_EQ(r.data[0], 0xCC);  // buffer untouched
      continue;
    }
    EXPECT_EQ(r.type, c.type);
    ASSERT_EQ(r.size, c.data.size());
    EXPECT_EQ(Bytes(r.data.begin(), r.data.begin() + r.size), c.data);
    EXPECT_EQ(r.data[r.size], 0xCC);  // nothing written past the data
  }
  std::vector<platform::RegValueInfo> values;  // enumeration reports what is stored
  ASSERT_EQ(reg.EnumValues(kLm, "T", &values), 0u);
  ASSERT_EQ(values[0].name, "bare");
  EXPECT_EQ(values[0].data, (Bytes{'A', 0}));
}

TEST_F(SqliteRegistryTest, SizesMoreDataAndZeroOnFailure) {
  SqliteRegistry reg(db());
  const Bytes sz = text::ToWireText("abcd");  // 10 bytes
  ASSERT_EQ(Set(reg, "T", "s", win::kRegSz, sz), 0u);
  ASSERT_EQ(Set(reg, "T", "bare", win::kRegSz, {'A', 0}), 0u);  // 4 bytes once terminated
  uint32_t size = 0;
  uint32_t type = 0;
  EXPECT_EQ(reg.GetValue(kLm, "T", "s", win::kRrfRtRegSz, &type, nullptr, &size), 0u);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, win::kRegSz);
  EXPECT_EQ(reg.GetValue(kLm, "T", "s", win::kRrfRtAny, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(reg.GetValue(kLm, "T", "x", win::kRrfRtAny, nullptr, nullptr, nullptr),
            win::kErrorFileNotFound);
  // A too-small buffer answers ERROR_MORE_DATA with the needed size; RRF_ZEROONFAILURE clears
  // the buffer on every failure past the argument checks, which otherwise leave it alone.
  struct Case { const char* key; const char* name; uint32_t flags, capacity, rc, size = 0; };
  for (const Case& c : std::vector<Case>{
           {"T", "s", win::kRrfRtRegSz, 9, win::kErrorMoreData, 10},
           {"T", "bare", win::kRrfRtRegSz, 3, win::kErrorMoreData, 4},
           {"T", "s", win::kRrfRtRegSz, 10, 0, 10},  // exact fit
           {"T", "x", win::kRrfRtAny, 4, win::kErrorFileNotFound},
           {"X", "s", win::kRrfRtAny, 4, win::kErrorFileNotFound},
           {"T", "s", win::kRrfRtRegDword, 4, win::kErrorUnsupportedType}}) {
    SCOPED_TRACE(std::string(c.key) + "\\" + c.name + " into " + std::to_string(c.capacity));
    for (const uint32_t zero : {0u, win::kRrfZeroOnFailure}) {
      const Read r = Get(reg, c.key, c.name, c.flags | zero, c.capacity);
      EXPECT_EQ(r.rc, c.rc);
      if (c.size != 0) {
        EXPECT_EQ(r.size, c.size);
      }
      EXPECT_EQ(r.data, c.rc == 0 ? sz : Bytes(c.capacity, zero ? 0 : 0xCC));
    }
  }
}

TEST_F(SqliteRegistryTest, DeletionRemovesExactlyTheSubtreeOrValue) {
  SqliteRegistry reg(db());
  for (const std::string key : {"A\\B\\C", "A\\B", "A\\BB", "A"})
    ASSERT_EQ(Set(reg, key, "v", win::kRegDword, Le32(key.size())), 0u);
  ASSERT_EQ(Set(reg, "", "rootval", win::kRegDword, Le32(1)), 0u);
  ASSERT_EQ(Set(reg, "A", "v", win::kRegDword, Le32(5), kCu), 0u);

  EXPECT_EQ(reg.DeleteTree(kLm, "a\\b"), 0u);
  EXPECT_EQ(reg.OpenKey(kLm, "A\\B", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenKey(kLm, "A\\B\\C", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(Get(reg, "A\\BB", "v", win::kRrfRtRegDword).data[0], 4);  // a prefix, not a child
  EXPECT_EQ(reg.DeleteTree(kLm, "A\\B"), win::kErrorFileNotFound);
  ASSERT_EQ(reg.CreateKey(kLm, "A\\B\\C", win::kKeyAllAccess), 0u);  // no stale values
  EXPECT_EQ(Get(reg, "A\\B\\C", "v", win::kRrfRtAny).rc, win::kErrorFileNotFound);

  EXPECT_EQ(reg.DeleteKeyValue(kLm, "Missing", "v"), win::kErrorFileNotFound);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "A", "other"), win::kErrorFileNotFound);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "a", "V"), 0u);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "A", "v"), win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenKey(kLm, "A", win::kKeyRead), 0u);  // the key stays

  // The root loses its contents but stays usable; other roots are untouched.
  EXPECT_EQ(reg.DeleteTree(kLm, ""), 0u);
  std::vector<std::string> names;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "", &names), 0u);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(Get(reg, "", "rootval", win::kRrfRtAny).rc, win::kErrorFileNotFound);
  EXPECT_EQ(Get(reg, "A", "v", win::kRrfRtRegDword, 4, kCu).data[0], 5);
  EXPECT_EQ(Set(reg, "A\\B", "v", win::kRegDword, Le32(1)), 0u);
}

TEST_F(SqliteRegistryTest, ProtectedKeysCanBeReadButNotChanged) {
  {
    SqliteRegistry reg(db());
    ASSERT_EQ(Set(reg, "P\\Locked\\Inner", "v", win::kRegDword, Le32(7)), 0u);
    ASSERT_EQ(Set(reg, "P\\Free", "v", win::kRegDword, Le32(8)), 0u);
    ASSERT_EQ(reg.SetKeyProtected(kLm, "p\\locked", true), 0u);
    ASSERT_EQ(reg.SetKeyProtected(kLm, "Not\\Yet", true), 0u);  // created on the way
    ASSERT_EQ(reg.SetKeyProtected(kCu, "", true), 0u);
  }
  SqliteRegistry reg(db());  // protection is stored
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked\\Inner", win::kKeyRead), 0u);
  EXPECT_EQ(reg.CreateKey(kLm, "P\\Locked", win::kKeyRead), 0u);
  EXPECT_EQ(reg.OpenKey(kLm, "Not\\Yet", win::kKeyRead), 0u);
  const std::vector<uint32_t> refused = {
      reg.OpenKey(kLm, "P\\Locked", win::kKeyAllAccess),
      reg.OpenKey(kLm, "P\\Locked\\Inner", win::kKeySetValue),
      reg.CreateKey(kLm, "P\\Locked", win::kKeyAllAccess),
      reg.CreateKey(kLm, "P\\Locked\\New\\Deeper", win::kKeyRead),
      Set(reg, "P\\Locked\\Inner", "v", win::kRegDword, Le32(0)),
      Set(reg, "P\\Locked\\New", "v", win::kRegDword, Le32(0)),
      Set(reg, "Not\\Yet", "v", win::kRegDword, Le32(0)),
      reg.DeleteKeyValue(kLm, "P\\Locked\\Inner", "v"),
      reg.DeleteTree(kLm, "P\\Locked\\Inner"),
      reg.DeleteTree(kLm, "P"),  // a tree holding a protected key is refused whole
      reg.DeleteTree(kLm, ""),
      Set(reg, "Any", "v", win::kRegSz, {0, 0}, kCu),
      reg.CreateKey(kCu, "Any", win::kKeyRead),
      reg.DeleteTree(kCu, "")};
  for (size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(refused[i], win::kErrorAccessDenied) << i;
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked\\New", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "P\\Locked\\Missing", "v"), win::kErrorFileNotFound);
  EXPECT_EQ(Get(reg, "P\\Free", "v", win::kRrfRtRegDword).data[0], 8);
  EXPECT_EQ(Get(reg, "P\\Locked\\Inner", "v", win::kRrfRtRegDword).data[0], 7);
  // Parents and siblings stay writable; lifting the protection allows changes again.
  EXPECT_EQ(Set(reg, "P", "v", win::kRegDword, Le32(9)), 0u);
  EXPECT_EQ(Set(reg, "Not", "v", win::kRegDword, Le32(9)), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, "P\\Free"), 0u);
  ASSERT_EQ(reg.SetKeyProtected(kLm, "P\\Locked", false), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, "P"), 0u);
  EXPECT_EQ(reg.SetKeyProtected(kLm, "P\\Locked", false), win::kErrorFileNotFound);
}

// Threads of this process share one registry object while a second process writes the same
// file and is killed mid-write: nothing fails, and every commit it reported survives.
TEST_F(SqliteRegistryTest, ThreadsAndAProcessKilledMidWriteShareTheFile) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // writes until killed, reporting every committed value
    ::close(fds[0]);
    SqliteRegistry reg(db());
    for (uint32_t i = 0;; ++i) {
      if (reg.CreateKey(kLm, "Both\\Sub" + std::to_string(i % 4), win::kKeyAllAccess) != 0 ||
          Set(reg, "Child", "v" + std::to_string(i), win::kRegDword, Le32(i)) != 0)
        ::_exit(3);
      if (::write(fds[1], &i, sizeof i) != sizeof i) ::_exit(4);
    }
  }
  ::close(fds[1]);
  constexpr int kThreads = 6;
  constexpr int kWrites = 60;
  {
    SqliteRegistry reg(db());
    std::atomic<int> errors{0};
    std::atomic<bool> stop{false};
    std::thread reader([&] {
      while (!stop.load()) {
        const uint32_t rc = Get(reg, "Both", "last", win::kRrfRtRegDword, 4).rc;
        errors += rc != 0 && rc != win::kErrorFileNotFound;
      }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.emplace_back([&, t] {
        for (int i = 0; i < kWrites; ++i) {  // the same missing keys as everybody else
          const std::string sub = "Both\\Sub" + std::to_string(i % 4);
          errors += reg.CreateKey(kLm, sub, win::kKeyAllAccess) != 0;
          errors += Set(reg, "Both", std::to_string(t) + "_" + std::to_string(i), win::kRegDword,
                        Le32(i)) != 0;
          errors += Set(reg, "Both", "last", win::kRegDword, Le32(i)) != 0;
        }
      });
    }
    for (auto& w : writers) w.join();
    stop = true;
    reader.join();
    EXPECT_EQ(errors.load(), 0);
    EXPECT_TRUE(std::filesystem::exists(db() + "-wal")) << "not in WAL mode";
  }
  uint32_t last = 0;
  do {
    ASSERT_EQ(::read(fds[0], &last, sizeof last), ssize_t{sizeof last}) << "writer died early";
  } while (last < 300);
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  ::close(fds[0]);

  SqliteRegistry reg(db());
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "Both", &values), 0u);
  EXPECT_EQ(values.size(), size_t{kThreads * kWrites + 1});
  std::vector<std::string> subkeys;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "Both", &subkeys), 0u);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"Sub0", "Sub1", "Sub2", "Sub3"}));
  for (uint32_t i = 0; i <= last; ++i) {
    const Read r = Get(reg, "child", "V" + std::to_string(i), win::kRrfRtRegDword, 4);
    ASSERT_EQ(r.rc, 0u) << "value " << i << " of " << last << " lost";
    ASSERT_EQ(r.data, Le32(i));
  }
}

}  // namespace
