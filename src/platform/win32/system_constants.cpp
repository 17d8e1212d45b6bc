// The core carries its own copies of the Windows constants it speaks (base/win_codes.h, and the
// COM ones of base/variant.h), so that it builds without <windows.h>. Each copy is checked here
// against the system headers.
#include <windows.h>
#include <wbemcli.h>
#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

#include "base/variant.h"
#include "base/win_codes.h"

namespace {

// Error codes.
static_assert(win::kErrorSuccess == ERROR_SUCCESS);
static_assert(win::kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(win::kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(win::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(win::kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(win::kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(win::kErrorInvalidData == ERROR_INVALID_DATA);
static_assert(win::kErrorWriteFault == ERROR_WRITE_FAULT);
static_assert(win::kErrorReadFault == ERROR_READ_FAULT);
static_assert(win::kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(win::kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(win::kErrorFileExists == ERROR_FILE_EXISTS);
static_assert(win::kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(win::kErrorBrokenPipe == ERROR_BROKEN_PIPE);
static_assert(win::kErrorDiskFull == ERROR_DISK_FULL);
static_assert(win::kErrorSemTimeout == ERROR_SEM_TIMEOUT);
static_assert(win::kErrorBadPathname == ERROR_BAD_PATHNAME);
static_assert(win::kErrorBusy == ERROR_BUSY);
static_assert(win::kErrorAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(win::kErrorBadPipe == ERROR_BAD_PIPE);
static_assert(win::kErrorPipeBusy == ERROR_PIPE_BUSY);
static_assert(win::kErrorNoData == ERROR_NO_DATA);
static_assert(win::kErrorPipeNotConnected == ERROR_PIPE_NOT_CONNECTED);
static_assert(win::kErrorMoreData == ERROR_MORE_DATA);
static_assert(win::kErrorPipeConnected == ERROR_PIPE_CONNECTED);
static_assert(win::kErrorBadDb == ERROR_BADDB);
static_assert(win::kErrorCantOpen == ERROR_CANTOPEN);
static_assert(win::kErrorRegistryIoFailed == ERROR_REGISTRY_IO_FAILED);
static_assert(win::kErrorKeyDeleted == ERROR_KEY_DELETED);
static_assert(win::kErrorDatatypeMismatch == ERROR_DATATYPE_MISMATCH);
static_assert(win::kErrorUnsupportedType == ERROR_UNSUPPORTED_TYPE);

// Registry value types.
static_assert(win::kRegNone == REG_NONE);
static_assert(win::kRegSz == REG_SZ);
static_assert(win::kRegExpandSz == REG_EXPAND_SZ);
static_assert(win::kRegBinary == REG_BINARY);
static_assert(win::kRegDword == REG_DWORD);
static_assert(win::kRegMultiSz == REG_MULTI_SZ);
static_assert(win::kRegQword == REG_QWORD);

// RegGetValueW restrictions and flags.
static_assert(win::kRrfRtRegNone == RRF_RT_REG_NONE);
static_assert(win::kRrfRtRegSz == RRF_RT_REG_SZ);
static_assert(win::kRrfRtRegExpandSz == RRF_RT_REG_EXPAND_SZ);
static_assert(win::kRrfRtRegBinary == RRF_RT_REG_BINARY);
static_assert(win::kRrfRtRegDword == RRF_RT_REG_DWORD);
static_assert(win::kRrfRtRegMultiSz == RRF_RT_REG_MULTI_SZ);
static_assert(win::kRrfRtRegQword == RRF_RT_REG_QWORD);
static_assert(win::kRrfRtDword == RRF_RT_DWORD);
static_assert(win::kRrfRtQword == RRF_RT_QWORD);
static_assert(win::kRrfRtAny == RRF_RT_ANY);
static_assert(win::kRrfNoExpand == RRF_NOEXPAND);
static_assert(win::kRrfZeroOnFailure == RRF_ZEROONFAILURE);

// Registry access masks.
static_assert(win::kKeySetValue == KEY_SET_VALUE);
static_assert(win::kKeyCreateSubKey == KEY_CREATE_SUB_KEY);
static_assert(win::kKeyCreateLink == KEY_CREATE_LINK);
static_assert(win::kDelete == DELETE);
static_assert(win::kWriteDac == WRITE_DAC);
static_assert(win::kWriteOwner == WRITE_OWNER);
static_assert(win::kGenericAll == GENERIC_ALL);
static_assert(win::kKeyRead == KEY_READ);
static_assert(win::kKeyWrite == KEY_WRITE);
static_assert(win::kKeyAllAccess == KEY_ALL_ACCESS);

// File attributes.
static_assert(win::kFileAttributeReadonly == FILE_ATTRIBUTE_READONLY);
static_assert(win::kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(win::kFileAttributeArchive == FILE_ATTRIBUTE_ARCHIVE);
static_assert(win::kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES);

// Predefined root keys: the enum holds the low 32 bits of the (sign-extended) handle values.
static_assert(static_cast<uint32_t>(win::RegRoot::kClassesRoot) == 0x80000000u);
static_assert(static_cast<uint32_t>(win::RegRoot::kCurrentUser) == 0x80000001u);
static_assert(static_cast<uint32_t>(win::RegRoot::kLocalMachine) == 0x80000002u);
static_assert(static_cast<uint32_t>(win::RegRoot::kUsers) == 0x80000003u);
static_assert(static_cast<uint32_t>(win::RegRoot::kCurrentConfig) == 0x80000005u);

// Named pipes.
static_assert(win::kPipeAccessInbound == PIPE_ACCESS_INBOUND);
static_assert(win::kPipeAccessOutbound == PIPE_ACCESS_OUTBOUND);
static_assert(win::kPipeAccessDuplex == PIPE_ACCESS_DUPLEX);
static_assert(win::kPipeTypeByte == PIPE_TYPE_BYTE);
static_assert(win::kPipeTypeMessage == PIPE_TYPE_MESSAGE);
static_assert(win::kPipeReadmodeMessage == PIPE_READMODE_MESSAGE);
static_assert(win::kPipeUnlimitedInstances == PIPE_UNLIMITED_INSTANCES);
static_assert(win::kGenericRead == GENERIC_READ);
static_assert(win::kGenericWrite == GENERIC_WRITE);
static_assert(NMPWAIT_WAIT_FOREVER == 0xFFFFFFFFu);

// Sticky keys.
static_assert(win::kSkfStickyKeysOn == SKF_STICKYKEYSON);
static_assert(win::kSkfHotkeyActive == SKF_HOTKEYACTIVE);

// HRESULTs.
static_assert(wmi::kS_OK == S_OK);
static_assert(wmi::kS_FALSE == S_FALSE);
static_assert(wmi::kWbemS_False == WBEM_S_FALSE);
static_assert(wmi::kWbemE_Failed == static_cast<HRESULT>(WBEM_E_FAILED));
static_assert(wmi::kWbemE_NotFound == static_cast<HRESULT>(WBEM_E_NOT_FOUND));
static_assert(wmi::kWbemE_InvalidNamespace == static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE));
static_assert(wmi::kWbemE_InvalidClass == static_cast<HRESULT>(WBEM_E_INVALID_CLASS));
static_assert(wmi::kWbemE_InvalidMethod == static_cast<HRESULT>(WBEM_E_INVALID_METHOD));
static_assert(wmi::kWbemE_InvalidQuery == static_cast<HRESULT>(WBEM_E_INVALID_QUERY));
static_assert(wmi::kWbemE_InvalidParameter == static_cast<HRESULT>(WBEM_E_INVALID_PARAMETER));
static_assert(wmi::kWbemE_InvalidMethodParameters ==
              static_cast<HRESULT>(WBEM_E_INVALID_METHOD_PARAMETERS));
static_assert(wmi::kStrsafeE_InsufficientBuffer == STRSAFE_E_INSUFFICIENT_BUFFER);
static_assert(wmi::kRpcE_ChangedMode == RPC_E_CHANGED_MODE);
static_assert(wmi::kDispE_TypeMismatch == DISP_E_TYPEMISMATCH);
static_assert(wmi::kDispE_Overflow == DISP_E_OVERFLOW);
static_assert(wmi::kE_Fail == E_FAIL);

// VARIANT types.
static_assert(static_cast<VARTYPE>(wmi::VarType::kEmpty) == VT_EMPTY);
static_assert(static_cast<VARTYPE>(wmi::VarType::kNull) == VT_NULL);
static_assert(static_cast<VARTYPE>(wmi::VarType::kI4) == VT_I4);
static_assert(static_cast<VARTYPE>(wmi::VarType::kBstr) == VT_BSTR);
static_assert(static_cast<VARTYPE>(wmi::VarType::kBool) == VT_BOOL);
static_assert(static_cast<VARTYPE>(wmi::VarType::kUI1) == VT_UI1);
static_assert(static_cast<VARTYPE>(wmi::VarType::kUI4) == VT_UI4);
static_assert(static_cast<VARTYPE>(wmi::VarType::kI8) == VT_I8);
static_assert(static_cast<VARTYPE>(wmi::VarType::kUI8) == VT_UI8);
static_assert(static_cast<VARTYPE>(wmi::VarType::kUI1Array) == (VT_ARRAY | VT_UI1));

}  // namespace
