// The simulated notebook's DTS audio library: a real shared library (Linux .so, or
// DtsApoAppWin32DLL.dll built with mingw) exporting create_DtsApoInterface, whose interface
// object behaves as the machine profile's [dts] section says (sim/dts.h).
//
// It is steered by a settings file beside it, the library's own path with ".conf" appended
// ("DtsApoAppWin32DLL.dll.conf"), read at every call: "key=value" lines
//   mode=N        the current sound mode (SetSoundMode rewrites this line)
//   delay_ms=N    GetSoundMode takes this long
//   hang=yes|no   GetSoundMode blocks while this stays yes (the file is read again every 50 ms)
//   connect=yes|no   InitializeConnection succeeds
//   interface=yes|no create_DtsApoInterface returns an object
// A missing file means mode 0 and everything working. Every call of the interface is appended
// as one line ("InitializeConnection", "SetSoundMode 3", ...) to the library's path + ".calls".
// Built with DTS_APO_NO_FACTORY it exports no create_DtsApoInterface.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#define DTS_APO_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define DTS_APO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::mutex g_files;

std::string OwnPath() {
#ifdef _WIN32
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&OwnPath), &self)) {
    return {};
  }
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
#else
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || info.dli_fname == nullptr) return {};
  return info.dli_fname;
#endif
}

using Settings = std::map<std::string, std::string>;

Settings ReadSettings() {
  std::scoped_lock lock(g_files);
  Settings settings;
  std::ifstream in(OwnPath() + ".conf");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos) settings[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return settings;
}

bool Yes(const Settings& s, const std::string& key, bool fallback) {
  const auto it = s.find(key);
  return it == s.end() ? fallback : it->second == "yes";
}

long Number(const Settings& s, const std::string& key) {
  const auto it = s.find(key);
  return it == s.end() ? 0 : std::strtol(it->second.c_str(), nullptr, 0);
}

void Journal(const std::string& call) {
  std::scoped_lock lock(g_files);
  std::ofstream(OwnPath() + ".calls", std::ios::app | std::ios::binary) << call << "\n";
}

// The slot order is the library's own and must not change: callers index the table.
class DtsApo final {
 public:
  virtual bool InitializeConnection() {
    Journal("InitializeConnection");
    connected_ = Yes(ReadSettings(), "connect", true);
    return connected_;
  }
  virtual void CloseConnection() {
    Journal("CloseConnection");
    connected_ = false;
  }
  virtual void SetSoundMode(int32_t mode) {
    Journal("SetSoundMode " + std::to_string(mode));
    if (!connected_) return;
    std::scoped_lock lock(g_files);
    const std::string path = OwnPath() + ".conf";
    std::ifstream in(path);
    std::ostringstream kept;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("mode=", 0) != 0) kept << line << "\n";
    }
    in.close();
    std::ofstream(path, std::ios::trunc | std::ios::binary) << kept.str() << "mode=" << mode << "\n";
  }
  virtual int32_t GetSoundMode() {
    Journal("GetSoundMode");
    Settings settings = ReadSettings();
    std::this_thread::sleep_for(std::chrono::milliseconds(Number(settings, "delay_ms")));
    while (Yes(settings, "hang", false)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      settings = ReadSettings();
    }
    return connected_ ? static_cast<int32_t>(Number(settings, "mode")) : -1;
  }
  virtual void Release() {
    Journal("Release");
    delete this;
  }

 private:
  bool connected_ = false;
};

}  // namespace

#ifndef DTS_APO_NO_FACTORY
DTS_APO_EXPORT void* create_DtsApoInterface() {
  Journal("create_DtsApoInterface");
  if (!Yes(ReadSettings(), "interface", true)) return nullptr;
  return new DtsApo();
}
#else
// Something else to export, so that the library is otherwise whole.
DTS_APO_EXPORT int DtsApoVersion() { return 1; }
#endif
