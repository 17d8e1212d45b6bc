// The Linux backends: the contract suites' factories, and what only they do: the registry
// database's protection, locking and crash safety, failure codes and path mapping.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "contract/backends.h"
#include "platform/posix/console_launcher.h"
#include "platform/posix/file_system.h"
#include "platform/posix/named_mutex.h"
#include "platform/posix/os_error.h"
#include "platform/posix/path_mapping.h"
#include "platform/posix/pipe_transport.h"
#include "platform/posix/process_environment.h"
#include "platform/posix/registry.h"
#include "sim/console_session.h"
#include "sim/machine_profile.h"
#include "sim/simulated_notebook.h"
#include "sim/wmi.h"
#include "support/handler_harness.h"
#include "support/pipe_client.h"
#include "support/temp_dir.h"

namespace contract {

const bool kWindows = false, kWine = false;

std::unique_ptr<RegistryBackend> MakeRegistryBackend() {
  struct Backend : RegistryBackend {
    Backend() { registry = &sqlite; key = "Software\\QuellmarkTests"; }
    testsupport::TempDir dir;
    platform::posix::SqliteRegistry sqlite{dir.path() + "/registry.db"};
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<FileSystemBackend> MakeFileSystemBackend() {
  struct Backend : FileSystemBackend {
    Backend() { std::filesystem::create_directories(dir_.path() + "/D/t"); files = &posix; dir = "D:\\t"; }
    std::string Read(const std::string& path) override {
      return testsupport::ReadText(platform::posix::MapWindowsPath(dir_.path(), path));
    }
    testsupport::TempDir dir_;
    platform::posix::PosixFileSystem posix{dir_.path()};
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<PipeBackend> MakePipeBackend() {
  struct Backend : PipeBackend {
    Backend() { pipes = &posix; }
    std::string UniquePath() override { return "\\\\.\\pipe\\quellmark_test_" + std::to_string(++count); }
    testsupport::TempDir dir;
    platform::posix::UnixStreamPipeTransport posix{dir.path()};
    int count = 0;
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<WmiBackend> MakeWmiBackend() {
  struct Backend : WmiBackend {
    Backend() { provider = &sim; }
    sim::SimWmiProvider sim{std::make_shared<sim::SimulatedNotebook>(
        sim::ParseMachineProfile("[system]\nmodel = Contract\n", "contract.profile"))};
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<MutexBackend> MakeMutexBackend() {
  struct Backend : MutexBackend {
    Backend() { mutexes = &posix; }
    std::string UniqueName() override { return "Global\\QuellmarkTest_" + std::to_string(++count); }
    // A forked child takes the lock through a handle of its own and exits holding it.
    void DieHolding(const std::string& name) override {
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        uint32_t error = 0;
        const platform::MutexHandle own = posix.Open(name, &error);
        ::_exit(posix.Wait(own, std::chrono::seconds(10), &error) == platform::MutexWait::kAcquired ? 0 : 3);
      }
      int status = -1;
      EXPECT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_EQ(status, 0) << "the child could not take the lock";
    }
    testsupport::TempDir dir;
    platform::posix::PosixNamedMutexes posix{dir.path(), true};
    int count = 0;
  };
  return std::make_unique<Backend>();
}

}  // namespace contract

namespace {

using platform::posix::SqliteRegistry;
using Bytes = std::vector<uint8_t>;
constexpr win::RegRoot kLm = win::RegRoot::kLocalMachine, kCu = win::RegRoot::kCurrentUser;

uint32_t SetDword(SqliteRegistry& reg, std::string_view key, std::string_view name, uint32_t v, win::RegRoot root = kLm) {
  return reg.SetKeyValue(root, key, name, win::kRegDword, &v, sizeof v);
}

std::pair<uint32_t, uint32_t> GetDword(SqliteRegistry& reg, std::string_view key, std::string_view name) {
  uint32_t value = 0, size = sizeof value;  // the error code and the value
  return {reg.GetValue(kLm, key, name, win::kRrfRtRegDword, nullptr, &value, &size), value};
}

class SqliteRegistryTest : public ::testing::Test {
 protected:
  std::string db() const { return dir_.path() + "/registry.db"; }
  testsupport::TempDir dir_;
};

TEST_F(SqliteRegistryTest, RejectsMalformedPathsAndFilesAndEmptiesARootWhole) {
  SqliteRegistry reg(db());
  for (const auto& [path, rc] : std::vector<std::pair<std::string, uint32_t>>{
           {"\\A", win::kErrorBadPathname}, {"A\\\\B", win::kErrorBadPathname},
           {std::string(256, 'k'), win::kErrorInvalidParameter}}) {
    EXPECT_EQ(reg.CreateKey(kLm, path, win::kKeyAllAccess), rc) << path;
    EXPECT_EQ(SetDword(reg, path, "v", 1), rc) << path;
  }
  EXPECT_EQ(reg.CreateKey(kLm, std::string(255, 'k'), win::kKeyAllAccess), 0u);
  ASSERT_EQ(SetDword(reg, "", "rootval", 1), 0u);
  ASSERT_EQ(SetDword(reg, "A", "v", 5, kCu), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, ""), 0u);  // the root loses its contents but stays usable
  EXPECT_EQ(reg.OpenKey(kLm, std::string(255, 'k'), win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(GetDword(reg, "", "rootval").first, win::kErrorFileNotFound);
  EXPECT_EQ(reg.OpenKey(kCu, "A", win::kKeyRead), 0u) << "other roots are untouched";

  std::ofstream(dir_.path() + "/junk.db") << std::string(4096, 'x');
  EXPECT_THROW(SqliteRegistry(dir_.path() + "/junk.db"), std::runtime_error);
  EXPECT_THROW(SqliteRegistry(dir_.path() + "/no/such/dir/registry.db"), std::runtime_error);
}

TEST_F(SqliteRegistryTest, ProtectedKeysCanBeReadButNotChanged) {
  {
    SqliteRegistry reg(db());
    ASSERT_EQ(SetDword(reg, "P\\Locked\\Inner", "v", 7), 0u);
    ASSERT_EQ(SetDword(reg, "P\\Free", "v", 8), 0u);
    ASSERT_EQ(reg.SetKeyProtected(kLm, "p\\locked", true), 0u);
    ASSERT_EQ(reg.SetKeyProtected(kLm, "Not\\Yet", true), 0u);  // created on the way
    ASSERT_EQ(reg.SetKeyProtected(kCu, "", true), 0u);
  }
  SqliteRegistry reg(db());  // protection is stored
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked\\Inner", win::kKeyRead), 0u);
  EXPECT_EQ(reg.CreateKey(kLm, "P\\Locked", win::kKeyRead), 0u);
  const std::vector<uint32_t> refused = {
      reg.OpenKey(kLm, "P\\Locked", win::kKeyAllAccess),
      reg.OpenKey(kLm, "P\\Locked\\Inner", win::kKeySetValue),
      reg.CreateKey(kLm, "P\\Locked\\New\\Deeper", win::kKeyRead),
      SetDword(reg, "P\\Locked\\Inner", "v", 0), SetDword(reg, "P\\Locked\\New", "v", 0),
      SetDword(reg, "Not\\Yet", "v", 0), reg.DeleteKeyValue(kLm, "P\\Locked\\Inner", "v"),
      reg.DeleteTree(kLm, "P\\Locked\\Inner"),
      reg.DeleteTree(kLm, "P"),  // a tree holding a protected key is refused whole
      reg.DeleteTree(kLm, ""), SetDword(reg, "Any", "v", 0, kCu), reg.DeleteTree(kCu, "")};
  for (size_t i = 0; i < refused.size(); ++i) EXPECT_EQ(refused[i], win::kErrorAccessDenied) << i;
  EXPECT_EQ(reg.OpenKey(kLm, "P\\Locked\\New", win::kKeyRead), win::kErrorFileNotFound);
  EXPECT_EQ(GetDword(reg, "P\\Locked\\Inner", "v"), std::pair(0u, 7u));
  // Parents and siblings stay writable; lifting the protection allows changes again.
  EXPECT_EQ(SetDword(reg, "P", "v", 9), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, "P\\Free"), 0u);
  ASSERT_EQ(reg.SetKeyProtected(kLm, "P\\Locked", false), 0u);
  EXPECT_EQ(reg.DeleteTree(kLm, "P"), 0u);
  EXPECT_EQ(reg.SetKeyProtected(kLm, "P\\Locked", false), win::kErrorFileNotFound);
}

// A write lock held elsewhere past SQLite's own busy wait: the write retries until it is free.
TEST_F(SqliteRegistryTest, ALockHeldElsewhereIsWaitedOut) {
  SqliteRegistry reg(db());
  ASSERT_EQ(SetDword(reg, "K", "v", 1), 0u);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(db().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  std::thread release([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  EXPECT_EQ(SetDword(reg, "K", "v", 2), 0u);
  release.join();
  sqlite3_close(other);
  EXPECT_EQ(GetDword(reg, "K", "v"), std::pair(0u, 2u));
}

// Threads of this process share one registry object, creating the same missing keys: nothing
// fails and every write lands. (A writer killed mid-write is scripts/durability.sh's case.)
TEST_F(SqliteRegistryTest, ThreadsShareOneRegistryObject) {
  constexpr int kThreads = 4, kWrites = 60;
  SqliteRegistry reg(db());
  std::atomic<int> errors{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&, t] {
      for (int i = 0; i < kWrites; ++i)  // the same missing keys as everybody else
        errors += reg.CreateKey(kLm, "Both\\Sub" + std::to_string(i % 4), win::kKeyAllAccess) +
                  SetDword(reg, "Both", std::to_string(t) + "_" + std::to_string(i), i) != 0;
    });
  for (auto& w : writers) w.join();
  EXPECT_EQ(errors.load(), 0);
  EXPECT_TRUE(std::filesystem::exists(db() + "-wal")) << "not in WAL mode";
  std::vector<platform::RegValueInfo> values;
  ASSERT_EQ(reg.EnumValues(kLm, "Both", &values), 0u);
  EXPECT_EQ(values.size(), size_t{kThreads * kWrites});
  std::vector<std::string> subkeys;
  ASSERT_EQ(reg.EnumSubkeys(kLm, "Both", &subkeys), 0u);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"Sub0", "Sub1", "Sub2", "Sub3"}));
}

// Only the codes the Windows side tells apart; the rest is the general failure. SQLite's
// extended result codes count by their primary code.
TEST(PosixOsErrorTest, ErrnoAndSqliteResultsBecomeTheWindowsCode) {
  using platform::posix::WinErrorFromErrno, platform::posix::WinErrorFromSqlite;
  EXPECT_EQ(WinErrorFromErrno(EEXIST), win::kErrorAlreadyExists);
  EXPECT_EQ(WinErrorFromErrno(ENOTDIR), win::kErrorPathNotFound);
  EXPECT_EQ(WinErrorFromErrno(ECONNRESET), win::kErrorNoData);
  EXPECT_EQ(WinErrorFromErrno(ELOOP), win::kErrorGenFailure);
  const std::pair<int, uint32_t> results[] = {
      {SQLITE_DONE, win::kErrorSuccess},          {SQLITE_BUSY_SNAPSHOT, win::kErrorBusy},
      {SQLITE_LOCKED_SHAREDCACHE, win::kErrorBusy}, {SQLITE_READONLY_DBMOVED, win::kErrorAccessDenied},
      {SQLITE_IOERR_FSYNC, win::kErrorRegistryIoFailed}, {SQLITE_CANTOPEN_ISDIR, win::kErrorCantOpen},
      {SQLITE_CONSTRAINT_UNIQUE, win::kErrorBadDb}};
  for (const auto& [result, code] : results) EXPECT_EQ(WinErrorFromSqlite(result), code) << result;
}

// Pipe names are flat on Windows: a file where the pipe folder belongs means no such pipe.
TEST(PosixPipeTest, AFileWhereThePipeFolderBelongsIsFileNotFound) {
  testsupport::TempDir root;
  std::ofstream(root.path() + "/pipe") << "not a folder";
  uint32_t error = 0;
  EXPECT_EQ(platform::posix::UnixStreamPipeTransport(root.path()).Open("\\\\.\\pipe\\none", win::kGenericRead, &error), nullptr);
  EXPECT_EQ(error, win::kErrorFileNotFound);
}

// The pipe folder and the root above it: the broker starts only where no other account can
// replace the folder or a socket in it.
TEST(PosixPipeTest, ThePipeFolderIsRefusedWhereAnotherAccountCouldReplaceIt) {
  namespace fs = std::filesystem;
  const bool root_user = ::geteuid() == 0;
  const struct {
    const char* name;
    std::function<void(const std::string&)> arrange;
    bool accepted;
  } cases[] = {
      {"fresh root", [](const std::string&) {}, true},
      {"existing 0700 folder", [](const std::string& r) { fs::create_directory(r + "/pipe"); ::chmod((r + "/pipe").c_str(), 0700); }, true},
      {"sticky world-writable root", [](const std::string& r) { ::chmod(r.c_str(), 01777); }, true},
      {"group-writable root", [](const std::string& r) { ::chmod(r.c_str(), 0770); }, false},
      {"group-writable folder", [](const std::string& r) { fs::create_directory(r + "/pipe"); ::chmod((r + "/pipe").c_str(), 0775); }, false},
      {"sticky world-writable folder", [](const std::string& r) { fs::create_directory(r + "/pipe"); ::chmod((r + "/pipe").c_str(), 01777); }, false},
      {"symbolic link", [](const std::string& r) { fs::create_directory(r + "/elsewhere"); fs::create_directory_symlink(r + "/elsewhere", r + "/pipe"); }, false},
      {"folder of another account", [](const std::string& r) { fs::create_directory(r + "/pipe"); if (::chown((r + "/pipe").c_str(), 65534, 65534) != 0) throw std::runtime_error("chown"); }, false},
      {"root of another account", [](const std::string& r) { if (::chown(r.c_str(), 65534, 65534) != 0) throw std::runtime_error("chown"); }, false},
  };
  for (const auto& c : cases) {
    if (!root_user && std::string(c.name).find("another account") != std::string::npos) continue;
    testsupport::TempDir root;
    ::chmod(root.path().c_str(), 0755);
    c.arrange(root.path());
    bool accepted = true;
    try {
      platform::posix::SecurePipeDirectory(root.path());
    } catch (const std::runtime_error&) {
      accepted = false;
    }
    EXPECT_EQ(accepted, c.accepted) << c.name;
    if (accepted) {
      struct stat st{};
      EXPECT_EQ(::lstat((root.path() + "/pipe").c_str(), &st), 0) << c.name;
      EXPECT_TRUE(S_ISDIR(st.st_mode)) << c.name;
    }
  }
}

// A broker running as root starts the console user's program as that account: its ids, and
// its groups in place of the broker's own supplementary ones (root's group among them).
TEST(PosixLauncherTest, TheConsoleUsersProgramHasThatAccountsIdsAndGroupsOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root starts a program as another account";
  testsupport::TempDir root;
  const std::string program = root.path() + "/C/p.exe", ids = root.path() + "/ids";
  testsupport::WriteFile(program, "#!/bin/sh\n{ id -u; id -g; id -G; } > '" + ids + "'\n");
  ASSERT_EQ(::chmod(program.c_str(), 0755) | ::chmod(root.path().c_str(), 0755), 0);
  ASSERT_EQ(::chown(root.path().c_str(), 4242, 4242), 0);  // an account without an entry of its own
  sim::ConsoleSession session{{}};
  session.SetUserLoggedOn(true);
  // The broker's own supplementary groups for the start, then this process's again.
  std::vector<gid_t> before(static_cast<size_t>(::getgroups(0, nullptr)));
  ASSERT_EQ(::getgroups(static_cast<int>(before.size()), before.data()), static_cast<int>(before.size()));
  const gid_t broker_groups[] = {0, 4343};
  ASSERT_EQ(::setgroups(2, broker_groups), 0);
  const bool started = platform::posix::ConsoleLauncher(root.path(), session).StartAsConsoleUser({.application = "C:\\p.exe"});
  ASSERT_EQ(::setgroups(before.size(), before.data()), 0);
  ASSERT_TRUE(started);
  ASSERT_TRUE(testsupport::WaitForText(ids, "\n", 3));
  EXPECT_EQ(testsupport::ReadText(ids), "4242\n4242\n4242\n");
}

TEST(PathMappingTest, WindowsPathsLandBelowTheRootInTheSpellingThatExists) {
  using platform::posix::MapWindowsPath;
  const std::pair<const char*, const char*> cases[] = {
      {"d:\\Data\\f", "/r/D/Data/f"},              {"\\OEM\\x", "/r/C/OEM/x"},
      {"C:OEM\\x", "/r/C/OEM/x"},                 {"C:/mixed\\sep/x", "/r/C/mixed/sep/x"},
      {"\\\\?\\C:\\long\\x", "/r/C/long/x"},      {"C:\\", "/r/C"},
      {"C:\\a\\.\\b\\\\c\\", "/r/C/a/b/c"},       {"s:\\\\\\EFI//OEM", "/r/S/EFI/OEM"},
      {"C:\\a\\b\\..\\c", "/r/C/a/c"},            {"C:\\..\\..\\etc\\passwd", "/r/C/etc/passwd"},
      {"\\\\server\\share\\..\\..\\..\\x", "/r/UNC/x"}, {"\\\\.\\PIPE\\Name", "/r/pipe/Name"},
      {"OEM\\x", "/r/C/OEM/x"}, {"\\\\.\\pipe\\a\\..\\b", "/r/pipe/a_.._b"}};  // one socket file: cannot climb
  for (const auto& [windows, mapped] : cases) EXPECT_EQ(MapWindowsPath("/r", windows), mapped) << windows;
  EXPECT_EQ(MapWindowsPath("/r/", "C:\\a"), "/r/C/a");
  testsupport::TempDir dir;  // entries that exist keep their spelling
  const std::string r = dir.path();
  std::filesystem::create_directories(r + "/C/ProgramData/OEM");
  EXPECT_EQ(MapWindowsPath(r, "c:\\programdata\\oem\\calvane\\Log\\x.log"), r + "/C/ProgramData/OEM/calvane/Log/x.log");
  // An exact spelling that exists wins over another one that differs only in case.
  std::filesystem::create_directories(r + "/C/programdata");
  EXPECT_EQ(MapWindowsPath(r, "C:\\programdata"), r + "/C/programdata");
  EXPECT_EQ(MapWindowsPath(r, "C:\\ProgramData"), r + "/C/ProgramData");
}

TEST(PosixEnvironmentTest, VariablesIgnoreCase) {
  platform::posix::PosixEnvironment env;
  ASSERT_EQ(::setenv("QuellmarkTestVar", "value-1", 1), 0);
  EXPECT_EQ(env.GetVariable("QUELLMARKTESTVAR"), "value-1");
  ::unsetenv("QuellmarkTestVar");
  EXPECT_EQ(env.GetVariable("QuellmarkTestVar"), std::nullopt);
}

}  // namespace
