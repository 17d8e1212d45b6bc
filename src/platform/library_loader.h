// Library seam: libraries the broker loads at run time for the length of one operation (the
// DTS audio library). Windows: LoadLibraryExW, GetProcAddress, FreeLibrary. Linux: dlopen,
// dlsym, dlclose of a real shared library, found by its Windows name:
//
//   LOAD_LIBRARY_SEARCH_APPLICATION_DIR (0x200)  the folder of the running program
//   LOAD_LIBRARY_SEARCH_SYSTEM32 (0x800)          "C:\Windows\System32" mapped below the root
//                                                 (ROOT/C/Windows/System32)
//
// searched in that order for the exact file name asked for ("DtsApoAppWin32DLL.dll" is looked
// up as that file name; the file itself is an ELF shared library). A name holding a path is
// mapped as any Windows path and loaded from there alone. The simulated notebook places its
// libraries there at start (sim/dts.h).
#pragma once
#include <cstdint>
#include <string>

namespace platform {

inline constexpr uint32_t kLoadLibrarySearchApplicationDir = 0x200;
inline constexpr uint32_t kLoadLibrarySearchSystem32 = 0x800;

class LibraryLoader {
 public:
  using Module = void*;
  virtual ~LibraryLoader() = default;
  // The module, or null when it cannot be found or loaded. Each successful load takes one
  // reference, handed back with Free.
  virtual Module Load(const std::wstring& name, uint32_t flags) = 0;
  // The exported symbol's address, or null when the module has none by that name.
  virtual void* Symbol(Module module, const char* name) = 0;
  virtual void Free(Module module) = 0;
};

}  // namespace platform
