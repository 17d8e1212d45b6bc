// The Win32 backends: the contract suites' factories over sandboxes (HKCU\Software\QuellmarkTests
// \<unique>, a folder under %TEMP%, unique pipe names), the pipe's descriptor and append sharing.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "contract/backends.h"
#include "pipe/named_pipe.h"
#include "platform/win32/file_system.h"
#include "platform/win32/hid.h"
#include "platform/win32/named_mutex.h"
#include "platform/win32/pipe_transport.h"
#include "platform/win32/registry.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/wmi.h"

namespace {

using platform::win32::FromWide;
using platform::win32::ToWide;

std::string UniqueName(const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  return prefix + "_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(counter.fetch_add(1)) + "_" +
         std::to_string(GetTickCount64());
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(std::filesystem::path(ToWide(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TempDir {
  TempDir() { std::filesystem::create_directory(dir); }
  ~TempDir() { std::error_code ignored; std::filesystem::remove_all(dir, ignored); }
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ToWide(UniqueName("quellmark-test"));
  const std::string path = FromWide(dir.wstring());
};

}  // namespace

namespace contract {

const bool kWindows = true;
const bool kWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;

std::unique_ptr<RegistryBackend> MakeRegistryBackend() {
  struct Backend : RegistryBackend {
    Backend() { registry = &win32; key = "Software\\QuellmarkTests\\" + UniqueName("run"); }
    ~Backend() override {
      win32.DeleteTree(root, key);
      // RegDeleteKeyW removes only a key without subkeys: another run's sandbox stays.
      RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QuellmarkTests");
    }
    platform::win32::Win32Registry win32;
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<FileSystemBackend> MakeFileSystemBackend() {
  struct Backend : FileSystemBackend {
    Backend() { files = &win32; dir = temp.path; }
    std::string Read(const std::string& path) override { return ReadWholeFile(path); }
    TempDir temp;
    platform::win32::Win32FileSystem win32;
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<PipeBackend> MakePipeBackend() {
  struct Backend : PipeBackend {
    Backend() { pipes = &win32; }
    std::string UniquePath() override { return PipePath(UniqueName("quellmark_test").c_str()); }
    platform::win32::Win32PipeTransport win32;
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<WmiBackend> MakeWmiBackend() {
  struct Backend : WmiBackend {
    Backend() { provider = &win32; }
    platform::win32::Win32WmiProvider win32;
  };
  return std::make_unique<Backend>();
}

std::unique_ptr<MutexBackend> MakeMutexBackend() {
  struct Backend : MutexBackend {
    Backend() { mutexes = &win32; }
    std::string UniqueName() override { return "Global\\" + ::UniqueName("QuellmarkTest"); }
    // A thread takes the mutex through a handle of its own and ends without releasing it: the
    // system abandons it, as it does for every thread of a process that dies.
    void DieHolding(const std::string& name) override {
      std::thread([&] {
        uint32_t error = 0;
        const platform::MutexHandle own = win32.Open(name, &error);
        EXPECT_EQ(win32.Wait(own, std::chrono::seconds(10), &error), platform::MutexWait::kAcquired) << error;
        win32.Close(own);  // closing the handle does not release the mutex
      }).join();
    }
    platform::win32::Win32NamedMutexes win32;
  };
  return std::make_unique<Backend>();
}

}  // namespace contract

namespace {

TEST(Win32PipeTest, AMalformedDescriptorIsADaclFailureAndCreatesNothing) {
  platform::win32::Win32PipeTransport pipes;
  const platform::PipeInstanceParams bad{PipePath(UniqueName("quellmark_test_sddl").c_str()), win::kPipeAccessDuplex,
                                         win::kPipeTypeMessage | win::kPipeReadmodeMessage, 1, 512, 512, 1000,
                                         "D:(nonsense"};
  try {
    pipes.CreateInstance(bad);
    ADD_FAILURE() << "an instance was created from a malformed descriptor";
  } catch (const platform::PipeInstanceLimitError&) {
    ADD_FAILURE() << "a descriptor failure reported as the instance limit";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "DACL creation failed.");
  }
  uint32_t error = 0;
  EXPECT_EQ(pipes.Open(bad.path, win::kGenericRead | win::kGenericWrite, &error), nullptr);
  EXPECT_EQ(error, win::kErrorFileNotFound) << "nothing was created";
}

// A name another server created first is not joined: the transport's first instance fails until
// that server is gone; then its first instance and the next ones are created and serve a local
// client (the instances also reject remote clients, which a local test cannot be).
TEST(Win32PipeTest, ANameAnotherServerOwnsIsRefusedUntilItIsGone) {
  platform::win32::Win32PipeTransport pipes;
  const std::string path = PipePath(UniqueName("quellmark_test_first").c_str());
  const platform::PipeInstanceParams params{path, win::kPipeAccessDuplex,
                                            win::kPipeTypeMessage | win::kPipeReadmodeMessage, 0, 512, 512,
                                            1000, "D:(A;OICI;GA;;;WD)"};
  const HANDLE squatter = CreateNamedPipeW(ToWide(path).c_str(), PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, PIPE_UNLIMITED_INSTANCES,
                                           512, 512, 1000, nullptr);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
  // Wine 8 creates a first instance on an existing name all the same; Windows refuses it.
  const HANDLE probe = CreateNamedPipeW(ToWide(path).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, PIPE_UNLIMITED_INSTANCES,
                                        512, 512, 1000, nullptr);
  if (probe == INVALID_HANDLE_VALUE) {
    try {
      pipes.CreateInstance(params);
      ADD_FAILURE() << "an instance joined a pipe another server created";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Named pipe creation failed.");
    }
  } else {
    CloseHandle(probe);
    std::printf("this system does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE: refusal not shown\n");
  }
  CloseHandle(squatter);
  auto first = pipes.CreateInstance(params);
  auto second = pipes.CreateInstance(params);  // not the first any more: created all the same
  uint32_t error = 0;
  auto client = pipes.Open(path, win::kGenericRead | win::kGenericWrite, &error);
  ASSERT_NE(client, nullptr) << error;
  EXPECT_EQ(first->WaitForClient(), win::kErrorPipeConnected);
  uint32_t written = 0, read = 0;
  EXPECT_EQ(client->Write(reinterpret_cast<const uint8_t*>("hi"), 2, &written), 0u);
  uint8_t buffer[8] = {};
  EXPECT_EQ(first->Read(buffer, sizeof buffer, &read), 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), read), "hi");
}

// A log viewer sharing the file both ways does not stop the append; one sharing nothing does.
TEST(Win32FileSystemTest, AppendSharesTheFileWithOtherOpenHandles) {
  TempDir temp;
  platform::win32::Win32FileSystem files;
  const std::string path = temp.path + "\\shared.log";
  ASSERT_TRUE(files.AppendToFile(path, "a"));
  for (const DWORD share : {DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}, DWORD{0}}) {
    const HANDLE other = CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(files.AppendToFile(path, "b"), share != 0) << share;
    CloseHandle(other);
  }
  EXPECT_EQ(ReadWholeFile(path), "ab");
}

// Wine has no HID devices: the set is empty or holds interfaces that open or are refused. A
// write to a handle that is no device fails with the system's code.
TEST(Win32HidTest, TheInterfaceSetIsListedAndEachEntryOpensOrIsRefused) {
  platform::win32::Win32Hid hid;
  std::vector<platform::HidInterface> interfaces{{platform::HidInterface::Detail::kNoMemory, "stale"}};
  ASSERT_TRUE(hid.ListInterfaces(&interfaces));
  platform::HidCaps caps;
  for (const platform::HidInterface& entry : interfaces) {  // Wine 8: a virtual mouse and keyboard
    ASSERT_NE(entry.path, "stale") << "the list is the present set alone";
    EXPECT_EQ(entry.detail, platform::HidInterface::Detail::kRead) << "a detail the system refused";
    const platform::HidHandle handle = hid.Open(entry.path);
    platform::HidAttributes ids;
    if (handle != platform::kInvalidHidHandle && hid.GetAttributes(handle, &ids)) {
      char named[20];
      std::snprintf(named, sizeof named, "vid_%04x&pid_%04x", ids.vendor_id, ids.product_id);
      std::string path = entry.path;
      for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_TRUE(path.find("vid_") == std::string::npos || path.find(named) != std::string::npos) << path;
      EXPECT_EQ(hid.GetCaps(handle, &caps), platform::HidCapsResult::kOk) << path;
    }
    hid.Close(handle);
  }
  EXPECT_EQ(hid.Open("\\\\?\\hid#vid_2e5c&pid_174b#0#{4d1e55b2-f16f-11cf-88cb-001111000030}"), platform::kInvalidHidHandle);
  const auto nul = reinterpret_cast<platform::HidHandle>(CreateFileW(L"NUL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  uint8_t report[65] = {0xA0};
  uint32_t error = 0;
  EXPECT_FALSE(hid.SetFeature(nul, report, sizeof report, &error));
  EXPECT_NE(error, 0u);
  hid.Close(nul);
}

}  // namespace
