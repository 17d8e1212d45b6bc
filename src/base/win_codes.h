// Windows error codes, registry constants and pipe constants used throughout the broker.
// The core speaks the Windows vocabulary on every platform: the Linux backends translate
// their own failures (errno, SQLite results) onto these values.
#pragma once
#include <cstdint>

namespace win {

// Error codes (winerror.h).
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorWriteFault = 29;
inline constexpr uint32_t kErrorReadFault = 30;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorBadPathname = 161;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorBadPipe = 230;
inline constexpr uint32_t kErrorPipeBusy = 231;
inline constexpr uint32_t kErrorNoData = 232;
inline constexpr uint32_t kErrorPipeNotConnected = 233;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorPipeConnected = 535;
inline constexpr uint32_t kErrorBadDb = 1009;
inline constexpr uint32_t kErrorCantOpen = 1011;
inline constexpr uint32_t kErrorRegistryIoFailed = 1016;
inline constexpr uint32_t kErrorKeyDeleted = 1018;
inline constexpr uint32_t kErrorDatatypeMismatch = 1629;
inline constexpr uint32_t kErrorUnsupportedType = 1630;

// Registry value types (winnt.h).
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

// RegGetValueW type restrictions and flags (winreg.h).
inline constexpr uint32_t kRrfRtRegNone = 0x00000001;
inline constexpr uint32_t kRrfRtRegSz = 0x00000002;
inline constexpr uint32_t kRrfRtRegExpandSz = 0x00000004;
inline constexpr uint32_t kRrfRtRegBinary = 0x00000008;
inline constexpr uint32_t kRrfRtRegDword = 0x00000010;
inline constexpr uint32_t kRrfRtRegMultiSz = 0x00000020;
inline constexpr uint32_t kRrfRtRegQword = 0x00000040;
inline constexpr uint32_t kRrfRtDword = kRrfRtRegBinary | kRrfRtRegDword;
inline constexpr uint32_t kRrfRtQword = kRrfRtRegBinary | kRrfRtRegQword;
inline constexpr uint32_t kRrfRtAny = 0x0000FFFF;
inline constexpr uint32_t kRrfNoExpand = 0x10000000;
inline constexpr uint32_t kRrfZeroOnFailure = 0x20000000;

// Registry access masks (winnt.h).
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyCreateLink = 0x0020;
inline constexpr uint32_t kDelete = 0x00010000;
inline constexpr uint32_t kWriteDac = 0x00040000;
inline constexpr uint32_t kWriteOwner = 0x00080000;
inline constexpr uint32_t kGenericAll = 0x10000000;
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;

// File attributes (winnt.h, fileapi.h).
inline constexpr uint32_t kFileAttributeReadonly = 0x00000001;
inline constexpr uint32_t kFileAttributeDirectory = 0x00000010;
inline constexpr uint32_t kFileAttributeArchive = 0x00000020;
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// Predefined root keys.
enum class RegRoot : uint32_t {
  kClassesRoot = 0x80000000u,
  kCurrentUser = 0x80000001u,
  kLocalMachine = 0x80000002u,
  kUsers = 0x80000003u,
  kCurrentConfig = 0x80000005u,
};

// Named pipes (winbase.h).
inline constexpr uint32_t kPipeAccessInbound = 1;
inline constexpr uint32_t kPipeAccessOutbound = 2;
inline constexpr uint32_t kPipeAccessDuplex = 3;
inline constexpr uint32_t kPipeTypeByte = 0;
inline constexpr uint32_t kPipeTypeMessage = 4;
inline constexpr uint32_t kPipeReadmodeMessage = 2;
inline constexpr uint32_t kPipeUnlimitedInstances = 255;
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;

// STICKYKEYS dwFlags (winuser.h).
inline constexpr uint32_t kSkfStickyKeysOn = 0x00000001;
inline constexpr uint32_t kSkfHotkeyActive = 0x00000004;

}  // namespace win
