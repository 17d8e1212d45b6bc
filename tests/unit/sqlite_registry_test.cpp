#include "platform/posix/sqlite_registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "support/temp_dir.h"

namespace {

using platform::posix::SqliteRegistry;
constexpr win::RegRoot kLm = win::RegRoot::kLocalMachine;
constexpr win::RegRoot kCu = win::RegRoot::kCurrentUser;

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

uint32_t Set(SqliteRegistry& reg, std::string_view key, std::string_view name, uint32_t type,
             const std::vector<uint8_t>& data, win::RegRoot root = kLm) {
  return reg.SetKeyValue(root, key, name, type, data.data(), static_cast<uint32_t>(data.size()));
}

struct Read {
  uint32_t rc = 0;
  uint32_t type = 0xDEAD;
  uint32_t size = 0;
  std::vector<uint8_t> data;
};

// RegGetValueW into a buffer of `capacity` bytes pre-filled with 0xCC; `data` holds the
// whole buffer afterwards so that tests see what was left alone.
Read Get(SqliteRegistry& reg, std::string_view key, std::string_view name, uint32_t flags,
         uint32_t capacity = 64, win::RegRoot root = kLm) {
  Read r;
  r.data.assign(capacity, 0xCC);
  r.size = capacity;
  r.rc = reg.GetValue(root, key, name, flags, &r.type, r.data.data(), &r.size);
  return r;
}

std::vector<uint8_t> Prefix(const Read& r) {
  return std::vector<uint8_t>(r.data.begin(), r.data.begin() + std::min<size_t>(r.size, r.data.size()));
}

class SqliteRegistryTest : public ::testing::Test {
 protected:
  std::string db() const { return dir_.path() + "/registry.db"; }
  testsupport::TempDir dir_;
};

// --- Keys, paths and names -------------------------------------------------------------------

TEST_F(SqliteRegistryTest, KeyPathsAreCaseInsensitiveAndKeepTheirSpelling) {
  SqliteRegistry reg(db());
  EXPECT_EQ(reg.OpenKey(kLm, "SOFTWARE\\OEM", win::kKeyRead), win::kErrorFileNotFound);
  ASSERT_EQ(reg.CreateKey(kLm, "SOFTWARE\\OEM\\Calvane", win::kKeyAllAccess), 0u);
  EXPECT_EQ(reg.OpenKey(kLm, "software\\oem", win::kKeyRead), 0u);
  EXPECT_EQ(reg.OpenKey(kLm, "SoftWare\\OEM\\CALVANE\\", win::kKeyRead), 0u);  // trailing '\'
  EXPECT_EQ(reg.CreateKey(kLm, "software\\OEM\\calvane", win::kKeyAllAccess), 0u);
  EXPECT_EQ(reg.OpenKey(kCu, "SOFTWARE", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenKey(kLm, "", win::kKeyRead), 0u);
  EXPECT_EQ(reg.OpenKey(kCu, "", win::kKeyAllAccess), 0u);  // every root exists

  std::vector<std::string> names;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "SOFTWARE\\oem", &names), 0u);
  EXPECT_EQ(names, std::vector<std::string>{"Calvane"});
  ASSERT_EQ(reg.EnumSubkeys(kLm, "", &names), 0u);
  EXPECT_EQ(names, std::vector<std::string>{"SOFTWARE"});
}

TEST_F(SqliteRegistryTest, MalformedPathsAndRootsAreRejected) {
  SqliteRegistry reg(db());
  EXPECT_EQ(reg.CreateKey(kLm, "\\SOFTWARE", win::kKeyAllAccess), win::kErrorBadPathname);
  EXPECT_EQ(reg.CreateKey(kLm, "A\\\\B", win::kKeyAllAccess), win::kErrorBadPathname);
  EXPECT_EQ(reg.CreateKey(kLm, "A\\\\", win::kKeyAllAccess), win::kErrorBadPathname);
  EXPECT_EQ(Set(reg, "\\A", "v", win::kRegDword, Bytes({1, 0, 0, 0})), win::kErrorBadPathname);
  EXPECT_EQ(reg.CreateKey(kLm, std::string(256, 'k'), win::kKeyAllAccess),
            win::kErrorInvalidParameter);
  EXPECT_EQ(reg.CreateKey(kLm, std::string(255, 'k'), win::kKeyAllAccess), 0u);
  const auto bogus = static_cast<win::RegRoot>(0x80000004u);  // HKEY_PERFORMANCE_DATA
  EXPECT_EQ(reg.OpenKey(bogus, "", win::kKeyRead), win::kErrorInvalidHandle);
  EXPECT_EQ(Set(reg, "", "v", win::kRegDword, Bytes({1, 0, 0, 0}), bogus),
            win::kErrorInvalidHandle);
  std::vector<std::string> names;
  EXPECT_EQ(reg.EnumSubkeys(kLm, "", &names), 0u);
  EXPECT_EQ(names, std::vector<std::string>{std::string(255, 'k')});  // nothing else was made
}

TEST_F(SqliteRegistryTest, EnumerationsAreInUpperCaseFoldedOrder) {
  SqliteRegistry reg(db());
  // Folding to upper case puts '_' (0x5F) after the letters; lower-case folding would not.
  for (const char* name : {"b", "_x", "A", "C"}) {
    ASSERT_EQ(reg.CreateKey(kLm, std::string("K\\") + name, win::kKeyAllAccess), 0u);
    ASSERT_EQ(Set(reg, "K", name, win::kRegDword, Bytes({1, 2, 3, 4})), 0u);
  }
  ASSERT_EQ(Set(reg, "K", "", win::kRegSz, Bytes({0, 0})), 0u);
  std::vector<std::string> names;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "k", &names), 0u);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "C", "_x"}));
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "k", &values), 0u);
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].name, "");  // the default value
  EXPECT_EQ(values[1].name, "A");
  EXPECT_EQ(values[4].name, "_x");
  EXPECT_EQ(values[2].data, Bytes({1, 2, 3, 4}));
  EXPECT_EQ(reg.EnumValues(kLm, "missing", &values), win::kErrorFileNotFound);
  EXPECT_TRUE(values.empty());
}

TEST_F(SqliteRegistryTest, ValueNamesAreCaseInsensitiveAndKeepTheFirstSpelling) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "K", "Foo", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "k", "FOO", win::kRegBinary, Bytes({9})), 0u);
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "K", &values), 0u);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "Foo");
  EXPECT_EQ(values[0].type, win::kRegBinary);
  EXPECT_EQ(values[0].data, Bytes({9}));
  // The default value is its own value, not the key's absence of one.
  EXPECT_EQ(Get(reg, "K", "", win::kRrfRtAny).rc, win::kErrorFileNotFound);
}

// --- Values, byte-exact ----------------------------------------------------------------------

TEST_F(SqliteRegistryTest, DataRoundTripByteExactForEveryType) {
  SqliteRegistry reg(db());
  const std::vector<uint8_t> sz = text::ToWireText("Grüße");
  const std::vector<uint8_t> dword = Bytes({0x78, 0x56, 0x34, 0x12});
  const std::vector<uint8_t> binary = Bytes({0, 0xFF, 0, 0x80, 0});
  const std::vector<uint8_t> qword = Bytes({1, 2, 3, 4, 5, 6, 7, 0x88});
  const std::vector<uint8_t> odd = Bytes({0xAB, 0, 0xCD});
  ASSERT_EQ(Set(reg, "T", "sz", win::kRegSz, sz), 0u);
  ASSERT_EQ(Set(reg, "T", "dword", win::kRegDword, dword), 0u);
  ASSERT_EQ(Set(reg, "T", "binary", win::kRegBinary, binary), 0u);
  ASSERT_EQ(Set(reg, "T", "qword", win::kRegQword, qword), 0u);
  ASSERT_EQ(reg.SetKeyValue(kLm, "T", "none", win::kRegNone, nullptr, 0), 0u);
  ASSERT_EQ(Set(reg, "T", "custom", 0x12345678u, odd), 0u);
  EXPECT_EQ(reg.SetKeyValue(kLm, "T", "bad", win::kRegBinary, nullptr, 4),
            win::kErrorInvalidParameter);

  Read r = Get(reg, "T", "sz", win::kRrfRtRegSz);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.type, win::kRegSz);
  EXPECT_EQ(Prefix(r), sz);
  EXPECT_EQ(r.data[r.size], 0xCC);  // nothing written past the data
  r = Get(reg, "T", "dword", win::kRrfRtRegDword);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(Prefix(r), dword);
  r = Get(reg, "T", "binary", win::kRrfRtRegBinary);
  EXPECT_EQ(Prefix(r), binary);
  r = Get(reg, "T", "qword", win::kRrfRtQword);
  EXPECT_EQ(r.type, win::kRegQword);
  EXPECT_EQ(Prefix(r), qword);
  r = Get(reg, "T", "none", win::kRrfRtRegNone);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.size, 0u);
  r = Get(reg, "T", "custom", win::kRrfRtAny);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.type, 0x12345678u);
  EXPECT_EQ(Prefix(r), odd);
  // A type without an RRF_RT bit passes only RRF_RT_ANY, not every named bit together.
  EXPECT_EQ(Get(reg, "T", "custom", 0x7F | win::kRrfNoExpand).rc, win::kErrorUnsupportedType);
}

TEST_F(SqliteRegistryTest, TypeRestrictionsFollowTheRrfTable) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "T", "sz", win::kRegSz, text::ToWireText("x")), 0u);
  ASSERT_EQ(Set(reg, "T", "dword", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "T", "multi", win::kRegMultiSz, Bytes({'a', 0, 0, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "T", "qword", win::kRegQword, Bytes({1, 0, 0, 0, 0, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "T", "none", win::kRegNone, Bytes({7})), 0u);
  struct Case {
    const char* name;
    uint32_t flags;
    uint32_t rc;
  };
  for (const Case& c : std::vector<Case>{
           {"sz", win::kRrfRtRegSz, 0},
           {"sz", win::kRrfRtRegBinary | win::kRrfRtRegDword, win::kErrorUnsupportedType},
           {"dword", win::kRrfRtRegDword, 0},
           {"dword", win::kRrfRtDword, 0},
           {"dword", win::kRrfRtRegQword, win::kErrorUnsupportedType},
           {"dword", win::kRrfRtRegSz, win::kErrorUnsupportedType},
           {"multi", win::kRrfRtRegMultiSz, 0},
           {"multi", win::kRrfRtRegSz, win::kErrorUnsupportedType},
           {"qword", win::kRrfRtRegQword, 0},
           {"qword", win::kRrfRtDword, win::kErrorUnsupportedType},
           {"none", win::kRrfRtRegNone, 0},
           {"none", win::kRrfRtRegBinary, win::kErrorUnsupportedType},
       }) {
    SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(c.flags));
    const Read r = Get(reg, "T", c.name, c.flags);
    EXPECT_EQ(r.rc, c.rc);
    if (c.rc == win::kErrorUnsupportedType) {
      EXPECT_EQ(r.data[0], 0xCC);  // buffer untouched
    }
  }
  // No type restriction at all, and data without a size, are parameter faults.
  EXPECT_EQ(Get(reg, "T", "sz", 0).rc, win::kErrorInvalidParameter);
  uint8_t buffer[4];
  EXPECT_EQ(reg.GetValue(kLm, "T", "sz", win::kRrfRtAny, nullptr, buffer, nullptr),
            win::kErrorInvalidParameter);
}

TEST_F(SqliteRegistryTest, DwordAndQwordRestrictionsCheckTheSize) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "T", "short_dword", win::kRegDword, Bytes({1, 2, 3})), 0u);
  ASSERT_EQ(Set(reg, "T", "long_qword", win::kRegQword, Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9})), 0u);
  ASSERT_EQ(Set(reg, "T", "bin4", win::kRegBinary, Bytes({1, 2, 3, 4})), 0u);
  ASSERT_EQ(Set(reg, "T", "bin8", win::kRegBinary, Bytes({1, 2, 3, 4, 5, 6, 7, 8})), 0u);
  ASSERT_EQ(Set(reg, "T", "bin5", win::kRegBinary, Bytes({1, 2, 3, 4, 5})), 0u);

  EXPECT_EQ(Get(reg, "T", "short_dword", win::kRrfRtRegDword).rc, win::kErrorDatatypeMismatch);
  EXPECT_EQ(Get(reg, "T", "short_dword", win::kRrfRtDword).rc, win::kErrorDatatypeMismatch);
  const Read any = Get(reg, "T", "short_dword", win::kRrfRtAny);
  EXPECT_EQ(any.rc, 0u);
  EXPECT_EQ(any.size, 3u);
  EXPECT_EQ(Get(reg, "T", "long_qword", win::kRrfRtQword).rc, win::kErrorDatatypeMismatch);

  // Binary data count as a DWORD (QWORD) only at 4 (8) bytes, and only under the combined
  // RRF_RT_DWORD (RRF_RT_QWORD) restriction.
  EXPECT_EQ(Get(reg, "T", "bin4", win::kRrfRtDword).rc, 0u);
  EXPECT_EQ(Get(reg, "T", "bin4", win::kRrfRtRegDword).rc, win::kErrorUnsupportedType);
  EXPECT_EQ(Get(reg, "T", "bin4", win::kRrfRtQword).rc, win::kErrorDatatypeMismatch);
  EXPECT_EQ(Get(reg, "T", "bin8", win::kRrfRtQword).rc, 0u);
  EXPECT_EQ(Get(reg, "T", "bin8", win::kRrfRtDword).rc, win::kErrorDatatypeMismatch);
  EXPECT_EQ(Get(reg, "T", "bin5", win::kRrfRtDword | win::kRrfRtQword).rc,
            win::kErrorDatatypeMismatch);
  EXPECT_EQ(Get(reg, "T", "bin5", win::kRrfRtRegBinary).rc, 0u);
  EXPECT_EQ(Get(reg, "T", "bin5", win::kRrfRtAny).rc, 0u);
}

TEST_F(SqliteRegistryTest, ExpandSzIsReportedAsSzUnlessNoExpand) {
  SqliteRegistry reg(db());
  const std::vector<uint8_t> raw = text::ToWireText("%ProgramData%\\x");
  ASSERT_EQ(Set(reg, "T", "path", win::kRegExpandSz, raw), 0u);

  EXPECT_EQ(Get(reg, "T", "path", win::kRrfRtRegExpandSz).rc, win::kErrorInvalidParameter);
  Read r = Get(reg, "T", "path", win::kRrfRtRegExpandSz | win::kRrfNoExpand);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.type, win::kRegExpandSz);
  EXPECT_EQ(Prefix(r), raw);
  r = Get(reg, "T", "path", win::kRrfRtRegSz);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.type, win::kRegSz);
  EXPECT_EQ(Prefix(r), raw);  // no environment expansion in this backend
  EXPECT_EQ(Get(reg, "T", "path", win::kRrfRtRegSz | win::kRrfNoExpand).rc,
            win::kErrorUnsupportedType);
  r = Get(reg, "T", "path", win::kRrfRtAny);
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.type, win::kRegSz);
}

TEST_F(SqliteRegistryTest, SizesMoreDataAndZeroOnFailure) {
  SqliteRegistry reg(db());
  const std::vector<uint8_t> sz = text::ToWireText("abcd");  // 10 bytes
  ASSERT_EQ(Set(reg, "T", "s", win::kRegSz, sz), 0u);

  uint32_t size = 0;
  uint32_t type = 0;
  EXPECT_EQ(reg.GetValue(kLm, "T", "s", win::kRrfRtRegSz, &type, nullptr, &size), 0u);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(type, win::kRegSz);
  EXPECT_EQ(reg.GetValue(kLm, "T", "s", win::kRrfRtAny, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(reg.GetValue(kLm, "T", "nope", win::kRrfRtAny, nullptr, nullptr, nullptr),
            win::kErrorFileNotFound);

  Read r = Get(reg, "T", "s", win::kRrfRtRegSz, 9);
  EXPECT_EQ(r.rc, win::kErrorMoreData);
  EXPECT_EQ(r.size, 10u);
  EXPECT_EQ(r.data, std::vector<uint8_t>(9, 0xCC));
  r = Get(reg, "T", "s", win::kRrfRtRegSz | win::kRrfZeroOnFailure, 9);
  EXPECT_EQ(r.rc, win::kErrorMoreData);
  EXPECT_EQ(r.data, std::vector<uint8_t>(9, 0));
  r = Get(reg, "T", "s", win::kRrfRtRegSz, 10);  // exact fit
  EXPECT_EQ(r.rc, 0u);
  EXPECT_EQ(r.data, sz);

  r = Get(reg, "T", "missing", win::kRrfRtAny | win::kRrfZeroOnFailure, 4);
  EXPECT_EQ(r.rc, win::kErrorFileNotFound);
  EXPECT_EQ(r.data, std::vector<uint8_t>(4, 0));
  r = Get(reg, "Missing", "s", win::kRrfRtAny, 4);
  EXPECT_EQ(r.rc, win::kErrorFileNotFound);
  EXPECT_EQ(r.data, std::vector<uint8_t>(4, 0xCC));
  r = Get(reg, "T", "s", win::kRrfRtRegDword | win::kRrfZeroOnFailure, 4);
  EXPECT_EQ(r.rc, win::kErrorUnsupportedType);
  EXPECT_EQ(r.data, std::vector<uint8_t>(4, 0));
}

TEST_F(SqliteRegistryTest, UnterminatedStringsGetATerminatorCountedInTheSize) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "T", "bare", win::kRegSz, Bytes({'A', 0})), 0u);
  ASSERT_EQ(Set(reg, "T", "odd", win::kRegSz, Bytes({'A', 0, 'B'})), 0u);
  ASSERT_EQ(reg.SetKeyValue(kLm, "T", "empty", win::kRegSz, nullptr, 0), 0u);
  ASSERT_EQ(Set(reg, "T", "multi", win::kRegMultiSz, Bytes({'a', 0, 0, 0, 'b', 0})), 0u);
  ASSERT_EQ(Set(reg, "T", "bin", win::kRegBinary, Bytes({'A', 0})), 0u);

  Read r = Get(reg, "T", "bare", win::kRrfRtRegSz);
  EXPECT_EQ(r.size, 4u);
  EXPECT_EQ(Prefix(r), Bytes({'A', 0, 0, 0}));
  EXPECT_EQ(Get(reg, "T", "bare", win::kRrfRtRegSz, 2).rc, win::kErrorMoreData);
  r = Get(reg, "T", "odd", win::kRrfRtRegSz);
  EXPECT_EQ(Prefix(r), Bytes({'A', 0, 'B', 0, 0, 0}));
  r = Get(reg, "T", "empty", win::kRrfRtRegSz);
  EXPECT_EQ(Prefix(r), Bytes({0, 0}));
  r = Get(reg, "T", "multi", win::kRrfRtRegMultiSz);
  EXPECT_EQ(Prefix(r), Bytes({'a', 0, 0, 0, 'b', 0, 0, 0}));
  r = Get(reg, "T", "bin", win::kRrfRtRegBinary);
  EXPECT_EQ(Prefix(r), Bytes({'A', 0}));  // only strings are completed
  // Enumeration reports what is stored.
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "T", &values), 0u);
  EXPECT_EQ(values[0].name, "bare");
  EXPECT_EQ(values[0].data, Bytes({'A', 0}));
}

// --- Deletion --------------------------------------------------------------------------------

TEST_F(SqliteRegistryTest, DeleteTreeRemovesOnlyTheSubtree) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "A\\B\\C", "v", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "A\\B", "v", win::kRegDword, Bytes({2, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "A\\BB", "v", win::kRegDword, Bytes({3, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "A", "v", win::kRegDword, Bytes({4, 0, 0, 0})), 0u);

  EXPECT_EQ(reg.DeleteTree(kLm, "a\\b"), 0u);
  EXPECT_EQ(reg.OpenKey(kLm, "A\\B", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenKey(kLm, "A\\B\\C", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(Get(reg, "A\\BB", "v", win::kRrfRtRegDword).data[0], 3);
  EXPECT_EQ(Get(reg, "A", "v", win::kRrfRtRegDword).data[0], 4);
  EXPECT_EQ(reg.DeleteTree(kLm, "A\\B"), win::kErrorFileNotFound);
  // Re-creating a deleted path finds no stale values.
  ASSERT_EQ(reg.CreateKey(kLm, "A\\B\\C", win::kKeyAllAccess), 0u);
  EXPECT_EQ(Get(reg, "A\\B\\C", "v", win::kRrfRtAny).rc, win::kErrorFileNotFound);
}

TEST_F(SqliteRegistryTest, DeleteTreeOfTheRootClearsItButKeepsItAndOtherRoots) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "A\\B", "v", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "", "rootval", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "A", "v", win::kRegDword, Bytes({5, 0, 0, 0}), kCu), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, ""), 0u);
  EXPECT_EQ(reg.OpenKey(kLm, "", win::kKeyRead), 0u);
  std::vector<std::string> names;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "", &names), 0u);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(Get(reg, "", "rootval", win::kRrfRtAny).rc, win::kErrorFileNotFound);
  EXPECT_EQ(Get(reg, "A", "v", win::kRrfRtRegDword, 4, kCu).data[0], 5);
  ASSERT_EQ(Set(reg, "A\\B", "v", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);  // still usable
}

TEST_F(SqliteRegistryTest, DeleteKeyValueAnswersTwoForMissingKeyOrValue) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "K", "Name", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "Missing", "Name"), win::kErrorFileNotFound);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "K", "Other"), win::kErrorFileNotFound);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "k", "NAME"), 0u);
  EXPECT_EQ(Get(reg, "K", "Name", win::kRrfRtAny).rc, win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenKey(kLm, "K", win::kKeyRead), 0u);  // the key stays
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "K", "Name"), win::kErrorFileNotFound);
}

// --- Protection ------------------------------------------------------------------------------

TEST_F(SqliteRegistryTest, ProtectedKeysCanBeReadButNotChanged) {
  SqliteRegistry reg(db());
  ASSERT_EQ(Set(reg, "P\\Locked\\Inner", "v", win::kRegDword, Bytes({7, 0, 0, 0})), 0u);
  ASSERT_EQ(Set(reg, "P\\Free", "v", win::kRegDword, Bytes({8, 0, 0, 0})), 0u);
  ASSERT_EQ(reg.SetKeyProtected(kLm, "p\\locked", true), 0u);

  // Reads.
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked\\Inner", win::kKeyRead), 0u);
  EXPECT_EQ(reg.CreateKey(kLm, "P\\Locked", win::kKeyRead), 0u);
  EXPECT_EQ(Get(reg, "P\\Locked\\Inner", "v", win::kRrfRtRegDword).data[0], 7);
  std::vector<std::string> names;
  EXPECT_EQ(reg.EnumSubkeys(kLm, "P\\Locked", &names), 0u);

  // Writes, on the key and beneath it; nothing gets created on the way.
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked", win::kKeyAllAccess), win::kErrorAccessDenied);
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked\\Inner", win::kKeySetValue), win::kErrorAccessDenied);
  EXPECT_EQ(reg.CreateKey(kLm, "P\\Locked", win::kKeyAllAccess), win::kErrorAccessDenied);
  EXPECT_EQ(reg.CreateKey(kLm, "P\\Locked\\New\\Deeper", win::kKeyRead),
            win::kErrorAccessDenied);
  EXPECT_EQ(Set(reg, "P\\Locked\\Inner", "v", win::kRegDword, Bytes({0, 0, 0, 0})),
            win::kErrorAccessDenied);
  EXPECT_EQ(Set(reg, "P\\Locked\\New", "v", win::kRegDword, Bytes({0, 0, 0, 0})),
            win::kErrorAccessDenied);
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked\\New", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "P\\Locked\\Inner", "v"), win::kErrorAccessDenied);
  EXPECT_EQ(reg.DeleteKeyValue(kLm, "P\\Locked\\Missing", "v"), win::kErrorFileNotFound);
  EXPECT_EQ(reg.DeleteTree(kLm, "P\\Locked\\Inner"), win::kErrorAccessDenied);
  // A tree holding a protected key is refused whole.
  EXPECT_EQ(reg.DeleteTree(kLm, "P"), win::kErrorAccessDenied);
  EXPECT_EQ(reg.DeleteTree(kLm, ""), win::kErrorAccessDenied);
  EXPECT_EQ(Get(reg, "P\\Free", "v", win::kRrfRtRegDword).data[0], 8);
  EXPECT_EQ(Get(reg, "P\\Locked\\Inner", "v", win::kRrfRtRegDword).data[0], 7);

  // Siblings and parents stay writable.
  EXPECT_EQ(Set(reg, "P", "v", win::kRegDword, Bytes({9, 0, 0, 0})), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, "P\\Free"), 0u);

  ASSERT_EQ(reg.SetKeyProtected(kLm, "P\\Locked", false), 0u);
  EXPECT_EQ(Set(reg, "P\\Locked\\Inner", "v", win::kRegDword, Bytes({0, 0, 0, 0})), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, "P"), 0u);
  EXPECT_EQ(reg.SetKeyProtected(kLm, "P\\Locked", false), win::kErrorFileNotFound);
}

TEST_F(SqliteRegistryTest, ProtectionIsStoredAndMayCoverARoot) {
  {
    SqliteRegistry reg(db());
    ASSERT_EQ(reg.SetKeyProtected(kLm, "Not\\Yet\\There", true), 0u);  // created
    ASSERT_EQ(reg.SetKeyProtected(kCu, "", true), 0u);
  }
  SqliteRegistry reg(db());
  EXPECT_EQ(reg.OpenKey(kLm, "Not\\Yet\\There", win::kKeyRead), 0u);
  EXPECT_EQ(Set(reg, "Not\\Yet\\There", "v", win::kRegSz, Bytes({0, 0})),
            win::kErrorAccessDenied);
  EXPECT_EQ(Set(reg, "Not\\Yet", "v", win::kRegSz, Bytes({0, 0})), 0u);
  EXPECT_EQ(Set(reg, "Any", "v", win::kRegSz, Bytes({0, 0}), kCu), win::kErrorAccessDenied);
  EXPECT_EQ(reg.CreateKey(kCu, "Any", win::kKeyRead), win::kErrorAccessDenied);
  EXPECT_EQ(reg.DeleteTree(kCu, ""), win::kErrorAccessDenied);
}

// --- Durability and sharing ------------------------------------------------------------------

std::string SqlText(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::string out;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    out = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return out;
}

TEST_F(SqliteRegistryTest, SurvivesReopeningAndRunsInWalMode) {
  {
    SqliteRegistry reg(db());
    ASSERT_EQ(Set(reg, "Keep\\Me", "v", win::kRegQword, Bytes({1, 2, 3, 4, 5, 6, 7, 8})), 0u);
  }
  EXPECT_EQ(SqlText(db(), "PRAGMA journal_mode"), "wal");
  SqliteRegistry reg(db());
  EXPECT_EQ(Prefix(Get(reg, "keep\\me", "V", win::kRrfRtQword)),
            Bytes({1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SqliteRegistryTest, RefusesAFileThatIsNotADatabase) {
  {
    FILE* f = std::fopen(db().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string junk(4096, 'x');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  EXPECT_THROW(SqliteRegistry reg(db()), std::runtime_error);
  EXPECT_THROW(SqliteRegistry reg(dir_.path() + "/no/such/dir/registry.db"), std::runtime_error);
}

uint32_t Dword(uint32_t v, std::vector<uint8_t>* out) {
  *out = Bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)});
  return v;
}

TEST_F(SqliteRegistryTest, CommittedWritesSurviveSigkill) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe_fds[0]);
    SqliteRegistry reg(db());
    for (uint32_t i = 0;; ++i) {
      std::vector<uint8_t> data;
      Dword(i, &data);
      if (Set(reg, "Crash", "v" + std::to_string(i), win::kRegDword, data) != 0) ::_exit(3);
      if (::write(pipe_fds[1], &i, sizeof i) != sizeof i) ::_exit(4);
    }
  }
  ::close(pipe_fds[1]);
  uint32_t last = 0;
  bool any = false;
  while (!any || last < 300) {
    const ssize_t n = ::read(pipe_fds[0], &last, sizeof last);
    ASSERT_EQ(n, static_cast<ssize_t>(sizeof last)) << "writer died early";
    any = true;
  }
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  ::close(pipe_fds[0]);

  SqliteRegistry reg(db());
  for (uint32_t i = 0; i <= last; ++i) {
    std::vector<uint8_t> expected;
    Dword(i, &expected);
    const Read r = Get(reg, "Crash", "v" + std::to_string(i), win::kRrfRtRegDword, 4);
    ASSERT_EQ(r.rc, 0u) << "value " << i << " of " << last << " lost";
    ASSERT_EQ(r.data, expected);
  }
  EXPECT_EQ(SqlText(db(), "PRAGMA integrity_check"), "ok");
}

TEST_F(SqliteRegistryTest, ManyThreadsWriteAndReadAtOnce) {
  SqliteRegistry reg(db());
  constexpr int kThreads = 8;
  constexpr int kWrites = 40;
  std::atomic<int> failures{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop.load()) {
      const Read r = Get(reg, "Shared\\Common", "last", win::kRrfRtRegDword, 4);
      if (r.rc != 0 && r.rc != win::kErrorFileNotFound) ++failures;
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kWrites; ++i) {
        std::vector<uint8_t> data;
        Dword(static_cast<uint32_t>(t * 1000 + i), &data);
        // The same missing path created by every thread at once.
        if (reg.CreateKey(kLm, "Shared\\Common\\Sub" + std::to_string(i % 4),
                          win::kKeyAllAccess) != 0) {
          ++failures;
        }
        if (Set(reg, "Shared\\Common", "t" + std::to_string(t) + "_" + std::to_string(i),
                win::kRegDword, data) != 0 ||
            Set(reg, "Shared\\Common", "last", win::kRegDword, data) != 0) {
          ++failures;
        }
      }
    });
  }
  for (auto& w : writers) w.join();
  stop = true;
  reader.join();
  EXPECT_EQ(failures.load(), 0);
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "Shared\\Common", &values), 0u);
  EXPECT_EQ(values.size(), static_cast<size_t>(kThreads * kWrites + 1));
  std::vector<std::string> subkeys;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "Shared\\Common", &subkeys), 0u);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"Sub0", "Sub1", "Sub2", "Sub3"}));
}

TEST_F(SqliteRegistryTest, TwoProcessesWriteTheSameFileAtOnce) {
  constexpr int kWrites = 150;
  int ready[2];
  int go[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(go), 0);
  auto work = [&](const char* who) {
    SqliteRegistry reg(db());
    int errors = 0;
    for (int i = 0; i < kWrites; ++i) {
      std::vector<uint8_t> data;
      Dword(static_cast<uint32_t>(i), &data);
      if (reg.CreateKey(kLm, "Both\\Sub" + std::to_string(i % 5), win::kKeyAllAccess) != 0) {
        ++errors;
      }
      if (Set(reg, "Both", std::string(who) + std::to_string(i), win::kRegDword, data) != 0) {
        ++errors;
      }
    }
    return errors;
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char c = 0;
    if (::write(ready[1], &c, 1) != 1 || ::read(go[0], &c, 1) != 1) ::_exit(5);
    ::_exit(work("child") == 0 ? 0 : 1);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(::write(go[1], &c, 1), 1);
  EXPECT_EQ(work("parent"), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);

  SqliteRegistry reg(db());
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "Both", &values), 0u);
  EXPECT_EQ(values.size(), static_cast<size_t>(2 * kWrites));
  std::vector<std::string> subkeys;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "Both", &subkeys), 0u);
  EXPECT_EQ(subkeys.size(), 5u);
}

TEST_F(SqliteRegistryTest, WaitsForAWriteLockHeldByAnotherConnection) {
  SqliteRegistry reg(db());
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  // Blocks until the other connection commits, then succeeds.
  EXPECT_EQ(Set(reg, "Waited", "v", win::kRegDword, Bytes({1, 0, 0, 0})), 0u);
  release.join();
  sqlite3_close(other);
  EXPECT_EQ(Get(reg, "Waited", "v", win::kRrfRtRegDword).rc, 0u);
}

}  // namespace
