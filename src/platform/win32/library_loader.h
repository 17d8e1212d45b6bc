// The Windows library loader: LoadLibraryExW, GetProcAddress, FreeLibrary.
#pragma once
#include "platform/library_loader.h"

namespace platform::win32 {

class Win32LibraryLoader : public LibraryLoader {
 public:
  Module Load(const std::wstring& name, uint32_t flags) override;
  void* Symbol(Module module, const char* name) override;
  void Free(Module module) override;
};

}  // namespace platform::win32
