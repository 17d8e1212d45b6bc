// The WMI seam of the Windows build: COM on the calling thread, the WBEM locator and the
// IWbemServices / IEnumWbemClassObject / IWbemClassObject interfaces it hands out, with values
// converted between the portable wmi::Variant and the OLE Automation VARIANT.
//
// Every seam object owns exactly one COM interface and releases it when destroyed. Objects may
// be used on any thread of the apartment that obtained them; the broker keeps each connection
// on one thread anyway. Every operation answers the HRESULT of the COM call it makes, unchanged,
// except where noted below.
#pragma once
#include <memory>

#include "base/variant.h"
#include "platform/wmi.h"

struct tagVARIANT;  // VARIANT of <oaidl.h>

namespace platform::win32 {

class Win32WmiProvider : public platform::WmiProvider {
 public:
  // CoInitializeEx(nullptr, COINIT_MULTITHREADED): S_OK, S_FALSE or RPC_E_CHANGED_MODE (the
  // thread is in a single-threaded apartment already) as COM answers them.
  wmi::HRESULT CoInitializeEx() override;
  void CoUninitialize() override;
  // CoCreateInstance(CLSID_WbemLocator, no outer object, CLSCTX_INPROC_SERVER, IID_IWbemLocator).
  wmi::HRESULT CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) override;
  // CoCreateInstance(CLSID_UnsecuredApartment, CLSCTX_LOCAL_SERVER); its stubs forward to an
  // IWbemObjectSink made over the broker's sink.
  wmi::HRESULT CreateUnsecuredApartment(
      std::unique_ptr<platform::WmiUnsecuredApartment>* apartment) override;
};

// The other objects of the seam, as CreateLocator hands them out:
// - WmiLocator::ConnectServer: IWbemLocator::ConnectServer(namespace, no user, no password, no
//   locale, 0, no authority, no context).
// - WmiServices::SetProxyBlanket: CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT,
//   RPC_C_AUTHZ_NONE, no principal, RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, no
//   identity, EOAC_NONE).
// - WmiServices::ExecQuery: ExecQuery("WQL", query, WBEM_FLAG_FORWARD_ONLY |
//   WBEM_FLAG_RETURN_IMMEDIATELY, no context).
// - WmiServices::ExecMethod: ExecMethod(path, method, 0, no context, in-parameters or null,
//   &out, no call result). An empty path answers WBEM_E_INVALID_OBJECT_PATH without calling
//   WMI; in-parameters that are not an object of this backend answer WBEM_E_INVALID_PARAMETER.
//   A method that gives no output object leaves *out_params null.
// - WmiEnumerator::Next: Next(WBEM_INFINITE, 1). S_OK with the row; WBEM_S_FALSE whenever no
//   row came back without a failure; a failure as WMI reports it.
// - WmiObject::Get / Put: Get(name, 0, &value, no type, no flavour) / Put(name, 0, &value, 0),
//   through the conversions below. A property whose VARIANT type has no portable form fails Get
//   with DISP_E_TYPEMISMATCH and leaves *value untouched.
// - WmiObject::GetMethod: GetMethod(name, 0, &in, no out-signature); a method without input
//   gives a null *in_params.

// VARIANT -> wmi::Variant. Exact forms: VT_EMPTY, VT_NULL, VT_I4, VT_UI1, VT_UI4, VT_I8, VT_UI8,
// VT_BOOL (0 or 1), VT_BSTR (UTF-16 to UTF-8, embedded zeros kept, a null BSTR is "") and
// VT_ARRAY | VT_UI1 of one dimension (the elements in order; a null array is empty). Integers of
// other widths widen without loss: VT_I1, VT_I2 and VT_INT to kI4, VT_UI2 and VT_UINT to kUI4.
// Everything else (floating point, currency, dates, decimals, embedded objects, other arrays,
// references) answers DISP_E_TYPEMISMATCH and leaves *out untouched: the broker never reads such
// a property, and a rounded or reformatted value would be a silent guess.
wmi::HRESULT FromComVariant(const tagVARIANT& in, wmi::Variant* out);

// wmi::Variant -> VARIANT, which the caller owns (VariantClear). Each portable type becomes the
// VARIANT type of the same VARTYPE number; kBool becomes VARIANT_TRUE / VARIANT_FALSE; kUI1Array
// a new SAFEARRAY vector of VT_UI1 with lower bound 0. `*out` is overwritten without being
// cleared first; on failure (DISP_E_BADVARTYPE for a type value outside wmi::VarType,
// E_OUTOFMEMORY) it is left VT_EMPTY.
wmi::HRESULT ToComVariant(const wmi::Variant& in, tagVARIANT* out);

}  // namespace platform::win32
