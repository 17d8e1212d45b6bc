#include "platform/win32/library_loader.h"

#include <windows.h>

namespace platform::win32 {

LibraryLoader::Module Win32LibraryLoader::Load(const std::wstring& name, uint32_t flags) {
  return ::LoadLibraryExW(name.c_str(), nullptr, flags);
}

void* Win32LibraryLoader::Symbol(Module module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void Win32LibraryLoader::Free(Module module) {
  if (module != nullptr) ::FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace platform::win32
