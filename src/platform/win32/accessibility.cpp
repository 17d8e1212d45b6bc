#include "platform/win32/accessibility.h"

#include <windows.h>

namespace platform::win32 {
namespace {

// The record the callers exchange is cbSize + dwFlags; Windows rejects any other cbSize.
static_assert(sizeof(STICKYKEYS) == 8);

}  // namespace

bool Win32Accessibility::GetStickyKeys(uint32_t* flags) {
  STICKYKEYS record{};
  record.cbSize = sizeof record;
  if (!SystemParametersInfoW(SPI_GETSTICKYKEYS, sizeof record, &record, 0)) return false;
  *flags = record.dwFlags;
  return true;
}

bool Win32Accessibility::SetStickyKeys(uint32_t flags) {
  STICKYKEYS record{};
  record.cbSize = sizeof record;
  record.dwFlags = flags;
  // fWinIni 0: neither SPIF_UPDATEINIFILE nor SPIF_SENDCHANGE, so the change lasts for this
  // logon session and nobody is told about it.
  return SystemParametersInfoW(SPI_SETSTICKYKEYS, sizeof record, &record, 0) != FALSE;
}

}  // namespace platform::win32
